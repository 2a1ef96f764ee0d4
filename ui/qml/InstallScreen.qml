import QtQuick
import QtQuick.Layouts
import Corvanel

// Before setup: choose the game source, optionally an audio package, and set up.
ColumnLayout {
    id: screen
    required property LauncherModel model
    property alias showAdvanced: advanced.expanded

    spacing: 20

    RowLayout {
        spacing: 10
        Eyebrow { text: "01" }
        Text {
            text: "Choose your installer"
            color: HaloTheme.ink
            font.family: HaloTheme.display
            font.bold: true
            font.pixelSize: 21
        }
    }

    Card {
        Layout.fillWidth: true
        padding: 20

        FileSelection {
            width: parent.width
            title: "Halo 2 installer folder"
            detail: "h2pc_installer_2.1 or its downloaded ZIP"
            chosen: screen.model.sourceChosen
            chosenName: screen.model.gameName
            chosenPath: screen.model.gamePath
            onChoose: screen.model.selectGame()
        }
    }

    Row {
        spacing: 8
        Icon {
            glyph: Icons.waveform
            size: 15
            color: HaloTheme.muted
            height: automatic.height
        }
        Text {
            id: automatic
            objectName: "automaticNote"
            text: screen.model.audioPath === "" ? "Graphics and audio are configured automatically."
                  : "Graphics are configured automatically; audio uses the package you chose."
            color: HaloTheme.muted
            font.pixelSize: 12
        }
    }

    AdvancedOptions {
        id: advanced
        Layout.fillWidth: true
        model: screen.model
    }

    RowLayout {
        Layout.topMargin: 2
        spacing: 18

        HaloButtonStyle {
            objectName: "setUp"
            prominent: true
            text: "Set up Halo 2"
            trailingIcon: Icons.arrowRight
            iconSpacing: 14
            enabled: screen.model.sourceChosen
            onClicked: screen.model.install()
        }
        BodyText {
            objectName: "downloadNote"
            text: screen.model.downloadNote
            font.pixelSize: 11
            lineSpacing: 4
            wrapMode: Text.NoWrap
        }
    }
}
