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

    // Opening or closing the advanced options moves the status box: it is followed.
    onShowAdvancedChanged: {
        if (view.model.phase !== LauncherModel.Progress)
            scroller.revealStatus()
    }

    Connections {
        target: view.model
        function onPhaseChanged() {
            if (view.model.phase !== LauncherModel.Progress)
                scroller.revealStatus()
        }
        function onErrorChanged() {
            if (view.model.error !== "")
                scroller.revealStatus()
        }
    }

    // A control that takes the keyboard focus below the fold is scrolled into view.
    Connections {
        target: view.Window.window
        function onActiveFocusItemChanged() {
            const focused = view.Window.activeFocusItem
            for (let item = focused; item; item = item.parent)
                if (item === content) {
                    scroller.followStatus = false
                    scroller.reveal(focused)
                    return
                }
        }
    }

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

                // Scrolls the least that brings `target` whole into view (its top, when it is
                // taller than the view), keeping a small margin around it.
                function reveal(target: Item) {
                    const margin = 16
                    const top = target.mapToItem(scroller.contentItem, 0, 0).y - margin
                    const bottom = top + target.height + 2 * margin
                    let y = scroller.contentY
                    if (bottom > y + scroller.height)
                        y = bottom - scroller.height
                    if (top < y)
                        y = top
                    scroller.contentY = Math.max(0, Math.min(y, scroller.contentHeight - scroller.height))
                }

                // The status box is brought into view when setup ends or an error appears. The
                // layout settles over the next frames, so the box is followed for a moment.
                property bool followStatus: false
                function revealStatus() {
                    followStatus = true
                    statusSettled.restart()
                    Qt.callLater(followStatusBox)
                }
                function followStatusBox() {
                    if (followStatus && content.statusBox.visible) {
                        content.ensurePolished()
                        reveal(content.statusBox)
                    }
                }
                onContentHeightChanged: followStatusBox()
                // After a resize the status, and a failure in it, is brought back into view.
                onHeightChanged: {
                    if (view.model.phase !== LauncherModel.Progress)
                        revealStatus()
                }
                onMovementStarted: followStatus = false
                Connections {
                    target: content.statusBox
                    function onYChanged() { scroller.followStatusBox() }
                    function onHeightChanged() { scroller.followStatusBox() }
                }
                Timer {
                    id: statusSettled
                    interval: 400
                    onTriggered: scroller.followStatus = false
                }
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
