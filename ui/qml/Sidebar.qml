import QtQuick
import QtQuick.Layouts
import Corvanel

// The left column: where the user is, the help links and what the game needs.
Item {
    id: sidebar
    required property LauncherModel model

    implicitWidth: 184 + 16 + 24

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: 32
        anchors.bottomMargin: 32
        anchors.leftMargin: 16
        anchors.rightMargin: 24
        spacing: 4

        Eyebrow {
            Layout.leftMargin: 22
            Layout.bottomMargin: 20
            text: ("Your game. Your " + sidebar.model.computerNoun + ".").toUpperCase()
        }
        NavLabel {
            objectName: "navCurrent"
            Layout.fillWidth: true
            number: "01"
            title: sidebar.model.phase === LauncherModel.Play ? "Play Halo 2"
                   : sidebar.model.phase === LauncherModel.Repair || sidebar.model.repairing ? "Repair Halo 2"
                   : "Install Halo 2"
            active: true
        }
        NavButton {
            objectName: "navGuide"
            Layout.fillWidth: true
            number: "02"
            text: "Setup guide"
            onClicked: sidebar.model.openGuide()
        }
        NavButton {
            objectName: "navGameFiles"
            Layout.fillWidth: true
            number: "03"
            text: "Game files ↗"
            onClicked: sidebar.model.openGameFiles()
        }
        NavButton {
            objectName: "navLogs"
            Layout.fillWidth: true
            number: "04"
            text: "Open logs"
            onClicked: sidebar.model.openLogs()
        }
        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: 28
        }
        ColumnLayout {
            Layout.leftMargin: 22
            spacing: 8

            Eyebrow { text: "SYSTEM REQUIREMENTS" }
            BodyText {
                objectName: "requirements"
                text: sidebar.model.requirements
                font.pixelSize: 11
                lineSpacing: 6
                wrapMode: Text.NoWrap
            }
        }
    }
}
