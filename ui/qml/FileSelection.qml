import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A chosen file or folder: its icon, its name (or what to choose) and the button that chooses.
RowLayout {
    id: selection
    property string title
    property string detail
    property bool chosen: false
    property string chosenName
    property string chosenPath
    signal choose()

    spacing: 16
    Accessible.name: "Choose " + title

    Icon {
        objectName: "sourceIcon"
        Layout.preferredWidth: 30
        horizontalAlignment: Text.AlignHCenter
        glyph: selection.chosen ? Icons.folderFill : Icons.folder
        size: 28
        font.weight: Font.Light
    }
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 7

        Text {
            text: selection.title
            color: HaloTheme.ink
            font.pixelSize: 14
            font.weight: Font.DemiBold
        }
        Text {
            objectName: "sourceDetail"
            Layout.fillWidth: true
            text: selection.chosen ? selection.chosenName : selection.detail
            color: HaloTheme.muted
            font.pixelSize: 12
            wrapMode: Text.WrapAnywhere
            maximumLineCount: 2
            elide: Text.ElideMiddle
            ToolTip.text: selection.chosen ? selection.chosenPath : selection.detail
            ToolTip.visible: hover.hovered
            ToolTip.delay: 500

            HoverHandler { id: hover }
        }
    }
    HaloButtonStyle {
        objectName: "chooseSource"
        text: selection.chosen ? "Change…" : "Choose folder…"
        onClicked: selection.choose()
    }
}
