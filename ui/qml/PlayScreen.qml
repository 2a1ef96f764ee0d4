import QtQuick
import QtQuick.Layouts
import Corvanel

// After setup: play, and find the saves.
Card {
    id: screen
    required property LauncherModel model

    padding: 24

    ColumnLayout {
        width: parent.width
        spacing: 22

        Row {
            spacing: 8
            Icon {
                glyph: Icons.checkmarkCircle
                size: 24
                height: installed.height
            }
            Text {
                id: installed
                text: "Installed on this " + screen.model.computerNoun
                color: HaloTheme.accent
                font.family: HaloTheme.display
                font.bold: true
                font.pixelSize: 21
            }
        }
        BodyText {
            Layout.fillWidth: true
            text: "Your game and saves live separately from the launcher. You can replace the app and keep your progress."
            font.pixelSize: 14
            lineSpacing: 5
        }
        RowLayout {
            spacing: 16
            HaloButtonStyle {
                objectName: "play"
                prominent: true
                leadingIcon: Icons.playFill
                text: screen.model.playing ? "Game running" : "Play Halo 2"
                enabled: !screen.model.playing
                onClicked: screen.model.play()
            }
            HaloButtonStyle {
                objectName: "showSaves"
                text: "Show save folders"
                onClicked: screen.model.openSaves()
            }
        }
    }
}
