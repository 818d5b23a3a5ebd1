import QtQuick 2.0
import ModuleThatDoesNotExist 1.0

Rectangle {
    width: 320
