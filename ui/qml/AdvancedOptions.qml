import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Templates as T
import Corvanel

// The "Advanced options" disclosure group: an optional local audio package, a folder that may
// hold the downloads and the installation folder.
ColumnLayout {
    id: advanced
    required property LauncherModel model
    property bool expanded: false

    spacing: 0

    T.AbstractButton {
        id: disclosure
        objectName: "advancedToggle"
        text: "Advanced options"
        implicitWidth: implicitContentWidth
        implicitHeight: implicitContentHeight
        opacity: down ? 0.75 : 1
        Accessible.name: text
        onClicked: advanced.expanded = !advanced.expanded

        FocusRing { shown: disclosure.visualFocus }

        contentItem: Row {
            spacing: 4
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                glyph: Icons.chevronRight
                size: 16
                rotation: advanced.expanded ? 90 : 0
                Behavior on rotation { NumberAnimation { duration: 120 } }
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: disclosure.text
                color: HaloTheme.muted
                font.pixelSize: 12
            }
        }
    }

    ColumnLayout {
        objectName: "advancedContent"
        visible: advanced.expanded
        Layout.fillWidth: true
        Layout.topMargin: 12
        spacing: 10

        RowLayout {
            Layout.fillWidth: true

            Text {
                objectName: "audioDetail"
                Layout.fillWidth: true
                text: advanced.model.audioName !== "" ? advanced.model.audioName : "Optional local audio package"
                color: HaloTheme.muted
                font.pixelSize: 12
                wrapMode: Text.WrapAnywhere
                maximumLineCount: 2
                elide: Text.ElideMiddle
                ToolTip.text: advanced.model.audioName !== "" ? advanced.model.audioPath : "Otherwise downloaded automatically"
                ToolTip.visible: hover.hovered
                ToolTip.delay: 500

                HoverHandler { id: hover }
            }
            HaloButtonStyle {
                objectName: "chooseAudio"
                text: "Choose file…"
                onClicked: advanced.model.selectAudio()
            }
        }
        HaloButtonStyle {
            objectName: "automaticAudio"
            visible: advanced.model.audioName !== ""
            text: "Use automatic audio setup"
            onClicked: advanced.model.useAutomaticAudio()
        }
        FolderChoice {
            name: "downloadsFolder"
            Layout.fillWidth: true
            enabled: !advanced.model.busy
            title: "Downloads folder"
            folder: advanced.model.shownDownloadsFolder
            fallback: "None chosen. Setup downloads what it needs."
            resettable: advanced.model.downloadsFolder !== ""
            resetText: "Clear"
            onChoose: advanced.model.chooseDownloadsFolder()
            onReset: advanced.model.forgetDownloadsFolder()
        }
        FolderChoice {
            name: "installationFolder"
            Layout.fillWidth: true
            enabled: !advanced.model.busy && !advanced.model.playing
            title: "Installation folder"
            folder: advanced.model.shownRoot
            resettable: !advanced.model.defaultRoot
            resetText: "Use default"
            onChoose: advanced.model.chooseInstallationFolder()
            onReset: advanced.model.useDefaultInstallationFolder()
        }
    }
}
