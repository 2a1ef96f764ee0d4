import QtQuick
import QtQuick.Layouts
import Corvanel

// The right column: the title block, the screen of the current phase and the status box.
ColumnLayout {
    id: content
    required property LauncherModel model
    property alias showAdvanced: install.showAdvanced

    spacing: 28

    TitleBlock {
        Layout.fillWidth: true
        model: content.model
    }
    Rectangle {
        Layout.fillWidth: true
        height: 1
        color: HaloTheme.fade(HaloTheme.edge, 0.55)
    }
    PlayScreen {
        objectName: "playScreen"
        Layout.fillWidth: true
        visible: content.model.ready
        model: content.model
    }
    ProgressScreen {
        objectName: "progressScreen"
        Layout.fillWidth: true
        visible: !content.model.ready && content.model.busy
        model: content.model
    }
    InstallScreen {
        id: install
        objectName: "installScreen"
        Layout.fillWidth: true
        visible: !content.model.ready && !content.model.busy
        model: content.model
    }
    StatusBox {
        objectName: "statusBox"
        Layout.fillWidth: true
        visible: !content.model.busy
        model: content.model
    }
}
