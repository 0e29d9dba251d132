pragma ComponentBehavior: Bound
import QtQuick

// One bar per core, bottom-aligned, in the order the list gives.
Item {
    id: meter
    // Percent per core.
    property var loadsPercent: []
    property real barWidth: 5
    property real spacing: 2

    Row {
        anchors.bottom: parent.bottom
        height: meter.height
        spacing: meter.spacing
        Repeater {
            // Keyed by position: new readings move the bars, only a new core
            // count rebuilds them.
            model: meter.loadsPercent ? meter.loadsPercent.length : 0
            CoreBarView {
                required property int index
                width: meter.barWidth
                height: meter.height
                level: meter.loadsPercent[index] / 100
            }
        }
    }
}
