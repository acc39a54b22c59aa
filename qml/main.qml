import QtQuick
import QtQuick.Window

// Minimal root window until the full interface lands.
Window {
    id: root
    width: 380
    height: 620
    visible: false
    title: "Kestrix"

    function showAndRaise() {
        root.show()
        root.raise()
        root.requestActivate()
    }

    function toggleWindow() {
        if (root.visible && root.active)
            root.hide()
        else
            showAndRaise()
    }
}
