import QtQuick
import QtQuick.Controls.Fusion
import Corvane.Models

// Start while stopped, Stop while running; busy while a start is under way
// (a second press there would only ask for what is already happening).
AbstractButton {
    id: transport
    property AudioEngineManager manager
    readonly property bool running: manager ? manager.isRunning : false
    readonly property bool starting: manager ? manager.isStarting : false
    readonly property color tint: running ? Theme.danger : Theme.accent
    enabled: manager !== null && !starting
    leftPadding: 10
    rightPadding: 10
    topPadding: 14
    bottomPadding: 14
    // Tab reaches it; a click leaves the keyboard where it was.
    focusPolicy: Qt.TabFocus
    text: transport.starting ? "Starting…" : transport.running ? "Stop" : "Start"
    Accessible.name: text
    onClicked: transport.manager.toggle()
    contentItem: Row {
        spacing: 6
        Item {
            width: 18
            height: 18
            anchors.verticalCenter: parent.verticalCenter
            StatusSymbol {
                anchors.fill: parent
                visible: !transport.starting
                name: transport.running ? "stop.circle.fill" : "play.circle.fill"
                color: "white"
            }
            // A turning arc while the start is under way (only then).
            BusySpinner {
                anchors.fill: parent
                anchors.margins: 1
                running: transport.starting
            }
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: transport.text
            font.pixelSize: 17
            font.weight: Font.Medium
            color: "white"
        }
    }
    background: Rectangle {
        radius: 8
        FocusRing {
            shown: transport.visualFocus
            radius: 10
        }
        color: transport.tint
        opacity: !transport.enabled ? 0.55 : transport.pressed ? 0.75 : transport.hovered ? 0.9 : 1
        Behavior on color {
            ColorAnimation { duration: 200; easing.type: Easing.InOutQuad }
        }
    }
}
