import QtQuick
import QtQuick.Layouts

// One sidebar row: a step number and a title; the active row is lit and bracketed.
Item {
    id: nav
    property string number
    property string title
    property bool active: false

    implicitHeight: row.implicitHeight + 28
    implicitWidth: row.implicitWidth + 30

    Rectangle {
        anchors.fill: parent
        color: nav.active ? HaloTheme.fade(HaloTheme.edge, 0.22) : "transparent"
    }

    Canvas {
        visible: nav.active
        width: 12
        height: 46
        anchors.verticalCenter: parent.verticalCenter
        onPaint: {
            const context = getContext("2d")
            context.reset()
            context.shadowColor = HaloTheme.fade(HaloTheme.accent, 0.4)
            context.shadowBlur = 5
            context.beginPath()
            context.moveTo(10, 6)
            context.lineTo(2, 6)
            context.lineTo(2, 40)
            context.lineTo(10, 40)
            context.lineWidth = 2
            context.strokeStyle = HaloTheme.accent
            context.stroke()
        }
    }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 22
        anchors.rightMargin: 8
        anchors.topMargin: 14
        anchors.bottomMargin: 14
        spacing: 12

        Text {
            text: nav.number
            color: HaloTheme.muted
            font.family: HaloTheme.mono
            font.pixelSize: 10
        }
        Text {
            objectName: "title"
            text: nav.title
            color: nav.active ? HaloTheme.ink : HaloTheme.muted
            font.family: HaloTheme.display
            font.pixelSize: 15
        }
        Item { Layout.fillWidth: true }
    }
}
