import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Fusion
import Corvane.Models

// Measure Latency: which output is cabled to which input, the button that
// measures, and what came of it. The measuring and the keeping are the
// LatencyMeasurer's.
Popup {
    id: sheet
    property LatencyMeasurer measurer
    property real interfaceScale: 1.0

    objectName: "latencySheet"
    anchors.centerIn: Overlay.overlay
    // Grown from its top left: the overlay centres the grown size there.
    scale: interfaceScale
    transformOrigin: Popup.TopLeft
    modal: true
    focus: true
    closePolicy: sheet.measurer && sheet.measurer.busy ? Popup.NoAutoClose : Popup.CloseOnEscape
    padding: 20
    width: 420

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.35) }

    background: Rectangle {
        radius: 10
        color: Theme.strip
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.12)
    }

    Column {
        width: parent.width
        spacing: 10
        Text {
            text: "Measure Latency"
            font.pixelSize: 13
            font.bold: true
            color: Theme.textPrimary
        }
        Text {
            width: parent.width
            text: "Connect an output to an input with a cable. A test signal plays out of the output for about a "
                  + "second, three times, and the time it takes to come back is measured. Playback stops meanwhile."
            font.pixelSize: 12
            color: Theme.textSecondary
            wrapMode: Text.WordWrap
        }
        Row {
            spacing: 16
            enabled: !(sheet.measurer && sheet.measurer.busy)
            ChannelField { id: output; label: "Output"; objectName: "latencyOutput" }
            ChannelField { id: input; label: "Input"; objectName: "latencyInput" }
        }
        Text {
            objectName: "latencyStatus"
            width: parent.width
            visible: text !== ""
            text: sheet.measurer ? sheet.measurer.status : ""
            font.pixelSize: 12
            color: sheet.measurer && sheet.measurer.failed ? Theme.warning : Theme.textPrimary
            wrapMode: Text.WordWrap
        }
        Row {
            spacing: 8
            anchors.right: parent.right
            Button {
                objectName: "latencyClose"
                text: "Close"
                enabled: !(sheet.measurer && sheet.measurer.busy)
                onClicked: sheet.close()
            }
            Button {
                objectName: "latencyMeasure"
                text: sheet.measurer && sheet.measurer.busy ? "Measuring…" : "Measure"
                enabled: sheet.measurer !== null && !sheet.measurer.busy
                onClicked: sheet.measurer.measure(output.value, input.value)
            }
        }
    }

    // A channel number from 1, with its label before it.
    component ChannelField: Row {
        property string label
        property alias value: box.value
        spacing: 6
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: parent.label
            font.pixelSize: 12
            color: Theme.textPrimary
        }
        SpinBox {
            id: box
            from: 1
            to: 64
            value: 1
            width: 90
            editable: true
            Accessible.name: parent.label + " channel"
        }
    }
}
