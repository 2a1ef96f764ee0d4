import QtQuick

// The keyboard focus ring: an accent outline around its parent, shown while `shown` is true
// (bind it to the control's keyboard focus).
Rectangle {
    property bool shown: false
    property real gap: 3

    objectName: "focusRing"
    anchors.fill: parent
    anchors.margins: -gap
    visible: shown
    color: "transparent"
    border.width: 2
    border.color: HaloTheme.accent
}
