import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Corvane.Models 1.0

// The modal sheet in which one strip's plug-in is chosen, or none. It lays
// out at 480 × 520 and is drawn at the interface scale, centred over the
// window. Every showing starts afresh: an empty search and a new list (the
// catalog's cached scan makes that immediate after the first time), dropped
// again when the sheet closes. Choosing a row reports it with `picked` and
// closes the sheet; "Close" only closes.
Popup {
    id: sheet
    objectName: "pluginPickerSheet"
    property real interfaceScale: 1.0
    // The strip's chosen plug-in, "" for none; that row carries the checkmark.
    property string selectedUri: ""
    // A PluginComponent; one with an empty uri means none.
    signal picked(var component)

    anchors.centerIn: Overlay.overlay
    width: 480 * interfaceScale
    height: 520 * interfaceScale
    padding: 0
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.45) }
    background: Rectangle { color: Theme.window }

    contentItem: Item {
        ScaledCanvas {
            anchors.fill: parent
            designSize: Qt.size(480, 520)
            Loader {
                anchors.fill: parent
                active: sheet.visible
                focus: true
                sourceComponent: body
            }
        }
        Rectangle {
            anchors.fill: parent
            color: "transparent"
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.12)
        }
    }

    function choose(component) {
        sheet.picked(component)
        sheet.close()
    }

    Component {
        id: body
        FocusScope {
            focus: true
            PluginPickerModel {
                id: pickerModel
                objectName: "pickerModel"
                filterText: search.text
            }

            ColumnLayout {
                anchors.fill: parent
                spacing: 0

                RowLayout {
                    Layout.fillWidth: true
                    Layout.margins: 16
                    spacing: 8
                    Text {
                        text: "Select Plugin"
                        font.pixelSize: 13
                        font.bold: true
                        color: Theme.textPrimary
                    }
                    Item { Layout.fillWidth: true }
                    AbstractButton {
                        id: close
                        objectName: "pickerClose"
                        text: "Close"
                        Accessible.name: text
                        onClicked: sheet.close()
                        contentItem: Text {
                            text: close.text
                            font.pixelSize: 13
                            color: close.pressed ? Theme.textPrimary : Theme.textSecondary
                        }
                    }
                }

                Rectangle {
                    Layout.fillWidth: true
                    Layout.leftMargin: 16
                    Layout.rightMargin: 16
                    Layout.bottomMargin: 8
                    implicitHeight: searchRow.implicitHeight + 16
                    radius: 5
                    color: Theme.strip
                    RowLayout {
                        id: searchRow
                        anchors.fill: parent
                        anchors.margins: 8
                        spacing: 8
                        StripIcon {
                            name: "magnifyingglass"
                            color: Theme.textTertiary
                            renderScale: sheet.interfaceScale
                            Layout.preferredWidth: 14
                            Layout.preferredHeight: 14
                        }
                        TextField {
                            id: search
                            objectName: "pickerSearchField"
                            Layout.fillWidth: true
                            focus: true
                            padding: 0
                            background: null
                            font.pixelSize: 13
                            color: Theme.textPrimary
                            selectionColor: Theme.accent
                            placeholderText: "Search plugin or manufacturer…"
                            placeholderTextColor: Theme.textTertiary
                            Accessible.name: placeholderText
                        }
                    }
                }

                ListView {
                    id: list
                    objectName: "pickerList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.leftMargin: 16
                    Layout.rightMargin: 16
                    clip: true
                    topMargin: 4
                    bottomMargin: 12
                    model: pickerModel
                    boundsBehavior: Flickable.StopAtBounds
                    ScrollIndicator.vertical: ScrollIndicator {}

                    section.property: "manufacturer"
                    section.criteria: ViewSection.FullString
                    section.delegate: Item {
                        required property string section
                        width: ListView.view.width
                        height: section === "" ? 0 : 30
                        Text {
                            visible: parent.section !== ""
                            anchors.left: parent.left
                            anchors.leftMargin: 8
                            anchors.bottom: parent.bottom
                            anchors.bottomMargin: 5
                            text: parent.section
                            font.pixelSize: 11
                            font.weight: Font.DemiBold
                            color: Theme.textTertiary
                            elide: Text.ElideRight
                        }
                    }

                    delegate: AbstractButton {
                        id: row
                        required property int index
                        required property var model
                        readonly property bool first: ListView.previousSection !== ListView.section || row.index === 0
                        readonly property bool last: ListView.nextSection !== ListView.section || row.index === list.count - 1
                        readonly property bool marked: row.model.kind === "plugin" && sheet.selectedUri !== "" && row.model.uri === sheet.selectedUri
                        objectName: row.model.kind === "plugin" ? "pickerRow:" + row.model.uri : "pickerRow:" + row.model.kind
                        width: ListView.view.width
                        height: 30
                        enabled: row.model.kind !== "loading"
                        Accessible.name: row.model.name
                        Accessible.checked: marked
                        onClicked: sheet.choose(row.model.component)

                        background: Item {
                            // Rounded only where a group of rows begins or ends.
                            Rectangle {
                                anchors.fill: parent
                                radius: 8
                                color: row.pressed ? Theme.strip : Theme.panel
                            }
                            Rectangle {
                                visible: !row.first
                                anchors.top: parent.top
                                width: parent.width
                                height: parent.height / 2
                                color: row.pressed ? Theme.strip : Theme.panel
                            }
                            Rectangle {
                                visible: !row.last
                                anchors.bottom: parent.bottom
                                width: parent.width
                                height: parent.height / 2
                                color: row.pressed ? Theme.strip : Theme.panel
                            }
                            Rectangle {
                                visible: !row.first
                                x: 10
                                width: parent.width - 20
                                height: 1
                                color: Theme.hairline
                            }
                        }
                        contentItem: RowLayout {
                            spacing: 8
                            StripIcon {
                                visible: row.model.kind === "loading"
                                name: "spinner"
                                color: Theme.textTertiary
                                renderScale: sheet.interfaceScale
                                Layout.preferredWidth: 13
                                Layout.preferredHeight: 13
                                RotationAnimator on rotation {
                                    running: row.model.kind === "loading"
                                    from: 0
                                    to: 360
                                    duration: 900
                                    loops: Animation.Infinite
                                }
                            }
                            Text {
                                Layout.fillWidth: true
                                text: row.model.name
                                font.pixelSize: 13
                                elide: Text.ElideRight
                                color: row.model.kind === "plugin" ? Theme.textPrimary
                                     : row.model.kind === "none" ? Theme.textSecondary : Theme.textTertiary
                            }
                            StripIcon {
                                objectName: "checkmark"
                                visible: row.marked
                                name: "checkmark"
                                color: Theme.accent
                                renderScale: sheet.interfaceScale
                                Layout.preferredWidth: 13
                                Layout.preferredHeight: 13
                            }
                        }
                        leftPadding: 12
                        rightPadding: 12
                    }
                }
            }
        }
    }
}
