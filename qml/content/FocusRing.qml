import QtQuick 2.0
import QtQuick.Window 2.2

// A 2 px outline inside the edge of the control that holds the keyboard
// focus. It shows once a key has worked one of `controls` and hides at the
// next mouse press, as in most desktop toolkits, so mouse users never see
// it. The controls' positions are taken as the ring's parent's coordinates.
Item {
    id: ring

    property var controls: []
    property bool keyboardInUse: false
    // The control holding the keyboard while keys are in use, else null.
    readonly property Item target: keyboardInUse ? controlHolding(Window.activeFocusItem) : null

    function controlHolding(item) {
        for (var candidate = item; candidate; candidate = candidate.parent) {
            if (controls.indexOf(candidate) !== -1)
                return candidate.visible ? candidate : null
        }
        return null
    }

    anchors.fill: parent
    z: 10

    Component.onCompleted: {
        controls.forEach(function (control) {
            if (control.keyboardUsed)
                control.keyboardUsed.connect(function () { ring.keyboardInUse = true })
        })
    }

    // Sees every press first and passes it on untouched.
    MouseArea {
        anchors.fill: parent
        onPressed: {
            ring.keyboardInUse = false
            mouse.accepted = false
        }
    }

    Rectangle {
        objectName: "focusRing"
        x: ring.target ? ring.target.x : 0
        y: ring.target ? ring.target.y : 0
        width: ring.target ? ring.target.width : 0
        height: ring.target ? ring.target.height : 0
        visible: ring.target !== null
        color: "transparent"
        border.width: 2
        border.color: "#1f4fd1"
    }
}
