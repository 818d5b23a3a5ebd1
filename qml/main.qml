import QtQuick 2.0
import "content"

Rectangle {
    width: 320
    height: screen.height
    color: "#d6d6d6"

    ListView {
        id: screen
    }
}
