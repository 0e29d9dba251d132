import QtQuick

// A message across the window: the symbol and the text on a faint fill of the
// banner's colour, with a bar of that colour along the top edge.
Item {
    id: banner
    property string text
    property string symbol
    property color tint

    implicitHeight: Math.max(icon.height, label.implicitHeight) + 20

    Rectangle {
        anchors.fill: parent
        color: banner.tint
        opacity: 0.14
    }
    Rectangle {
        width: parent.width
        height: 2
        color: banner.tint
    }
    Row {
        x: 10
        anchors.verticalCenter: parent.verticalCenter
        spacing: 8
        StatusSymbol {
            id: icon
            anchors.verticalCenter: parent.verticalCenter
            width: 15
            height: 15
            name: banner.symbol
            color: banner.tint
        }
        Text {
            id: label
            objectName: "bannerText"
            anchors.verticalCenter: parent.verticalCenter
            width: banner.width - 20 - icon.width - 8
            text: banner.text
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: Theme.textPrimary
        }
    }
}
