pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Shapes

// A small symbol drawn from path data on a 24 × 24 grid, in any colour: the
// transport, refresh, reset and banner pictures. Filled parts use the even-odd
// rule, so a shape inside a disc is cut out of it; stroked parts are lines.
Item {
    id: symbol
    // "play.circle.fill", "stop.circle.fill", "arrow.clockwise",
    // "arrow.counterclockwise", "exclamationmark.circle.fill",
    // "exclamationmark.triangle.fill"
    property string name
    property color color: Theme.textPrimary
    // Line width of the stroked parts on the 24-point grid (heavier = bolder).
    property real lineWidth: 2.2

    implicitWidth: 16
    implicitHeight: 16

    readonly property var glyph: ({
        "play.circle.fill": {
            fill: "M12 2 A10 10 0 1 0 12 22 A10 10 0 1 0 12 2 Z M9.6 7.4 L16.6 12 L9.6 16.6 Z"
        },
        "stop.circle.fill": {
            fill: "M12 2 A10 10 0 1 0 12 22 A10 10 0 1 0 12 2 Z M8.6 8.6 L15.4 8.6 L15.4 15.4 L8.6 15.4 Z"
        },
        "exclamationmark.circle.fill": {
            fill: "M12 2 A10 10 0 1 0 12 22 A10 10 0 1 0 12 2 Z "
                  + "M10.8 6.2 L13.2 6.2 L12.8 13.8 L11.2 13.8 Z "
                  + "M10.6 16.8 A1.4 1.4 0 1 0 13.4 16.8 A1.4 1.4 0 1 0 10.6 16.8 Z"
        },
        "exclamationmark.triangle.fill": {
            fill: "M10.3 3.2 Q12 0.4 13.7 3.2 L22.6 18.6 Q24 21.4 20.8 21.4 L3.2 21.4 Q0 21.4 1.4 18.6 Z "
                  + "M10.9 8 L13.1 8 L12.75 14.6 L11.25 14.6 Z "
                  + "M10.7 17.6 A1.3 1.3 0 1 0 13.3 17.6 A1.3 1.3 0 1 0 10.7 17.6 Z"
        },
        "arrow.clockwise": {
            stroke: "M17.6 8.4 A7.5 7.5 0 1 1 12 5.5",
            fill: "M11.2 1.6 L16.4 5.5 L11.2 9.4 Z"
        },
        "arrow.counterclockwise": {
            stroke: "M6.4 8.4 A7.5 7.5 0 1 0 12 5.5",
            fill: "M12.8 1.6 L7.6 5.5 L12.8 9.4 Z"
        }
    })

    // Smooth edges on a GPU (multisampled, at twice the size so that a zoomed
    // window stays sharp); the software renderer antialiases by itself.
    layer.enabled: GraphicsInfo.api !== GraphicsInfo.Software
    layer.samples: 4
    layer.smooth: true
    // Whole pixels already; the linter cannot tell Qt.size's from a texture's size.
    layer.textureSize: Qt.size(Math.ceil(width * 2), Math.ceil(height * 2)) // qmllint disable type

    // A fresh shape for every name, built only while the symbol shows: Qt 6.4's
    // software renderer can crash updating a shape whose path data changed or
    // that was hidden and shown again (the transport button does both).
    Repeater {
        model: symbol.visible ? [symbol.name] : []
        delegate: Shape {
            id: shape
            required property string modelData
            readonly property var parts: symbol.glyph[modelData] || ({})
            width: 24
            height: 24
            scale: Math.min(symbol.width, symbol.height) / 24
            transformOrigin: Item.TopLeft
            x: (symbol.width - 24 * scale) / 2
            y: (symbol.height - 24 * scale) / 2

            ShapePath {
                fillColor: symbol.color
                fillRule: ShapePath.OddEvenFill
                strokeWidth: -1
                PathSvg { path: shape.parts.fill || "" }
            }
            ShapePath {
                fillColor: "transparent"
                strokeColor: shape.parts.stroke ? symbol.color : "transparent"
                strokeWidth: symbol.lineWidth
                capStyle: ShapePath.RoundCap
                PathSvg { path: shape.parts.stroke || "" }
            }
        }
    }
}
