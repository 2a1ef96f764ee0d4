pragma Singleton
import QtQuick

// The launcher's palette and type faces, the one definition of both: the window's controls and
// the toolkit's own dialogs and menus (through the application's palette) take them from here.
QtObject {
    readonly property color ink: Qt.rgba(0.83, 0.91, 0.98, 1)
    readonly property color muted: Qt.rgba(0.60, 0.72, 0.82, 1)
    readonly property color edge: Qt.rgba(0.29, 0.45, 0.57, 1)
    readonly property color accent: Qt.rgba(0.72, 0.88, 1.00, 1)
    readonly property color navy: Qt.rgba(0.03, 0.09, 0.17, 1)

    // Surfaces of the toolkit's controls: panels and buttons, input fields, edges and shadows.
    readonly property color panel: Qt.rgba(0.07, 0.15, 0.24, 1)
    readonly property color field: Qt.rgba(0.05, 0.12, 0.20, 1)
    readonly property color light: Qt.rgba(0.12, 0.22, 0.33, 1)
    readonly property color dark: Qt.rgba(0.02, 0.06, 0.12, 1)

    // The backdrop's glow in the top-leading corner, and the text of a failure.
    readonly property color glow: Qt.rgba(0.09, 0.22, 0.32, 1)
    readonly property color warning: Qt.rgba(1.0, 0.77, 0.6, 1)

    readonly property string display: "Trebuchet MS"
    readonly property string mono: "monospace"
    readonly property string icons: "Material Icons"

    function fade(colour: color, opacity: real): color {
        return Qt.rgba(colour.r, colour.g, colour.b, opacity)
    }
}
