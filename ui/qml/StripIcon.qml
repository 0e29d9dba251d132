import QtQuick

// The few line symbols of the channel strip and the plug-in picker, drawn in
// any colour: "waveform.badge.magnifyingglass", "chevron.down",
// "gearshape.fill", "xmark.circle", "magnifyingglass", "checkmark" and
// "spinner" (an open ring for a busy indicator). Drawn on a 24 × 24 grid
// fitted into the item. `renderScale` is the zoom the item is shown at, so
// the picture stays sharp when an ancestor scales it up.
Item {
    id: icon
    property string name
    property color color: Theme.textPrimary
    property real renderScale: 1.0

    implicitWidth: 16
    implicitHeight: 16

    Canvas {
        id: canvas
        readonly property real oversample: Math.max(1, icon.renderScale)
        width: icon.width * oversample
        height: icon.height * oversample
        scale: 1 / oversample
        transformOrigin: Item.TopLeft
        antialiasing: true

        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()
        Connections {
            target: icon
            function onNameChanged() { canvas.requestPaint() }
            function onColorChanged() { canvas.requestPaint() }
        }

        function line(ctx, points) {
            ctx.beginPath()
            ctx.moveTo(points[0], points[1])
            for (let i = 2; i < points.length; i += 2)
                ctx.lineTo(points[i], points[i + 1])
            ctx.stroke()
        }
        function circle(ctx, x, y, r) {
            ctx.beginPath()
            ctx.arc(x, y, r, 0, 2 * Math.PI, false)
            ctx.stroke()
        }
        function gear(ctx) {
            const teeth = 8
            const outer = 11, root = 8.4, hole = 3.4
            ctx.beginPath()
            for (let i = 0; i < teeth; ++i) {
                const a = i * 2 * Math.PI / teeth
                const pts = [[root, a - 0.30], [outer, a - 0.17], [outer, a + 0.17], [root, a + 0.30]]
                for (let j = 0; j < pts.length; ++j) {
                    const x = 12 + pts[j][0] * Math.cos(pts[j][1])
                    const y = 12 + pts[j][0] * Math.sin(pts[j][1])
                    if (i === 0 && j === 0)
                        ctx.moveTo(x, y)
                    else
                        ctx.lineTo(x, y)
                }
                ctx.arc(12, 12, root, a + 0.30, a + 2 * Math.PI / teeth - 0.30, false)
            }
            ctx.closePath()
            ctx.moveTo(12 + hole, 12)
            ctx.arc(12, 12, hole, 0, -2 * Math.PI, true)
            ctx.closePath()
            ctx.fill()
        }

        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            const s = Math.min(width, height) / 24
            ctx.translate((width - 24 * s) / 2, (height - 24 * s) / 2)
            ctx.scale(s, s)
            ctx.strokeStyle = icon.color
            ctx.fillStyle = icon.color
            ctx.lineCap = "round"
            ctx.lineJoin = "round"
            ctx.lineWidth = 2
            switch (icon.name) {
            case "waveform.badge.magnifyingglass":
                line(ctx, [2.5, 10, 2.5, 14])
                line(ctx, [6, 6, 6, 18])
                line(ctx, [9.5, 2.5, 9.5, 21.5])
                line(ctx, [13, 7.5, 13, 11])
                ctx.lineWidth = 1.8
                circle(ctx, 17, 15, 3.6)
                line(ctx, [19.6, 17.6, 22, 20])
                break
            case "chevron.down":
                ctx.lineWidth = 2.8
                line(ctx, [5.5, 9, 12, 15.5, 18.5, 9])
                break
            case "gearshape.fill":
                gear(ctx)
                break
            case "xmark.circle":
                ctx.lineWidth = 1.8
                circle(ctx, 12, 12, 9.6)
                line(ctx, [8.6, 8.6, 15.4, 15.4])
                line(ctx, [15.4, 8.6, 8.6, 15.4])
                break
            case "magnifyingglass":
                ctx.lineWidth = 2.2
                circle(ctx, 10.5, 10.5, 6.8)
                line(ctx, [15.5, 15.5, 21, 21])
                break
            case "checkmark":
                ctx.lineWidth = 2.6
                line(ctx, [4.5, 12.5, 9.5, 18, 19.5, 5.5])
                break
            case "spinner":
                ctx.lineWidth = 2.6
                ctx.beginPath()
                ctx.arc(12, 12, 9, 0, 1.5 * Math.PI, false)
                ctx.stroke()
                break
            }
        }
    }
}
