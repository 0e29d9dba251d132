import QtQuick

// Lays its content out once at `designSize` and draws it as one picture,
// scaled by the smaller of the two ratios between the space it is given and
// that size, centred. `factor` is that scale, for views that size things
// outside the canvas (a sheet, a dialog).
Item {
    id: canvas
    property size designSize: Qt.size(1000, 664)
    default property alias content: stage.data
    readonly property real factor: Math.max(0.01, Math.min(width / designSize.width, height / designSize.height))

    Rectangle {
        anchors.fill: parent
        color: Theme.window
    }
    Item {
        id: stage
        width: canvas.designSize.width
        height: canvas.designSize.height
        anchors.centerIn: parent
        scale: canvas.factor
    }
}
