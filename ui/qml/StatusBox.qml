import QtQuick
import QtQuick.Layouts
import Corvanel

// The status line, and the last failure's text, selectable for copying.
Rectangle {
    id: box
    required property LauncherModel model
    readonly property bool failed: model.error !== ""

    implicitHeight: column.implicitHeight + 32
    color: HaloTheme.fade(HaloTheme.edge, 0.1)

    Rectangle {
        width: 2
        height: parent.height
        color: HaloTheme.fade(HaloTheme.accent, 0.6)
    }

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 16
        spacing: 12

        RowLayout {
            Layout.fillWidth: true
            spacing: 12

            Spinner {
                objectName: "statusSpinner"
                Layout.alignment: Qt.AlignTop
                visible: box.model.playing
            }
            Icon {
                objectName: "statusIcon"
                Layout.alignment: Qt.AlignTop
                visible: !box.model.playing
                glyph: box.failed ? Icons.warning : Icons.info
                size: 16
            }
            Text {
                objectName: "statusText"
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignTop
                text: box.model.status
                color: HaloTheme.muted
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }
        }
        TextEdit {
            objectName: "errorText"
            Layout.fillWidth: true
            visible: box.failed
            text: box.model.error
            readOnly: true
            selectByMouse: true
            selectByKeyboard: true
            color: HaloTheme.warning
            selectionColor: HaloTheme.fade(HaloTheme.accent, 0.4)
            selectedTextColor: HaloTheme.ink
            font.pixelSize: 12
            wrapMode: TextEdit.Wrap
        }
    }
}
