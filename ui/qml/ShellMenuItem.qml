import QtQuick
import QtQuick.Controls

// A menu item of the window's menu bar: its title at the left and the keys
// that do the same at the right, as desktop menus show them.
MenuItem {
    id: item
    property string keys

    contentItem: Item {
        implicitWidth: title.implicitWidth + 36 + hint.implicitWidth
        implicitHeight: Math.max(title.implicitHeight, hint.implicitHeight)
        readonly property color ink: item.highlighted ? item.palette.highlightedText : item.palette.text
        Text {
            id: title
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            text: item.text
            font: item.font
            color: parent.ink
            opacity: item.enabled ? 1 : 0.4
        }
        Text {
            id: hint
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: item.keys
            font: item.font
            color: parent.ink
            opacity: 0.6
        }
    }
}
