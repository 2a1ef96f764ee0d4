import QtQuick
import QtQuick.Layouts
import Corvanel

// A recorded installation that lost parts: what is missing, and the repair that brings it back.
// Lost game files cannot be repaired; the screen then says how to set them up again.
Card {
    id: screen
    required property LauncherModel model
    property bool showAdvanced: false

    padding: 24

    ColumnLayout {
        width: parent.width
        spacing: 20

        Row {
            spacing: 8
            Icon {
                glyph: Icons.warning
                size: 22
                height: heading.height
            }
            Text {
                id: heading
                objectName: "repairHeading"
                text: screen.model.repairable ? "Your installation needs repair" : "Your game files need setting up again"
                color: HaloTheme.accent
                font.family: HaloTheme.display
                font.bold: true
                font.pixelSize: 21
            }
        }
        Text {
            objectName: "missingParts"
            Layout.fillWidth: true
            text: screen.model.missingParts
            color: HaloTheme.ink
            font.pixelSize: 14
            font.weight: Font.Medium
            wrapMode: Text.Wrap
        }
        BodyText {
            objectName: "repairAdvice"
            Layout.fillWidth: true
            text: screen.model.repairable
                  ? "Repair downloads and rebuilds only what is missing. Your game files and saves stay as they are."
                  : "Repair cannot restore game files. Press Set up again to choose your h2pc_installer_2.1 folder "
                    + "and set the game up afresh; your saves are kept."
            font.pixelSize: 14
            lineSpacing: 5
        }
        // Made only while shown, so the install screen's advanced options stay the only ones
        // in the window otherwise.
        Loader {
            objectName: "repairAdvanced"
            Layout.fillWidth: true
            active: screen.visible && screen.model.repairable && screen.model.repairUsesAudio
            visible: active
            sourceComponent: AdvancedOptions {
                expanded: screen.showAdvanced
                model: screen.model
            }
        }
        HaloButtonStyle {
            objectName: "repair"
            visible: screen.model.repairable
            prominent: true
            text: "Repair"
            trailingIcon: Icons.arrowRight
            iconSpacing: 14
            onClicked: screen.model.repair()
        }
        HaloButtonStyle {
            objectName: "setUpAgain"
            visible: !screen.model.repairable
            enabled: !screen.model.playing
            prominent: true
            text: "Set up again"
            trailingIcon: Icons.arrowRight
            iconSpacing: 14
            onClicked: setUpAgainQuestion.open()
        }
    }

    HaloDialog {
        id: setUpAgainQuestion
        objectName: "setUpAgainQuestion"
        eyebrow: "CORVANEL"
        heading: "Set up Halo 2 again?"
        paragraphs: ["Corvanel forgets this installation and shows the setup screen. Your saves are kept."]
        acceptText: "Set up again"
        rejectText: "Cancel"
        onAccepted: screen.model.setUpAgain()
    }
}
