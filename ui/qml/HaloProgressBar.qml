import QtQuick
import QtQuick.Templates as T

// An indeterminate bar: a short accent segment sweeping along a faint track.
T.ProgressBar {
    id: control
    indeterminate: true
    implicitHeight: 4
    implicitWidth: 200

    background: Rectangle {
        color: HaloTheme.fade(HaloTheme.edge, 0.3)
    }

    contentItem: Item {
        clip: true

        Rectangle {
            width: control.availableWidth / 3
            height: control.availableHeight
            color: HaloTheme.accent

            NumberAnimation on x {
                running: control.visible
                from: -control.availableWidth / 3
                to: control.availableWidth
                duration: 1400
                loops: Animation.Infinite
            }
        }
    }
}
