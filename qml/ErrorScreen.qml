import QtQuick
import QtQuick.Layouts

// Shown instead of the main screen while the connection has failed. Sign,
// title, text and button stand together in the middle; a text too long for
// the screen scrolls in the room between the title and the button, which then
// sits at the bottom.
Item {
    id: errorScreen
    objectName: "errorScreen"

    property string fontFamily: "Segoe UI"

    // As tall as its items, centred; no taller than the screen less its
    // margins, where the text gives up room and scrolls.
    ColumnLayout {
        anchors.centerIn: parent
        width: parent.width - 48
        height: Math.min(implicitHeight, parent.height - 48)
        spacing: 18

        Rectangle {
            objectName: "errorSign"
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 84
            Layout.preferredHeight: 84
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
                Accessible.ignored: true
            }
        }

        Text {
            objectName: "errorTitle"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: appSettings.t.connectionFailed
            color: appSettings.fg
            font.family: errorScreen.fontFamily
            font.pixelSize: 18
            font.bold: true
            wrapMode: Text.WordWrap
        }

        BoundedText {
            objectName: "errorDetail"
            Layout.fillWidth: true
            Layout.fillHeight: true
            // As tall as the text, and never taller than the room left.
            Layout.maximumHeight: contentHeight
            Layout.minimumHeight: Math.min(contentHeight, 48)
            horizontalAlignment: Text.AlignHCenter
            text: pipeClient.errorText !== "" ? pipeClient.errorText : appSettings.t.errorDefault
            color: appSettings.fgMuted
            font.family: errorScreen.fontFamily
            font.pixelSize: 12
        }

        PrimaryButton {
            objectName: "errorTryAgainButton"
            Layout.fillWidth: true
            text: appSettings.t.tryAgain
            onClicked: pipeClient.sendConnect(appSettings.whitelist, appSettings.games)
        }
    }
}
