import QtQuick 2.0

// Rounded password box: echoes "*" while `text` keeps the clear characters.
FocusScope {
    id: wrapper

    property alias text: input.text
    property alias hint: hintText.text
    property alias prefix: prefixText.text

    signal accepted()

    // Adds typed text at the cursor, for keys that reached the row first.
    function insert(typed) {
        input.insert(input.cursorPosition, typed)
    }

    Rectangle {
        anchors.fill: parent
        color: "#c1c1c1"
        border.color: "#707070"
        radius: 4

        Text {
            id: hintText
            anchors.fill: parent
            anchors.leftMargin: 14
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: 18
            color: "#707070"
            text: "Enter word"
            opacity: input.text.length > 0 ? 0 : 1
        }

        // Fades instead of hiding so that the input does not jump sideways.
        Text {
            id: prefixText
            anchors.left: parent.left
            anchors.leftMargin: 14
            anchors.verticalCenter: parent.verticalCenter
            font.pixelSize: 18
            color: "#707070"
            opacity: hintText.opacity === 0 ? 1 : 0
        }

        TextInput {
            id: input
            focus: true
            anchors.left: prefixText.right
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            verticalAlignment: TextInput.AlignVCenter
            font.pixelSize: 18
            color: "#707070"
            echoMode: TextInput.Password
            // The platform default may be a bullet; the screen shows stars.
            passwordCharacter: "*"
            selectByMouse: false
            onAccepted: wrapper.accepted()
        }
    }
}
