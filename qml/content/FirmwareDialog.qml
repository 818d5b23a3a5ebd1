import QtQuick.Dialogs 1.2

// The dialog in which the user picks one firmware image. Without a
// platform dialog this builds Qt's whole fallback dialog, so the screen
// loads this file only when the dialog is first asked for.
FileDialog {
    objectName: "fileDialog"

    title: "Please choose a file"
    folder: shortcuts.home
    nameFilters: ["Binary Files (*.bin)"]
    selectMultiple: false
}
