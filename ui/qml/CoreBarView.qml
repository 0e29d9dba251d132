import QtQuick
import Corvane.Models

// One core's load as a vertical bar: a track, and over it from the bottom a
// fill of the load's share of the height, never less than a one-point sliver.
Item {
    id: bar
    // 0…1 is the useful range; 1 = fully busy.
    property real level: 0

    readonly property real clamped: level > 0 ? Math.min(level, 1) : 0
    readonly property color fillColor: [Theme.meterGreen, Theme.meterAmber, Theme.meterRed][MeterZone.zoneOf(level)]

    Rectangle {
        anchors.fill: parent
        radius: 1
        color: Theme.meterTrack
    }
    // The fill's height in whole points glides to each new level.
    BarGlide {
        id: glide
        target: Math.max(Math.round(bar.clamped * bar.height), 1.0)
    }

    Rectangle {
        objectName: "coreBarFill"
        anchors.bottom: parent.bottom
        width: parent.width
        height: glide.value
        radius: 1
        color: bar.fillColor
    }
}
