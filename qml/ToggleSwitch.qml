import QtQuick

// An on/off switch whose state belongs to its owner: a click only requests the
// opposite state through toggled(); the knob moves when the owner's model
// changes and the binding on `checked` brings the new value back.
Rectangle {
    id: toggle

    property bool checked: false

    signal toggled(bool value)

    implicitWidth: 46
    implicitHeight: 26
    radius: 13
    color: checked ? appSettings.accent : appSettings.surfaceAlt
    border.width: 1
    border.color: checked ? appSettings.accent : appSettings.border

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
        onClicked: toggle.toggled(!toggle.checked)
    }
}
