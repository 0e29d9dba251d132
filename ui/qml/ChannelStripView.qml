import QtQuick
import Corvane.Models
import QtQuick.Controls.Basic
import QtQuick.Layouts

// One channel strip as a row of the main window: its number, its plug-in
// (chosen in the picker sheet), the plug-in's settings, the input and output
// channels with their meters, the plug-in's on/off switch and its removal.
// Edits write into the strip; bypass goes through the manager, which also
// tells a running plug-in.
Item {
    id: strip
    property AudioEngineManager manager
    property ChannelSlot slot
    // The zoom the window draws at; sheets and alerts size themselves by it.
    property real interfaceScale: 1.0

    property bool showPicker: false
    property bool showNotRunningAlert: false

    readonly property bool hasComponent: slot ? slot.hasComponent : false
    readonly property bool hasEffectNode: slot ? slot.hasEffectNode : false
    readonly property bool pendingUntilStart: slot ? slot.pendingUntilStart : false
    readonly property int number: slot ? slot.id + 1 : 0
    readonly property bool deviceSelected: manager ? manager.hasSelectedDevice : false
    readonly property int deviceInputs: deviceSelected ? manager.selectedDevice.inputChannels : 0
    readonly property int deviceOutputs: deviceSelected ? manager.selectedDevice.outputChannels : 0

    StripController {
        id: controller
        slot: strip.slot
        manager: strip.manager
    }
    // This strip's editor window controller while it has one.
    readonly property alias editorController: controller.editor
    // MIDI for the ON/OFF switch: a right click or the menu key on it.
    MidiLearn {
        id: switchLearn
        manager: strip.manager
        stripIndex: strip.slot ? strip.slot.id : -1
    }

    onShowPickerChanged: showPicker ? picker.open() : picker.close()
    onShowNotRunningAlertChanged: showNotRunningAlert ? alert.open() : alert.close()

    // Nothing is drawn outside the strip; clipping also lets Qt Quick skip the
    // strips away from the pointer when it re-delivers hover after every frame
    // that changed something (every meter frame while playing).
    clip: true
    implicitWidth: row.implicitWidth + 20
    implicitHeight: row.implicitHeight + 20

    PanelBackground {
        anchors.fill: parent
        cornerRadius: 9
        fill: Theme.panel
        border.color: strip.pendingUntilStart ? Theme.warning : Theme.hairline
    }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 10
        spacing: 14

        // Number badge.
        Rectangle {
            Layout.preferredWidth: 32
            Layout.preferredHeight: badgeText.implicitHeight + 4
            radius: 5
            color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.14)
            Text {
                id: badgeText
                objectName: "stripNumber"
                anchors.centerIn: parent
                text: strip.number
                font.pixelSize: 13
                font.bold: true
                color: Theme.accent
            }
        }

        // Plug-in button: opens the picker; restarts a plug-in that crashed.
        AbstractButton {
            id: pluginButton
            objectName: "pluginButton"
            Layout.fillWidth: true
            Layout.minimumWidth: 120
            leftPadding: 10
            rightPadding: 10
            topPadding: 6
            bottomPadding: 6
            Accessible.role: Accessible.Button
            Accessible.name: "Plugin for channel " + strip.number
            Accessible.description: controller.pluginFaultMessage
            ToolTip.visible: hovered && controller.pluginFaulted
            ToolTip.text: controller.pluginFaultMessage
            onClicked: if (!controller.restartFaultedPlugin()) strip.showPicker = true
            background: Rectangle {
                radius: 5
                color: pluginButton.pressed ? Qt.lighter(Theme.strip, 1.25) : Theme.strip
                border.width: controller.pluginFaulted ? 1 : 0
                border.color: Theme.danger
                FocusRing { shown: pluginButton.visualFocus }
            }
            contentItem: RowLayout {
                spacing: 8
                StripIcon {
                    objectName: "pluginSymbol"
                    name: controller.pluginFaulted ? "exclamationmark.triangle" : "waveform.badge.magnifyingglass"
                    color: controller.pluginFaulted ? Theme.danger
                                                    : strip.hasComponent ? Theme.accent : Theme.textTertiary
                    renderScale: strip.interfaceScale
                    Layout.preferredWidth: 16
                    Layout.preferredHeight: 16
                }
                Text {
                    objectName: "pluginName"
                    Layout.fillWidth: true
                    // A setup's plug-in that is not installed here stays, marked.
                    text: strip.hasComponent
                          ? strip.slot.component.name + (strip.slot.componentMissing ? " (missing)" : "")
                          : "No Plugin"
                    font.pixelSize: 13
                    color: controller.pluginFaulted ? Theme.danger
                           : strip.hasComponent && strip.slot.componentMissing ? Theme.warning : Theme.textPrimary
                    elide: Text.ElideRight
                    maximumLineCount: 1
                }
                // What is shown is not yet what plays: the graph keeps its choices until Start.
                Text {
                    objectName: "pendingUntilStartMark"
                    visible: strip.pendingUntilStart
                    text: "applies at next Start"
                    font.pixelSize: 11
                    color: Theme.warning
                }
                // A press brings a crashed plug-in back with its last settings.
                Text {
                    objectName: "restartPluginOffer"
                    visible: controller.pluginFaulted
                    text: "Restart Plugin"
                    font.pixelSize: 11
                    font.bold: true
                    color: Theme.danger
                }
                StripIcon {
                    name: "chevron.down"
                    color: Theme.textTertiary
                    renderScale: strip.interfaceScale
                    Layout.preferredWidth: 9
                    Layout.preferredHeight: 9
                }
            }
        }

        // Settings: the plug-in's editor while it runs, else an explanation.
        AbstractButton {
            id: settingsButton
            objectName: "settingsButton"
            opacity: strip.hasEffectNode ? 1.0 : 0.4
            leftPadding: 6
            rightPadding: 6
            topPadding: 4
            bottomPadding: 4
            Accessible.role: Accessible.Button
            Accessible.name: "Plugin settings"
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "Plugin settings"
            onClicked: if (!controller.openEditor()) strip.showNotRunningAlert = true
            background: Rectangle {
                radius: 5
                color: settingsButton.pressed ? Qt.rgba(1, 1, 1, 0.16) : Qt.rgba(1, 1, 1, 0.09)
                border.width: 1
                border.color: Theme.hairline
                FocusRing { shown: settingsButton.visualFocus }
            }
            // The symbol fits, centred, into its 18 × 14: drawn 14 high.
            contentItem: StripIcon {
                implicitWidth: 18
                implicitHeight: 14
                name: "gearshape.fill"
                color: Theme.accent
                renderScale: strip.interfaceScale
            }
        }

        ChannelGroup {
            slot: strip.slot
            input: true
            channelCount: strip.deviceInputs
            renderScale: strip.interfaceScale
        }
        ChannelGroup {
            slot: strip.slot
            input: false
            channelCount: strip.deviceOutputs
            renderScale: strip.interfaceScale
        }

        MidiBadge { learn: switchLearn }
        // On = the plug-in plays, off = bypassed.
        Switch {
            id: pluginSwitch
            objectName: "pluginSwitch"
            checked: strip.slot ? !strip.slot.bypass : true
            padding: 0
            spacing: 6
            Accessible.name: "Plugin active"
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "Turns the plugin on or off (off = bypassed)"
            // A press only asks: the switch shows what the strip holds.
            checkable: false
            onClicked: controller.setPluginActive(!checked)
            // The menu hangs below the switch, towards the window: the switch sits at its right edge.
            Keys.onMenuPressed: switchMenu.popup(pluginSwitch, pluginSwitch.width - switchMenu.width, pluginSwitch.height)
            TapHandler {
                acceptedButtons: Qt.RightButton
                onTapped: switchMenu.popup(pluginSwitch, pluginSwitch.width - switchMenu.width, pluginSwitch.height)
            }
            indicator: Rectangle {
                x: pluginSwitch.width - width
                y: (pluginSwitch.height - height) / 2
                implicitWidth: 30
                implicitHeight: 17
                radius: height / 2
                color: pluginSwitch.checked ? Theme.accent : Qt.rgba(1, 1, 1, 0.16)
                FocusRing {
                    shown: pluginSwitch.visualFocus
                    radius: height / 2
                }
                Rectangle {
                    width: 13
                    height: 13
                    radius: 6.5
                    y: 2
                    x: pluginSwitch.checked ? parent.width - width - 2 : 2
                    color: "white"
                    Behavior on x { NumberAnimation { duration: 120 } }
                }
            }
            // The label's width: that of its longer word.
            Text {
                id: template
                visible: false
                text: "OFF"
                font.pixelSize: 10
            }
            contentItem: Item {
                implicitWidth: template.implicitWidth + 30 + pluginSwitch.spacing
                implicitHeight: Math.max(template.implicitHeight, 17)
                Text {
                    objectName: "pluginSwitchLabel"
                    width: template.implicitWidth
                    anchors.verticalCenter: parent.verticalCenter
                    horizontalAlignment: Text.AlignRight
                    text: pluginSwitch.checked ? "ON" : "OFF"
                    font.pixelSize: 10
                    color: Theme.textSecondary
                }
            }
        }

        // Remove the plug-in.
        AbstractButton {
            id: removeButton
            objectName: "removeButton"
            enabled: strip.hasComponent
            opacity: strip.hasComponent ? 1.0 : 0.4
            padding: 2
            Accessible.role: Accessible.Button
            Accessible.name: "Remove plugin"
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "Remove plugin"
            onClicked: controller.removePlugin()
            FocusRing {
                shown: removeButton.visualFocus
                radius: height / 2
            }
            contentItem: StripIcon {
                implicitWidth: 16
                implicitHeight: 16
                name: "xmark.circle"
                color: removeButton.pressed ? Theme.textSecondary : Theme.textTertiary
                renderScale: strip.interfaceScale
            }
        }
    }

    PluginPickerSheet {
        id: picker
        interfaceScale: strip.interfaceScale
        selectedUri: strip.hasComponent ? strip.slot.component.uri : ""
        onPicked: component => {
            if (strip.slot)
                strip.slot.component = component
        }
        onClosed: strip.showPicker = false
    }

    MidiLearnMenu {
        id: switchMenu
        objectName: "switchMidiMenu"
        learn: switchLearn
        interfaceScale: strip.interfaceScale
    }

    NotRunningAlert {
        id: alert
        interfaceScale: strip.interfaceScale
        onClosed: strip.showNotRunningAlert = false
    }
}
