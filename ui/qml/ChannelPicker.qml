pragma ComponentBehavior: Bound
import QtQuick
import Corvane.Models
import QtQuick.Controls.Basic

// The channel choice of one strip side; its entries are ChannelChoices'.
ComboBox {
    id: picker
    // Device channels on this side (0 without a device).
    property int channelCount: 0
    property bool stereo: false
    // The strip's channel, -1 for none.
    property int channel: -1
    property real renderScale: 1.0
    signal chosen(int channel)

    ChannelChoices {
        id: choices
        channelCount: picker.channelCount
        stereo: picker.stereo
        channel: picker.channel
    }

    model: choices.entries
    currentIndex: choices.currentIndex
    displayText: choices.displayText
    onActivated: index => {
        picker.chosen(index - 1)
        // Back to the strip's value, whatever it made of the choice.
        currentIndex = Qt.binding(() => choices.currentIndex)
    }

    implicitWidth: 62
    implicitHeight: 22
    leftPadding: 7
    rightPadding: 20
    font.pixelSize: 12
    // Nothing shows the pointer over the picker: hover re-delivered after
    // each changed frame passes it by.
    hoverEnabled: false

    background: Rectangle {
        radius: 5
        color: picker.pressed ? Qt.lighter(Theme.strip, 1.3) : Theme.strip
        border.width: 1
        border.color: Theme.hairline
        FocusRing { shown: picker.visualFocus }
    }
    contentItem: Text {
        text: picker.displayText
        font: picker.font
        color: Theme.textPrimary
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
    indicator: StripIcon {
        name: "chevron.down"
        renderScale: picker.renderScale
        color: Theme.textTertiary
        width: 9
        height: 9
        x: picker.width - width - 7
        y: (picker.height - height) / 2
    }
    delegate: ItemDelegate {
        id: entry
        required property int index
        required property var modelData
        width: ListView.view ? ListView.view.width : implicitWidth
        height: 22
        text: modelData
        highlighted: picker.highlightedIndex === index
        contentItem: Text {
            text: entry.text
            font: picker.font
            color: Theme.textPrimary
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            radius: 4
            color: entry.highlighted ? Theme.accent : "transparent"
        }
    }
    // Pop-ups hang in the window's overlay, outside the zoomed canvas: the
    // list takes the zoom itself, grown from its top left under the picker.
    popup: Popup {
        scale: picker.renderScale
        transformOrigin: Popup.TopLeft
        y: picker.height + 2
        width: picker.width
        implicitHeight: Math.min(contentItem.implicitHeight + 8, 300)
        padding: 4
        contentItem: ListView {
            clip: true
            implicitHeight: contentHeight
            model: picker.popup.visible ? picker.delegateModel : null
            currentIndex: picker.highlightedIndex
            ScrollIndicator.vertical: ScrollIndicator {}
        }
        background: Rectangle {
            radius: 6
            color: Theme.strip
            border.width: 1
            border.color: Theme.hairline
        }
    }
}
