pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Fusion
import Corvane.Models

// The device panel: the device, with the refresh button; the sample rate,
// with the rate the device really runs at; the buffer size and the latency it
// gives. What each picker offers and takes is the DevicePanel's.
Item {
    id: devicePanel
    property AudioEngineManager manager
    // The zoom the window draws at: the pickers' lists take it (pop-ups hang
    // outside the zoomed canvas), grown from their top left over the picker.
    property real interfaceScale: 1.0

    DevicePanel {
        id: panel
        manager: devicePanel.manager
    }
    LatencyMeasurer {
        id: measurer
        objectName: "latencyMeasurer"
        manager: devicePanel.manager
    }
    LatencySheet {
        id: latencySheet
        measurer: measurer
        interfaceScale: devicePanel.interfaceScale
    }
    MidiMappingsSheet {
        id: midiSheet
        manager: devicePanel.manager
        interfaceScale: devicePanel.interfaceScale
    }

    // The device list is read once when the window first appears (the manager
    // only follows changes of it from then on).
    Component.onCompleted: if (manager) manager.refreshDeviceList()

    clip: true
    implicitHeight: deviceRow.implicitHeight + 24

    PanelBackground {
        anchors.fill: parent
        cornerRadius: 14
        fill: Theme.panel
    }

    Row {
        id: deviceRow
        x: 14
        y: 12
        spacing: 12

        // Device
        SettingColumn {
            title: "Device"
            ComboBox {
                id: devicePicker
                objectName: "devicePicker"
                popup.scale: devicePanel.interfaceScale
                popup.transformOrigin: Popup.TopLeft
                width: 320
                Accessible.name: "Audio device"
                model: panel.deviceLabels
                currentIndex: panel.deviceIndex
                delegate: PickerEntry {
                    picker: devicePicker
                    text: modelData
                }
                FocusRing { shown: devicePicker.visualFocus }
                // Choosing sets the index by hand: bound again, it shows what the manager took.
                onActivated: (index) => {
                    panel.chooseDevice(index)
                    currentIndex = Qt.binding(() => panel.deviceIndex)
                }
            }
            // Where controllers come in and what they move, beside the device they come in through.
            Button {
                id: midiButton
                objectName: "midiMappingsButton"
                text: "MIDI Mappings…"
                font.pixelSize: 10
                padding: 2
                enabled: devicePanel.manager !== null
                onClicked: midiSheet.open()
                FocusRing { shown: midiButton.visualFocus }
            }
        }
        // The refresh button, beside the device column.
        Item {
            width: 8 + refresh.width
            height: refresh.y + refresh.height
            AbstractButton {
                id: refresh
                objectName: "refreshDevices"
                x: 8
                y: 18
                width: 22
                height: 22
                padding: 3
                // Tab reaches it; a click leaves the keyboard where it was.
                focusPolicy: Qt.TabFocus
                Accessible.name: "Refresh device list"
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: "Refresh device list"
                contentItem: StatusSymbol {
                    name: "arrow.clockwise"
                    color: Theme.textSecondary
                    opacity: refresh.pressed ? 0.6 : 1
                }
                background: null
                FocusRing { shown: refresh.visualFocus }
                onClicked: if (devicePanel.manager) devicePanel.manager.refreshDeviceList()
            }
        }
        Separator {}

        // Sample rate
        SettingColumn {
            title: "Sample Rate"
            Column {
                spacing: 5
                ComboBox {
                    id: ratePicker
                    objectName: "ratePicker"
                    popup.scale: devicePanel.interfaceScale
                    popup.transformOrigin: Popup.TopLeft
                    width: 130
                    Accessible.name: "Sample rate"
                    model: panel.rateLabels
                    currentIndex: panel.rateIndex
                    delegate: PickerEntry {
                        picker: ratePicker
                        text: modelData
                    }
                    FocusRing { shown: ratePicker.visualFocus }
                    displayText: panel.rateText
                    onActivated: (index) => {
                        panel.chooseRate(index)
                        currentIndex = Qt.binding(() => panel.rateIndex)
                    }
                }
                Text {
                    objectName: "deviceRate"
                    readonly property real actual: devicePanel.manager ? devicePanel.manager.actualSampleRate : 0
                    visible: actual > 0
                    text: "device: " + Math.trunc(actual) + " Hz"
                    font.pixelSize: 10
                    color: panel.rateMismatch ? Theme.warning : Theme.textTertiary
                }
            }
        }
        Separator {}

        // Buffer size and the latency it gives
        SettingColumn {
            title: "Latency (Buffer)"
            Column {
                spacing: 5
                ComboBox {
                    id: bufferPicker
                    objectName: "bufferPicker"
                    popup.scale: devicePanel.interfaceScale
                    popup.transformOrigin: Popup.TopLeft
                    width: 150
                    Accessible.name: "Buffer size"
                    model: panel.bufferSizes
                    displayText: panel.bufferText
                    currentIndex: panel.bufferIndex
                    onActivated: (index) => {
                        panel.chooseBuffer(index)
                        currentIndex = Qt.binding(() => panel.bufferIndex)
                    }
                    delegate: PickerEntry {
                        picker: bufferPicker
                        objectName: "bufferSize" + modelData
                        text: modelData + " samples"
                        enabled: panel.bufferAllowed[index]
                    }
                    FocusRing { shown: bufferPicker.visualFocus }
                }
                Row {
                    spacing: 8
                    Text {
                        id: latencyLine
                        objectName: "latencyLine"
                        anchors.verticalCenter: parent.verticalCenter
                        text: devicePanel.manager ? devicePanel.manager.latencyText : ""
                        font.pixelSize: 10
                        color: devicePanel.manager && devicePanel.manager.latencyWarning ? Theme.warning : Theme.textTertiary
                        readonly property string toolTip: devicePanel.manager ? devicePanel.manager.latencyToolTip : ""
                        HoverHandler { id: latencyHover }
                        ToolTip.visible: latencyHover.hovered && toolTip !== ""
                        ToolTip.delay: 600
                        ToolTip.text: toolTip
                    }
                    Button {
                        id: measureButton
                        objectName: "measureLatencyButton"
                        text: "Measure Latency…"
                        font.pixelSize: 10
                        padding: 2
                        enabled: devicePanel.manager !== null && devicePanel.manager.hasSelectedDevice
                        onClicked: latencySheet.open()
                        FocusRing { shown: measureButton.visualFocus }
                    }
                }
                // The last measurement at this device, rate and buffer size, next to the estimate.
                Text {
                    objectName: "measuredLatencyLine"
                    width: 320
                    visible: text !== ""
                    text: measurer.kept
                    font.pixelSize: 10
                    color: Theme.textTertiary
                    wrapMode: Text.WordWrap
                }
            }
        }
    }

    // A column of the device panel: its title above its control.
    component SettingColumn: Column {
        property string title
        spacing: 3
        Text {
            text: parent.title.toUpperCase()
            font.pixelSize: 10
            font.weight: Font.DemiBold
            font.letterSpacing: 0.4
            color: Theme.textTertiary
        }
    }

    // One entry of a picker's list: the current one marked, disabled ones dimmed.
    component PickerEntry: ItemDelegate {
        id: entry
        required property int index
        required property var modelData
        property ComboBox picker
        width: ListView.view ? ListView.view.width : implicitWidth
        implicitHeight: 24
        leftPadding: 22
        highlighted: picker && picker.highlightedIndex === index
        readonly property color textColor: !enabled ? Qt.rgba(1, 1, 1, 0.25) : highlighted ? "white" : Theme.textPrimary
        contentItem: Text {
            text: entry.text
            font.pixelSize: 13
            elide: Text.ElideRight
            verticalAlignment: Text.AlignVCenter
            color: entry.textColor
        }
        background: Rectangle {
            color: entry.highlighted && entry.enabled ? Theme.accent : "transparent"
            radius: 4
            Text {
                x: 7
                anchors.verticalCenter: parent.verticalCenter
                visible: entry.picker && entry.picker.currentIndex === entry.index
                text: "✓"
                font.pixelSize: 12
                color: entry.textColor
            }
        }
    }

    component Separator: Item {
        implicitWidth: 37
        implicitHeight: 38
        Rectangle {
            x: 18
            width: 1
            height: 38
            color: Theme.hairline
        }
    }
}
