import QtQuick

// PanelShadow: the soft shadow behind a rounded panel (main window, tray
// popup). Place it to cover the panel exactly and pass the panel as `source`.
// It stretches
// a shadow drawn once at build time (tools/icons/makeshadows.cpp), so it needs
// no shader: nothing GL-related is touched to draw it, with any backend.
// There is one image per corner radius and blur (resources/panelshadow-*.png);
// a new pair of the two needs its image drawn first.
Item {
    id: shadow

    // The panel: its corner radius picks the image.
    property Rectangle source: null
    // 0..1, softness: full softness spreads the shadow over 32 px.
    property real shadowBlur: 1.0
    property real shadowOpacity: 1.0
    // px, downwards.
    property real shadowVerticalOffset: 0

    readonly property int blurPx: Math.round(shadow.shadowBlur * 32)

    BorderImage {
        objectName: "shadowImage"
        // Read and decoded off the interface thread: the window's first frame
        // does not wait for it, and it follows a frame or so later.
        asynchronous: true
        anchors.fill: parent
        // The drawn rectangle lies blurPx inside the image's edges.
        anchors.leftMargin: -shadow.blurPx
        anchors.rightMargin: -shadow.blurPx
        anchors.topMargin: -shadow.blurPx + shadow.shadowVerticalOffset
        anchors.bottomMargin: -shadow.blurPx - shadow.shadowVerticalOffset
        opacity: shadow.shadowOpacity
        visible: shadow.source !== null
        source: shadow.source !== null
                ? "qrc:/panelshadow-r" + Math.round(shadow.source.radius) + "-b" + shadow.blurPx + ".png"
                : ""
        border.left: 2 * shadow.blurPx + Math.round(shadow.source ? shadow.source.radius : 0)
        border.right: border.left
        border.top: border.left
        border.bottom: border.left
    }
}
