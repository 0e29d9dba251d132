pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts
import Corvane.Models

// The generic editor: one row per control port of the plug-in, each with its
// name, a control suited to the port and its value with the unit; ports the
// plug-in reports (meters, latency) are shown but not editable. Names and
// values keep their width; the controls take whatever the window adds. Each
// row the user sets has its MIDI button: its mapping, or Learn MIDI.
Item {
    id: view
    property var model
    // Where the rows' MIDI mappings go: the strip (from 0) of the manager.
    property AudioEngineManager manager
    property int strip: -1
    readonly property int rowHeight: 30
    readonly property int nameWidth: 170
    readonly property int controlWidth: 200
    readonly property int valueWidth: 90
    readonly property int midiWidth: 150

    implicitWidth: nameWidth + controlWidth + valueWidth + midiWidth + 2 * 8 + 3 * 12
    implicitHeight: list.count * rowHeight + 2 * 8

    // A plug-in may have audio ports only: say so rather than show nothing.
    Text {
        objectName: "noParametersNote"
        visible: list.count === 0
        anchors.fill: parent
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WordWrap
        padding: 20
        text: "This plug-in has no parameters."
        font.pixelSize: 12
        color: Theme.textSecondary
    }

    ScrollView {
        anchors.fill: parent
        clip: true

        ListView {
            id: list
            objectName: "parameterList"
            anchors.fill: parent
            anchors.margins: 8
            model: view.model
            interactive: contentHeight > height
            delegate: RowLayout {
                id: row
                required property int index
                required property string name
                required property int kind
                required property double value
                required property double position
                required property string text
                required property var choices
                required property int choice
                required property double minimum
                required property double maximum
                required property string symbol
                objectName: "parameterRow"
                width: ListView.view.width
                height: view.rowHeight
                spacing: 12

                Text {
                    Layout.preferredWidth: view.nameWidth
                    text: row.name
                    color: row.kind === 4 ? Theme.textSecondary : Theme.textPrimary
                    font.pixelSize: 12
                    elide: Text.ElideRight
                }
                // 0 toggle, 1 list, 2 integer, 3 slider, 4 read-only.
                Item {
                    Layout.fillWidth: true
                    Layout.minimumWidth: view.controlWidth
                    Layout.preferredWidth: view.controlWidth
                    Layout.preferredHeight: view.rowHeight
                    Switch {
                        objectName: "parameterToggle"
                        visible: row.kind === 0
                        anchors.verticalCenter: parent.verticalCenter
                        checked: row.value > (row.minimum + row.maximum) / 2
                        onToggled: view.model.setValue(row.index, checked ? 1 : 0)
                    }
                    ComboBox {
                        objectName: "parameterChoice"
                        visible: row.kind === 1
                        // Lists and steps read best at their own width: only sliders grow.
                        x: 2
                        y: 2
                        width: view.controlWidth - 4
                        height: parent.height - 4
                        model: row.kind === 1 ? row.choices : []
                        currentIndex: row.choice
                        displayText: currentIndex >= 0 ? currentText : row.text
                        onActivated: (i) => view.model.setChoice(row.index, i)
                    }
                    SpinBox {
                        objectName: "parameterSteps"
                        visible: row.kind === 2
                        x: 2
                        y: 2
                        width: view.controlWidth - 4
                        height: parent.height - 4
                        from: Math.ceil(row.minimum)
                        to: Math.floor(row.maximum)
                        value: Math.round(row.value)
                        editable: true
                        onValueModified: view.model.setValue(row.index, value)
                    }
                    Slider {
                        objectName: "parameterSlider"
                        visible: row.kind === 3
                        anchors.fill: parent
                        from: 0
                        to: 1
                        value: row.position
                        onMoved: view.model.setPosition(row.index, value)
                    }
                    ProgressBar {
                        objectName: "parameterMeter"
                        visible: row.kind === 4
                        anchors.verticalCenter: parent.verticalCenter
                        width: parent.width
                        from: row.minimum
                        to: row.maximum > row.minimum ? row.maximum : row.minimum + 1
                        value: row.value
                    }
                }
                Text {
                    objectName: "parameterValue"
                    Layout.preferredWidth: view.valueWidth
                    text: row.text
                    color: Theme.textSecondary
                    font.pixelSize: 12
                    horizontalAlignment: Text.AlignRight
                    elide: Text.ElideRight
                }
                MidiLearn {
                    id: rowLearn
                    manager: view.manager
                    stripIndex: view.strip
                    parameter: row.symbol
                }
                // A press while it listens stops it; otherwise the menu, as a right click on the row.
                Button {
                    id: midiButton
                    objectName: "parameterMidi"
                    Layout.preferredWidth: view.midiWidth
                    Layout.preferredHeight: view.rowHeight - 6
                    enabled: row.kind !== 4 && view.manager !== null
                    opacity: row.kind === 4 ? 0 : 1
                    flat: !rowLearn.mapped && !rowLearn.listening
                    text: rowLearn.badgeText !== "" ? rowLearn.badgeText : "Learn MIDI…"
                    font.pixelSize: 10
                    Accessible.name: "MIDI for " + row.name
                    onClicked: rowLearn.listening ? rowLearn.learn() : rowMenu.popup(midiButton, 0, midiButton.height)
                }
                TapHandler {
                    acceptedButtons: Qt.RightButton
                    enabled: midiButton.enabled
                    onTapped: rowMenu.popup()
                }
                Shortcut {
                    sequence: "Escape"
                    enabled: rowLearn.listening
                    onActivated: rowLearn.cancel()
                }
                MidiLearnMenu {
                    id: rowMenu
                    learn: rowLearn
                }
            }
        }
    }
}
