# The resource list: every file compiled into the application.
#
# QML files and format.js live in qml/ and are served under "qrc:/qml/";
# the images live here and are served at the resource root ("qrc:/logo.png",
# ":/icon.png"). The QML is compiled ahead of time by qmlcachegen.

set(KESTRIX_QML_FILES
    main.qml
    LoginScreen.qml
    MainScreen.qml
    SettingsScreen.qml
    ErrorScreen.qml
    TrayPopup.qml
    IconButton.qml
    PrimaryButton.qml
    ToggleSwitch.qml
    SpoilerText.qml
)

# Script libraries served beside the QML files.
set(KESTRIX_QML_SCRIPTS
    format.js
)

set(KESTRIX_IMAGE_FILES
    icon.png
    logo.png
)
