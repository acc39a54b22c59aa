import QtQuick
import Qt5Compat.GraphicalEffects

// SpoilerBlur: the blur over a hidden text (SpoilerText). Served as
// qrc:/qml/SpoilerBlur.qml; the build picks this file before Qt 6.5 (no Qt
// Quick Effects there), effects/multieffect/SpoilerBlur.qml later. Both take
// the same properties:
//   source: Item      the sharp text; the owner keeps it invisible
//   blur: real        0 sharp .. 1 fully blurred
//   blurMax: int      px, the blur radius at blur 1
FastBlur {
    property real blur: 0.0
    property int blurMax: 32

    radius: blur * blurMax
    transparentBorder: true
}
