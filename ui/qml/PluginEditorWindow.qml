import QtQuick
import Corvane.Models
import QtQuick.Controls
import QtQuick.Controls.Fusion
import QtQuick.Layouts

// The window of one strip's plug-in editor: the presets along the top, and
// below them the generic editor or the place the plug-in's own view is
// embedded in (a native child window the controller puts there). Closing it
// only hides it, so a plug-in's view survives until the controller lets go.
Window {
    id: window
    property PluginEditorWindowController controller
    // Where the generic editor's MIDI mappings go: set by the strip that opens it.
    property AudioEngineManager manager
    property int strip: -1
    // The controller places the plug-in's own view below this many pixels:
    // the presets, and for a plug-in's own editor the bar that learns MIDI.
    readonly property int headerHeight: controller && controller.learnsTouched ? 72 : 40

    width: 480
    height: 360
    color: Theme.window
    title: controller ? controller.title : ""

    // The controls' own look, dark like the main window's.
    palette.window: Theme.window
    palette.windowText: Theme.textPrimary
    palette.base: Theme.controlBase
    palette.alternateBase: Theme.controlAlternateBase
    palette.text: Theme.textPrimary
    palette.button: Theme.control
    palette.buttonText: Theme.textPrimary
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.textBright
    palette.light: Theme.controlLight
    palette.midlight: Theme.controlMidlight
    palette.mid: Theme.controlMid
    palette.dark: Theme.controlDark
    palette.placeholderText: Theme.textTertiary
    palette.disabled.text: Theme.textDisabled
    palette.disabled.buttonText: Theme.textDisabled

    onClosing: (close) => {
        close.accepted = false
        window.hide()
    }

    Rectangle {
        id: header
        width: parent.width
        height: window.headerHeight
        color: Theme.panel
        RowLayout {
            x: 10
            width: parent.width - 20
            height: 40
            spacing: 8
            ComboBox {
                id: presetBox
                objectName: "presetBox"
                Layout.fillWidth: true
                Layout.maximumWidth: 260
                model: window.controller ? window.controller.presetNames : []
                displayText: count > 0 ? (currentIndex >= 0 ? currentText : "Presets") : "No Presets"
                currentIndex: -1
                enabled: count > 0
                Accessible.name: "Presets"
                onActivated: (index) => window.controller.loadPreset(index)
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "savePresetButton"
                text: "Save Preset…"
                Accessible.name: "Save Preset…"
                onClicked: saveDialog.open()
            }
        }
        // The plug-in's own editor says nothing of MIDI: learn for the control it moved last.
        RowLayout {
            objectName: "touchedLearnBar"
            visible: window.controller ? window.controller.learnsTouched : false
            x: 10
            y: 40
            width: parent.width - 20
            height: 28
            spacing: 8
            MidiLearn {
                id: touchedLearn
                manager: window.manager
                stripIndex: window.strip
                parameter: window.controller ? window.controller.touchedParameter : ""
                label: window.controller ? window.controller.touchedParameterName : ""
            }
            // A disabled button takes no hover: the tooltip listens around it.
            Item {
                implicitWidth: learnTouched.implicitWidth
                implicitHeight: learnTouched.implicitHeight
                HoverHandler { id: learnHover }
                ToolTip.visible: learnHover.hovered && !learnTouched.enabled
                ToolTip.text: "Move a control in the editor first"
                Button {
                    id: learnTouched
                    objectName: "learnTouchedButton"
                    text: "Learn the last touched parameter"
                    font.pixelSize: 11
                    enabled: touchedLearn.parameter !== "" && window.manager !== null
                    // The palette's disabled text is hardly dimmer on this button: dim it ourselves.
                    opacity: enabled ? 1.0 : 0.5
                    onClicked: touchedLearn.learn()
                }
            }
            MidiBadge {
                learn: touchedLearn
                objectName: "touchedMidiBadge"
            }
            Button {
                objectName: "touchedRemoveButton"
                visible: touchedLearn.mapped
                text: "Remove"
                font.pixelSize: 11
                onClicked: touchedLearn.remove()
            }
            Item { Layout.fillWidth: true }
        }
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: Theme.hairline
        }
    }

    Loader {
        id: generic
        y: window.headerHeight
        width: parent.width
        height: parent.height - window.headerHeight
        active: window.controller ? window.controller.showsParameters : false
        sourceComponent: GenericEditorView {
            objectName: "genericEditor"
        }
    }
    Binding {
        target: generic.item
        property: "model"
        value: window.controller ? window.controller.parameters : null
        when: generic.item !== null
    }
    Binding {
        target: generic.item
        property: "manager"
        value: window.manager
        when: generic.item !== null
    }
    Binding {
        target: generic.item
        property: "strip"
        value: window.strip
        when: generic.item !== null
    }

    Text {
        objectName: "ownViewApartNote"
        visible: window.controller ? window.controller.ownViewApart : false
        y: window.headerHeight
        width: parent.width
        height: parent.height - window.headerHeight
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WordWrap
        padding: 20
        text: "The plug-in shows its editor in a window of its own."
        font.pixelSize: 12
        color: Theme.textSecondary
    }

    Popup {
        id: saveDialog
        objectName: "savePresetDialog"
        anchors.centerIn: Overlay.overlay
        modal: true
        focus: true
        padding: 16
        width: Math.min(300, window.width - 20)
        onOpened: { nameField.text = ""; nameField.forceActiveFocus() }
        background: Rectangle {
            radius: 10
            color: Theme.strip
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.12)
        }
        // The popup's only child: it sizes the popup, and may name its parts.
        ColumnLayout {
            width: parent.width
            spacing: 10
            Text {
                text: "Save Preset"
                font.pixelSize: 13
                font.bold: true
                color: Theme.textPrimary
            }
            TextField {
                id: nameField
                objectName: "presetName"
                Layout.fillWidth: true
                placeholderText: "Preset name"
                onAccepted: if (save.enabled) save.clicked()
            }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                Button {
                    objectName: "savePresetCancel"
                    text: "Cancel"
                    onClicked: saveDialog.close()
                }
                Button {
                    id: save
                    objectName: "savePresetConfirm"
                    text: "Save"
                    enabled: window.controller ? window.controller.isPresetName(nameField.text) : false
                    // The palette's disabled colours do not reach a pop-up's buttons: dim it ourselves.
                    opacity: enabled ? 1.0 : 0.4
                    onClicked: {
                        if (window.controller.savePreset(nameField.text))
                            saveDialog.close()
                    }
                }
            }
        }
    }
}
