import QtQuick
import QtQuick.Layouts
import Corvanel

// The eyebrow, headline and subtitle at the top of the content column.
ColumnLayout {
    id: block
    required property LauncherModel model
    /// Smaller type and spacing, so that the screen's main button stays in view.
    property bool compact: false

    readonly property bool installed: model.phase === LauncherModel.Play
    readonly property bool repairing: model.phase === LauncherModel.Repair || model.repairing

    spacing: compact ? 8 : 16

    Eyebrow {
        objectName: "titleEyebrow"
        text: block.installed ? "YOUR INSTALLATION / READY"
              : block.repairing ? "YOUR INSTALLATION / NEEDS REPAIR"
              : "HALO 2 FOR WINDOWS VISTA / " + block.model.systemName.toUpperCase() + " SETUP"
    }
    GlowText {
        objectName: "headline"
        Layout.fillWidth: true
        text: block.installed && block.model.newlyInstalled ? "You’re all set."
              : block.installed || block.repairing ? "Welcome back." : "Bring your game.\nPlay it on your " + block.model.computerNoun + "."
        font.family: HaloTheme.display
        font.bold: true
        font.pixelSize: block.compact ? 28 : 38
        font.letterSpacing: block.compact ? -0.5 : -0.8
        wrapMode: Text.Wrap
        glowColor: HaloTheme.fade(HaloTheme.accent, 0.08)
        radius: 14
    }
    Text {
        objectName: "subtitle"
        Layout.fillWidth: true
        // While setup runs, its steps need the room more.
        visible: block.model.phase !== LauncherModel.Progress
        text: block.installed ? "Your next campaign is a click away."
              : block.repairing ? "A few parts of your installation need to be put back first."
              : "One folder. We’ll take care of the rest."
        color: HaloTheme.muted
        font.family: HaloTheme.display
        font.pixelSize: block.compact ? 14 : 16
        wrapMode: Text.Wrap
    }
}
