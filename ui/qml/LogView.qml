import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Templates as T
import Corvanel

// The setup log inside the window: its last lines, read-only and selectable, newest at the
// bottom and scrolled there; or the sentence that says why there is nothing to show.
T.Popup {
    id: view
    property string logText
    property string note

    /// Shows `text` (or `note` when there is nothing to show), scrolled to the newest line.
    function show(text, note) {
        view.logText = text
        view.note = note
        open()
        Qt.callLater(scrollToEnd)
    }
    function scrollToEnd() {
        flick.contentY = Math.max(0, flick.contentHeight - flick.height)
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(parent ? parent.width - 80 : 760, 820)
    height: parent ? parent.height - 100 : 600
    padding: 24
    modal: true
    dim: true
    focus: true
    closePolicy: T.Popup.CloseOnEscape
    onOpened: Qt.callLater(scrollToEnd)

    T.Overlay.modal: Rectangle {
        color: HaloTheme.fade(HaloTheme.navy, 0.72)
    }

    background: Rectangle {
        color: HaloTheme.navy
        border.width: 1
        border.color: HaloTheme.fade(HaloTheme.edge, 0.6)
        Rectangle {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            height: 2
            color: HaloTheme.fade(HaloTheme.accent, 0.6)
        }
    }

    contentItem: ColumnLayout {
        spacing: 12
        Accessible.role: Accessible.Dialog
        Accessible.name: "Setup log"

        Eyebrow { text: "CORVANEL" }
        Text {
            text: "Setup log"
            color: HaloTheme.ink
            font.family: HaloTheme.display
            font.bold: true
            font.pixelSize: 21
        }
        BodyText {
            objectName: "logNote"
            Layout.fillWidth: true
            visible: view.note !== ""
            text: view.note
            font.pixelSize: 13
            lineSpacing: 4
        }
        Flickable {
            id: flick
            objectName: "logScroller"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: view.logText !== ""
            clip: true
            contentWidth: width
            contentHeight: logArea.implicitHeight
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

            T.TextArea {
                id: logArea
                objectName: "logText"
                width: flick.width - 12
                text: view.logText
                readOnly: true
                selectByMouse: true
                selectByKeyboard: true
                activeFocusOnTab: true
                padding: 0
                implicitHeight: contentHeight
                color: HaloTheme.ink
                selectionColor: HaloTheme.fade(HaloTheme.accent, 0.4)
                selectedTextColor: HaloTheme.ink
                font.family: HaloTheme.mono
                font.pixelSize: 11
                wrapMode: TextEdit.WrapAnywhere
                Accessible.name: "Setup log"
            }
        }
        Item {
            Layout.fillHeight: true
            visible: !flick.visible
        }
        HaloButtonStyle {
            objectName: "logClose"
            Layout.alignment: Qt.AlignRight
            Layout.minimumWidth: 96
            prominent: true
            focus: true
            text: "Close"
            onClicked: view.close()
        }
    }
}
