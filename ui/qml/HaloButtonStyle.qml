import QtQuick
import QtQuick.Templates as T

// The launcher's flat rectangular button: prominent for a screen's primary action, secondary
// for the others. The whole rectangle, padding included, takes presses.
T.Button {
    id: control
    property bool prominent: false
    property string leadingIcon: ""
    property string trailingIcon: ""
    property int iconSpacing: 8

    readonly property color foreground: !enabled ? HaloTheme.muted : prominent ? HaloTheme.navy : HaloTheme.ink

    leftPadding: 18
    rightPadding: 18
    topPadding: 12
    bottomPadding: 12
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    font.pixelSize: 13
    font.weight: Font.DemiBold
    opacity: down ? 0.75 : 1
    Accessible.name: text
    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    // The label sits in the middle of a button made wider than it.
    contentItem: Item {
        implicitWidth: row.implicitWidth
        implicitHeight: row.implicitHeight

        Row {
            id: row
            anchors.centerIn: parent
            spacing: control.iconSpacing

            Icon {
                anchors.verticalCenter: parent.verticalCenter
                visible: control.leadingIcon !== ""
                glyph: control.leadingIcon
                size: 16
                color: control.foreground
            }
            Text {
                objectName: "label"
                text: control.text
                font: control.font
                color: control.foreground
            }
            Icon {
                anchors.verticalCenter: parent.verticalCenter
                visible: control.trailingIcon !== ""
                glyph: control.trailingIcon
                size: 16
                color: control.foreground
            }
        }
    }

    background: Rectangle {
        color: control.enabled && control.prominent ? HaloTheme.accent : HaloTheme.fade(HaloTheme.edge, 0.18)
        border.width: 1
        border.color: HaloTheme.fade(HaloTheme.accent, control.enabled ? 0.55 : 0.18)

        FocusRing { shown: control.visualFocus }
    }
}
