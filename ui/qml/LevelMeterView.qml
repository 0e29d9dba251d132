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

    // Fractions of the width in whole points, animated (so a resize is never
    // animated): a reading that would not move a bar by a point starts no
    // animation and redraws nothing; a steady tone leaves the meter still.
    readonly property real points: Math.max(Math.round(width), 1)
    property real rmsFraction: Math.round((rms > 0 ? Math.min(rms, 1) : 0) * points) / points
    property real peakFraction: Math.round((peak > 0 ? Math.min(peak, 1) : 0) * points) / points
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
        // In whole points through the glide too: a frame that would move the
        // bar by less draws nothing.
        width: Math.round(meter.rmsFraction * meter.width)
        height: meter.height
        radius: meter.radius
        visible: width > 0
        color: meter.rms >= 1.0 ? Theme.meterRed : meter.rms >= 0.7 ? Theme.meterAmber : Theme.meterGreen
    }
    Rectangle {
        objectName: "peakLine"
        x: Math.min(Math.round(meter.peakFraction * meter.width), meter.width - meter.peakWidth)
        width: meter.peakWidth
        height: meter.height
        radius: Math.min(meter.radius, meter.peakWidth / 2)
        visible: meter.peak > 0
        color: meter.peak >= 1.0 ? Theme.meterRed : Theme.textPrimary
    }
}
