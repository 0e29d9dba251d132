import QtQuick

// Stand-in for the channel strip row until the real one lands.
PanelBackground {
    required property QtObject manager
    required property QtObject slot
    property real interfaceScale: 1.0
    implicitWidth: 1000
    implicitHeight: 56
    cornerRadius: 9
}
