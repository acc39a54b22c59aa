import QtQuick

// Inline components do not see the document's ids.
Item {
    id: root
    property real inset: 4

    component Card: Rectangle {
        x: root.inset
    }

    Card {}
}
