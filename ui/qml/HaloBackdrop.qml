import QtQuick

// The window's backdrop: navy, a diagonal glow from the top-leading corner, and faint scan
// lines every 4 points, redrawn whenever the size changes.
Item {
    Rectangle {
        anchors.fill: parent
        color: HaloTheme.navy
    }

    Canvas {
        id: glow
        anchors.fill: parent
        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()
        onPaint: {
            const context = getContext("2d")
            context.reset()
            const gradient = context.createLinearGradient(0, 0, width, height)
            gradient.addColorStop(0, HaloTheme.glow)
            gradient.addColorStop(1, HaloTheme.fade(HaloTheme.glow, 0))
            context.fillStyle = gradient
            context.fillRect(0, 0, width, height)
        }
    }

    Canvas {
        objectName: "scanLines"
        anchors.fill: parent
        enabled: false
        Accessible.ignored: true
        renderStrategy: Canvas.Immediate
        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()
        onPaint: {
            const context = getContext("2d")
            context.reset()
            context.beginPath()
            for (let y = 0; y < height; y += 4) {
                context.moveTo(0, y)
                context.lineTo(width, y)
            }
            context.lineWidth = 1
            context.strokeStyle = HaloTheme.fade(HaloTheme.accent, 0.025)
            context.stroke()
        }
    }
}
