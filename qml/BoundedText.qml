import QtQuick

// A plain text of any length that keeps to the height it is given: it wraps
// (inside a word too when one is wider than the line) and scrolls within its
// space when it does not fit, so that what comes after it stays where it is.
// For the daemon's texts, which may be long. Scrolls with the wheel, a drag,
// or the arrow keys once it has the focus; a thin bar shows where it is.
Flickable {
    id: bounded

    property alias text: label.text
    property alias color: label.color
    property alias font: label.font
    property alias horizontalAlignment: label.horizontalAlignment
    readonly property int textFormat: label.textFormat
    // The tallest it grows before it scrolls; below 0, as tall as the text.
    property real maximumHeight: -1

    implicitHeight: maximumHeight < 0 ? label.implicitHeight
                                      : Math.min(label.implicitHeight, maximumHeight)
    contentWidth: width
    contentHeight: label.implicitHeight
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    flickableDirection: Flickable.VerticalFlick
    interactive: contentHeight > height

    activeFocusOnTab: interactive
    Accessible.role: Accessible.StaticText
    Accessible.name: label.text

    function scrollBy(delta) {
        contentY = Math.max(0, Math.min(contentHeight - height, contentY + delta))
    }

    Keys.onUpPressed: scrollBy(-label.font.pixelSize * 2)
    Keys.onDownPressed: scrollBy(label.font.pixelSize * 2)
    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_PageUp || event.key === Qt.Key_PageDown) {
            scrollBy(event.key === Qt.Key_PageUp ? -height : height)
            event.accepted = true
        }
    }

    // On the view, not on the text that moves under it.
    Rectangle {
        objectName: "scrollBar"
        parent: bounded
        visible: bounded.interactive
        x: bounded.width - width - 2
        y: bounded.visibleArea.yPosition * bounded.height
        width: 4
        height: bounded.visibleArea.heightRatio * bounded.height
        radius: 2
        color: label.color
        opacity: 0.5
    }

    Text {
        id: label
        objectName: "label"
        width: bounded.width
        // Room for the bar on both sides, so a centred text stays centred.
        // Fixed: a width that followed the bar would change the height it
        // depends on.
        leftPadding: 8
        rightPadding: 8
        textFormat: Text.PlainText // the daemon's words: never markup
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
    }
}
