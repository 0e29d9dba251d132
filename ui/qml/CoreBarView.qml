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
    // The fill's height in whole points glides linearly over 150 ms to each
    // new level, drawn in 33 ms steps (the level meters' pace, so the window
    // draws both in the same frames instead of at the display's rate).
    readonly property real target: Math.max(Math.round(clamped * height), 1.0)
    property real from: 1
    property real shown: 1
    property double startedAt: 0
    Component.onCompleted: shown = target
    onTargetChanged: {
        from = shown
        startedAt = Date.now()
        glide.restart()
    }
    Timer {
        id: glide
        interval: 33
        repeat: true
        onTriggered: {
            const progress = Math.min((Date.now() - bar.startedAt) / 150, 1)
            bar.shown = Math.round(bar.from + (bar.target - bar.from) * progress)
            if (progress >= 1)
                stop()
        }
    }

    Rectangle {
        objectName: "coreBarFill"
        anchors.bottom: parent.bottom
        width: parent.width
        height: bar.shown
        radius: 1
        color: bar.fillColor
    }
}
