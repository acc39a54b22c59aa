# The resource list: every file compiled into the application.
#
# QML files and format.js live in qml/ and are served under "qrc:/qml/";
# the images live here and are served at the resource root ("qrc:/logo.png",
# ":/icon.png"). The QML is compiled ahead of time by qmlcachegen.

set(KESTRIX_QML_FILES
    main.qml
)

# Script libraries served beside the QML files.
set(KESTRIX_QML_SCRIPTS
)

set(KESTRIX_IMAGE_FILES
    icon.png
    logo.png
)
