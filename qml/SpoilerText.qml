import QtQuick

// A text shown blurred until clicked. While hidden, what is blurred is a fixed
// placeholder, not the text: a blurred address still shows its length and its
// grouping (four blobs 3-2-2-1 are an IPv4 address), so nothing of the text is
// drawn, nor sized, until it is revealed. The sharp label is never shown
// itself: it only feeds the blur, so no readable copy lies beneath it.
Item {
    id: spoiler

    property alias text: label.text
    property alias color: label.color
    property alias font: label.font
    property bool revealed: false

    // What a click does; Space, Enter and the accessible press do the same.
    function activate() {
        spoiler.revealed = !spoiler.revealed
    }

    // 0 hidden .. 1 revealed: the blur lifts as the text fades in over the
    // placeholder.
    property real reveal: revealed ? 1.0 : 0.0
    Behavior on reveal { NumberAnimation { duration: 250; easing.type: Easing.InOutQuad } }

    readonly property bool empty: label.text.length === 0

    // The software renderer draws no shader effects, so the blur would show
    // nothing at all, revealed or not: there a plain bar stands for the hidden
    // text and the revealed text is drawn as it is.
    readonly property bool plain: GraphicsInfo.api === GraphicsInfo.Software

    // An empty text takes no room at all (a Text item keeps one line's
    // height); a hidden one takes the placeholder's room, whatever it holds.
    implicitWidth: spoiler.empty ? 0 : spoiler.revealed ? label.implicitWidth : placeholder.implicitWidth
    implicitHeight: spoiler.empty ? 0 : label.implicitHeight

    // A toggle that hides its text from the eye; it hides it from the ear too
    // until revealed, and then reads it as its description.
    activeFocusOnTab: !spoiler.empty
    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: spoiler.revealed
    Accessible.description: spoiler.revealed ? label.text : ""
    Accessible.focusable: true
    // Named functions, not Accessible handlers: the role lists its
    // actions already, and a handler would list its action twice.
    function accessiblePressAction() { spoiler.activate() }
    function accessibleToggleAction() { spoiler.activate() }

    Item {
        id: blurSource
        objectName: "spoilerBlurSource"
        visible: false
        width: spoiler.reveal > 0 ? Math.max(label.implicitWidth, placeholder.implicitWidth)
                                  : placeholder.implicitWidth
        height: label.implicitHeight

        Text {
            id: placeholder
            objectName: "spoilerPlaceholder"
            // Even, ungrouped and about as wide as an IPv4 address.
            text: "000000000000"
            font: label.font
            color: label.color
            opacity: 1.0 - spoiler.reveal
            Accessible.ignored: true
        }

        Text {
            id: label
            color: "white"
            textFormat: Text.PlainText // it shows the daemon's text: never markup
            // Fully transparent while hidden. (Not invisible: an item made
            // visible inside a hidden effect source is not drawn into it.)
            opacity: spoiler.reveal
            Accessible.ignored: true
        }
    }

    Rectangle {
        objectName: "spoilerPlainBar"
        visible: spoiler.plain && !spoiler.empty && spoiler.reveal < 1
        width: placeholder.implicitWidth
        height: Math.round(label.implicitHeight * 0.6)
        anchors.verticalCenter: blurSource.verticalCenter
        radius: height / 2
        color: label.color
        opacity: 0.35 * (1.0 - spoiler.reveal)
    }

    Text {
        objectName: "spoilerPlainText"
        visible: spoiler.plain && spoiler.reveal > 0
        text: label.text
        font: label.font
        color: label.color
        textFormat: Text.PlainText
        opacity: spoiler.reveal
        Accessible.ignored: true
    }

    // Loaded by name, not used as a type, so the effect's module (and its
    // shader machinery) is loaded with the first spoiler, not with main.qml.
    Loader {
        id: blur
        anchors.fill: blurSource
        active: !spoiler.empty && !spoiler.plain
        source: "qrc:/qml/SpoilerBlur.qml"
    }
    Binding { target: blur.item; property: "source"; value: blurSource; when: blur.item !== null }
    Binding { target: blur.item; property: "blurMax"; value: 40; when: blur.item !== null }
    Binding { target: blur.item; property: "blur"; value: 1.0 - spoiler.reveal; when: blur.item !== null }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: spoiler.activate()
    }

    FocusRing {
        // Inside the text: the owner may clip the spoiler at its edges.
        gap: -3
        onActivated: spoiler.activate()
    }
}
