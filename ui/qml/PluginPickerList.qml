pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Corvane.Models 1.0

// What the plug-in picker sheet holds while it is open: the title with
// "Close", the search field, and the rows of a model of its own grouped under
// their manufacturers. The sheet makes a new one for every showing.
FocusScope {
    id: content
    focus: true
    property real interfaceScale: 1.0
    // The strip's chosen plug-in, "" for none; that row carries the checkmark.
    property string selectedUri: ""
    // A PluginComponent; one with an empty uri means none.
    signal picked(var component)
    signal closeRequested()
    // Enter in the search field: the row the arrow keys reached takes it.
    signal chooseCurrent()

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
                onClicked: content.closeRequested()
                FocusRing { shown: close.visualFocus }
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
                    renderScale: content.interfaceScale
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
                    // Typing stays here; the arrows move through the rows below.
                    Keys.forwardTo: [list]
                    Keys.onReturnPressed: content.chooseCurrent()
                    Keys.onEnterPressed: content.chooseCurrent()
                    onTextChanged: list.currentIndex = -1
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
            // No row is marked until an arrow key reaches one.
            currentIndex: -1
            highlightMoveDuration: 0
            boundsBehavior: Flickable.StopAtBounds
            ScrollIndicator.vertical: ScrollIndicator {}

            // Rows are grouped by manufacturer; the group's first row carries
            // its heading (fixed rows have none).
            section.property: "manufacturer"
            section.criteria: ViewSection.FullString
            delegate: Column {
                id: entry
                required property int index
                required property var model
                required property string manufacturer
                readonly property bool first: ListView.previousSection !== ListView.section || entry.index === 0
                readonly property bool last: ListView.nextSection !== ListView.section || entry.index === ListView.view.count - 1
                width: ListView.view.width
                Item {
                    visible: entry.first && entry.manufacturer !== ""
                    width: entry.width
                    height: 30
                    Text {
                        anchors.left: parent.left
                        anchors.leftMargin: 8
                        anchors.bottom: parent.bottom
                        anchors.bottomMargin: 5
                        width: parent.width - 16
                        text: entry.manufacturer
                        font.pixelSize: 11
                        font.weight: Font.DemiBold
                        color: Theme.textTertiary
                        elide: Text.ElideRight
                    }
                }
                AbstractButton {
                    id: row
                    readonly property var model: entry.model
                    readonly property bool first: entry.first
                    readonly property bool last: entry.last
                    readonly property bool marked: row.model.kind === "plugin" && content.selectedUri !== "" && row.model.uri === content.selectedUri
                    readonly property bool current: entry.ListView.isCurrentItem
                    // The row the arrow keys reached is tinted with the accent.
                    readonly property color fill: row.current ? Qt.tint(Theme.panel, Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.3))
                                                : row.pressed ? Theme.strip : Theme.panel
                    objectName: row.model.kind === "plugin" ? "pickerRow:" + row.model.uri : "pickerRow:" + row.model.kind
                    width: entry.width
                    height: 30
                    enabled: row.model.kind !== "loading"
                    // The rows are reached with the arrow keys, not with Tab.
                    focusPolicy: Qt.NoFocus
                    Accessible.name: row.model.name
                    Accessible.checked: marked
                    onClicked: content.picked(row.model.component)
                    Connections {
                        target: content
                        function onChooseCurrent() { if (row.current && row.enabled) row.clicked() }
                    }

                    background: Item {
                        // Rounded only where a group of rows begins or ends.
                        Rectangle {
                            anchors.fill: parent
                            radius: 8
                            color: row.fill
                        }
                        Rectangle {
                            visible: !row.first
                            anchors.top: parent.top
                            width: parent.width
                            height: parent.height / 2
                            color: row.fill
                        }
                        Rectangle {
                            visible: !row.last
                            anchors.bottom: parent.bottom
                            width: parent.width
                            height: parent.height / 2
                            color: row.fill
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
                            renderScale: content.interfaceScale
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
                            renderScale: content.interfaceScale
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
