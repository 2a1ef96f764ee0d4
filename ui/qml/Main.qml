import QtQuick
import QtQuick.Controls
import Corvanel

// The application's one window, with its menu.
ApplicationWindow {
    id: window
    required property LauncherModel model
    /// Where the menu's requests go: the application answers them.
    required property QtObject requests
    property alias showAdvanced: view.showAdvanced

    signal aboutRequested()
    signal quitRequested()
    onAboutRequested: requests.aboutRequested()
    onQuitRequested: requests.quitRequested()

    /// Shows an alert over the window; it stays until the user answers it or what it warns about ends.
    function openAlert(message, informative) {
        alert.heading = message
        alert.paragraphs = [informative]
        alert.open()
    }

    /// Takes the alert away once what it warned about has ended.
    function closeAlert() {
        alert.close()
    }

    /// Shows About, once the menu it was chosen from has closed.
    function openAbout() {
        if (applicationMenu.visible)
            aboutAfterMenu = true
        else
            about.open()
    }
    property bool aboutAfterMenu: false

    width: 940
    height: 760
    minimumWidth: 860
    minimumHeight: 690
    title: "Corvanel"
    color: HaloTheme.navy
    font.pixelSize: 13

    palette.window: HaloTheme.navy
    palette.windowText: HaloTheme.ink
    palette.base: HaloTheme.field
    palette.alternateBase: HaloTheme.panel
    palette.text: HaloTheme.ink
    palette.button: HaloTheme.panel
    palette.buttonText: HaloTheme.ink
    palette.highlight: HaloTheme.accent
    palette.highlightedText: HaloTheme.navy
    palette.toolTipBase: HaloTheme.panel
    palette.toolTipText: HaloTheme.ink
    palette.light: HaloTheme.light
    palette.mid: HaloTheme.field
    palette.dark: HaloTheme.dark

    menuBar: MenuBar {
        objectName: "menuBar"
        background: Rectangle {
            implicitHeight: 26
            color: HaloTheme.navy
        }
        delegate: MenuBarItem {
            id: menuBarItem
            topPadding: 4
            bottomPadding: 4
            leftPadding: 12
            rightPadding: 12
            font.pixelSize: 13
            contentItem: Text {
                text: menuBarItem.text
                font: menuBarItem.font
                color: HaloTheme.ink
            }
            background: Rectangle {
                implicitHeight: 26
                color: menuBarItem.highlighted ? HaloTheme.fade(HaloTheme.edge, 0.35) : "transparent"
            }
        }
        Menu {
            id: applicationMenu
            objectName: "applicationMenu"
            title: "Corvanel"
            onClosed: {
                if (window.aboutAfterMenu) {
                    window.aboutAfterMenu = false
                    about.open()
                }
            }
            Action {
                objectName: "aboutAction"
                text: "About Corvanel"
                onTriggered: window.aboutRequested()
            }
            MenuSeparator {
                contentItem: Rectangle {
                    implicitWidth: 200
                    implicitHeight: 1
                    color: HaloTheme.fade(HaloTheme.edge, 0.5)
                }
            }
            MenuItem {
                id: quitItem
                action: Action {
                    objectName: "quitAction"
                    text: "Quit Corvanel"
                    shortcut: "Ctrl+Q"
                    onTriggered: window.quitRequested()
                }
                contentItem: Row {
                    spacing: 24
                    Text {
                        text: quitItem.text
                        font: quitItem.font
                        color: HaloTheme.ink
                    }
                    Text {
                        text: "Ctrl+Q"
                        font: quitItem.font
                        color: HaloTheme.muted
                    }
                }
            }
        }
    }

    // The keyboard's way to the menu.
    Shortcut {
        objectName: "menuShortcut"
        sequence: "F10"
        onActivated: applicationMenu.open()
    }

    LauncherView {
        id: view
        objectName: "launcherView"
        anchors.fill: parent
        model: window.model
    }

    HaloDialog {
        id: alert
        objectName: "alert"
        eyebrow: "CORVANEL"
        // While the game runs, the alert offers to end it.
        acceptText: window.model.playing ? "Stop the game" : "OK"
        rejectText: window.model.playing ? "Keep playing" : ""
        onAccepted: window.model.stopGame()
    }

    // A file, folder or page that nothing on this computer opened, shown for copying.
    HaloDialog {
        id: unopened
        objectName: "unopened"
        eyebrow: "CORVANEL"
    }

    LogView {
        id: logView
        objectName: "logView"
    }

    Connections {
        target: window.model
        function onOpenFailed(heading, advice, path) {
            unopened.heading = heading
            unopened.paragraphs = [advice]
            unopened.line = path
            unopened.open()
        }
        function onSetupLogShown(text, note) {
            logView.show(text, note)
        }
    }

    HaloDialog {
        id: about
        objectName: "about"
        eyebrow: "ABOUT CORVANEL"
        heading: "Corvanel"
        headingNote: window.model.version
        paragraphs: [
            "Sets up and starts Halo 2 for Windows Vista in a private Wine environment.",
            "An unofficial community launcher, not affiliated with Microsoft, Xbox or Bungie.",
            "Corvanel is free software under the GNU General Public License, version 3 or any later version, and comes with no warranty."
        ]
    }
}
