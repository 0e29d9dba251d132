pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Fusion
import Corvane.Models

// The eight strips, one under the other, scrolled when the window is short.
// Every strip is always built (a list view would build and drop the row at
// its edge over and over as its height settles, redrawing the window without
// end).
Flickable {
    id: strips
    property AudioEngineManager manager
    property real interfaceScale: 1.0

    clip: true
    contentWidth: width
    contentHeight: stripColumn.height + 16
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {}
    Column {
        id: stripColumn
        x: 16
        width: strips.width - 32
        spacing: 8
        Repeater {
            model: strips.manager ? strips.manager.channels : []
            delegate: ChannelStripView {
                required property ChannelSlot modelData
                width: stripColumn.width
                height: implicitHeight
                manager: strips.manager
                slot: modelData
                interfaceScale: strips.interfaceScale
            }
        }
    }
}
