import QtQuick
import QtQuick.Layouts
import Corvanel

// The stages of the running setup or repair: each waiting, running with its own clock and,
// where known, what Wine is doing, done, or skipped when a repair has nothing to do there.
ColumnLayout {
    id: list
    required property LauncherModel model

    spacing: 8

    // The rows stay while their stage's map changes: a layout must not lose its items mid-run.
    Repeater {
        model: list.model.steps.length

        ColumnLayout {
            id: row
            required property int index
            readonly property var modelData: list.model.steps[index]
            readonly property bool running: modelData.state === "running"
            readonly property bool done: modelData.state === "done"
            readonly property bool skipped: modelData.state === "skipped"

            objectName: "step" + index
            Layout.fillWidth: true
            spacing: 2
            Accessible.role: Accessible.ListItem
            Accessible.name: modelData.title

            RowLayout {
                Layout.fillWidth: true
                spacing: 10

                Item {
                    implicitWidth: 16
                    implicitHeight: 16
                    Spinner {
                        anchors.centerIn: parent
                        visible: row.running
                    }
                    Icon {
                        anchors.centerIn: parent
                        visible: row.done
                        glyph: Icons.checkmarkCircle
                        size: 16
                    }
                    Rectangle {
                        anchors.centerIn: parent
                        visible: !row.running && !row.done
                        width: row.skipped ? 8 : 10
                        height: row.skipped ? 2 : 10
                        radius: row.skipped ? 0 : 5
                        color: "transparent"
                        border.width: row.skipped ? 0 : 1
                        border.color: HaloTheme.fade(HaloTheme.muted, 0.7)
                        Rectangle {
                            anchors.fill: parent
                            visible: row.skipped
                            color: HaloTheme.fade(HaloTheme.muted, 0.6)
                        }
                    }
                }
                Text {
                    objectName: "stepTitle"
                    Layout.fillWidth: true
                    text: row.modelData.title
                    color: row.running ? HaloTheme.ink : HaloTheme.muted
                    opacity: row.skipped ? 0.6 : 1
                    font.pixelSize: 13
                    font.weight: row.running ? Font.DemiBold : Font.Normal
                    elide: Text.ElideRight
                }
                Text {
                    objectName: "stepState"
                    text: row.skipped ? "Not needed" : row.modelData.elapsed
                    color: HaloTheme.muted
                    font.family: HaloTheme.mono
                    font.pixelSize: 12
                }
            }
            Text {
                objectName: "stepDetail"
                Layout.fillWidth: true
                Layout.leftMargin: 26
                visible: text !== ""
                text: row.modelData.detail
                color: HaloTheme.muted
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }
        }
    }
}
