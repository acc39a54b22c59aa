# The resource list: every file compiled into the application.
#
# QML files and format.js live in qml/ and are served under "qrc:/qml/";
# the images live here and are served at the resource root ("qrc:/logo-52.png",
# ":/icon-256.png"). The QML is compiled ahead of time by qmlcachegen.

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
    PanelShadow.qml
    BoundedText.qml
    FocusRing.qml
)

# Script libraries served beside the QML files.
set(KESTRIX_QML_SCRIPTS
    format.js
)

# Graphical-effect wrappers, each served as "qrc:/qml/<Name>.qml". Every one
# has two implementations, qml/effects/multieffect/<Name>.qml (Qt Quick
# Effects, Qt 6.5 on) and qml/effects/compat/<Name>.qml (Qt5Compat
# GraphicalEffects); qml/CMakeLists.txt compiles in the one this Qt supports.
set(KESTRIX_QML_EFFECTS
    SpoilerBlur
)

# icon.png and logo.png themselves stay out: only the installed icons and
# tools/icons read them, and every page of the program is memory at run time.
set(KESTRIX_IMAGE_FILES
    # logo.png and icon.png made small by tools/icons/make-icons: the title
    # bar's logo and the window and tray icons, cheap to decode at start.
    logo-52.png
    icon-256.png
    # Panel shadows, drawn by tools/icons/make-icons (PanelShadow.qml).
    panelshadow-r16-b29.png
    panelshadow-r14-b26.png
)
