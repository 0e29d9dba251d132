import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts
import Corvane.Models

// The whole content of the main window, laid out at 1000 × 664: the header
// with the title, the CPU meter and the transport button; the device panel;
// the strips; the engine's banners; and the plug-in load-failure alert.
// Everything shown is read from the manager, every control calls it.
Pane {
    id: content
    required property AudioEngineManager manager
    required property QtObject loadMonitor
    // The zoom factor the content is drawn at (sheets size themselves by it).
    property real interfaceScale: 1.0
    // Follows the CPU meter's rendered height; the title block is as tall.
    property real cpuMeterHeight: 30

    readonly property bool running: manager ? manager.isRunning : false
    readonly property bool starting: manager ? manager.isStarting : false

    readonly property string versionText: Qt.application.version !== "" ? "v" + Qt.application.version : ""

    padding: 0
    background: Rectangle { color: Theme.window }

    // The controls' own look, dark to match (pickers and their pop-ups).
    palette.window: Theme.window
    palette.windowText: Qt.rgba(1, 1, 1, 0.92)
    palette.base: "#1f2126"
    palette.alternateBase: "#25272d"
    palette.text: Qt.rgba(1, 1, 1, 0.92)
    palette.button: "#2a2d33"
    palette.buttonText: Qt.rgba(1, 1, 1, 0.92)
    palette.brightText: "#ffffff"
    palette.highlight: Theme.accent
    palette.highlightedText: "#ffffff"
    palette.light: "#3a3d44"
    palette.midlight: "#33363c"
    palette.mid: "#24262b"
    palette.dark: "#141518"
    palette.shadow: "#000000"
    palette.toolTipBase: "#2a2d33"
    palette.toolTipText: Qt.rgba(1, 1, 1, 0.92)
    palette.placeholderText: Qt.rgba(1, 1, 1, 0.34)
    palette.disabled.text: Qt.rgba(1, 1, 1, 0.28)
    palette.disabled.buttonText: Qt.rgba(1, 1, 1, 0.28)
    palette.disabled.windowText: Qt.rgba(1, 1, 1, 0.28)

    DevicePanel {
        id: panel
        manager: content.manager
    }

    // The device list is read once when the window first appears (the manager
    // only follows changes of it from then on).
    Component.onCompleted: if (manager) manager.refreshDeviceList()

    contentItem: ColumnLayout {
        spacing: 0

        // ---- Header -----------------------------------------------------
        Item {
            id: header
            objectName: "header"
            Layout.fillWidth: true
            implicitHeight: headerRow.implicitHeight + 32
            // Like every panel below: hover re-delivered after each changed
            // frame skips what is not under the pointer.
            clip: true

            Rectangle {
                anchors.fill: parent
                color: Theme.danger
                opacity: content.running ? 0.18 : 0
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
                opacity: content.running ? 1 : 0
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
                    implicitHeight: content.cpuMeterHeight
                    Text {
                        id: title
                        height: content.cpuMeterHeight
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
                        text: content.versionText
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
                    load: content.loadMonitor
                    manager: content.manager
                    onHeightChanged: if (height > 0) content.cpuMeterHeight = height
                }

                TransportButton {
                    objectName: "transport"
                    manager: content.manager
                }
            }
        }

        // ---- Device panel -----------------------------------------------
        Item {
            clip: true
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.bottomMargin: 14
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
                        width: 320
                        Accessible.name: "Audio device"
                        model: panel.deviceLabels
                        currentIndex: panel.deviceIndex
                        delegate: PickerEntry {
                            picker: devicePicker
                            text: modelData
                        }
                        // Choosing sets the index by hand: bound again, it shows what the manager took.
                        onActivated: (index) => {
                            panel.chooseDevice(index)
                            currentIndex = Qt.binding(() => panel.deviceIndex)
                        }
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
                        focusPolicy: Qt.NoFocus
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
                        onClicked: if (content.manager) content.manager.refreshDeviceList()
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
                            width: 130
                            Accessible.name: "Sample rate"
                            model: panel.rateLabels
                            currentIndex: panel.rateIndex
                            delegate: PickerEntry {
                                picker: ratePicker
                                text: modelData
                            }
                            displayText: panel.rateText
                            onActivated: (index) => {
                                panel.chooseRate(index)
                                currentIndex = Qt.binding(() => panel.rateIndex)
                            }
                        }
                        Text {
                            objectName: "deviceRate"
                            readonly property real actual: content.manager ? content.manager.actualSampleRate : 0
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
                        }
                        Text {
                            id: latencyLine
                            objectName: "latencyLine"
                            text: content.manager ? content.manager.latencyText : ""
                            font.pixelSize: 10
                            color: content.manager && content.manager.latencyWarning ? Theme.warning : Theme.textTertiary
                            readonly property string toolTip: content.manager ? content.manager.latencyToolTip : ""
                            HoverHandler { id: latencyHover }
                            ToolTip.visible: latencyHover.hovered && toolTip !== ""
                            ToolTip.delay: 600
                            ToolTip.text: toolTip
                        }
                    }
                }
            }
        }

        // ---- Strips -----------------------------------------------------
        // Every strip is always built (a list view would build and drop the
        // row at its edge over and over as its height settles, redrawing the
        // window without end).
        Flickable {
            id: strips
            objectName: "strips"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: width
            contentHeight: stripColumn.height + 16
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}
            Column {
                id: stripColumn
                x: 16
                width: strips.width - 32
                spacing: 8
                Repeater {
                    model: content.manager ? content.manager.channels : []
                    delegate: ChannelStripView {
                        required property var modelData
                        width: stripColumn.width
                        height: implicitHeight
                        manager: content.manager
                        slot: modelData
                        interfaceScale: content.interfaceScale
                    }
                }
            }
        }

        // ---- Banners ----------------------------------------------------
        Banner {
            objectName: "warningBanner"
            Layout.fillWidth: true
            visible: text !== ""
            text: content.manager ? content.manager.warningMessage : ""
            symbol: "exclamationmark.circle.fill"
            tint: Theme.warning
        }
        Banner {
            objectName: "errorBanner"
            Layout.fillWidth: true
            visible: text !== ""
            text: content.manager ? content.manager.errorMessage : ""
            symbol: "exclamationmark.triangle.fill"
            tint: Theme.danger
        }
    }

    PluginLoadFailureAlert {
        objectName: "loadFailureAlert"
        manager: content.manager
        interfaceScale: content.interfaceScale
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
        contentItem: Text {
            text: entry.text
            font.pixelSize: 13
            elide: Text.ElideRight
            verticalAlignment: Text.AlignVCenter
            color: !entry.enabled ? Qt.rgba(1, 1, 1, 0.25) : entry.highlighted ? "white" : Theme.textPrimary
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
                color: entry.contentItem.color
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

    // Start while stopped, Stop while running; busy while a start is under way
    // (a second press there would only ask for what is already happening).
    component TransportButton: AbstractButton {
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
        focusPolicy: Qt.NoFocus
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
                Rectangle {
                    id: spinner
                    anchors.fill: parent
                    anchors.margins: 1
                    visible: transport.starting
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
                    // Not a value source ("on rotation"): that one starts by
                    // itself and would redraw the window for ever.
                    RotationAnimator {
                        target: spinner
                        from: 0
                        to: 360
                        duration: 900
                        loops: Animation.Infinite
                        running: transport.starting
                    }
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
            color: transport.tint
            opacity: !transport.enabled ? 0.55 : transport.pressed ? 0.75 : transport.hovered ? 0.9 : 1
            Behavior on color {
                ColorAnimation { duration: 200; easing.type: Easing.InOutQuad }
            }
        }
    }
}
