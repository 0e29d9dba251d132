import QtQuick

// A white arc turning on a faint ring, shown only while running.
Rectangle {
    id: spinner
    property bool running: false
    visible: running
    radius: width / 2
    color: "transparent"
    border.width: 2
    border.color: Qt.rgba(1, 1, 1, 0.35)
    Rectangle {
        width: 5
        height: 5
        radius: 2.5
        x: parent.width / 2 - 2.5
        y: -1.5
        color: "white"
    }
    // Not a value source ("on rotation"): that one starts by itself and would
    // redraw the window for ever.
    RotationAnimator {
        target: spinner
        from: 0
        to: 360
        duration: 900
        loops: Animation.Infinite
        running: spinner.running
    }
}
