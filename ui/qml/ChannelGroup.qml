import QtQuick
import Corvane.Models

// One side of a strip: its label, the channel it takes or feeds, mono or
// stereo, and under them the side's level meter, as wide as the line above.
Column {
    id: group
    property ChannelSlot slot
    property bool input: true
    // Device channels on this side (0 without a device).
    property int channelCount: 0
    property real renderScale: 1.0

    readonly property string side: input ? "Input" : "Output"

    spacing: 3

    Row {
        id: line
        spacing: 4
        Text {
            width: 24
            anchors.verticalCenter: parent.verticalCenter
            text: group.input ? "In" : "Out"
            font.pixelSize: 10
            color: Theme.textTertiary
            horizontalAlignment: Text.AlignLeft
        }
        ChannelPicker {
            objectName: group.input ? "inputChannelPicker" : "outputChannelPicker"
            width: 62
            anchors.verticalCenter: parent.verticalCenter
            channelCount: group.channelCount
            renderScale: group.renderScale
            stereo: group.slot ? (group.input ? group.slot.inputStereo : group.slot.outputStereo) : false
            channel: group.slot ? (group.input ? group.slot.inputChannel : group.slot.outputChannel) : -1
            Accessible.name: group.side + " channel"
            onChosen: ch => { if (group.slot) group.slot[group.input ? "inputChannel" : "outputChannel"] = ch }
        }
        WidthPicker {
            objectName: group.input ? "inputWidthPicker" : "outputWidthPicker"
            width: 110
            anchors.verticalCenter: parent.verticalCenter
            stereo: group.slot ? (group.input ? group.slot.inputStereo : group.slot.outputStereo) : false
            Accessible.name: group.side + " width"
            toolTipText: group.side + ": mono (one channel) or stereo (a pair)"
            onChosen: value => { if (group.slot) group.slot[group.input ? "inputStereo" : "outputStereo"] = value }
        }
    }
    SlotLevelMeter {
        objectName: group.input ? "inputMeter" : "outputMeter"
        width: line.width
        height: 4
        slot: group.slot
        input: group.input
    }
}
