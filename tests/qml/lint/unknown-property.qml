import QtQuick

Rectangle {
    colour: appSettings.bg
}
