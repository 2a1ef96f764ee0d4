import QtQuick

// Text with a soft halo of `glowColor` around it, approximated by faint copies in a ring.
Item {
    id: root
    property alias text: label.text
    property alias font: label.font
    property alias color: label.color
    property alias wrapMode: label.wrapMode
    property alias lineHeight: label.lineHeight
    property color glowColor: HaloTheme.fade(HaloTheme.accent, 0.3)
    property real radius: 8

    implicitWidth: label.implicitWidth
    implicitHeight: label.implicitHeight
    baselineOffset: label.baselineOffset

    Repeater {
        model: 12
        Text {
            required property int index
            width: root.width
            text: root.text
            font: root.font
            wrapMode: root.wrapMode
            color: HaloTheme.fade(root.glowColor, root.glowColor.a / 6)
            x: root.radius / 2 * Math.cos(index * Math.PI / 6)
            y: root.radius / 2 * Math.sin(index * Math.PI / 6)
            Accessible.ignored: true
        }
    }

    Text {
        id: label
        width: root.width
        color: HaloTheme.ink
    }
}
