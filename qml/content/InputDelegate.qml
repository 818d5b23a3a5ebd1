import QtQuick 2.0

Flipable {
    width: parent ? parent.width : 320
    height: 60
}
