import QtQuick
import QtQuick.Layouts
import Corvanel

// While setup runs: its stages, the latest progress line and a clock counted from the press of set-up.
Card {
    id: screen
    required property LauncherModel model

    padding: 24

    ColumnLayout {
        width: parent.width
        spacing: 20

        RowLayout {
            Layout.fillWidth: true
            Text {
                objectName: "progressTitle"
                text: screen.model.repairing ? "Repairing Halo 2" : "Setting up Halo 2"
                color: HaloTheme.ink
                font.family: HaloTheme.display
                font.bold: true
                font.pixelSize: 21
            }
            Item { Layout.fillWidth: true }
            Text {
                objectName: "elapsed"
                text: screen.model.elapsedText
                color: HaloTheme.muted
                font.family: HaloTheme.mono
                font.pixelSize: 12
            }
        }
        HaloProgressBar {
            objectName: "progressBar"
            Layout.fillWidth: true
        }
        // The step count and the two actions sit right under the bar, so that Cancel stays in view
        // at the smallest window size however long the list below grows.
        RowLayout {
            Layout.fillWidth: true
            spacing: 12

            Text {
                objectName: "stepCount"
                text: screen.model.stepText
                color: HaloTheme.muted
                font.pixelSize: 12
                font.weight: Font.DemiBold
            }
            Item { Layout.fillWidth: true }
            HaloButtonStyle {
                objectName: "showSetupLog"
                text: "Show setup log"
                onClicked: screen.model.showSetupLog()
            }
            HaloButtonStyle {
                objectName: "cancelSetup"
                text: "Cancel"
                enabled: !screen.model.stopping
                onClicked: stopQuestion.open()
            }
        }
        StepList {
            objectName: "stepList"
            Layout.fillWidth: true
            model: screen.model
        }
        Text {
            objectName: "progressLine"
            Layout.fillWidth: true
            text: screen.model.status
            color: HaloTheme.ink
            font.pixelSize: 14
            font.weight: Font.Medium
            wrapMode: Text.Wrap
        }
        BodyText {
            Layout.fillWidth: true
            text: screen.model.repairing
                  ? "Keep the launcher open. Only the missing parts are downloaded and rebuilt; your game files and saves stay as they are."
                  : "Keep the launcher open. Setup can take several minutes, even on a fast " + screen.model.computerNoun + "; each step above shows how long it has run."
            lineSpacing: 4
        }
    }

    // Escape asks the same question as Cancel.
    Shortcut {
        sequence: "Escape"
        enabled: screen.visible && !screen.model.stopping && !stopQuestion.visible
        onActivated: stopQuestion.open()
    }

    HaloDialog {
        id: stopQuestion
        objectName: "stopQuestion"
        eyebrow: "CORVANEL"
        heading: screen.model.repairing ? "Stop repair?" : "Stop setup?"
        paragraphs: [screen.model.repairing
                     ? "Your game and saves are kept; the next repair continues from where it stopped."
                     : "Nothing you chose is lost; the next setup continues from where it stopped."]
        acceptText: screen.model.repairing ? "Stop repair" : "Stop setup"
        rejectText: "Keep going"
        onAccepted: screen.model.stop()
    }

    // Work that ends by itself leaves nothing to stop.
    Connections {
        target: screen.model
        function onBusyChanged() {
            if (!screen.model.busy)
                stopQuestion.close()
        }
    }
}
