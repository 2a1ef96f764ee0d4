import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
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
        // Selectable with the mouse and the keyboard (Tab reaches it), so the message can be copied.
        T.TextArea {
            id: errorText
            objectName: "errorText"
            Layout.fillWidth: true
            visible: box.failed
            text: box.model.error
            readOnly: true
            selectByMouse: true
            selectByKeyboard: true
            activeFocusOnTab: true
            padding: 0
            // Its height follows the wrapped lines, so the layout never cuts the last ones off.
            implicitHeight: contentHeight + topPadding + bottomPadding
            color: HaloTheme.warning
            selectionColor: HaloTheme.fade(HaloTheme.accent, 0.4)
            selectedTextColor: HaloTheme.ink
            font.pixelSize: 12
            wrapMode: TextEdit.Wrap
            Accessible.name: text

            background: Item {
                FocusRing {
                    shown: errorText.activeFocus
                           && (errorText.focusReason === Qt.TabFocusReason || errorText.focusReason === Qt.BacktabFocusReason)
                }
            }
        }
        // Failures point to the setup log: it opens here, inside the window.
        HaloButtonStyle {
            objectName: "failureSetupLog"
            visible: box.failed
            topPadding: 8
            bottomPadding: 8
            text: "Show setup log"
            onClicked: box.model.showSetupLog()
        }
    }
}
