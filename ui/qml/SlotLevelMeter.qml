import QtQuick

// A strip's meter for one side: one bar for mono, two stacked (left above
// right) for a stereo pair.
Column {
    id: meter
    property QtObject slot
    property bool input: true

    readonly property bool stereo: slot ? (input ? slot.inputStereo : slot.outputStereo) : false

    spacing: 1

    LevelMeterView {
        width: meter.width
        height: meter.stereo ? (meter.height - meter.spacing) / 2 : meter.height
        reading: meter.slot ? (meter.input ? meter.slot.inputLevel : meter.slot.outputLevel) : undefined
    }
    LevelMeterView {
        width: meter.width
        height: (meter.height - meter.spacing) / 2
        visible: meter.stereo
        reading: meter.slot ? (meter.input ? meter.slot.inputLevelRight : meter.slot.outputLevelRight) : undefined
    }
}
