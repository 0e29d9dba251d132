import QtQuick
import QtQuick.Controls

// The main window: the content at its design size, drawn at the zoom factor.
ApplicationWindow {
    id: window
    required property QtObject manager
    required property QtObject loadMonitor

    width: 1000
    height: 664
    minimumWidth: 750
    minimumHeight: 498
    visible: true
    title: "Corvane"
    color: Theme.window

    ScaledCanvas {
        id: canvas
        anchors.fill: parent
        designSize: Qt.size(1000, 664)
        ContentView {
            anchors.fill: parent
            manager: window.manager
            loadMonitor: window.loadMonitor
            interfaceScale: canvas.factor
        }
    }
}
