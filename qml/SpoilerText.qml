import QtQuick

// A text shown blurred until clicked. The sharp label is never shown itself:
// it only feeds the blur, so no readable copy lies beneath it.
Item {
    id: spoiler

    property alias text: label.text
    property alias color: label.color
    property alias font: label.font
    property bool revealed: false

    // An empty text takes no room at all (a Text item keeps one line's height).
    implicitWidth: label.text.length > 0 ? label.implicitWidth : 0
    implicitHeight: label.text.length > 0 ? label.implicitHeight : 0

    Text {
        id: label
        visible: false
        color: "white"
        textFormat: Text.PlainText // it shows the daemon's text: never markup
    }

    SpoilerBlur {
        anchors.fill: label
        source: label
        blurMax: 40
        blur: spoiler.revealed ? 0.0 : 1.0

        Behavior on blur { NumberAnimation { duration: 250; easing.type: Easing.InOutQuad } }
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: spoiler.revealed = !spoiler.revealed
    }
}
