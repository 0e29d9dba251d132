import QtQuick

// The whole content of the main window, laid out at 1000 × 664.
Item {
    id: content
    required property QtObject manager
    required property QtObject loadMonitor
    // The zoom factor the content is drawn at (sheets size themselves by it).
    property real interfaceScale: 1.0
}
