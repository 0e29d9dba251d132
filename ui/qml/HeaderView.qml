import QtQuick
import QtQuick.Layouts
import Corvane.Models

// The top of the main window: the title and version, the CPU meter and the
// transport button, on a red wash while the engine runs.
Item {
    id: header
    property AudioEngineManager manager
    property SystemLoadMonitor loadMonitor
    // Follows the CPU meter's rendered height; the title block is as tall.
    property real cpuMeterHeight: 30
    readonly property bool running: manager ? manager.isRunning : false
    readonly property string versionText: Qt.application.version !== "" ? "v" + Qt.application.version : ""

    implicitHeight: headerRow.implicitHeight + 32
    // Like every panel below: hover re-delivered after each changed
    // frame skips what is not under the pointer.
    clip: true

    Rectangle {
        anchors.fill: parent
        color: Theme.danger
        opacity: header.running ? 0.18 : 0
        Behavior on opacity {
            NumberAnimation { duration: 200; easing.type: Easing.InOutQuad }
        }
    }
    Rectangle {
        objectName: "runningBar"
        anchors.bottom: parent.bottom
        width: parent.width
        height: 2
        color: Theme.danger
        opacity: header.running ? 1 : 0
        visible: opacity > 0
        Behavior on opacity {
            NumberAnimation { duration: 200; easing.type: Easing.InOutQuad }
        }
    }

    RowLayout {
        id: headerRow
        anchors.fill: parent
        anchors.margins: 16
        spacing: 20

        // Title and version on one baseline, as tall as the CPU meter.
        Item {
            implicitWidth: title.implicitWidth + 8 + version.implicitWidth
            implicitHeight: header.cpuMeterHeight
            Text {
                id: title
                height: header.cpuMeterHeight
                verticalAlignment: Text.AlignVCenter
                text: "CORVANE"
                font.pixelSize: 26
                font.bold: true
                font.letterSpacing: 4
                color: Theme.textPrimary
            }
            Text {
                id: version
                objectName: "version"
                x: title.implicitWidth + 8
                anchors.baseline: title.baseline
                text: header.versionText
                font.pixelSize: 12
                font.weight: Font.Medium
                color: Theme.textSecondary
            }
        }

        Item { Layout.fillWidth: true }

        CPUMeterView {
            id: cpuMeter
            objectName: "cpuMeter"
            Layout.rightMargin: 14
            Layout.fillHeight: true
            load: header.loadMonitor
            manager: header.manager
            onHeightChanged: if (height > 0) header.cpuMeterHeight = height
        }

        TransportButton {
            objectName: "transport"
            manager: header.manager
        }
    }
}
