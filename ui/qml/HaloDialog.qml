import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T

// A modal card in the launcher's own look over the dimmed window: a small label, a heading
// (with an optional note beside it), paragraphs, and one OK button that closes it. A question
// names its two answers: the one that goes ahead (accepted) and the one that keeps things as
// they are, which has the keyboard.
T.Popup {
    id: dialog
    property string eyebrow
    property string heading
    property string headingNote
    property var paragraphs: []
    property string acceptText: "OK"
    property string rejectText: ""
    /// A path or address shown in a selectable line with a Copy button; none when empty.
    property string line: ""
    property bool lineCopied: false

    signal accepted()

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: 460
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    padding: 28
    modal: true
    dim: true
    focus: true
    closePolicy: T.Popup.CloseOnEscape
    onAboutToShow: lineCopied = false

    T.Overlay.modal: Rectangle {
        color: HaloTheme.fade(HaloTheme.navy, 0.72)
    }

    background: Rectangle {
        color: HaloTheme.navy
        border.width: 1
        border.color: HaloTheme.fade(HaloTheme.edge, 0.6)

        Rectangle {
            anchors.fill: parent
            anchors.margins: 1
            color: HaloTheme.fade(HaloTheme.edge, 0.16)
        }
        Rectangle {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            height: 2
            color: HaloTheme.fade(HaloTheme.accent, 0.6)
        }
    }

    contentItem: ColumnLayout {
        spacing: 14
        Accessible.role: Accessible.Dialog
        Accessible.name: dialog.heading

        Eyebrow {
            objectName: "dialogEyebrow"
            text: dialog.eyebrow
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 12

            Text {
                objectName: "dialogHeading"
                Layout.alignment: Qt.AlignBaseline
                Layout.maximumWidth: dialog.availableWidth
                text: dialog.heading
                color: HaloTheme.ink
                font.family: HaloTheme.display
                font.bold: true
                font.pixelSize: 21
                wrapMode: Text.Wrap
            }
            Text {
                objectName: "dialogHeadingNote"
                Layout.alignment: Qt.AlignBaseline
                visible: text !== ""
                text: dialog.headingNote
                color: HaloTheme.muted
                font.family: HaloTheme.mono
                font.pixelSize: 12
            }
            Item { Layout.fillWidth: true }
        }
        Repeater {
            model: dialog.paragraphs
            BodyText {
                required property string modelData
                objectName: "dialogParagraph"
                Layout.fillWidth: true
                text: modelData
                font.pixelSize: 13
                lineSpacing: 4
            }
        }
        RowLayout {
            objectName: "dialogLine"
            Layout.fillWidth: true
            visible: dialog.line !== ""
            spacing: 10

            T.TextArea {
                id: lineText
                objectName: "dialogLineText"
                Layout.fillWidth: true
                text: dialog.line
                readOnly: true
                selectByMouse: true
                selectByKeyboard: true
                padding: 8
                // Its height follows the wrapped lines of a long path.
                implicitWidth: 200
                implicitHeight: contentHeight + topPadding + bottomPadding
                color: HaloTheme.ink
                selectionColor: HaloTheme.fade(HaloTheme.accent, 0.4)
                selectedTextColor: HaloTheme.ink
                font.family: HaloTheme.mono
                font.pixelSize: 12
                wrapMode: TextEdit.WrapAnywhere
                background: Rectangle {
                    color: HaloTheme.fade(HaloTheme.edge, 0.16)
                    border.width: 1
                    border.color: HaloTheme.fade(HaloTheme.edge, 0.5)
                }
            }
            HaloButtonStyle {
                objectName: "dialogCopy"
                Layout.alignment: Qt.AlignTop
                text: dialog.lineCopied ? "Copied" : "Copy"
                onClicked: {
                    lineText.selectAll()
                    lineText.copy()
                    lineText.deselect()
                    dialog.lineCopied = true
                }
            }
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            Layout.topMargin: 8
            spacing: 12

            HaloButtonStyle {
                objectName: "dialogReject"
                visible: dialog.rejectText !== ""
                Layout.minimumWidth: 96
                focus: visible
                text: dialog.rejectText
                onClicked: dialog.close()
            }
            HaloButtonStyle {
                id: ok
                objectName: "dialogOk"
                Layout.minimumWidth: 96
                prominent: true
                focus: dialog.rejectText === ""
                text: dialog.acceptText
                onClicked: {
                    dialog.close()
                    dialog.accepted()
                }
            }
        }
    }
}
