import QtQuick
import QtQuick.Controls

// The main window: the content at its design size, drawn at the zoom factor,
// under the menu bar with the zoom and transport commands. The window's size,
// its shape and the stored factor are windowScale's (InterfaceScale).
ApplicationWindow {
    id: window
    required property QtObject manager
    required property QtObject loadMonitor
    required property QtObject windowScale

    readonly property int barHeight: menuBar ? menuBar.height : 0

    // A first size only: windowScale sizes the window for the stored factor
    // with the bars known, then shows it.
    width: windowScale.defaultContentSize.width
    height: windowScale.defaultContentSize.height
    minimumWidth: 750
    minimumHeight: 498 + barHeight
    title: "Corvane"
    color: Theme.window

    Binding {
        target: window.windowScale
        property: "chromeHeight"
        value: window.barHeight
    }

    // The zoom keys are windowScale's (they work in this window and its
    // sheets, not in plug-in editors); the items show them. Ctrl+R and
    // Ctrl+Q are this window's shortcuts.
    Action {
        id: actualSizeAction
        objectName: "actualSizeAction"
        text: "Actual Size"
        onTriggered: window.windowScale.actualSize()
    }
    Action {
        id: zoomInAction
        objectName: "zoomInAction"
        text: "Zoom In"
        onTriggered: window.windowScale.zoomIn()
    }
    Action {
        id: zoomOutAction
        objectName: "zoomOutAction"
        text: "Zoom Out"
        onTriggered: window.windowScale.zoomOut()
    }
    Action {
        id: quitAction
        objectName: "quitAction"
        text: "Quit"
        shortcut: StandardKey.Quit
        // As the window's close button: playback ends with the window.
        onTriggered: window.close()
    }
    Action {
        id: transportAction
        objectName: "transportAction"
        text: window.manager.isRunning ? "Stop" : "Start"
        shortcut: "Ctrl+R"
        onTriggered: window.manager.toggle()
    }

    menuBar: MenuBar {
        objectName: "menuBar"
        // The bar and its menus in the window's dark colours.
        palette.window: Theme.panel
        palette.base: Theme.panel
        palette.button: Theme.panel
        palette.windowText: Theme.textPrimary
        palette.text: Theme.textPrimary
        palette.buttonText: Theme.textPrimary
        palette.highlight: Theme.accent
        palette.highlightedText: "white"
        palette.mid: Theme.strip
        palette.light: Theme.strip
        palette.dark: Theme.window
        Menu {
            title: "&File"
            ShellMenuItem { action: quitAction; keys: "Ctrl+Q" }
        }
        Menu {
            title: "&View"
            ShellMenuItem { action: actualSizeAction; keys: "Ctrl+0" }
            ShellMenuItem { action: zoomInAction; keys: "Ctrl++" }
            ShellMenuItem { action: zoomOutAction; keys: "Ctrl+-" }
            MenuSeparator {}
        }
        Menu {
            title: "&Transport"
            ShellMenuItem { action: transportAction; keys: "Ctrl+R" }
        }
    }

    ScaledCanvas {
        id: canvas
        anchors.fill: parent
        designSize: Qt.size(1000, 664)
        ContentView {
            anchors.fill: parent
            manager: window.manager
            loadMonitor: window.loadMonitor
            interfaceScale: canvas.factor
        }
    }
}
