pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic

// A two-segment "Mono" | "Stereo" control; `stereo` is the chosen side.
Rectangle {
    id: control
    property bool stereo: false
    property string toolTipText
    signal chosen(bool stereo)

    implicitWidth: 110
    implicitHeight: 22
    radius: 5
    color: Theme.strip
    border.width: 1
    border.color: Theme.hairline

    Accessible.role: Accessible.PageTabList

    HoverHandler { id: hover }
    ToolTip.visible: hover.hovered && toolTipText !== ""
    ToolTip.delay: 600
    ToolTip.text: toolTipText

    // Two segments placed by hand: a Row and a Repeater would be two more
    // items in every strip for the renderer to walk on each frame.
    component Segment: AbstractButton {
        id: segment
        required property string label
        required property bool value
        objectName: label.toLowerCase() + "Segment"
        readonly property bool selected: control.stereo === value
        y: 2
        width: (control.width - 4) / 2
        height: control.height - 4
        checkable: false
        Accessible.role: Accessible.PageTab
        Accessible.name: label
        Accessible.checked: selected
        onClicked: control.chosen(value)
        background: Rectangle {
            radius: 4
            FocusRing {
                shown: segment.visualFocus
                anchors.margins: -1
                radius: 5
            }
            color: segment.selected ? Qt.rgba(1, 1, 1, 0.16) : (segment.pressed ? Qt.rgba(1, 1, 1, 0.06) : "transparent")
        }
        contentItem: Text {
            text: segment.label
            font.pixelSize: 11
            font.weight: segment.selected ? Font.Medium : Font.Normal
            color: segment.selected ? Theme.textPrimary : Theme.textSecondary
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }
    Segment {
        id: mono
        x: 2
        label: "Mono"
        value: false
    }
    Segment {
        x: mono.x + mono.width
        label: "Stereo"
        value: true
    }
}
