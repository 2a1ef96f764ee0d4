import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Corvanel

// The window's content: header, sidebar, the scrolling content column and footer.
Item {
    id: view
    required property LauncherModel model
    property alias showAdvanced: content.showAdvanced

    implicitWidth: 940
    implicitHeight: 760

    HaloBackdrop { anchors.fill: parent }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Header {
            Layout.fillWidth: true
            model: view.model
        }
        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            Sidebar {
                objectName: "sidebar"
                Layout.fillHeight: true
                Layout.preferredWidth: implicitWidth
                model: view.model
            }
            Rectangle {
                Layout.fillHeight: true
                width: 1
                color: HaloTheme.fade(HaloTheme.edge, 0.3)
            }
            Flickable {
                id: scroller
                objectName: "contentScroller"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                contentWidth: width
                contentHeight: content.implicitHeight + 68
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar {
                    visible: size < 1.0
                    policy: ScrollBar.AsNeeded
                    contentItem: Rectangle {
                        implicitWidth: 6
                        radius: 3
                        color: HaloTheme.fade(HaloTheme.muted, 0.5)
                    }
                }

                ContentColumn {
                    id: content
                    objectName: "contentColumn"
                    x: 34
                    y: 34
                    width: Math.min(800, scroller.width) - 70
                    model: view.model
                }
            }
        }
        Footer { Layout.fillWidth: true }
    }
}
