import QtQuick
import Corvane.Models
import QtQuick.Controls.Fusion
import QtQuick.Layouts
import QtQuick.Templates as T

// The alert for a plug-in that would not load: shown while the manager holds
// a load failure; closing it by any means clears the failure.
Dialog {
    id: alert
    property AudioEngineManager manager
    // The zoom factor of the window's content.
    property real interfaceScale: 1.0

    readonly property bool failing: manager ? manager.hasPluginLoadFailure : false
    readonly property var failure: manager ? manager.pluginLoadFailure : null

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    // Grown from its top left: the overlay centres the grown size there.
    scale: interfaceScale
    transformOrigin: Popup.TopLeft
    modal: true
    width: 360
    padding: 20
    topPadding: 18
    closePolicy: Popup.CloseOnEscape

    onFailingChanged: failing ? open() : close()
    Component.onCompleted: if (failing) open()
    // Escape, or any other way the alert goes away, ends the failure.
    onClosed: if (failing) manager.dismissPluginLoadFailure()

    background: Rectangle {
        color: Theme.strip
        radius: 12
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.12)
    }
    T.Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, 0.45)
    }

    header: null
    contentItem: ColumnLayout {
        spacing: 10
        StatusSymbol {
            Layout.alignment: Qt.AlignHCenter
            implicitWidth: 40
            implicitHeight: 40
            name: "exclamationmark.triangle.fill"
            color: Theme.warning
        }
        Text {
            objectName: "alertTitle"
            Layout.fillWidth: true
            text: alert.failure ? alert.failure.title : ""
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: 14
            font.bold: true
            color: Theme.textPrimary
        }
        Text {
            objectName: "alertMessage"
            Layout.fillWidth: true
            text: alert.failure ? alert.failure.message : ""
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: 12
            color: Theme.textSecondary
        }
        ColumnLayout {
            Layout.fillWidth: true
            Layout.topMargin: 8
            spacing: 8
            AlertButton {
                objectName: "tryAgain"
                text: "Try Again"
                prominent: true
                onClicked: alert.manager.tryAgainAfterPluginFailure()
            }
            AlertButton {
                objectName: "removePlugin"
                text: "Remove Plugin"
                destructive: true
                onClicked: alert.manager.removeFailedPlugin()
            }
            AlertButton {
                objectName: "cancel"
                text: "Cancel"
                onClicked: alert.manager.dismissPluginLoadFailure()
            }
        }
    }

    component AlertButton: AbstractButton {
        id: button
        property bool prominent: false
        property bool destructive: false
        Layout.fillWidth: true
        implicitHeight: 30
        Accessible.name: text
        contentItem: Text {
            text: button.text
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: 13
            font.weight: button.prominent ? Font.DemiBold : Font.Normal
            color: button.destructive ? Theme.danger : Theme.textPrimary
        }
        background: Rectangle {
            radius: 7
            color: button.prominent ? Theme.accent : Qt.rgba(1, 1, 1, 0.1)
            opacity: button.pressed ? 0.7 : 1
            FocusRing {
                shown: button.visualFocus
                radius: 9
            }
        }
    }
}
