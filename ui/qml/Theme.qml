pragma Singleton
import QtQuick

// The one dark look: named colours shared by every view.
QtObject {
    readonly property color window: Qt.rgba(0.071, 0.078, 0.094, 1)
    readonly property color panel: Qt.rgba(0.106, 0.114, 0.133, 1)
    readonly property color strip: Qt.rgba(0.145, 0.153, 0.176, 1)
    readonly property color hairline: Qt.rgba(1, 1, 1, 0.07)
    readonly property color textPrimary: Qt.rgba(1, 1, 1, 0.92)
    readonly property color textSecondary: Qt.rgba(1, 1, 1, 0.52)
    readonly property color textTertiary: Qt.rgba(1, 1, 1, 0.34)
    readonly property color textDisabled: Qt.rgba(1, 1, 1, 0.28)
    readonly property color textBright: "#ffffff"
    readonly property color accent: Qt.rgba(0.29, 0.62, 1.0, 1)
    readonly property color danger: Qt.rgba(0.98, 0.36, 0.36, 1)
    readonly property color warning: Qt.rgba(0.98, 0.74, 0.29, 1)
    readonly property color meterGreen: Qt.rgba(0.2, 0.82, 0.52, 1)
    readonly property color meterAmber: Qt.rgba(0.98, 0.74, 0.29, 1)
    readonly property color meterRed: Qt.rgba(0.98, 0.36, 0.36, 1)
    readonly property color meterTrack: Qt.rgba(1, 1, 1, 0.09)
    // The controls' palette (pickers, fields, their pop-ups), darkest to lightest.
    readonly property color shadow: "#000000"
    readonly property color controlDark: "#141518"
    readonly property color controlBase: "#1f2126"
    readonly property color controlMid: "#24262b"
    readonly property color controlAlternateBase: "#25272d"
    readonly property color control: "#2a2d33"
    readonly property color controlMidlight: "#33363c"
    readonly property color controlLight: "#3a3d44"
}
