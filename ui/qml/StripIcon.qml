import QtQuick
import QtQuick.Shapes

// The few line symbols of the channel strip and the plug-in picker, drawn in
// any colour: "waveform.badge.magnifyingglass", "chevron.down",
// "gearshape.fill", "xmark.circle", "magnifyingglass", "checkmark" and
// "spinner" (an open ring for a busy indicator). Paths lie on a 24 × 24 grid
// fitted into the item. `renderScale` is the zoom the item is shown at, so
// the smoothing layer keeps the picture sharp when an ancestor scales it up.
Item {
    id: icon
    property string name
    property color color: Theme.textPrimary
    property real renderScale: 1.0

    implicitWidth: 16
    implicitHeight: 16

    // Strokes (round caps and joins) and one filled path per symbol.
    readonly property var symbol: ({
        "waveform.badge.magnifyingglass": { width: 2, stroke:
            "M2.5 10 V14 M6 6 V18 M9.5 2.5 V21.5 M13 7.5 V11 "
            + "M20.6 15 A3.6 3.6 0 1 1 13.4 15 A3.6 3.6 0 1 1 20.6 15 M19.6 17.6 L22 20" },
        "chevron.down": { width: 2.8, stroke: "M5.5 9 L12 15.5 L18.5 9" },
        "gearshape.fill": { width: 0, fill: gearPath() },
        "xmark.circle": { width: 1.8, stroke:
            "M21.6 12 A9.6 9.6 0 1 1 2.4 12 A9.6 9.6 0 1 1 21.6 12 M8.6 8.6 L15.4 15.4 M15.4 8.6 L8.6 15.4" },
        "magnifyingglass": { width: 2.2, stroke:
            "M17.3 10.5 A6.8 6.8 0 1 1 3.7 10.5 A6.8 6.8 0 1 1 17.3 10.5 M15.5 15.5 L21 21" },
        "checkmark": { width: 2.6, stroke: "M4.5 12.5 L9.5 18 L19.5 5.5" },
        "spinner": { width: 2.6, stroke: "M21 12 A9 9 0 1 1 12 3" }
    })

    // Eight teeth around a ring, with a round hole (even-odd fill).
    function gearPath() {
        const teeth = 8, outer = 11, root = 8.4, hole = 3.4
        const at = (r, a) => (12 + r * Math.cos(a)).toFixed(3) + " " + (12 + r * Math.sin(a)).toFixed(3)
        let d = ""
        for (let i = 0; i < teeth; ++i) {
            const a = i * 2 * Math.PI / teeth
            d += (i === 0 ? "M" : " L") + at(root, a - 0.30) + " L" + at(outer, a - 0.17)
                + " L" + at(outer, a + 0.17) + " L" + at(root, a + 0.30)
                + " A" + root + " " + root + " 0 0 1 " + at(root, a + 2 * Math.PI / teeth - 0.30)
        }
        d += " Z M" + (12 + hole) + " 12 A" + hole + " " + hole + " 0 1 0 " + (12 - hole) + " 12 A"
            + hole + " " + hole + " 0 1 0 " + (12 + hole) + " 12 Z"
        return d
    }

    // Shapes are not antialiased by the hardware renderers without samples.
    readonly property bool hardware: GraphicsInfo.api !== GraphicsInfo.Software
    layer.enabled: hardware
    layer.samples: 4
    layer.smooth: true
    layer.textureSize: Qt.size(Math.ceil(width * Math.max(1, renderScale) * 2),
                               Math.ceil(height * Math.max(1, renderScale) * 2))

    // A fresh shape for every name, built only while the icon shows: Qt 6.4's
    // software renderer can crash updating a shape whose path data changed or
    // that was hidden and shown again (a picker row's checkmark is).
    Repeater {
        model: icon.visible ? [icon.name] : []
        delegate: Shape {
            required property string modelData
            readonly property var current: icon.symbol[modelData] || ({})
            readonly property real factor: Math.min(icon.width, icon.height) / 24
            width: 24
            height: 24
            x: (icon.width - 24 * factor) / 2
            y: (icon.height - 24 * factor) / 2
            scale: factor
            transformOrigin: Item.TopLeft
            antialiasing: true

            ShapePath {
                strokeColor: current.stroke ? icon.color : "transparent"
                strokeWidth: current.width
                fillColor: "transparent"
                capStyle: ShapePath.RoundCap
                joinStyle: ShapePath.RoundJoin
                PathSvg { path: current.stroke || "M0 0" }
            }
            ShapePath {
                strokeColor: "transparent"
                strokeWidth: 0
                fillColor: current.fill ? icon.color : "transparent"
                fillRule: ShapePath.OddEvenFill
                PathSvg { path: current.fill || "M0 0" }
            }
        }
    }
}
