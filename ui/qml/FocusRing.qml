import QtQuick

// Where the keyboard is: a ring in the accent colour just outside its
// control's box, shown only while the control has focus from the keyboard
// (Tab, a shortcut): a click gives focus but shows none. Filled into the
// control's background, or into the control itself where it has none.
// The ring exists only while shown: the window has some ninety controls, and
// a hidden ring would still be walked by the renderer on every frame the
// meters draw.
Loader {
    id: ring
    property bool shown: false
    property real radius: 6

    anchors.fill: parent
    anchors.margins: -3
    active: shown
    sourceComponent: Rectangle {
        objectName: "focusRing"
        color: "transparent"
        border.width: 2
        border.color: Theme.accent
    }
    Binding {
        when: ring.item !== null
        target: ring.item
        property: "radius"
        value: ring.radius
    }
}
