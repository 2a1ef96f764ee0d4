import QtQuick
import QtQuick.Layouts
import Corvanel

// The band across the top: the game's name, the product and the version.
Item {
    id: header
    required property LauncherModel model

    implicitHeight: row.implicitHeight + 44

    Rectangle {
        anchors.fill: parent
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: HaloTheme.fade(HaloTheme.edge, 0.45) }
            GradientStop { position: 1; color: HaloTheme.fade(HaloTheme.edge, 0.12) }
        }
    }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 30
        anchors.rightMargin: 30
        anchors.topMargin: 22
        anchors.bottomMargin: 22
        spacing: 22

        GlowText {
            objectName: "headerTitle"
            Layout.alignment: Qt.AlignBaseline
            text: "HALO 2"
            font.family: HaloTheme.display
            font.bold: true
            font.pixelSize: 27
            font.letterSpacing: 5
            glowColor: HaloTheme.fade(HaloTheme.accent, 0.3)
            radius: 8
        }
        Eyebrow {
            Layout.alignment: Qt.AlignBaseline
            text: "CORVANEL"
        }
        Item { Layout.fillWidth: true }
        Eyebrow {
            objectName: "headerVersion"
            Layout.alignment: Qt.AlignBaseline
            text: "UNOFFICIAL BETA / " + header.model.version
        }
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: HaloTheme.fade(HaloTheme.accent, 0.3)
    }
}
