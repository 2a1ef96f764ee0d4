import QtQuick
import QtQuick.Layouts
import Corvanel

// The right column: the title block, the screen of the current phase and the status box.
ColumnLayout {
    id: content
    required property LauncherModel model
    property alias showAdvanced: install.showAdvanced
    readonly property alias statusBox: statusBox

    // Small windows, open advanced options and the step list leave less room: the title block
    // gives it up.
    readonly property bool compact: content.showAdvanced || content.model.phase === LauncherModel.Progress
                                    || (Window.height > 0 && Window.height < 740)

    spacing: compact ? 20 : 28

    TitleBlock {
        objectName: "titleBlock"
        Layout.fillWidth: true
        compact: content.compact
        model: content.model
    }
    Rectangle {
        Layout.fillWidth: true
        height: 1
        color: HaloTheme.fade(HaloTheme.edge, 0.55)
    }
    // One screen per phase of the model; the status box shows under every screen but progress.
    PlayScreen {
        objectName: "playScreen"
        Layout.fillWidth: true
        visible: content.model.phase === LauncherModel.Play
        model: content.model
    }
    ProgressScreen {
        objectName: "progressScreen"
        Layout.fillWidth: true
        visible: content.model.phase === LauncherModel.Progress
        model: content.model
    }
    RepairScreen {
        objectName: "repairScreen"
        Layout.fillWidth: true
        visible: content.model.phase === LauncherModel.Repair
        showAdvanced: content.showAdvanced
        model: content.model
    }
    InstallScreen {
        id: install
        objectName: "installScreen"
        Layout.fillWidth: true
        visible: content.model.phase === LauncherModel.Install
        model: content.model
    }
    StatusBox {
        id: statusBox
        objectName: "statusBox"
        Layout.fillWidth: true
        visible: content.model.phase !== LauncherModel.Progress
        model: content.model
    }
}
