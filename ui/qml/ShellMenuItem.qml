import QtQuick
import QtQuick.Controls

// A menu item of the window's menu bar: its title at the left and the keys
// that do the same at the right, as desktop menus show them.
MenuItem {
    id: item
    property string keys

    contentItem: ShellMenuItemLabel {
        text: item.text
        keys: item.keys
        font: item.font
        ink: item.highlighted ? item.palette.highlightedText : item.palette.text
        available: item.enabled
    }
}
