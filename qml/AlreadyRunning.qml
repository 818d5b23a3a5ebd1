import QtQuick 2.0
import QtQuick.Window 2.2

// Shown instead of the main screen when another window already works in this
// folder: both would stage their images in the same file.
Window {
    id: notice

    property string folder: ""

    title: "ZUDiruv is already running"
    width: 360
    height: 190
    minimumWidth: width
    maximumWidth: width
    minimumHeight: height
    maximumHeight: height
    color: "#d6d6d6"
    visible: true
    // Takes the keyboard, so that Return or Escape closes it at once.
    Component.onCompleted: requestActivate()

    Item {
        anchors.fill: parent
        focus: true
        Keys.onPressed: {
            if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter || event.key === Qt.Key_Escape
                    || event.key === Qt.Key_Space)
                notice.close()
        }

        Text {
            anchors { left: parent.left; right: parent.right; top: parent.top; margins: 16 }
            wrapMode: Text.Wrap
            font.pixelSize: 15
            color: "#333333"
            text: "ZUDiruv is already running in this folder:\n" + notice.folder
                  + "\n\nUse the window that is open, or start ZUDiruv in another folder."
        }

        Rectangle {
            anchors { right: parent.right; bottom: parent.bottom; margins: 16 }
            width: 90
            height: 36
            color: "#69C56E"

            Text {
                anchors.centerIn: parent
                font.pixelSize: 18
                color: "#ffffff"
                text: "OK"
            }
            MouseArea {
                anchors.fill: parent
                onClicked: notice.close()
            }
        }
    }
}
