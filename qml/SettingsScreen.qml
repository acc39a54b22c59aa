import QtQuick

// Placeholder until this component is built.
Item {}
