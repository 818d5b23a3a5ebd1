import QtQuick 2.0
import "content"

// "ListView" here is the screen from content/, which shadows the framework
// type of the same name because it is imported later.
Rectangle {
    width: 320
    height: mainScreen.height
    color: "#d6d6d6"

    ListView {
        id: mainScreen
    }
}
