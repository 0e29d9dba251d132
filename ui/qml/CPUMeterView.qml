import QtQuick
import Corvane.Models
import QtQuick.Controls.Fusion
import QtQuick.Shapes

// The header's status panel: one bar per logical core with the machine's load,
// this application's processor usage and its peak, and the audio dropouts
// since Start (or the last reset) with a light for a fresh one and a reset.
Item {
    id: meter
    property SystemLoadMonitor load
    property AudioEngineManager manager

    readonly property var perCore: load ? load.perCoreUsagePercent : []
    readonly property int coreCount: perCore ? perCore.length : 0
    readonly property int dropoutCount: manager ? manager.audioDropoutCount : 0
    readonly property bool dropoutActive: manager ? manager.audioDropoutActive : false

    implicitWidth: row.implicitWidth + 24
    implicitHeight: row.implicitHeight + 12

    PanelBackground {
        anchors.fill: parent
        cornerRadius: 9
        fill: Theme.panel
    }

    HoverHandler { id: hover }
    ToolTip.visible: hover.hovered && !resetHover.hovered
    ToolTip.delay: 600
    ToolTip.text: "One column per logical core - system-wide load, not just this app. The numbers are this app's current CPU usage, its highest reading since launch, and how many real audio dropouts (audio I/O deadline misses - audible glitches) have happened since Start or the last reset. The light flashes on a fresh dropout, and the count stays red until it is reset."

    Row {
        id: row
        x: 12
        anchors.verticalCenter: parent.verticalCenter
        spacing: 10

        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: "CPU"
            font.pixelSize: 12
            font.weight: Font.Medium
            color: Theme.textSecondary
        }

        CoreLoadMeterView {
            objectName: "coreBars"
            anchors.verticalCenter: parent.verticalCenter
            width: Math.max(meter.coreCount, 1) * 7 - 2
            height: 26
            loadsPercent: meter.perCore
            barWidth: 5
            spacing: 2
        }

        // Each number sits over a hidden template that fixes its width, so the
        // panel does not jump as the digits change.
        Column {
            anchors.verticalCenter: parent.verticalCenter
            Item {
                implicitWidth: usageTemplate.implicitWidth
                implicitHeight: usageTemplate.implicitHeight
                Text {
                    id: usageTemplate
                    text: "888%"
                    font: usage.font
                    visible: false
                }
                Text {
                    id: usage
                    objectName: "cpuUsage"
                    text: (meter.load ? meter.load.cpuUsagePercent : 0).toFixed(0) + "%"
                    font.pixelSize: 13
                    color: Theme.textSecondary
                }
            }
            Item {
                implicitWidth: peakTemplate.implicitWidth
                implicitHeight: peakTemplate.implicitHeight
                Text {
                    id: peakTemplate
                    text: "peak 888%"
                    font: peak.font
                    visible: false
                }
                Text {
                    id: peak
                    objectName: "cpuPeak"
                    text: "peak " + (meter.load ? meter.load.cpuPeakPercent : 0).toFixed(0) + "%"
                    font.pixelSize: 12
                    color: Theme.textTertiary
                }
            }
        }

        // The dropout group: light, word and count on one baseline.
        Item {
            anchors.verticalCenter: parent.verticalCenter
            implicitWidth: 10 + light.width + 4 + word.implicitWidth + 4 + countTemplate.implicitWidth
            implicitHeight: word.implicitHeight

            Rectangle {
                id: light
                objectName: "dropoutLight"
                x: 10
                anchors.bottom: word.baseline
                width: 9
                height: 9
                radius: 4.5
                // The flash fades in and out in a BarGlide's three steps, not
                // an animation at the display's rate: every step is a frame of
                // the whole window drawn by the CPU, and on a busy machine
                // dropouts come every few seconds while the meters play.
                color: Qt.tint(Theme.meterTrack, Qt.rgba(Theme.meterRed.r, Theme.meterRed.g, Theme.meterRed.b,
                                                         flash.value / 100))
                BarGlide {
                    id: flash
                    target: meter.dropoutActive ? 100 : 0
                }
            }
            Text {
                id: word
                x: light.x + light.width + 4
                text: "dropouts"
                font.pixelSize: 12
                color: Theme.textTertiary
            }
            Item {
                x: word.x + word.implicitWidth + 4
                anchors.baseline: word.baseline
                width: countTemplate.implicitWidth
                height: countTemplate.implicitHeight
                baselineOffset: count.baselineOffset

                Text {
                    id: countTemplate
                    text: "8888"
                    font: count.font
                    visible: false
                }
                // A soft red glow while dropouts are counted: a halo fading out
                // from behind the number, drawn only when the count changes.
                Shape {
                    id: halo
                    readonly property real reach: 8
                    readonly property real size: Math.max(count.contentWidth, count.contentHeight) + 2 * reach
                    x: count.contentWidth / 2 - size / 2
                    y: count.contentHeight / 2 - size / 2
                    width: size
                    height: size
                    opacity: meter.dropoutCount > 0 ? 1 : 0
                    visible: opacity > 0
                    Behavior on opacity {
                        NumberAnimation { duration: 200; easing.type: Easing.OutQuad }
                    }
                    ShapePath {
                        strokeWidth: -1
                        fillGradient: RadialGradient {
                            centerX: halo.size / 2
                            centerY: halo.size / 2
                            centerRadius: halo.size / 2
                            focalX: centerX
                            focalY: centerY
                            GradientStop { position: 0.0; color: Qt.rgba(Theme.meterRed.r, Theme.meterRed.g, Theme.meterRed.b, 0.65) }
                            GradientStop { position: 0.4; color: Qt.rgba(Theme.meterRed.r, Theme.meterRed.g, Theme.meterRed.b, 0.32) }
                            GradientStop { position: 1.0; color: Qt.rgba(Theme.meterRed.r, Theme.meterRed.g, Theme.meterRed.b, 0) }
                        }
                        PathAngleArc {
                            centerX: halo.size / 2
                            centerY: halo.size / 2
                            radiusX: halo.size / 2
                            radiusY: halo.size / 2
                            startAngle: 0
                            sweepAngle: 360
                        }
                    }
                }
                Text {
                    id: count
                    objectName: "dropoutCount"
                    text: meter.dropoutCount
                    font.pixelSize: 12
                    color: meter.dropoutCount > 0 ? Theme.meterRed : Theme.textTertiary
                    Behavior on color {
                        ColorAnimation { duration: 200; easing.type: Easing.OutQuad }
                    }
                }
            }
        }

        AbstractButton {
            id: reset
            objectName: "resetDropouts"
            anchors.verticalCenter: parent.verticalCenter
            width: 22
            height: 22
            padding: 4.5
            enabled: meter.dropoutCount > 0
            opacity: enabled ? 1.0 : 0.35
            // Tab reaches it; a click leaves the keyboard where it was.
            focusPolicy: Qt.TabFocus
            Accessible.name: "Reset dropout counter"
            HoverHandler { id: resetHover }
            ToolTip.visible: resetHover.hovered
            ToolTip.delay: 600
            ToolTip.text: "Reset the dropout counter"
            contentItem: StatusSymbol {
                name: "arrow.counterclockwise"
                color: Theme.textSecondary
                lineWidth: 2.6
                opacity: reset.pressed ? 0.6 : 1
            }
            background: null
            FocusRing { shown: reset.visualFocus }
            onClicked: if (meter.manager) meter.manager.resetDropouts()
        }
    }
}
