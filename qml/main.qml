import QtQuick
import qml

// The one main window: a frameless, transparent window that draws its own
// rounded panel, title bar and one of four screens. A plain Window: an
// ApplicationWindow would load a Qt Quick Controls style that nothing here uses.
Window {
    id: root

    visible: false
    width: 400
    height: 620
    // One fixed size, the smallest and the largest: tiling window managers
    // (i3, sway) float such a window instead of stretching it over the screen.
    minimumWidth: 400
    minimumHeight: 620
    maximumWidth: 400
    maximumHeight: 620
    flags: Qt.Window | Qt.FramelessWindowHint
    color: "transparent"
    title: "Kestrix"

    // Which screen a signed-in user wants: "main" or "settings".
    property string screen: "main"

    // Set by main() until the window's first frame is out: that frame shows
    // the panel and title bar, and the screen is made after it.
    property bool holdScreen: false

    // The screen shown: signed out beats everything, then the settings choice,
    // then a failed connection.
    readonly property string chosenScreen: !pipeClient.authenticated ? "login"
                                           : root.screen === "settings" ? "settings"
                                           : pipeClient.vpnState === "failed" ? "error"
                                           : "main"

    // Asking for a family that is not installed makes the font database
    // search aliases and complain, so fall back to the platform's sans-serif.
    readonly property string fontFamily: root.hasFontFamily("Segoe UI") ? "Segoe UI"
                                                                        : defaultFont.font.family

    function hasFontFamily(name) {
        const families = Qt.fontFamilies()
        for (let i = 0; i < families.length; ++i) {
            if (families[i] === name)
                return true
        }
        return false
    }

    function showAndRaise() {
        root.minimizedForTray = false // asked for: it stays when a tray comes
        pipeClient.retryNow() // the user is back: an unreachable daemon is tried at once
        // A minimised window counts as visible: showing it alone would leave
        // it on the taskbar, so it is brought back as well.
        if (root.visibility === Window.Minimized)
            root.showNormal()
        else
            root.show()
        root.raise()
        root.requestActivate()
        root.focusScreen()
    }

    // A window brought up gives the keyboard its screen, not a control: a
    // screen reader meets the window and the screen first, and the first Tab
    // goes to the screen's first control. No ring until the keyboard is used.
    function focusScreen() {
        screenStart.forceActiveFocus(Qt.OtherFocusReason)
    }

    // The VPN state in words, for those who do not see the dot's colour.
    readonly property string stateText: {
        switch (pipeClient.vpnState) {
        case "connected": return appSettings.t.statusProtected
        case "connecting": return appSettings.t.statusConnecting
        case "reconnecting": return appSettings.t.statusReconnecting
        case "failed": return appSettings.t.connectionFailed
        default: return appSettings.t.statusNotConnected
        }
    }

    // The title bar's settings button: to the settings, or back from them.
    function toggleSettings() {
        root.screen = root.screen === "settings" ? "main" : "settings"
    }

    // Without a system tray the window is the only way back to the
    // application, so closing it quits, the way the popup's Quit does.
    function closeWindow() {
        trayManager.refreshTrayAvailable()
        if (trayManager.trayAvailable)
            root.hide()
        else
            trayManager.quitRequested()
    }

    // Shown minimised on the taskbar because there is no tray to hide in:
    // the window goes into the first tray that comes, whatever the window
    // manager made of the minimising (sway never minimises; Cinnamon does so
    // only a moment later).
    property bool minimizedForTray: false

    function showMinimizedForTray() {
        root.minimizedForTray = true
        root.showMinimized()
    }

    // A click on a tray icon can give the focus to the panel before the
    // click reaches us (Plasma, GNOME): a window that lost it this shortly
    // before still counts as active.
    property int trayFocusGraceMs: 500
    property double deactivatedAt: 0
    onActiveChanged: {
        if (!root.active)
            root.deactivatedAt = Date.now()
    }

    function toggleWindow() {
        const justActive = root.visibility !== Window.Minimized
                           && Date.now() - root.deactivatedAt < root.trayFocusGraceMs
        if (root.visible && (root.active || justActive))
            root.hide()
        else
            root.showAndRaise()
    }

    // A text left at its defaults carries the application's font.
    Text {
        id: defaultFont
        visible: false
    }

    Shortcut {
        sequence: "Esc"
        enabled: root.chosenScreen === "settings"
        onActivated: {
            root.toggleSettings()
            settingsButton.forceActiveFocus(Qt.ShortcutFocusReason)
        }
    }

    onClosing: (close) => {
        close.accepted = false
        root.closeWindow()
    }

    Connections {
        target: trayManager

        function onPopupRequested(anchorX, anchorY) {
            root.togglePopup(anchorX, anchorY)
        }

        function onShowRequested() {
            if (root.trayPopup)
                root.trayPopup.hide()
        }

        // The tray went away while the window was hidden in it: keep the
        // application within reach on the taskbar. One that comes takes back
        // a window that went there for want of a tray.
        function onTrayAvailableChanged() {
            if (trayManager.trayAvailable) {
                if (root.minimizedForTray) {
                    root.minimizedForTray = false
                    root.hide()
                }
            } else if (!root.visible) {
                root.showMinimizedForTray()
            }
        }
    }

    // The tray popup is made from its file on its first use: many sessions
    // never open it, and its types are not compiled in until then.
    property var trayPopup: null

    // A click on the tray icon: the popup beside it, or away again.
    function togglePopup(anchorX, anchorY) {
        const popup = root.trayPopupWindow()
        if (popup.visible)
            popup.hide()
        else
            popup.openAt(anchorX, anchorY)
    }

    function trayPopupWindow() {
        if (!root.trayPopup) {
            const component = Qt.createComponent("TrayPopup.qml")
            // A window of its own, not a transient of this (often hidden) one.
            root.trayPopup = component.createObject(root, { objectName: "trayPopup",
                                                            transientParent: null })
        }
        return root.trayPopup
    }

    PanelShadow {
        anchors.fill: panel
        source: panel
        shadowBlur: 0.9
        shadowOpacity: 0.45
        shadowVerticalOffset: 3
    }

    Rectangle {
        id: panel
        objectName: "panel"
        // From the window's size: a Window that was never shown leaves its
        // content item at 0 x 0, and the screens are laid out before that.
        x: 10
        y: 10
        width: root.width - 20
        height: root.height - 20
        radius: 16
        color: appSettings.bg
        border.width: 1
        border.color: appSettings.border

        // Opaque and square from under the title bar to above the lower
        // corners: the renderers skip what it hides (the shadow's middle and
        // the panel's blended fill), which is most of the window's pixels.
        Rectangle {
            x: 1
            y: 45
            width: parent.width - 2
            height: parent.height - 45 - parent.radius
            color: parent.color
        }

        Column {
            anchors.fill: parent
            anchors.margins: 1

            Item {
                id: titleBar
                objectName: "titleBar"
                width: parent.width
                height: 44

                // Rounded at the top only: a rounded fill with its lower
                // corners squared off by a plain one.
                Rectangle {
                    anchors.fill: parent
                    radius: 15
                    color: appSettings.surface
                }
                Rectangle {
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    height: 15
                    color: appSettings.surface
                }

                // Behind everything else, so the logo, dot and title drag too.
                MouseArea {
                    anchors.fill: parent
                    onPressed: root.startSystemMove()
                }

                Row {
                    anchors.left: parent.left
                    anchors.leftMargin: 12
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 8

                    Image {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 26
                        height: 26
                        // logo.png drawn at 52 px by tools/icons: decoding
                        // the full-size image took longer than the window.
                        source: "qrc:/logo-52.png"
                        asynchronous: true // the first frame does not wait for it
                        sourceSize.width: 52
                        sourceSize.height: 52
                        fillMode: Image.PreserveAspectFit
                        smooth: true
                    }

                    Rectangle {
                        objectName: "stateDot"
                        anchors.verticalCenter: parent.verticalCenter
                        width: 8
                        height: 8
                        radius: 4
                        // The colour says the state; so does the name, and its
                        // change is how a screen reader hears of a new state.
                        Accessible.role: Accessible.StaticText
                        Accessible.name: root.stateText
                        color: {
                            switch (pipeClient.vpnState) {
                            case "connected": return appSettings.success
                            case "connecting":
                            case "reconnecting": return appSettings.warning
                            case "failed": return appSettings.danger
                            default: return appSettings.fgMuted
                            }
                        }
                    }

                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "Kestrix"
                        color: appSettings.fg
                        font.family: root.fontFamily
                        font.pixelSize: 14
                        font.bold: true
                    }
                }

                Row {
                    anchors.right: parent.right
                    anchors.rightMargin: 8
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 2

                    IconButton {
                        id: settingsButton
                        objectName: "settingsButton"
                        width: 46
                        glyphSize: 20
                        baseColor: appSettings.surfaceAlt
                        visible: pipeClient.authenticated
                        symbol: root.screen === "settings" ? "←" : "⚙"
                        glyphColor: root.screen === "settings" || pipeClient.updateAvailable
                                    ? appSettings.accent : appSettings.fg
                        onClicked: root.toggleSettings()
                        Accessible.name: root.screen === "settings" ? appSettings.t.back : appSettings.t.settings
                        Accessible.description: pipeClient.updateAvailable ? appSettings.t.updateAvailable : ""

                        Rectangle {
                            id: updateBadge
                            objectName: "updateBadge"
                            anchors.top: parent.top
                            anchors.topMargin: 3
                            anchors.right: parent.right
                            anchors.rightMargin: 6
                            width: 9
                            height: 9
                            radius: 4.5
                            color: appSettings.accent
                            border.width: 1
                            border.color: appSettings.surface
                            visible: pipeClient.updateAvailable && root.screen !== "settings"

                            SequentialAnimation on opacity {
                                running: updateBadge.visible && root.visible
                                         && root.visibility !== Window.Minimized
                                loops: Animation.Infinite
                                NumberAnimation { from: 1.0; to: 0.35; duration: 900; easing.type: Easing.InOutSine }
                                NumberAnimation { from: 0.35; to: 1.0; duration: 900; easing.type: Easing.InOutSine }
                            }
                        }
                    }

                    IconButton {
                        objectName: "minimizeButton"
                        symbol: "—"
                        onClicked: root.showMinimized()
                        Accessible.name: appSettings.t.minimise
                    }

                    IconButton {
                        objectName: "closeButton"
                        symbol: "✕"
                        hoverColor: appSettings.danger
                        onClicked: root.closeWindow()
                        Accessible.name: appSettings.t.close
                    }
                }
            }

            // Where the keyboard rests when the window comes up: just before
            // the screen's first control, named by the screen's heading (the
            // state, on the main screen). Takes no room, and does not fade
            // with the screen, so a screen reader always finds it shown.
            Item {
                id: screenStart
                objectName: "screenStart"
                width: parent.width
                height: 0
                // Not a stop of the Tab chain itself, so it moves on by hand:
                // a Tab would otherwise start over from the window's top.
                Keys.onTabPressed: screenStart.nextItemInFocusChain(true).forceActiveFocus(Qt.TabFocusReason)
                Keys.onBacktabPressed: screenStart.nextItemInFocusChain(false).forceActiveFocus(Qt.BacktabFocusReason)
                Accessible.role: Accessible.Pane
                Accessible.name: {
                    switch (root.chosenScreen) {
                    case "login": return appSettings.t.loginTitle
                    case "settings": return appSettings.t.settings
                    case "error": return appSettings.t.connectionFailed
                    default: return root.stateText
                    }
                }
            }

            Loader {
                id: content
                objectName: "content"
                width: parent.width
                height: parent.height - 44
                // Each screen is made from its file when first wanted, so that
                // its types are compiled in then and not before the first frame.
                readonly property string screenFile: {
                    switch (root.chosenScreen) {
                    case "login": return "LoginScreen.qml"
                    case "settings": return "SettingsScreen.qml"
                    case "error": return "ErrorScreen.qml"
                    default: return "MainScreen.qml"
                    }
                }
                // Set, not bound: the font is the screen's from its first line.
                onScreenFileChanged: content.setSource(screenFile, { fontFamily: root.fontFamily })
                Component.onCompleted: content.setSource(screenFile, { fontFamily: root.fontFamily })
                // The first screen is made between the first frames: it fades
                // in from nothing anyway, and the window appears without
                // waiting for it. Later screens are made at once.
                active: !root.holdScreen
                asynchronous: !firstScreenMade
                property bool firstScreenMade: false
                // Only a new screen fades in; the same screen keeps its instance.
                onLoaded: {
                    firstScreenMade = true
                    fade.restart()
                }

                Connections {
                    target: content.item
                    ignoreUnknownSignals: true

                    // The settings' back button and their log-out.
                    function onBack() {
                        root.screen = "main"
                    }
                }

                NumberAnimation {
                    id: fade
                    objectName: "fade"
                    target: content
                    property: "opacity"
                    from: 0.0
                    to: 1.0
                    duration: 180
                    easing.type: Easing.OutQuad
                }
            }
        }
    }
}
