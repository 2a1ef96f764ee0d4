import QtQuick

// A small monospaced label above a block.
Text {
    color: HaloTheme.muted
    font.family: HaloTheme.mono
    font.pixelSize: 10
    font.weight: Font.Medium
    font.letterSpacing: 1.8
}
