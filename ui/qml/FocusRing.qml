import QtQuick

// Where the keyboard is: a ring in the accent colour just outside its
// control's box, shown only while the control has focus from the keyboard
// (Tab, a shortcut): a click gives focus but shows none. Filled into the
// control's background, or into the control itself where it has none.
Rectangle {
    objectName: "focusRing"
    property bool shown: false

    anchors.fill: parent
    anchors.margins: -3
    radius: 6
    color: "transparent"
    border.width: 2
    border.color: Theme.accent
    visible: shown
}
