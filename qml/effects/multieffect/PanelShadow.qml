import QtQuick
import QtQuick.Effects

// PanelShadow: the soft shadow behind a panel (main window, tray popup).
// Served as qrc:/qml/PanelShadow.qml; the build picks this file on Qt 6.5 and
// later, effects/compat/PanelShadow.qml before that. Both take the same
// properties:
//   source: Item                 the panel; place the shadow to cover it exactly
//   shadowBlur: real             0..1, softness of the shadow
//   shadowOpacity: real          0..1
//   shadowVerticalOffset: real   px, downwards
//   shadowColor: color
MultiEffect {
    shadowEnabled: true
}
