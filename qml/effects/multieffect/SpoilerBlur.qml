import QtQuick
import QtQuick.Effects

// SpoilerBlur: the blur over a hidden text (SpoilerText). Served as
// qrc:/qml/SpoilerBlur.qml; the build picks this file on Qt 6.5 and later,
// effects/compat/SpoilerBlur.qml before that. Both take the same properties:
//   source: Item      the sharp text; the owner keeps it invisible
//   blur: real        0 sharp .. 1 fully blurred
//   blurMax: int      px, the blur radius at blur 1
MultiEffect {
    blurEnabled: true
}
