import QtQuick

// The smallest Qt Quick window worth comparing with: one rectangle, one text.
Window {
    width: 400
    height: 620
    color: "#1b1f27"

    Rectangle {
        anchors.fill: parent
        anchors.margins: 10
        radius: 16
        color: "#232834"

        Text {
            anchors.centerIn: parent
            text: "Kestrix"
            color: "white"
            font.pixelSize: 14
        }
    }
}
