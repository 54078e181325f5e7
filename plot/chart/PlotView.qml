import QtQuick
import QtCharts

// The plot scene: the chart fills the root; series and axes are attached
// from C++. The cursors, the zoom box and the mouse area lie above the plot
// area. The mouse area only recognises gestures and reports them in
// fractions of the plot area (x from the left, y from the top); C++ decides
// what they do.
Item {
    id: root

    // Cursor A, the marker.
    property bool markerEnabled: false
    property bool markerShown: false
    property real markerFraction: 0.5
    signal markerDragged(real fraction)

    // Cursor B.
    property bool cursorBShown: false
    property real cursorBFraction: 0.5

    // Space held: a left drag pans like the middle button.
    property bool panMode: false

    // A click, or a drag of a cursor: cursor 0 is A, 1 is B.
    signal cursorPointed(int cursor, real x, real y)
    // A box drawn with the left button, corners in fractions.
    signal boxZoomed(real x0, real y0, real x1, real y1)
    // A pan starts, and moves by a fraction of the plot area.
    signal panStarted()
    signal panned(real dx, real dy)

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

    // A vertical cursor over the plot area `area` (in root coordinates).
    component CursorLine: Item {
        id: cursor
        property rect area
        property real fraction: 0.5
        property string label: ""
        property color color: "#202020"
        z: 10
        width: 13
        height: area.height
        x: area.x + fraction * area.width - width / 2
        y: area.y

        Rectangle {
            width: 2
            height: parent.height
            anchors.horizontalCenter: parent.horizontalCenter
            color: cursor.color
        }
        Rectangle {
            width: 13
            height: 13
            radius: 2
            color: cursor.color
        }
        Text {
            x: 16
            y: 0
            text: cursor.label
            color: cursor.color
            font.bold: true
            font.pixelSize: 12
        }
    }

    CursorLine {
        id: marker
        objectName: "marker"
        area: Qt.rect(graph.x + graph.plotArea.x, graph.y + graph.plotArea.y, graph.plotArea.width,
                      graph.plotArea.height)
        visible: root.markerEnabled && root.markerShown
        fraction: root.markerFraction
        label: root.cursorBShown ? "A" : ""
    }

    CursorLine {
        id: cursorB
        objectName: "cursorB"
        area: marker.area
        visible: root.cursorBShown
        fraction: root.cursorBFraction
        color: "#a0409a"
        label: "B"
    }

    Rectangle {
        id: zoomBox
        objectName: "zoomBox"
        z: 12
        visible: plotMouse.mode === plotMouse.boxing
        x: plotMouse.x + Math.min(plotMouse.startX, plotMouse.lastX)
        y: plotMouse.y + Math.min(plotMouse.startY, plotMouse.lastY)
        width: Math.abs(plotMouse.lastX - plotMouse.startX)
        height: Math.abs(plotMouse.lastY - plotMouse.startY)
        color: "#201f77b4"
        border.color: "#1f77b4"
        border.width: 1
    }

    MouseArea {
        id: plotMouse
        objectName: "plotMouse"
        z: 11
        x: graph.x + graph.plotArea.x
        y: graph.y + graph.plotArea.y
        width: graph.plotArea.width
        height: graph.plotArea.height
        acceptedButtons: Qt.LeftButton | Qt.MiddleButton
        hoverEnabled: true

        readonly property int idle: 0
        readonly property int pending: 1      // pressed, not yet moved: a click so far
        readonly property int boxing: 2
        readonly property int panning: 3
        readonly property int draggingA: 4
        readonly property int draggingB: 5
        property int mode: idle
        property real startX: 0
        property real startY: 0
        property real lastX: 0
        property real lastY: 0
        property int pressModifiers: 0

        function fx(px) { return width > 0 ? Math.max(0, Math.min(1, px / width)) : 0 }
        function fy(py) { return height > 0 ? Math.max(0, Math.min(1, py / height)) : 0 }
        function near(fraction, px) { return Math.abs(px - fraction * width) <= 6 }
        function onCursorA(px) { return root.markerEnabled && root.markerShown && near(root.markerFraction, px) }
        function onCursorB(px) { return root.cursorBShown && near(root.cursorBFraction, px) }

        cursorShape: mode === panning ? Qt.ClosedHandCursor
                   : root.panMode ? Qt.OpenHandCursor
                   : (mode === draggingA || mode === draggingB || onCursorA(mouseX) || onCursorB(mouseX))
                     ? Qt.SizeHorCursor : Qt.CrossCursor

        onPressed: (mouse) => {
            startX = lastX = mouse.x
            startY = lastY = mouse.y
            pressModifiers = mouse.modifiers
            if (mouse.button === Qt.MiddleButton || root.panMode) {
                mode = panning
                root.panStarted()
            } else if (onCursorB(mouse.x) && (mouse.modifiers & Qt.ShiftModifier || !onCursorA(mouse.x))) {
                mode = draggingB
            } else if (onCursorA(mouse.x)) {
                mode = draggingA
            } else {
                mode = pending
            }
        }
        onPositionChanged: (mouse) => {
            if (!pressed)
                return
            if (mode === pending && (Math.abs(mouse.x - startX) > 5 || Math.abs(mouse.y - startY) > 5))
                mode = boxing
            if (mode === panning && width > 0 && height > 0)
                root.panned((mouse.x - lastX) / width, (mouse.y - lastY) / height)
            else if (mode === draggingA)
                root.cursorPointed(0, fx(mouse.x), fy(mouse.y))
            else if (mode === draggingB)
                root.cursorPointed(1, fx(mouse.x), fy(mouse.y))
            lastX = Math.max(0, Math.min(width, mouse.x))
            lastY = Math.max(0, Math.min(height, mouse.y))
        }
        onReleased: (mouse) => {
            if (mode === boxing)
                root.boxZoomed(fx(startX), fy(startY), fx(mouse.x), fy(mouse.y))
            else if (mode === pending && (pressModifiers & Qt.ShiftModifier))
                root.cursorPointed(1, fx(mouse.x), fy(mouse.y))
            else if (mode === pending && root.markerEnabled)
                root.cursorPointed(0, fx(mouse.x), fy(mouse.y))
            mode = idle
        }
        onCanceled: mode = idle
    }
}
