import QtQuick
import QtQuick.Layouts
import Corvanel

// One folder of the advanced options: its name, where it is (or what happens without it), the
// button that chooses it and, once chosen, the one that goes back to the default.
RowLayout {
    id: choice
    property string title
    property string folder ///< with a break opportunity after each separator
    property string fallback
    property string resetText
    property bool resettable: false
    property string name
    signal choose()
    signal reset()

    spacing: 10

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 3

        Text {
            text: choice.title
            color: HaloTheme.ink
            font.pixelSize: 12
            font.weight: Font.DemiBold
        }
        Text {
            objectName: choice.name + "Path"
            Layout.fillWidth: true
            text: choice.folder !== "" ? choice.folder : choice.fallback
            color: HaloTheme.muted
            font.pixelSize: 12
            // The folder's path breaks after a separator, a name only when it is wider than a line.
            wrapMode: Text.Wrap
        }
    }
    HaloButtonStyle {
        objectName: choice.name + "Reset"
        visible: choice.resettable
        text: choice.resetText
        onClicked: choice.reset()
    }
    HaloButtonStyle {
        objectName: choice.name + "Choose"
        text: "Choose folder…"
        onClicked: choice.choose()
    }
}
