import QtQuick
import QtQuick.Templates as T

// A sidebar row that acts as a button, without button chrome.
T.AbstractButton {
    id: control
    property string number

    implicitWidth: implicitContentWidth
    implicitHeight: implicitContentHeight
    opacity: down ? 0.75 : 1
    Accessible.name: text

    contentItem: NavLabel {
        number: control.number
        title: control.text
    }

    FocusRing {
        shown: control.visualFocus
        gap: 0
    }
}
