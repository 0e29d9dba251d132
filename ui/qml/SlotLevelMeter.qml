pragma ComponentBehavior: Bound
import QtQuick
import Corvane.Models

// A strip's meter for one side: one bar for mono, two stacked (left above
// right) for a stereo pair.
Column {
    id: meter
    property ChannelSlot slot
    property bool input: true

    readonly property bool stereo: slot ? (input ? slot.inputStereo : slot.outputStereo) : false

    spacing: 1

    component Bar: LevelMeterView {
        width: meter.width
        slot: meter.slot
        input: meter.input
        // The strip's panel it lies on: painted opaque, so a repaint covers
        // the panel under it and the renderer draws nothing beneath again.
        fillColor: Theme.panel
        trackColor: Theme.meterTrack
        lowColor: Theme.meterGreen
        midColor: Theme.meterAmber
        highColor: Theme.meterRed
        peakLineColor: Theme.textPrimary
    }

    Bar {
        objectName: "levelMeter"
        height: meter.stereo ? (meter.height - meter.spacing) / 2 : meter.height
    }
    Bar {
        objectName: "levelMeterRight"
        height: (meter.height - meter.spacing) / 2
        visible: meter.stereo
        rightChannel: true
    }
}
