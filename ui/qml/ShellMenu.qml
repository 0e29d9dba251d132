import QtQuick
import QtQuick.Controls

// A menu of the window's menu bar, as wide as its widest item: the style's
// menus keep a fixed width, which crowds a long title against its keys.
Menu {
    id: menu
    contentWidth: {
        let widest = 0;
        for (let i = 0; i < menu.count; ++i) {
            const entry = menu.itemAt(i);
            if (entry)
                widest = Math.max(widest, entry.implicitWidth);
        }
        return widest;
    }
}
