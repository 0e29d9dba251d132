import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic

// The alert for a settings press while the strip's plug-in is not running.
Popup {
    id: alert
    property real interfaceScale: 1.0
    readonly property string heading: "Plugin Not Running Yet"

    objectName: "notRunningAlert"
    anchors.centerIn: Overlay.overlay
    // Grown from its top left: the overlay centres the grown size there.
    scale: interfaceScale
    transformOrigin: Popup.TopLeft
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 20
    width: 300

    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.35) }

    background: Rectangle {
        radius: 10
        color: Theme.strip
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.12)
    }

    // The popup's only child: it sizes the popup, and may name its parts.
    Column {
        width: parent.width
        spacing: 8
        Accessible.role: Accessible.AlertMessage
        Accessible.name: alert.heading
        Text {
            width: parent.width
            text: alert.heading
            font.pixelSize: 13
            font.bold: true
            color: Theme.textPrimary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
        }
        Text {
            objectName: "notRunningMessage"
            width: parent.width
            text: "First select a plugin and press “Start” above. Only then can its settings be opened."
            font.pixelSize: 12
            color: Theme.textSecondary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
        }
        Item { width: 1; height: 6 }
        Button {
            id: ok
            objectName: "notRunningOk"
            width: parent.width
            height: 26
            text: "OK"
            Accessible.name: "OK"
            focus: true
            onClicked: alert.close()
            Keys.onReturnPressed: alert.close()
            Keys.onEnterPressed: alert.close()
            background: Rectangle {
                radius: 6
                color: ok.pressed ? Qt.darker(Theme.accent, 1.2) : Theme.accent
                FocusRing {
                    shown: ok.visualFocus
                    radius: 8
                }
            }
            contentItem: Text {
                text: ok.text
                font.pixelSize: 13
                color: "white"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
        }
    }
}
