import QtQuick

// A filled pill button with hover and press feedback. A disabled button keeps
// its plain fill, ignores the pointer and emits nothing.
Rectangle {
    id: button

    property string text: ""
    property color baseColor: appSettings.accent
    property color textColor: appSettings.accentText
    property int fontSize: 15

    signal clicked()

    // What a click does; Space, Enter and the accessible press do the same.
    function activate() {
        if (button.enabled)
            button.clicked()
    }

    implicitWidth: label.implicitWidth + 48
    implicitHeight: 44
    radius: height / 2
    opacity: enabled ? 1.0 : 0.5
    scale: mouse.pressed ? 0.97 : 1.0
    color: !enabled ? baseColor
                    : mouse.pressed ? Qt.darker(baseColor, 1.2)
                                    : mouse.containsMouse ? Qt.lighter(baseColor, 1.1)
                                                          : baseColor

    activeFocusOnTab: true
    Accessible.role: Accessible.Button
    Accessible.name: button.text
    Accessible.focusable: true
    // Named functions, not Accessible handlers: the role lists its
    // actions already, and a handler would list its action twice.
    function accessiblePressAction() { button.activate() }

    Behavior on color { ColorAnimation { duration: 120 } }
    Behavior on scale { NumberAnimation { duration: 80 } }

    Text {
        id: label
        anchors.centerIn: parent
        width: Math.min(implicitWidth, button.width - 32)
        text: button.text
        color: button.textColor
        font.pixelSize: button.fontSize
        font.bold: true
        elide: Text.ElideRight
        horizontalAlignment: Text.AlignHCenter
        Accessible.ignored: true // the button carries the name
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        enabled: button.enabled
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: button.activate()
    }

    FocusRing {
        cornerRadius: button.radius
        onActivated: button.activate()
    }
}
