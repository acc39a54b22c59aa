import QtQuick
import QtQuick.Window

// Placeholder until the tray popup is built.
Window {}
