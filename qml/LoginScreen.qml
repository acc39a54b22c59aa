import QtQuick
import qml

// Sign-in through the browser: asks the daemon to start or cancel a sign-in,
// hands the page it offers to the browser and counts down until it expires.
Item {
    id: login
    objectName: "loginScreen"

    property string loginUrl: ""
    property string expiresAt: ""
    property int remainingMs: 0
    property bool waitingForBrowser: false
    // The last sign-in ended because its page could not be opened.
    property bool pageFailed: false
    property string fontFamily: "Segoe UI"

    readonly property bool waiting: waitingForBrowser && remainingMs > 0
    readonly property bool expired: waitingForBrowser && remainingMs <= 0
    readonly property int secondsLeft: Math.floor(remainingMs / 1000)

    // Milliseconds from now until the expiry text, 0 when it is past or does
    // not parse, and never more than an int holds.
    function msUntil(expiresAt) {
        const expiry = new Date(expiresAt).getTime()
        if (isNaN(expiry))
            return 0
        return Math.min(2147483647, Math.max(0, Math.floor(expiry - Date.now())))
    }

    // Forgets the sign-in under way, if there is one, and closes its hand-off.
    function forgetSignIn() {
        signIn.end()
        countdown.stop()
        login.loginUrl = ""
        login.expiresAt = ""
        login.remainingMs = 0
        login.waitingForBrowser = false
    }

    // Asks the daemon for a sign-in; only its answer may open the browser.
    function startSignIn() {
        login.pageFailed = false
        signIn.start()
        pipeClient.sendLoginStart()
    }

    SignInSession {
        id: signIn
    }

    Connections {
        target: pipeClient

        function onBrowserOpened(loginUrl, expiresAt) {
            // The event comes from another process: it opens the browser only
            // for the sign-in asked for here, once, and only on the checked
            // form of a secure page (or of the development daemon on this
            // machine). Any other offer is not ours to show.
            const answer = signIn.offer(loginUrl, appSettings.t.signIn)
            if (answer === SignInSession.Ignored)
                return
            if (answer === SignInSession.Failed) {
                login.forgetSignIn()
                login.pageFailed = true
                pipeClient.sendLoginCancel() // nobody will finish it
                return
            }
            login.loginUrl = loginUrl
            login.expiresAt = expiresAt
            login.waitingForBrowser = true
            login.remainingMs = login.msUntil(expiresAt)
        }

        function onLoginFailed(error) {
            signIn.end()
            login.remainingMs = 0
            login.waitingForBrowser = false
        }

        function onLoginComplete() {
            signIn.end()
        }
    }

    // A new remaining time starts a fresh countdown; the ticks' own changes
    // must not restart it.
    property bool ticking: false
    onRemainingMsChanged: {
        if (ticking)
            return
        if (remainingMs > 0)
            countdown.restart()
        else
            countdown.stop()
    }

    Timer {
        id: countdown
        objectName: "countdown"
        interval: 1000
        repeat: true
        onTriggered: {
            login.ticking = true
            login.remainingMs = Math.max(0, login.remainingMs - 1000)
            login.ticking = false
            if (login.remainingMs === 0) {
                signIn.end()
                countdown.stop()
                login.waitingForBrowser = false
                pipeClient.sendLoginCancel()
            }
        }
    }

    // Declared first: the Tab order follows it, and it is first on the screen.
    Row {
        anchors.top: parent.top
        anchors.topMargin: 12
        anchors.right: parent.right
        anchors.rightMargin: 14
        spacing: 6
        z: 1

        LanguageButton {
            fontFamily: login.fontFamily
            objectName: "languageEn"
            code: "en"
            label: "EN"
            Accessible.name: appSettings.t.languageEnglish
        }
        LanguageButton {
            fontFamily: login.fontFamily
            objectName: "languageRu"
            code: "ru"
            label: "RU"
            Accessible.name: appSettings.t.languageRussian
        }
    }

    // The texts sit in the middle of the room the buttons leave above them.
    Column {
        id: texts
        x: 28
        y: Math.round(28 + 18 + Math.max(0, buttons.y - 28 - 3 * 18 - height) / 2)
        width: parent.width - 56
        spacing: 18

        Text {
            objectName: "loginTitle"
            width: parent.width
            text: appSettings.t.loginTitle
            color: appSettings.fg
            font.family: login.fontFamily
            font.pixelSize: 20
            font.bold: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
        }

        Text {
            objectName: "loginSubtitle"
            width: parent.width
            visible: !login.waitingForBrowser
            text: appSettings.t.loginSubtitle
            color: appSettings.fgMuted
            font.family: login.fontFamily
            font.pixelSize: 13
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
        }

        Text {
            objectName: "pageFailedLine"
            width: parent.width
            visible: login.pageFailed && !login.waitingForBrowser
            text: appSettings.t.signInPageFailed
            color: appSettings.danger
            font.family: login.fontFamily
            font.pixelSize: 13
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Text {
            objectName: "waitingLine"
            width: parent.width
            visible: login.waiting
            text: appSettings.t.waitingBrowser
            color: appSettings.fgMuted
            font.family: login.fontFamily
            font.pixelSize: 13
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
        }

        Text {
            objectName: "countdownLine"
            width: parent.width
            visible: login.waiting
            text: appSettings.t.expiresIn + " " + Math.floor(login.secondsLeft / 60) + ":"
                  + String(login.secondsLeft % 60).padStart(2, "0")
            color: login.secondsLeft <= 60 ? appSettings.danger
                   : login.secondsLeft <= 120 ? appSettings.warning
                   : appSettings.success
            font.family: login.fontFamily
            font.pixelSize: 15
            font.bold: true
            horizontalAlignment: Text.AlignHCenter
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        // After a whole quick round without an answer, until the daemon answers.
        Text {
            objectName: "unreachableLine"
            width: parent.width
            visible: pipeClient.daemonUnreachable
            text: appSettings.t.daemonUnreachable + "\n"
                  + (pipeClient.nextAttemptAt > 0
                     ? appSettings.t.nextAttemptAt + " "
                       + Qt.formatTime(new Date(pipeClient.nextAttemptAt), "HH:mm:ss")
                     : appSettings.t.statusConnecting)
            color: appSettings.warning
            font.family: login.fontFamily
            font.pixelSize: 13
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

    }

    Column {
        id: buttons
        x: 28
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 28
        width: parent.width - 56
        spacing: 18

        PrimaryButton {
            id: retryNowButton
            objectName: "retryNowButton"
            width: parent.width
            visible: pipeClient.daemonUnreachable
            baseColor: appSettings.surfaceAlt
            textColor: appSettings.fg
            text: appSettings.t.retryNow
            // Named, focused and pressed by keyboard or screen reader as
            // every button is.
            onClicked: pipeClient.retryNow()
        }

        PrimaryButton {
            objectName: "signInButton"
            width: parent.width
            visible: !login.waitingForBrowser
            text: appSettings.t.signIn
            onClicked: {
                pipeClient.retryNow() // the daemon out of reach: try it at once
                login.startSignIn()
            }
        }

        PrimaryButton {
            objectName: "cancelButton"
            width: parent.width
            visible: login.waiting
            baseColor: appSettings.surfaceAlt
            textColor: appSettings.fg
            text: appSettings.t.cancel
            onClicked: {
                login.forgetSignIn()
                pipeClient.sendLoginCancel()
            }
        }

        PrimaryButton {
            objectName: "tryAgainButton"
            width: parent.width
            visible: login.expired
            text: appSettings.t.tryAgain
            onClicked: {
                login.forgetSignIn()
                login.startSignIn()
            }
        }
    }

    component LanguageButton: Rectangle {
        id: languageButton
        property string fontFamily: "Segoe UI"
        property string code
        property string label
        readonly property bool active: appSettings.language === code

        // What a click does; Space, Enter and the accessible actions do the same.
        function activate() {
            appSettings.setLanguage(languageButton.code)
        }

        activeFocusOnTab: true
        Accessible.role: Accessible.RadioButton
        Accessible.checkable: true
        Accessible.checked: languageButton.active
        Accessible.focusable: true
        // Named functions, not Accessible handlers: the role lists its
        // actions already, and a handler would list its action twice.
        function accessiblePressAction() { languageButton.activate() }
        function accessibleToggleAction() { languageButton.activate() }

        width: 36
        height: 24
        radius: 6
        border.width: 1
        color: active ? appSettings.accent : "transparent"
        border.color: active ? appSettings.accent : appSettings.border

        Text {
            anchors.centerIn: parent
            text: languageButton.label
            color: languageButton.active ? appSettings.accentText : appSettings.fgMuted
            font.family: languageButton.fontFamily
            font.pixelSize: 11
            font.bold: true
            Accessible.ignored: true
        }

        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: languageButton.activate()
        }

        FocusRing {
            cornerRadius: languageButton.radius
            arrowsMoveBetweenSiblings: true
            onActivated: languageButton.activate()
        }
    }
}
