import QtQuick
import QtCharts

// The plot scene: the chart fills the root; series and axes are attached
// from C++. The marker and its mouse area lie above the plot area.
Item {
    id: root

    property bool markerEnabled: false
    property bool markerShown: false
    property real markerFraction: 0.5
    signal markerDragged(real fraction)

    width: 800
    height: 400

    ChartView {
        id: graph
        objectName: "graph"
        anchors.fill: parent
        antialiasing: true
        legend.visible: false
        theme: ChartView.ChartThemeLight
        backgroundColor: "#ffffff"
        plotAreaColor: "#ffffff"
        backgroundRoundness: 0
        dropShadowEnabled: false
        margins.left: 8
        margins.right: 20
        margins.top: 14
        margins.bottom: 6
    }

    Item {
        id: marker
        z: 10
        visible: root.markerEnabled && root.markerShown
        width: 13
        height: graph.plotArea.height
        x: graph.x + graph.plotArea.x + root.markerFraction * graph.plotArea.width - width / 2
        y: graph.y + graph.plotArea.y

        Rectangle {
            width: 2
            height: parent.height
            anchors.horizontalCenter: parent.horizontalCenter
            color: "#202020"
        }
        Rectangle {
            width: 13
            height: 13
            radius: 2
            color: "#202020"
        }
    }

    MouseArea {
        id: markerArea
        z: 11
        x: graph.x + graph.plotArea.x
        y: graph.y + graph.plotArea.y
        width: graph.plotArea.width
        height: graph.plotArea.height
        enabled: root.markerEnabled
        cursorShape: Qt.SizeHorCursor

        function drag(mouseX) {
            if (width > 0)
                root.markerDragged(Math.max(0, Math.min(1, mouseX / width)))
        }
        onPressed: (mouse) => drag(mouse.x)
        onPositionChanged: (mouse) => { if (pressed) drag(mouse.x) }
    }
}
