import QtQuick

// What a menu item of the window's menu bar shows: its title at the left and
// the keys that do the same at the right.
Item {
    id: label
    property string text
    property string keys
    property font font
    property color ink
    property bool available: true

    implicitWidth: title.implicitWidth + 36 + hint.implicitWidth
    implicitHeight: Math.max(title.implicitHeight, hint.implicitHeight)
    Text {
        id: title
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        text: label.text
        font: label.font
        color: label.ink
        opacity: label.available ? 1 : 0.4
    }
    Text {
        id: hint
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        text: label.keys
        font: label.font
        color: label.ink
        opacity: 0.6
    }
}
