pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts
import Corvane.Models

// The whole content of the main window, laid out at 1000 × 664: the header
// with the title, the CPU meter and the transport button; the device panel;
// the strips; the engine's banners; and the plug-in load-failure alert.
// Everything shown is read from the manager, every control calls it.
Pane {
    id: content
    required property AudioEngineManager manager
    required property SystemLoadMonitor loadMonitor
    // The zoom factor the content is drawn at (sheets size themselves by it).
    property real interfaceScale: 1.0

    padding: 0
    background: Rectangle { color: Theme.window }

    // The controls' own look, dark to match (pickers and their pop-ups).
    palette.window: Theme.window
    palette.windowText: Theme.textPrimary
    palette.base: Theme.controlBase
    palette.alternateBase: Theme.controlAlternateBase
    palette.text: Theme.textPrimary
    palette.button: Theme.control
    palette.buttonText: Theme.textPrimary
    palette.brightText: Theme.textBright
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.textBright
    palette.light: Theme.controlLight
    palette.midlight: Theme.controlMidlight
    palette.mid: Theme.controlMid
    palette.dark: Theme.controlDark
    palette.shadow: Theme.shadow
    palette.toolTipBase: Theme.control
    palette.toolTipText: Theme.textPrimary
    palette.placeholderText: Theme.textTertiary
    palette.disabled.text: Theme.textDisabled
    palette.disabled.buttonText: Theme.textDisabled
    palette.disabled.windowText: Theme.textDisabled

    contentItem: ColumnLayout {
        spacing: 0

        HeaderView {
            objectName: "header"
            Layout.fillWidth: true
            manager: content.manager
            loadMonitor: content.loadMonitor
        }

        DevicePanelView {
            Layout.fillWidth: true
            interfaceScale: content.interfaceScale
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.bottomMargin: 14
            manager: content.manager
        }

        StripListView {
            objectName: "strips"
            Layout.fillWidth: true
            Layout.fillHeight: true
            manager: content.manager
            interfaceScale: content.interfaceScale
        }

        // ---- Banners ----------------------------------------------------
        Banner {
            objectName: "warningBanner"
            Layout.fillWidth: true
            visible: text !== ""
            text: content.manager ? content.manager.warningMessage : ""
            symbol: "exclamationmark.circle.fill"
            tint: Theme.warning
        }
        Banner {
            objectName: "errorBanner"
            Layout.fillWidth: true
            visible: text !== ""
            text: content.manager ? content.manager.errorMessage : ""
            symbol: "exclamationmark.triangle.fill"
            tint: Theme.danger
        }
    }

    // Every tool tip of the content is the engine's one shared tip: drawn at
    // the zoom (it hangs in the overlay, outside the zoomed canvas), grown
    // from its top left so it stays where its control places it.
    Binding {
        target: content.ToolTip.toolTip
        property: "scale"
        value: content.interfaceScale
    }
    Binding {
        target: content.ToolTip.toolTip
        property: "transformOrigin"
        value: Popup.TopLeft
    }

    PluginLoadFailureAlert {
        objectName: "loadFailureAlert"
        manager: content.manager
        interfaceScale: content.interfaceScale
    }
}
