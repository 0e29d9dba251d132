import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic

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

    // The popup's only child, so that its parts may carry ids.
    Item {
        anchors.fill: parent
        ScaledCanvas {
            anchors.fill: parent
            designSize: Qt.size(480, 520)
            Loader {
                id: content
                anchors.fill: parent
                active: sheet.visible
                focus: true
                sourceComponent: PluginPickerList {}
            }
        }
        Rectangle {
            anchors.fill: parent
            color: "transparent"
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.12)
        }
    }

    // What the Loader built knows the sheet only through these.
    readonly property PluginPickerList list: content.item as PluginPickerList
    Binding {
        target: sheet.list
        property: "interfaceScale"
        value: sheet.interfaceScale
        when: sheet.list !== null
    }
    Binding {
        target: sheet.list
        property: "selectedUri"
        value: sheet.selectedUri
        when: sheet.list !== null
    }
    Connections {
        target: sheet.list
        function onPicked(component) { sheet.choose(component) }
        function onCloseRequested() { sheet.close() }
    }

    function choose(component) {
        sheet.picked(component)
        sheet.close()
    }
}
