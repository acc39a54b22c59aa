import QtQuick
import QtQuick.Layouts
import "format.js" as Fmt

// The tray menu: a small frameless window beside the tray icon with the VPN
// state, session time and speeds, connect or disconnect, open and quit. It
// hides itself as soon as it loses the focus.
Window {
    id: pop

    readonly property bool connected: pipeClient.vpnState === "connected"
    readonly property bool busy: pipeClient.vpnState === "connecting"
                                 || pipeClient.vpnState === "reconnecting"
    property double nowMs: Date.now()

    // Where the popup goes for an anchor (ax, ay) on a screen whose
    // available area starts at (left, top) and is availW × availH: centred
    // above the anchor, or below it when there is no room above, kept 8 px
    // inside the area. The right and bottom bounds win over the left and top.
    function placement(ax, ay, left, top, availW, availH) {
        var x = ax - width / 2;
        if (x < left + 8)
            x = left + 8;
        if (x > left + availW - width - 8)
            x = left + availW - width - 8;
        var y = ay - height - 12;
        if (y <= top + 8)
            y = ay + 12;
        if (y + height > top + availH - 8)
            y = top + availH - height - 8;
        return Qt.point(x, y);
    }

    function openAt(ax, ay) {
        // A click on the tray icon takes the focus from the popup before the
        // icon reports it: that click was meant to close the popup, which it
        // just did, so it must not open it again at once.
        if (focusLossGuard.running)
            return;
        // Wayland lets no window choose its place: the compositor puts it.
        if (Qt.platform.pluginName !== "wayland") {
            // The screen under the anchor, less its panels: a tray icon
            // without a geometry (a StatusNotifierItem) anchors at the click.
            var area = trayManager.availableAreaAt(ax, ay);
            var p = placement(ax, ay, area.x, area.y, area.width, area.height);
            x = p.x;
            y = p.y;
        }
        // The clock does not tick while hidden: start from the current time
        // rather than show the session length of the previous opening.
        nowMs = Date.now();
        show();
        raise();
        requestActivate();
        // The keyboard starts on the first control that takes it; no ring
        // until the keyboard is used.
        var first = contentItem.nextItemInFocusChain(true);
        if (first)
            first.forceActiveFocus(Qt.OtherFocusReason);
    }

    width: 280
    height: 206
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    color: "transparent"
    visible: false

    onActiveChanged: {
        if (!active && visible) {
            focusLossGuard.restart();
            hide();
        }
    }

    // Runs for a moment after the popup hid itself on losing the focus.
    Timer {
        id: focusLossGuard
        objectName: "focusLossGuard"
        interval: 300
    }

    Shortcut {
        sequence: "Esc"
        onActivated: pop.hide()
    }

    Timer {
        interval: 1000
        repeat: true
        running: pop.visible && pop.connected
        onTriggered: pop.nowMs = Date.now()
    }

    PanelShadow {
        anchors.fill: card
        source: card
        shadowBlur: 0.8
        shadowOpacity: 0.5
        shadowVerticalOffset: 2
    }

    Rectangle {
        id: card
        objectName: "card"
        anchors.fill: parent
        anchors.margins: 8
        radius: 14
        color: appSettings.bg
        border.width: 1
        border.color: appSettings.border

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 12
            spacing: 8

            RowLayout {
                Layout.fillWidth: true
                spacing: 8

                Rectangle {
                    objectName: "stateDot"
                    implicitWidth: 10
                    implicitHeight: 10
                    radius: 5
                    color: pop.connected ? appSettings.success
                         : pop.busy ? appSettings.warning
                         : pipeClient.vpnState === "failed" ? appSettings.danger
                         : appSettings.fgMuted

                    Behavior on color { ColorAnimation { duration: 200 } }
                }

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 0

                    Text {
                        objectName: "stateLine"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        Layout.fillWidth: true
                        elide: Text.ElideRight
                        color: appSettings.fg
                        font.pixelSize: 13
                        font.bold: true
                        text: pop.connected ? appSettings.t["statusProtected"]
                            : pipeClient.vpnState === "connecting" ? appSettings.t["statusConnecting"]
                            : pipeClient.vpnState === "reconnecting" ? appSettings.t["statusReconnecting"]
                            : pipeClient.vpnState === "failed" ? appSettings.t["connectionFailed"]
                            : appSettings.t["statusNotConnected"]
                    }

                    Text {
                        objectName: "sessionLine"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        Layout.fillWidth: true
                        visible: pop.connected
                        color: appSettings.fgMuted
                        font.pixelSize: 11
                        text: Fmt.duration(pipeClient.connectedSince, pop.nowMs)
                    }
                }

                Text {
                    objectName: "versionLabel"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    // The daemon's word: cut short here, whole in the settings.
                    Layout.maximumWidth: 90
                    elide: Text.ElideRight
                    color: appSettings.fgMuted
                    font.pixelSize: 10
                    textFormat: Text.PlainText // the daemon's text: never markup
                    text: trayManager.version.length > 0 ? "v" + trayManager.version : ""
                }
            }

            Rectangle {
                objectName: "speedStrip"
                Layout.fillWidth: true
                Layout.preferredHeight: 36
                visible: pop.connected
                radius: 10
                color: appSettings.surface
                border.width: 1
                border.color: appSettings.border

                Item {
                    id: speedRow
                    anchors.fill: parent
                    anchors.leftMargin: 12
                    anchors.rightMargin: 12

                    readonly property real share: (width - divider.width) / 2

                    Text {
                        objectName: "downSpeed"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        width: speedRow.share
                        height: parent.height
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        elide: Text.ElideRight
                        color: appSettings.success
                        font.pixelSize: 12
                        font.bold: true
                        text: "↓ " + Fmt.speed(pipeClient.downSpeed)
                    }

                    Rectangle {
                        id: divider
                        x: speedRow.share
                        y: 9
                        width: 1
                        height: speedRow.height - 18
                        color: appSettings.border
                    }

                    Text {
                        objectName: "upSpeed"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        x: speedRow.share + divider.width
                        width: speedRow.share
                        height: parent.height
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        elide: Text.ElideRight
                        color: appSettings.fgMuted
                        font.pixelSize: 12
                        font.bold: true
                        text: "↑ " + Fmt.speed(pipeClient.upSpeed)
                    }
                }
            }

            Item {
                Layout.fillHeight: true
            }

            PrimaryButton {
                objectName: "actionButton"
                Layout.fillWidth: true
                Layout.preferredHeight: 34
                fontSize: 13
                enabled: !pop.busy && pipeClient.authenticated
                text: pop.connected ? appSettings.t["disconnect"]
                    : pop.busy ? appSettings.t["pleaseWait"]
                    : appSettings.t["connect"]
                baseColor: pop.connected ? appSettings.danger : appSettings.accent
                onClicked: {
                    if (pop.connected)
                        pipeClient.sendDisconnect();
                    else
                        pipeClient.sendConnect(appSettings.whitelist, appSettings.games);
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 8

                PrimaryButton {
                    objectName: "openButton"
                    Layout.fillWidth: true
                    Layout.preferredHeight: 28
                    fontSize: 12
                    baseColor: appSettings.surfaceAlt
                    textColor: appSettings.fg
                    text: appSettings.t["trayOpen"]
                    onClicked: {
                        pop.hide();
                        trayManager.showRequested();
                    }
                }

                PrimaryButton {
                    objectName: "quitButton"
                    Layout.preferredWidth: 80
                    Layout.preferredHeight: 28
                    fontSize: 12
                    baseColor: appSettings.surfaceAlt
                    textColor: appSettings.fgMuted
                    text: appSettings.t["quit"]
                    onClicked: trayManager.quitRequested()
                }
            }
        }
    }
}
