import QtQuick

// Shown instead of the main screen while the connection has failed.
Item {
    id: errorScreen
    objectName: "errorScreen"

    property string fontFamily: "Segoe UI"

    Column {
        anchors.centerIn: parent
        width: parent.width - 48
        spacing: 18

        Rectangle {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 84
            height: 84
            radius: 42
            color: "transparent"
            border.width: 6
            border.color: appSettings.danger

            Text {
                anchors.centerIn: parent
                text: "!"
                color: appSettings.danger
                font.family: errorScreen.fontFamily
                font.pixelSize: 44
                font.bold: true
            }
        }

        Text {
            objectName: "errorTitle"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: appSettings.t.connectionFailed
            color: appSettings.fg
            font.family: errorScreen.fontFamily
            font.pixelSize: 18
            font.bold: true
            wrapMode: Text.WordWrap
        }

        Text {
            objectName: "errorDetail"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: pipeClient.errorText !== "" ? pipeClient.errorText : appSettings.t.errorDefault
            color: appSettings.fgMuted
            font.family: errorScreen.fontFamily
            font.pixelSize: 12
            wrapMode: Text.WordWrap
            textFormat: Text.PlainText
        }

        PrimaryButton {
            objectName: "errorTryAgainButton"
            width: parent.width
            text: appSettings.t.tryAgain
            onClicked: pipeClient.sendConnect(appSettings.whitelist, appSettings.games)
        }
    }
}
