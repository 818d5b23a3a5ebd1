import QtQuick 2.0

// Rounded one-line text box with a prompt that shows while it is empty.
FocusScope {
    id: textbox

    property alias text: input.text
    property alias placeholder: prompt.text

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
            id: prompt
            anchors.fill: parent
            anchors.leftMargin: 14
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: 18
            color: "#707070"
            // No fade: the prompt must be gone with the first character.
            opacity: input.text.length > 0 ? 0 : 1
        }

        TextInput {
            id: input
            focus: true
            anchors.fill: parent
            anchors.leftMargin: 14
            verticalAlignment: TextInput.AlignVCenter
            font.pixelSize: 18
            color: "#707070"
            selectByMouse: true
            selectedTextColor: "#ffffff"
            selectionColor: "#999999"
            onAccepted: textbox.accepted()
        }
    }
}
