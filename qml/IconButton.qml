import QtQuick

// A flat glyph button for the title bar. It only reports clicks.
Rectangle {
    id: button

    property string symbol: ""
    property color glyphColor: appSettings.fgMuted
    property color hoverColor: appSettings.surfaceAlt
    property color baseColor: "transparent"
    property int glyphSize: 15

    signal clicked()

    implicitWidth: 40
    implicitHeight: 30
    radius: 6
    color: mouse.containsMouse ? hoverColor : baseColor

    Text {
        anchors.centerIn: parent
        text: button.symbol
        color: button.glyphColor
        font.pixelSize: button.glyphSize
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
    }
}
