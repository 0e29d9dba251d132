import QtQuick
import Corvane.Models
import QtQuick.Controls

// The main window: the content at its design size, drawn at the zoom factor,
// under the menu bar with the zoom and transport commands. The window's size,
// its shape and the stored factor are windowScale's (InterfaceScale).
ApplicationWindow {
    id: window
    required property AudioEngineManager manager
    required property SystemLoadMonitor loadMonitor
    required property InterfaceScale windowScale
    // The setup's files (SetupKeeper); the File menu's setup commands need it.
    property SetupKeeper setupKeeper: null
    // Asks for the files to open and save to (SetupFileChooser).
    property SetupFileChooser setupFiles: null

    readonly property int barHeight: menuBar ? menuBar.height : 0

    // A first size only: windowScale sizes the window for the stored factor
    // with the bars known, then shows it.
    width: windowScale.defaultContentSize.width
    height: windowScale.defaultContentSize.height
    minimumWidth: 750
    minimumHeight: 498 + barHeight
    title: setupKeeper && setupKeeper.hasFile
           ? setupKeeper.name + (setupKeeper.isDirty ? " *" : "") + " — Corvane" : "Corvane"
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
    // The setup's files. Opening while playing changes the strips for the
    // next start, as any strip edit does.
    Action {
        id: openSetupAction
        objectName: "openSetupAction"
        text: "Open Setup…"
        shortcut: "Ctrl+O"
        enabled: window.setupFiles !== null && window.setupKeeper !== null && !window.setupKeeper.managedBySession
        onTriggered: window.setupFiles.chooseToOpen()
    }
    Action {
        id: saveSetupAction
        objectName: "saveSetupAction"
        text: "Save Setup"
        shortcut: "Ctrl+S"
        enabled: window.setupKeeper !== null
        onTriggered: window.setupFiles ? window.setupFiles.save() : window.setupKeeper.save()
    }
    Action {
        id: saveSetupAsAction
        objectName: "saveSetupAsAction"
        text: "Save Setup As…"
        shortcut: "Ctrl+Shift+S"
        enabled: window.setupFiles !== null && window.setupKeeper !== null && !window.setupKeeper.managedBySession
        onTriggered: window.setupFiles.chooseToSave()
    }
    Dialog {
        id: setupProblemAlert
        objectName: "setupProblemAlert"
        readonly property string problem: window.setupKeeper ? window.setupKeeper.problem : ""
        anchors.centerIn: parent
        // At the content's zoom, grown from its top left (the overlay centres the grown size).
        scale: canvas.factor
        transformOrigin: Popup.TopLeft
        modal: true
        width: 420
        title: "Setup"
        standardButtons: Dialog.Ok
        onProblemChanged: problem.length > 0 ? open() : close()
        onClosed: if (window.setupKeeper) window.setupKeeper.dismissProblem()
        Label {
            width: parent.width
            wrapMode: Text.Wrap
            text: setupProblemAlert.problem
        }
    }
    Action {
        id: fullScreenAction
        objectName: "fullScreenAction"
        text: window.visibility === Window.FullScreen ? "Exit Full Screen" : "Full Screen"
        shortcut: "F11"
        onTriggered: window.visibility === Window.FullScreen ? window.showNormal() : window.showFullScreen()
    }
    Action {
        id: quitAction
        objectName: "quitAction"
        text: "Quit"
        shortcut: "Ctrl+Q"
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

    MenuBarRest {
        menuBar: window.menuBar
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
        ShellMenu {
            title: "&File"
            ShellMenuItem { action: openSetupAction; keys: "Ctrl+O" }
            ShellMenuItem { action: saveSetupAction; keys: "Ctrl+S" }
            ShellMenuItem { action: saveSetupAsAction; keys: "Ctrl+Shift+S" }
            MenuSeparator {}
            ShellMenuItem { action: quitAction; keys: "Ctrl+Q" }
        }
        ShellMenu {
            title: "&View"
            ShellMenuItem { action: actualSizeAction; keys: "Ctrl+0" }
            ShellMenuItem { action: zoomInAction; keys: "Ctrl++" }
            ShellMenuItem { action: zoomOutAction; keys: "Ctrl+-" }
            MenuSeparator {}
            ShellMenuItem { action: fullScreenAction; keys: "F11" }
        }
        ShellMenu {
            title: "&Transport"
            ShellMenuItem { action: transportAction; keys: "Ctrl+R" }
        }
    }

    // Closing (the close button, Quit) first asks about unsaved changes.
    onClosing: close => close.accepted = !window.setupFiles || window.setupFiles.mayClose()
    Connections {
        target: window.setupFiles
        function onCloseApproved() { window.close() }
    }
    SaveChangesQuestion {
        files: window.setupFiles
        interfaceScale: canvas.factor
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
