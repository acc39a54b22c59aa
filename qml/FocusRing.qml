import QtQuick
import qml

// The keyboard side of a drawn control, placed inside it: a ring in `accent`
// around the control while the keyboard (never a click) has put the focus on
// it, Space/Enter/Return as activated(), and optionally the arrow keys among
// the control's focusable siblings. A transparent gap keeps the ring apart
// from fills that are `accent` themselves.
Rectangle {
    id: ring

    // The control's corner radius; the ring follows it at its distance.
    property real cornerRadius: 0
    property real gap: 2
    property alias arrowsMoveBetweenSiblings: keys.arrowsMoveBetweenSiblings
    readonly property bool shown: keys.ringVisible

    signal activated()

    anchors.fill: parent
    anchors.margins: -(gap + border.width)
    radius: cornerRadius > 0 ? cornerRadius + gap + border.width : 0
    color: "transparent"
    border.width: 2
    border.color: appSettings.accent
    visible: keys.ringVisible

    KeyboardFocus {
        id: keys
        item: ring.parent
        onActivated: ring.activated()
    }
}
