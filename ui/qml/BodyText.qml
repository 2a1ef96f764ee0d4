import QtQuick

// Running text in the system font; `lineSpacing` adds space between wrapped lines.
Text {
    id: body
    property real lineSpacing: 0

    color: HaloTheme.muted
    font.pixelSize: 12
    wrapMode: Text.Wrap
    lineHeightMode: Text.FixedHeight
    lineHeight: metrics.height + lineSpacing

    FontMetrics {
        id: metrics
        font: body.font
    }
}
