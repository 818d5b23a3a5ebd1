import QtQuick 2.0
import Flash 1.0
import Arp 1.0

Rectangle {
    color: "#d6d6d6"
    width: parent.width
    height: 550
    z: 2

    Arp { id: arp }
    Flash { id: f }
}
