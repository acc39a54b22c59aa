import QtQuick
import "format.js" as Fmt

// The connect dial, the session tiles and the connect/disconnect button.
Item {
    id: main
    objectName: "mainScreen"

    property string fontFamily: "Segoe UI"

    readonly property bool connected: pipeClient.vpnState === "connected"
    readonly property bool busy: pipeClient.vpnState === "connecting"
                                 || pipeClient.vpnState === "reconnecting"

    // Nothing moves while the window is hidden or minimised: the clock, the
    // glow and the spinner rest until it is back.
    readonly property bool onScreen: Window.visibility !== Window.Hidden
                                     && Window.visibility !== Window.Minimized

    // The session clock: ticks once a second, and only while connected.
    property double nowMs: Date.now()
    onConnectedChanged: if (connected) nowMs = Date.now()
    onOnScreenChanged: if (onScreen) nowMs = Date.now()

    Timer {
        objectName: "sessionClock"
        interval: 1000
        repeat: true
        running: main.connected && main.onScreen
        onTriggered: main.nowMs = Date.now()
    }

    // What the dial and the button do, in words.
    readonly property string actionText: main.connected ? appSettings.t.disconnect
                                         : main.busy ? appSettings.t.pleaseWait
                                         : appSettings.t.connect

    function toggleConnection() {
        if (main.busy)
            return
        if (main.connected)
            pipeClient.sendDisconnect()
        else
            pipeClient.sendConnect(appSettings.whitelist, appSettings.games)
    }

    // The host of "host:port". A bracketed IPv6 endpoint gives the address in
    // the brackets, and a bare IPv6 address (several colons) is shown whole.
    function hostOf(endpoint) {
        const text = String(endpoint)
        if (text.startsWith("[")) {
            const close = text.indexOf("]")
            if (close > 0)
                return text.substring(1, close)
        }
        const colon = text.indexOf(":")
        if (colon < 0 || text.indexOf(":", colon + 1) >= 0)
            return text
        return text.substring(0, colon)
    }

    // The dial and what goes with it sit in the middle of the room the
    // button leaves above it.
    Column {
        id: middle
        x: 24
        y: Math.round(24 + 18 + Math.max(0, actionButton.y - 24 - 3 * 18 - height) / 2)
        width: parent.width - 48
        spacing: 18

        Item {
            id: dial
            objectName: "dial"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 188
            height: 188
            scale: dialArea.containsMouse && !main.busy ? 1.03 : 1.0
            activeFocusOnTab: true
            Accessible.role: Accessible.Button
            Accessible.name: main.actionText
            Accessible.description: statusLine.text
            Accessible.focusable: true
            // Named functions, not Accessible handlers: the role lists its
            // actions already, and a handler would list its action twice.
            function accessiblePressAction() { main.toggleConnection() }

            Behavior on scale {
                NumberAnimation { duration: 150; easing.type: Easing.OutQuad }
            }

            Rectangle {
                id: glow
                objectName: "glow"
                anchors.centerIn: parent
                width: 214
                height: 214
                radius: 107
                color: appSettings.success
                visible: main.connected

                SequentialAnimation on opacity {
                    objectName: "glowPulse"
                    running: main.connected && main.onScreen
                    loops: Animation.Infinite
                    NumberAnimation { from: 0.05; to: 0.16; duration: 1600; easing.type: Easing.InOutSine }
                    NumberAnimation { from: 0.16; to: 0.05; duration: 1600; easing.type: Easing.InOutSine }
                }
            }

            Rectangle {
                objectName: "ring"
                anchors.fill: parent
                radius: width / 2
                color: "transparent"
                border.width: 10
                border.color: main.connected ? appSettings.success : appSettings.surfaceAlt

                Behavior on border.color {
                    ColorAnimation { duration: 200 }
                }
            }

            // Drawn once (and again on a theme change); turning is a rotation
            // of the finished drawing, so no frame repaints it.
            Canvas {
                id: spinner
                objectName: "spinner"
                anchors.fill: parent
                visible: main.busy

                onPaint: {
                    const ctx = getContext("2d")
                    ctx.reset()
                    ctx.lineWidth = 10
                    ctx.lineCap = "round"
                    ctx.strokeStyle = appSettings.warning
                    ctx.beginPath()
                    ctx.arc(width / 2, height / 2, width / 2 - 5, 0, 0.65 * Math.PI, false)
                    ctx.stroke()
                }

                Connections {
                    target: appSettings
                    function onThemeChanged() { spinner.requestPaint() }
                }

                RotationAnimator on rotation {
                    objectName: "spinnerTurn"
                    running: main.busy && main.onScreen
                    from: 0
                    to: 360
                    duration: 1200
                    loops: Animation.Infinite
                }
            }

            Column {
                anchors.centerIn: parent
                spacing: 2

                Text {
                    objectName: "bigWord"
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: main.connected ? "ON" : main.busy ? "…" : "OFF"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    color: appSettings.fg
                    font.family: main.fontFamily
                    font.pixelSize: 40
                    font.bold: true
                }

                Text {
                    id: statusLine
                    objectName: "statusLine"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: {
                        switch (pipeClient.vpnState) {
                        case "connected": return appSettings.t.statusProtected
                        case "connecting": return appSettings.t.statusConnecting
                        case "reconnecting": return appSettings.t.statusReconnecting + " · #" + pipeClient.attempt
                        default: return appSettings.t.statusNotConnected
                        }
                    }
                    color: appSettings.fgMuted
                    font.family: main.fontFamily
                    font.pixelSize: 13
                }
            }

            MouseArea {
                id: dialArea
                objectName: "dialArea"
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                enabled: !main.busy
                onClicked: main.toggleConnection()
            }

            FocusRing {
                cornerRadius: dial.width / 2
                onActivated: main.toggleConnection()
            }
        }

        Grid {
            id: infoGrid
            objectName: "infoGrid"
            // Two tiles of one width side by side.
            readonly property real tileWidth: (width - columnSpacing) / 2
            width: parent.width
            visible: main.connected
            columns: 2
            columnSpacing: 10
            rowSpacing: 10

            Tile {
                width: infoGrid.tileWidth
                fontFamily: main.fontFamily
                caption: appSettings.t.session

                Text {
                    objectName: "sessionValue"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    width: parent.width
                    text: Fmt.duration(pipeClient.connectedSince, main.nowMs)
                    color: appSettings.fg
                    font.family: main.fontFamily
                    font.pixelSize: 18
                    font.bold: true
                    fontSizeMode: Text.HorizontalFit
                    minimumPixelSize: 12
                }
            }

            Tile {
                width: infoGrid.tileWidth
                fontFamily: main.fontFamily
                caption: appSettings.t.server
                marked: true

                // A long host name is cut at the tile's edge rather than
                // drawn (or blurred) across the border.
                Item {
                    width: parent.width
                    height: serverValue.implicitHeight
                    clip: true

                    SpoilerText {
                        id: serverValue
                        objectName: "serverValue"
                        Accessible.name: appSettings.t.server
                        text: main.hostOf(pipeClient.endpoint)
                        color: appSettings.fg
                        font.family: main.fontFamily
                        font.pixelSize: 16
                        font.bold: true
                    }
                }
            }

            Tile {
                width: infoGrid.tileWidth
                fontFamily: main.fontFamily
                caption: appSettings.t.speed

                Text {
                    objectName: "speedValue"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    width: parent.width
                    text: "↓ " + Fmt.speed(pipeClient.downSpeed) + "  ↑ " + Fmt.speed(pipeClient.upSpeed)
                    color: appSettings.success
                    font.family: main.fontFamily
                    font.pixelSize: 14
                    font.bold: true
                    fontSizeMode: Text.HorizontalFit
                    minimumPixelSize: 10
                }
            }

            Tile {
                width: infoGrid.tileWidth
                fontFamily: main.fontFamily
                caption: appSettings.t.traffic

                Text {
                    objectName: "trafficValue"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    width: parent.width
                    text: "↓ " + Fmt.bytes(pipeClient.down) + "  ↑ " + Fmt.bytes(pipeClient.up)
                    color: appSettings.fg
                    font.family: main.fontFamily
                    font.pixelSize: 14
                    font.bold: true
                    fontSizeMode: Text.HorizontalFit
                    minimumPixelSize: 10
                }
            }
        }

        Rectangle {
            id: killSwitchBadge
            objectName: "killSwitchBadge"
            readonly property bool always: pipeClient.killSwitchMode === "always"

            // Centred on whole pixels: its one-pixel border stays sharp.
            x: Math.round((parent.width - width) / 2)
            width: badgeRow.implicitWidth + 24
            height: 24
            visible: pipeClient.killSwitchMode !== "never"
            radius: 12
            color: "transparent"
            border.width: 1
            border.color: always ? appSettings.accent : appSettings.border

            Row {
                id: badgeRow
                anchors.centerIn: parent
                spacing: 5

                Text {
                    objectName: "killSwitchShield"
                    anchors.verticalCenter: parent.verticalCenter
                    // Laid out only when shown: the symbol comes from a colour
                    // emoji font, which costs a megabyte once loaded.
                    text: killSwitchBadge.visible ? "🛡" : ""
                    font.pixelSize: 10
                    Accessible.ignored: true
                }

                Text {
                    objectName: "killSwitchText"
                    anchors.verticalCenter: parent.verticalCenter
                    text: appSettings.t.killSwitch + ": "
                          + (killSwitchBadge.always ? appSettings.t.ksAlways : appSettings.t.ksOn)
                    color: killSwitchBadge.always ? appSettings.accent : appSettings.fgMuted
                    font.family: main.fontFamily
                    font.pixelSize: 10
                }
            }
        }

        // A few lines at most: a longer text scrolls, and the button stays put.
        BoundedText {
            objectName: "errorLine"
            width: parent.width
            height: implicitHeight
            visible: !main.connected && !main.busy && pipeClient.errorText !== ""
            maximumHeight: 60
            text: pipeClient.errorText
            color: appSettings.danger
            font.family: main.fontFamily
            font.pixelSize: 11
            horizontalAlignment: Text.AlignHCenter
        }

    }

    PrimaryButton {
        id: actionButton
        objectName: "actionButton"
        x: 24
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 24
        width: parent.width - 48
        enabled: !main.busy
        text: main.actionText
        baseColor: main.connected ? appSettings.danger : appSettings.accent
        onClicked: main.toggleConnection()
    }

    // One tile of the info grid: a caption over the value given as its child.
    component Tile: Rectangle {
        id: tile
        property string fontFamily: "Segoe UI"
        property string caption
        property bool marked: false
        default property alias value: valueHolder.data

        height: 66
        radius: 12
        color: appSettings.surface
        border.width: 1
        border.color: appSettings.border

        Column {
            anchors.fill: parent
            anchors.leftMargin: 14
            anchors.rightMargin: 14
            anchors.topMargin: 10
            anchors.bottomMargin: 10
            spacing: 4

            Row {
                spacing: 6

                Rectangle {
                    anchors.verticalCenter: parent.verticalCenter
                    visible: tile.marked
                    width: 6
                    height: 6
                    radius: 3
                    color: appSettings.success
                }

                Text {
                    text: tile.caption
                    color: appSettings.fgMuted
                    font.family: tile.fontFamily
                    font.pixelSize: 11
                }
            }

            Item {
                id: valueHolder
                width: parent.width
                height: childrenRect.height
            }
        }
    }
}
