import QtQuick
import QtQuick.Layouts

// The band across the bottom.
Item {
    implicitHeight: row.implicitHeight + 28

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: 1
        color: HaloTheme.fade(HaloTheme.edge, 0.3)
    }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 30
        anchors.rightMargin: 30
        anchors.topMargin: 14
        anchors.bottomMargin: 14

        Eyebrow { text: "UNOFFICIAL COMMUNITY LAUNCHER" }
        Item { Layout.fillWidth: true }
        Text {
            text: "Not affiliated with Microsoft, Xbox or Bungie."
            color: HaloTheme.muted
            font.pixelSize: 10
        }
    }
}
