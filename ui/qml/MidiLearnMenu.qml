import QtQuick
import QtQuick.Controls
import Corvane.Models

// Learn MIDI for one control: listening for the next controller moved, taking
// its mapping away, and how a switch follows it. What each entry does and
// says is the MidiLearn's; a checked entry is bound again once pressed, so it
// keeps showing what the mapping holds.
Menu {
    id: menu
    property MidiLearn learn
    property real interfaceScale: 1.0

    scale: interfaceScale
    transformOrigin: Popup.TopLeft

    MenuItem {
        objectName: "midiLearnEntry"
        text: menu.learn ? menu.learn.learnText : ""
        onTriggered: menu.learn.learn()
    }
    MenuItem {
        objectName: "midiRemoveEntry"
        text: "Remove MIDI Mapping"
        enabled: menu.learn !== null && menu.learn.mapped
        onTriggered: menu.learn.remove()
    }
    MenuSeparator {}
    MenuItem {
        id: latching
        objectName: "midiLatchingEntry"
        text: "Latching"
        checkable: true
        checked: menu.learn !== null && menu.learn.mapped && !menu.learn.momentary
        enabled: menu.learn !== null && menu.learn.mapped && menu.learn.isSwitch
        onTriggered: { menu.learn.setMomentary(false); latching.checked = Qt.binding(() => menu.learn.mapped && !menu.learn.momentary) }
    }
    MenuItem {
        id: momentary
        objectName: "midiMomentaryEntry"
        text: "Momentary"
        checkable: true
        checked: menu.learn !== null && menu.learn.momentary
        enabled: menu.learn !== null && menu.learn.mapped && menu.learn.isSwitch
        onTriggered: { menu.learn.setMomentary(true); momentary.checked = Qt.binding(() => menu.learn.momentary) }
    }
    MenuItem {
        id: inverted
        objectName: "midiInvertedEntry"
        text: "Inverted"
        checkable: true
        checked: menu.learn !== null && menu.learn.inverted
        enabled: menu.learn !== null && menu.learn.mapped
        onTriggered: { menu.learn.setInverted(inverted.checked); inverted.checked = Qt.binding(() => menu.learn.inverted) }
    }
}
