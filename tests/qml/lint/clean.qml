import QtQuick

// Context objects and an id reached from an explicit Component: both resolve.
Item {
    id: root
    property string title: "x"

    Component {
        id: delegate
        Text {
            text: root.title + appSettings.t["quit"]
            color: appSettings.fg
        }
    }
}
