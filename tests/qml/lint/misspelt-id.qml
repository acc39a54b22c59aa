import QtQuick

Item {
    id: root
    Text {
        id: label
        text: "x"
    }
    width: lable.implicitWidth
}
