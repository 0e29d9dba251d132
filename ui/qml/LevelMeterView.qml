import QtQuick

// One horizontal level bar for a reading {rms, peak} of linear amplitudes:
// the track, the rms bar (green, amber from 0.7, red from 1.0) and a thin peak
// line (red from 1.0). A new reading glides in over 80 ms.
Item {
    id: meter
    property var reading

    readonly property real rms: reading ? reading.rms : 0
    readonly property real peak: reading ? reading.peak : 0
    readonly property real radius: Math.min(height * 0.5, 2.0)
    readonly property real peakWidth: 1.5

    // Fractions of the width; animated, so a resize is never animated.
    property real rmsFraction: rms > 0 ? Math.min(rms, 1) : 0
    property real peakFraction: peak > 0 ? Math.min(peak, 1) : 0
    Behavior on rmsFraction { NumberAnimation { duration: 80; easing.type: Easing.Linear } }
    Behavior on peakFraction { NumberAnimation { duration: 80; easing.type: Easing.Linear } }

    implicitHeight: 4

    Rectangle {
        anchors.fill: parent
        radius: meter.radius
        color: Theme.meterTrack
    }
    Rectangle {
        objectName: "levelBar"
        width: meter.rmsFraction * meter.width
        height: meter.height
        radius: meter.radius
        visible: width > 0
        color: meter.rms >= 1.0 ? Theme.meterRed : meter.rms >= 0.7 ? Theme.meterAmber : Theme.meterGreen
    }
    Rectangle {
        objectName: "peakLine"
        x: Math.min(meter.peakFraction * meter.width, meter.width - meter.peakWidth)
        width: meter.peakWidth
        height: meter.height
        radius: Math.min(meter.radius, meter.peakWidth / 2)
        visible: meter.peakFraction > 0
        color: meter.peak >= 1.0 ? Theme.meterRed : Theme.textPrimary
    }
}
