import QtQuick

// An on/off switch whose state belongs to its owner: a click only requests the
// opposite state through toggled(); the knob moves when the owner's model
// changes and the binding on `checked` brings the new value back.
Rectangle {
    id: toggle

    property bool checked: false

    signal toggled(bool value)

    // What a click does; Space, Enter and the accessible toggle do the same.
    // The owner names the switch (Accessible.name).
    function activate() {
        toggle.toggled(!toggle.checked)
    }

    implicitWidth: 46
    implicitHeight: 26
    radius: 13
    color: checked ? appSettings.accent : appSettings.surfaceAlt
    border.width: 1
    border.color: checked ? appSettings.accent : appSettings.border
    activeFocusOnTab: true
    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: toggle.checked
    Accessible.focusable: true
    // Named functions, not Accessible handlers: the role lists its
    // actions already, and a handler would list its action twice.
    function accessiblePressAction() { toggle.activate() }
    function accessibleToggleAction() { toggle.activate() }

    Behavior on color { ColorAnimation { duration: 140 } }

    Rectangle {
        id: knob
        width: 20
        height: 20
        radius: 10
        color: "#FFFFFF"
        anchors.verticalCenter: parent.verticalCenter
        x: toggle.checked ? toggle.width - width - 3 : 3

        Behavior on x { NumberAnimation { duration: 140; easing.type: Easing.OutCubic } }
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: toggle.activate()
    }

    FocusRing {
        cornerRadius: toggle.radius
        onActivated: toggle.activate()
    }
}
