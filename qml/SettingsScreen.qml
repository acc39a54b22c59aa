import QtQuick
import QtQuick.Layouts

// Everything the user can change besides connecting. The kill-switch mode
// belongs to the daemon and the preferences to appSettings: every control
// only asks, and follows its model when the change comes back.
Flickable {
    id: settings
    objectName: "settingsScreen"

    property string fontFamily: "Segoe UI"

    signal back()

    // Set once by a click or a finished report; until then the status line
    // follows the language.
    property string diagStatus: ""

    contentWidth: width
    contentHeight: column.height
    clip: true
    boundsBehavior: Flickable.StopAtBounds

    // The keyboard's focus scrolls into view.
    readonly property Item focusedItem: Window.activeFocusItem
    onFocusedItemChanged: settings.scrollTo(settings.focusedItem)

    function inColumn(target) {
        for (let item = target; item; item = item.parent) {
            if (item === column)
                return true
        }
        return false
    }

    function scrollTo(target) {
        if (!settings.inColumn(target))
            return
        const margin = 12
        const top = target.mapToItem(column, 0, 0).y - margin
        const bottom = top + target.height + 2 * margin
        const maxY = Math.max(0, settings.contentHeight - settings.height)
        if (top < settings.contentY)
            settings.contentY = Math.max(0, top)
        else if (bottom > settings.contentY + settings.height)
            settings.contentY = Math.min(maxY, bottom - settings.height)
    }

    // Where the last report went, in the platform's own spelling; "" until then.
    property string diagPath: ""
    readonly property int diagCut: Math.max(diagPath.lastIndexOf("/"), diagPath.lastIndexOf("\\"))
    // A root keeps its separator: "/" or "C:\".
    readonly property string diagFolder: {
        const folder = diagPath.slice(0, Math.max(diagCut, 0))
        return folder === "" || folder.endsWith(":") ? diagPath.slice(0, diagCut + 1) : folder
    }

    Connections {
        target: pipeClient
        function onDiagReady(destPath) {
            settings.diagPath = Qt.platform.os === "windows" ? destPath.replace(/\//g, "\\")
                                                              : destPath
            // The file's name here, its folder on the line below: a whole path
            // is too long for the card, and its end alone hides the folder.
            settings.diagStatus = appSettings.t.saveDiagDone + ": "
                                  + settings.diagPath.slice(settings.diagCut + 1)
        }
    }

    Column {
        id: column
        width: settings.width
        spacing: 12

        Item { width: 1; height: 24 }

        Text {
            x: 24
            text: appSettings.t.settings
            color: appSettings.fg
            font.family: settings.fontFamily
            font.pixelSize: 20
            font.bold: true
        }

        Card {
            objectName: "killSwitchCard"
            height: 88

            Column {
                anchors.fill: parent
                anchors.leftMargin: 16
                anchors.rightMargin: 16
                anchors.topMargin: 12
                anchors.bottomMargin: 12
                spacing: 8

                Text {
                    text: appSettings.t.killSwitch
                    color: appSettings.fg
                    font.family: settings.fontFamily
                    font.pixelSize: 14
                    font.bold: true
                }

                Row {
                    spacing: 6
                    Segment {
                        fontFamily: settings.fontFamily
                        objectName: "ksNever"
                        mode: "never"
                        label: appSettings.t.ksOff
                        Accessible.description: appSettings.t.killSwitchNever
                    }
                    Segment {
                        fontFamily: settings.fontFamily
                        objectName: "ksOnConnect"
                        mode: "on_connect"
                        label: appSettings.t.ksOn
                        Accessible.description: appSettings.t.killSwitchOnConnect
                    }
                    Segment {
                        fontFamily: settings.fontFamily
                        objectName: "ksAlways"
                        mode: "always"
                        label: appSettings.t.ksAlways
                        Accessible.description: appSettings.t.killSwitchAlways
                    }
                }
            }
        }

        SwitchCard {
            fontFamily: settings.fontFamily
            objectName: "themeCard"
            title: appSettings.t.darkTheme
            description: appSettings.darkTheme ? appSettings.t.darkOn : appSettings.t.darkOff
            checked: appSettings.darkTheme
            onToggled: (value) => appSettings.setDarkTheme(value)
        }

        SwitchCard {
            fontFamily: settings.fontFamily
            objectName: "autostartCard"
            title: appSettings.t.startWithWindows
            description: appSettings.t.startWithWindowsDesc
            checked: appSettings.autostart
            onToggled: (value) => appSettings.setAutostart(value)
        }

        SwitchCard {
            fontFamily: settings.fontFamily
            objectName: "whitelistCard"
            title: appSettings.t.whitelist
            description: appSettings.t.whitelistDesc
            checked: appSettings.whitelist
            onToggled: (value) => appSettings.setWhitelist(value)
        }

        SwitchCard {
            fontFamily: settings.fontFamily
            objectName: "gamesCard"
            title: appSettings.t.games
            description: appSettings.t.gamesDesc
            checked: appSettings.games
            onToggled: (value) => appSettings.setGames(value)
        }

        Card {
            objectName: "languageCard"
            height: 66

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 16
                anchors.rightMargin: 16
                spacing: 12

                Text {
                    Layout.fillWidth: true
                    text: appSettings.t.language
                    color: appSettings.fg
                    font.family: settings.fontFamily
                    font.pixelSize: 14
                    font.bold: true
                    elide: Text.ElideRight
                }

                Row {
                    spacing: 6
                    LanguageButton {
                        fontFamily: settings.fontFamily
                        objectName: "settingsLanguageEn"
                        code: "en"
                        label: "EN"
                        Accessible.name: appSettings.t.languageEnglish
                    }
                    LanguageButton {
                        fontFamily: settings.fontFamily
                        objectName: "settingsLanguageRu"
                        code: "ru"
                        label: "RU"
                        Accessible.name: appSettings.t.languageRussian
                    }
                }
            }
        }

        Card {
            objectName: "diagCard"
            height: 66

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 16
                anchors.rightMargin: 16
                spacing: 12

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 2

                    Text {
                        Layout.fillWidth: true
                        text: appSettings.t.saveDiag
                        color: appSettings.fg
                        font.family: settings.fontFamily
                        font.pixelSize: 14
                        font.bold: true
                        elide: Text.ElideRight
                    }

                    // Cut in the middle when too long: a file name keeps its
                    // end, and a folder the part that says where to look.
                    Text {
                        objectName: "diagStatus"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        Accessible.description: settings.diagPath
                        Layout.fillWidth: true
                        text: settings.diagStatus !== "" ? settings.diagStatus : appSettings.t.saveDiagDesc
                        textFormat: Text.PlainText
                        color: appSettings.fgMuted
                        font.family: settings.fontFamily
                        font.pixelSize: 11
                        elide: Text.ElideMiddle
                    }

                    Text {
                        objectName: "diagFolder"
                        Accessible.ignored: true // the status line's description says it whole
                        Layout.fillWidth: true
                        visible: settings.diagPath !== ""
                        text: settings.diagFolder
                        textFormat: Text.PlainText
                        color: appSettings.fgMuted
                        font.family: settings.fontFamily
                        font.pixelSize: 11
                        elide: Text.ElideMiddle
                    }
                }

                PrimaryButton {
                    objectName: "diagButton"
                    Layout.preferredWidth: 120
                    Layout.preferredHeight: implicitHeight
                    baseColor: appSettings.surfaceAlt
                    textColor: appSettings.fg
                    text: appSettings.t.saveDiag
                    onClicked: {
                        pipeClient.sendGetDiag()
                        settings.diagStatus = "…"
                        settings.diagPath = ""
                    }
                }
            }
        }

        Card {
            id: updateBanner
            objectName: "updateBanner"
            height: 54
            visible: pipeClient.updateAvailable
            border.color: appSettings.accent

            readonly property bool updating: pipeClient.isUpdating
            readonly property bool ready: pipeClient.updateReady

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 16
                anchors.rightMargin: 12
                spacing: 12

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 3

                    Text {
                        objectName: "updateStatus"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        Layout.fillWidth: true
                        text: {
                            if (updateBanner.ready)
                                return updateBanner.updating ? appSettings.t.installing
                                                             : appSettings.t.updateReadyText
                            if (updateBanner.updating)
                                return pipeClient.updateProgress < 100
                                        ? appSettings.t.downloading + " " + pipeClient.updateProgress + "%"
                                        : appSettings.t.installing
                            return appSettings.t.updateAvailable + " " + pipeClient.updateVersion
                        }
                        textFormat: Text.PlainText
                        color: appSettings.accent
                        font.family: settings.fontFamily
                        font.pixelSize: 13
                        font.bold: true
                        elide: Text.ElideRight
                    }

                    Rectangle {
                        id: progressTrack
                        objectName: "updateProgressBar"
                        Layout.fillWidth: true
                        Layout.preferredHeight: 4
                        visible: updateBanner.updating && !updateBanner.ready
                        radius: 2
                        color: appSettings.surfaceAlt

                        Rectangle {
                            objectName: "updateProgressFill"
                            height: parent.height
                            radius: 2
                            color: appSettings.accent
                            width: progressTrack.width * Math.max(0, Math.min(100, pipeClient.updateProgress)) / 100

                            Behavior on width {
                                NumberAnimation { duration: 150 }
                            }
                        }
                    }
                }

                PrimaryButton {
                    objectName: "updateButton"
                    Layout.preferredWidth: 100
                    Layout.preferredHeight: 32
                    Layout.alignment: Qt.AlignVCenter
                    visible: !updateBanner.updating && !updateBanner.ready
                    fontSize: 13
                    baseColor: appSettings.accent
                    textColor: appSettings.accentText
                    text: appSettings.t.installUpdate
                    onClicked: pipeClient.sendInstallUpdate()
                }

                PrimaryButton {
                    objectName: "restartButton"
                    Layout.preferredWidth: 140
                    Layout.preferredHeight: 32
                    Layout.alignment: Qt.AlignVCenter
                    visible: updateBanner.ready && !updateBanner.updating
                    fontSize: 13
                    baseColor: appSettings.accent
                    textColor: appSettings.accentText
                    text: appSettings.t.restartNow
                    onClicked: pipeClient.sendApplyUpdate()
                }
            }
        }

        Text {
            objectName: "daemonLine"
            width: column.width
            horizontalAlignment: Text.AlignHCenter
            text: appSettings.t.daemon + " " + (trayManager.version !== "" ? "v" + trayManager.version : "—")
            textFormat: Text.PlainText
            // The daemon's word, of any length: wrapped, and the screen scrolls.
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            color: appSettings.fgMuted
            font.family: settings.fontFamily
            font.pixelSize: 11
        }

        PrimaryButton {
            objectName: "logOutButton"
            x: 24
            width: column.width - 48
            baseColor: appSettings.surfaceAlt
            textColor: appSettings.fg
            text: appSettings.t.logOut
            onClicked: {
                pipeClient.sendLogout()
                settings.back()
            }
        }

        Item { width: 1; height: 24 }
    }

    component Card: Rectangle {
        x: 24
        width: parent ? parent.width - 48 : 0
        radius: 12
        color: appSettings.surface
        border.width: 1
        border.color: appSettings.border
    }

    // A preference card: title and description at the left, a switch at the
    // right. Grows beyond its usual height only when a long description needs it.
    component SwitchCard: Card {
        id: switchCard
        property string fontFamily: "Segoe UI"
        property string title
        property string description
        property bool checked
        signal toggled(bool value)

        height: Math.max(66, switchRow.implicitHeight + 20)

        RowLayout {
            id: switchRow
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.leftMargin: 16
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            spacing: 12

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2

                Text {
                    Layout.fillWidth: true
                    text: switchCard.title
                    color: appSettings.fg
                    font.family: switchCard.fontFamily
                    font.pixelSize: 14
                    font.bold: true
                    elide: Text.ElideRight
                }

                Text {
                    Layout.fillWidth: true
                    text: switchCard.description
                    color: appSettings.fgMuted
                    font.family: switchCard.fontFamily
                    font.pixelSize: 11
                    wrapMode: Text.WordWrap
                }
            }

            ToggleSwitch {
                objectName: switchCard.objectName + "Switch"
                Layout.alignment: Qt.AlignVCenter
                checked: switchCard.checked
                onToggled: (value) => switchCard.toggled(value)
                Accessible.name: switchCard.title
                Accessible.description: switchCard.description
            }
        }
    }

    component Segment: Rectangle {
        id: segment
        property string fontFamily: "Segoe UI"
        property string mode
        property string label
        readonly property bool active: pipeClient.killSwitchMode === mode

        // What a click does; Space, Enter and the accessible actions do the
        // same. The highlight follows the daemon's answer, not the request.
        function activate() {
            pipeClient.sendSetKillSwitchMode(segment.mode)
        }

        activeFocusOnTab: true
        Accessible.role: Accessible.RadioButton
        Accessible.name: segment.label
        Accessible.checkable: true
        Accessible.checked: segment.active
        Accessible.focusable: true
        // Named functions, not Accessible handlers: the role lists its
        // actions already, and a handler would list its action twice.
        function accessiblePressAction() { segment.activate() }
        function accessibleToggleAction() { segment.activate() }

        width: 66
        height: 26
        radius: 8
        border.width: 1
        color: active ? appSettings.accent : appSettings.surfaceAlt
        border.color: active ? appSettings.accent : appSettings.border

        Text {
            anchors.centerIn: parent
            width: Math.min(implicitWidth, segment.width - 8)
            horizontalAlignment: Text.AlignHCenter
            text: segment.label
            color: segment.active ? appSettings.accentText : appSettings.fgMuted
            font.family: segment.fontFamily
            font.pixelSize: 11
            font.bold: true
            elide: Text.ElideRight
            Accessible.ignored: true
        }

        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: segment.activate()
        }

        FocusRing {
            cornerRadius: segment.radius
            arrowsMoveBetweenSiblings: true
            onActivated: segment.activate()
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

        width: 44
        height: 30
        radius: 8
        border.width: 1
        color: active ? appSettings.accent : appSettings.surfaceAlt
        border.color: active ? appSettings.accent : appSettings.border

        Text {
            anchors.centerIn: parent
            text: languageButton.label
            color: languageButton.active ? appSettings.accentText : appSettings.fgMuted
            font.family: languageButton.fontFamily
            font.pixelSize: 12
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
