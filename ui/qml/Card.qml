import QtQuick

// A translucent panel with a hairline border; its children are laid out inside the padding.
Rectangle {
    id: card
    default property alias content: inner.data
    property int padding: 24

    implicitHeight: inner.childrenRect.height + 2 * padding
    color: HaloTheme.fade(HaloTheme.edge, 0.13)
    border.width: 1
    border.color: HaloTheme.fade(HaloTheme.edge, 0.6)

    Item {
        id: inner
        anchors.fill: parent
        anchors.margins: card.padding
    }
}
