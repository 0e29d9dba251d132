import QtQuick

// One core's load as a vertical bar: a track, and over it from the bottom a
// fill of the load's share of the height, never less than a one-point sliver.
Item {
    id: bar
    // 0…1 is the useful range; 1 = fully busy.
    property real level: 0

    readonly property real clamped: level > 0 ? Math.min(level, 1) : 0
    readonly property color fillColor: level >= 1.0 ? Theme.meterRed
                                     : level >= 0.7 ? Theme.meterAmber
                                     : Theme.meterGreen

    Rectangle {
        anchors.fill: parent
        radius: 1
        color: Theme.meterTrack
    }
    Rectangle {
        objectName: "coreBarFill"
        anchors.bottom: parent.bottom
        width: parent.width
        // Whole points, at the target and through the glide: a change too
        // small to move the bar by one is no change at all, and a frame of the
        // glide that would move it by less draws nothing.
        property real points: Math.max(Math.round(bar.clamped * bar.height), 1.0)
        Behavior on points {
            NumberAnimation { duration: 150; easing.type: Easing.Linear }
        }
        height: Math.round(points)
        radius: 1
        color: bar.fillColor
    }
}
