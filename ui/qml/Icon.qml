import QtQuick

// One glyph of the icon font; `glyph` is a member of Icons.
Text {
    property alias glyph: icon.text
    property int size: 16

    id: icon
    font.family: HaloTheme.icons
    font.pixelSize: size
    color: HaloTheme.accent
    verticalAlignment: Text.AlignVCenter
    Accessible.ignored: true
}
