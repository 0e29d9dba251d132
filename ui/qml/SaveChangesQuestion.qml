import QtQuick
import Corvane.Models
import QtQuick.Controls.Fusion
import QtQuick.Layouts
import QtQuick.Templates as T

// Asks whether to save the setup's changes before they are replaced or left:
// shown while the chooser waits for an answer. Escape is Cancel.
Dialog {
    id: question
    property SetupFileChooser files
    // The zoom factor of the window's content.
    property real interfaceScale: 1.0

    readonly property bool asking: files ? files.asking : false

    objectName: "saveChangesQuestion"
    parent: T.Overlay.overlay
    anchors.centerIn: parent
    // Grown from its top left: the overlay centres the grown size there.
    scale: interfaceScale
    transformOrigin: Popup.TopLeft
    modal: true
    focus: true
    width: 340
    padding: 20
    topPadding: 18
    closePolicy: Popup.CloseOnEscape

    onAskingChanged: asking ? open() : close()
    onClosed: if (asking) files.answer(SetupFileChooser.Cancel)

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
        Accessible.role: Accessible.AlertMessage
        Accessible.name: question.files ? question.files.question : ""
        Text {
            objectName: "questionText"
            Layout.fillWidth: true
            text: question.files ? question.files.question : ""
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: 14
            font.bold: true
            color: Theme.textPrimary
        }
        Text {
            Layout.fillWidth: true
            text: "Changes not saved are lost."
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: 12
            color: Theme.textSecondary
        }
        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 8
            spacing: 8
            Answer {
                objectName: "dontSave"
                text: "Don't Save"
                destructive: true
                onClicked: question.files.answer(SetupFileChooser.DontSave)
            }
            Answer {
                objectName: "cancel"
                text: "Cancel"
                onClicked: question.files.answer(SetupFileChooser.Cancel)
            }
            Answer {
                objectName: "save"
                text: "Save"
                prominent: true
                focus: true
                onClicked: question.files.answer(SetupFileChooser.Save)
            }
        }
    }

    component Answer: AbstractButton {
        id: button
        property bool prominent: false
        property bool destructive: false
        Layout.fillWidth: true
        implicitHeight: 30
        Accessible.name: text
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()
        contentItem: Text {
            text: button.text
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: 13
            font.weight: button.prominent ? Font.DemiBold : Font.Normal
            color: button.destructive ? Theme.danger : button.prominent ? "white" : Theme.textPrimary
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
