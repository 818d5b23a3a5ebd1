import QtQuick 2.0

// The password row: an InputDelegate whose back face masks the typed text.
// It starts hidden, taking no room in a column, until show() is called.
Flipable {
    id: flipBar

    property string label: ""
    property string placeHolder: ""
    property alias text: lineInput.text
    property alias frontColor: front.color
    property alias backColor: back.color
    property bool opened: false
    property bool flipped: false
    // The row does not open, however asked: what it holds is in use.
    property bool locked: false

    signal ok()
    signal hasOpened()
    signal hasClosed()

    function open() {
        if (opened || locked)
            return
        flipped = true
        lineInput.forceActiveFocus()
        opened = true
        hasOpened()
    }

    function close() {
        if (!opened)
            return
        flipped = false
        opened = false
        hasClosed()
    }

    // Neither show() nor hide() reports a closing: the row is being reset.
    function show() {
        visible = true
        opened = false
        flipped = false
    }

    function hide() {
        visible = false
        opened = false
        flipped = false
    }

    width: parent ? parent.width : 320
    height: 60
    visible: false

    front: Rectangle {
        id: front
        width: flipBar.width
        height: flipBar.height
        color: "#999999"
        // Flipable fades the face turned away, but disables it only at its
        // next polish; this disables it in step with the angle.
        enabled: rotation.angle <= 90

        Rectangle {
            anchors.top: parent.top
            width: parent.width
            height: 1
            color: "#c1c1c1"
        }
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: "#707070"
        }
        MouseArea {
            anchors.fill: parent
            // An open bar shows this face only in the first half of its turn.
            onClicked: {
                if (!flipBar.opened)
                    flipBar.open()
                else if (!lineInput.activeFocus)
                    lineInput.forceActiveFocus()
                else
                    flipBar.close()
            }
        }
        Text {
            anchors.left: parent.left
            anchors.leftMargin: 20
            anchors.verticalCenter: parent.verticalCenter
            font.pixelSize: 18
            color: "#ffffff"
            text: flipBar.label
        }
    }

    back: FocusScope {
        width: flipBar.width
        height: flipBar.height
        enabled: rotation.angle > 90

        Rectangle {
            id: back
            anchors.fill: parent
            color: "#999999"

            Rectangle {
                anchors.top: parent.top
                width: parent.width
                height: 1
                color: "#c1c1c1"
            }
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: "#707070"
            }
            PwdInput {
                id: lineInput
                anchors.fill: parent
                anchors.margins: 6
                hint: flipBar.placeHolder
                focus: flipBar.opened
                onAccepted: {
                    // The panel would otherwise cover the rows that show the outcome.
                    if (Qt.inputMethod.visible)
                        Qt.inputMethod.hide()
                    flipBar.ok()
                }
            }
        }
    }

    transform: Rotation {
        id: rotation
        origin.x: flipBar.width / 2
        origin.y: flipBar.height / 2
        axis.x: 1
        axis.y: 0
        axis.z: 0
        angle: 0
    }

    states: State {
        name: "back"
        when: flipBar.flipped
        PropertyChanges { target: rotation; angle: 180 }
    }

    transitions: Transition {
        NumberAnimation { target: rotation; property: "angle"; duration: 250 }
    }
}
