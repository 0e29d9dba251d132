import QtQuick
import Corvane.Models

// Beside a control: the controller it is mapped to ("CC 64 ch 1"), or that it
// listens for one. While it listens, Escape or a press on it stops it.
Rectangle {
    id: badge
    property MidiLearn learn
    readonly property bool listening: learn !== null && learn.listening

    objectName: "midiBadge"
    visible: label.text !== ""
    implicitWidth: label.implicitWidth + 10
    implicitHeight: label.implicitHeight + 4
    radius: height / 2
    color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, listening ? 0.28 : 0.14)

    Text {
        id: label
        objectName: "midiBadgeText"
        anchors.centerIn: parent
        text: badge.learn ? badge.learn.badgeText : ""
        font.pixelSize: 10
        color: badge.listening ? Theme.textPrimary : Theme.accent
    }
    TapHandler {
        enabled: badge.listening
        onTapped: badge.learn.cancel()
    }
    Shortcut {
        sequence: "Escape"
        enabled: badge.listening
        onActivated: badge.learn.cancel()
    }
}
