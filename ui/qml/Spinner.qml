import QtQuick

// A small indeterminate spinner.
Icon {
    id: spinner
    glyph: Icons.spinner
    size: 16

    RotationAnimator on rotation {
        running: spinner.visible
        from: 0
        to: 360
        duration: 1000
        loops: Animation.Infinite
    }
}
