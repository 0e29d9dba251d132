pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Fusion
import QtQuick.Layouts
import Corvane.Models

// MIDI Mappings: where controllers come in, and every controller mapped, what
// it moves and how, its channel filter, and a way to remove it. The input is
// the MidiInputChooser's, the rows are the MidiMappingList's.
Popup {
    id: sheet
    property AudioEngineManager manager
    property real interfaceScale: 1.0

    objectName: "midiMappingsSheet"
    anchors.centerIn: Overlay.overlay
    // Grown from its top left: the overlay centres the grown size there.
    scale: interfaceScale
    transformOrigin: Popup.TopLeft
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 20
    width: 640

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.35) }

    background: Rectangle {
        radius: 10
        color: Theme.strip
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.12)
    }

    MidiMappingList {
        id: mappings
        manager: sheet.manager
    }
    MidiInputChooser {
        id: input
        manager: sheet.manager
    }
    // The server's ports change while the sheet is closed.
    onAboutToShow: input.refresh()

    ColumnLayout {
        width: parent.width
        spacing: 10
        Text {
            text: "MIDI Mappings"
            font.pixelSize: 13
            font.bold: true
            color: Theme.textPrimary
        }
        RowLayout {
            spacing: 10
            Text {
                text: "MIDI input"
                font.pixelSize: 12
                color: Theme.textPrimary
            }
            ComboBox {
                id: inputPicker
                objectName: "midiInputPicker"
                Layout.fillWidth: true
                visible: input.available
                model: input.choices
                currentIndex: input.currentIndex
                Accessible.name: "MIDI input"
                onActivated: (i) => {
                    input.choose(i)
                    currentIndex = Qt.binding(() => input.currentIndex)
                }
            }
            Text {
                objectName: "midiInputNote"
                visible: !input.available
                text: input.note
                font.pixelSize: 12
                color: Theme.textSecondary
            }
        }
        Text {
            objectName: "midiMappingsEmpty"
            Layout.fillWidth: true
            visible: mappings.count === 0
            text: "Nothing is mapped yet. Right-click a strip's ON/OFF switch, or press a parameter's MIDI button in "
                  + "the plug-in editor, choose Learn MIDI and move a controller."
            font.pixelSize: 12
            color: Theme.textSecondary
            wrapMode: Text.WordWrap
        }
        // Column titles, over the rows.
        RowLayout {
            visible: mappings.count > 0
            spacing: 10
            Repeater {
                model: [["Control", -1], ["Message", 70], ["Mode", 130], ["Channel", 80], ["", 70]]
                Text {
                    required property var modelData
                    Layout.fillWidth: modelData[1] < 0
                    Layout.preferredWidth: modelData[1]
                    text: modelData[0].toUpperCase()
                    font.pixelSize: 10
                    font.weight: Font.DemiBold
                    color: Theme.textTertiary
                }
            }
        }
        ListView {
            id: list
            objectName: "midiMappingList"
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(contentHeight, 300)
            visible: mappings.count > 0
            clip: true
            model: mappings
            delegate: RowLayout {
                id: row
                required property int index
                required property string target
                required property string message
                required property string mode
                required property int channel
                objectName: "midiMappingRow"
                width: ListView.view.width
                height: 30
                spacing: 10
                Text {
                    objectName: "midiMappingTarget"
                    Layout.fillWidth: true
                    text: row.target
                    font.pixelSize: 12
                    color: Theme.textPrimary
                    elide: Text.ElideRight
                }
                Text {
                    Layout.preferredWidth: 70
                    text: row.message
                    font.pixelSize: 12
                    color: Theme.textPrimary
                }
                Text {
                    Layout.preferredWidth: 130
                    text: row.mode
                    font.pixelSize: 12
                    color: Theme.textSecondary
                }
                ComboBox {
                    objectName: "midiMappingChannel"
                    Layout.preferredWidth: 80
                    Layout.preferredHeight: 24
                    model: mappings.channelChoices
                    currentIndex: row.channel
                    Accessible.name: "MIDI channel"
                    onActivated: (i) => mappings.setChannel(row.index, i)
                }
                Button {
                    objectName: "midiMappingRemove"
                    Layout.preferredWidth: 70
                    Layout.preferredHeight: 24
                    text: "Remove"
                    onClicked: mappings.remove(row.index)
                }
            }
        }
        Button {
            objectName: "midiMappingsClose"
            Layout.alignment: Qt.AlignRight
            text: "Close"
            onClicked: sheet.close()
        }
    }
}
