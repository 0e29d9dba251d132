import QtQuick

// The panel look: a rounded fill with a one-point hairline that lies wholly
// inside the panel's edge (a Rectangle draws its border inside its bounds).
// Put it behind a group's content, filling the group.
Rectangle {
    property real cornerRadius: 9
    property color fill: Theme.panel

    radius: cornerRadius
    color: fill
    border.width: 1
    border.color: Theme.hairline
}
