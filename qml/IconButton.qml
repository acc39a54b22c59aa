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

    // What a click does; Space, Enter and the accessible press do the same.
    // The owner names the button (Accessible.name): the glyph says nothing.
    function activate() {
        button.clicked()
    }

    implicitWidth: 40
    implicitHeight: 30
    radius: 6
    color: mouse.containsMouse ? hoverColor : baseColor
    activeFocusOnTab: true
    Accessible.role: Accessible.Button
    Accessible.focusable: true
    // Named functions, not Accessible handlers: the role lists its
    // actions already, and a handler would list its action twice.
    function accessiblePressAction() { button.activate() }

    Text {
        anchors.centerIn: parent
        text: button.symbol
        color: button.glyphColor
        font.pixelSize: button.glyphSize
        Accessible.ignored: true
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: button.activate()
    }

    FocusRing {
        cornerRadius: button.radius
        onActivated: button.activate()
    }
}
