import QtQuick
import Qt5Compat.GraphicalEffects

// PanelShadow: the soft shadow behind a panel (main window, tray popup).
// Served as qrc:/qml/PanelShadow.qml; the build picks this file before Qt 6.5
// (no Qt Quick Effects there), effects/multieffect/PanelShadow.qml later.
// Both take the same properties:
//   source: Item                 the panel; place the shadow to cover it exactly
//   shadowBlur: real             0..1, softness of the shadow
//   shadowOpacity: real          0..1
//   shadowVerticalOffset: real   px, downwards
//   shadowColor: color
DropShadow {
    id: shadow

    property real shadowBlur: 1.0
    property real shadowOpacity: 1.0
    property real shadowVerticalOffset: 0
    property color shadowColor: "black"

    // The same reach as the other implementation's blur, whose full
    // softness spreads a shadow over 32 px.
    radius: shadowBlur * 32
    samples: Math.round(radius) * 2 + 1
    verticalOffset: shadowVerticalOffset
    color: Qt.rgba(shadowColor.r, shadowColor.g, shadowColor.b, shadowColor.a * shadowOpacity)
    transparentBorder: true
}
