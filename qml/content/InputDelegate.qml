import QtQuick 2.1
import "colourmeaning.js" as ColourMeaning
import "clicks.js" as Clicks

// Full-width bar with a caption on its front face and a text box on its
// back face; it turns over about its horizontal centre line.
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
        // The text box takes keys only once its face shows; until then the bar
        // holds the keyboard and passes the typing on (see Keys.onPressed).
        if (!lineInput.activeFocus)
            flipBar.forceActiveFocus()
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

    width: parent ? parent.width : 320
    height: 60

    // The keyboard: the bar is one stop of the screen's Tab chain. Keys reach
    // it when it is closed and those its text box leaves (Tab, Escape).
    // `escapeRestoresText`: Escape puts back the text the bar held when it
    // opened before closing; left false where closing with the old text would
    // start anything anew (a probe), so that Escape then closes as Return does.
    property bool escapeRestoresText: false
    // The bar or its text box holds the keyboard focus.
    readonly property bool hasKeyboard: flipBar.activeFocus || backFace.activeFocus
    property string textAtOpening: ""

    // A key has worked the bar (the focus ring shows from now on).
    signal keyboardUsed()

    // Return, Enter or space: what a click on the face that shows does now.
    function press() {
        if (opened && !backFace.enabled)
            ok() // Return typed during the turn: the typing is done
        else if (opened)
            lineInput.forceActiveFocus()
        else if (Clicks.wouldReach(frontArea, flipBar))
            frontArea.clicked(null)
    }

    activeFocusOnTab: true
    Keys.onReturnPressed: { keyboardUsed(); press() }
    Keys.onEnterPressed: { keyboardUsed(); press() }
    Keys.onSpacePressed: { keyboardUsed(); press() }
    Keys.onEscapePressed: {
        keyboardUsed()
        if (!opened) {
            event.accepted = false
            return
        }
        if (escapeRestoresText)
            text = textAtOpening
        close()
    }
    // Leaving an open bar by Tab closes it as a click on another control
    // does; the framework then moves the focus along the chain.
    Keys.onPressed: {
        // Typed while the bar turns to its text box: a quick typist's first
        // characters would otherwise be lost, and what is left may be another
        // valid address.
        if (opened && !lineInput.activeFocus && event.text.length > 0 && event.text >= " " && event.text !== "\u007f"
                && !(event.modifiers & (Qt.ControlModifier | Qt.AltModifier | Qt.MetaModifier))) {
            lineInput.insert(event.text)
            event.accepted = true
            return
        }
        if (event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab) {
            keyboardUsed()
            close()
        }
        event.accepted = false
    }
    // Connections, so that the screen's own handlers of these signals stay.
    Connections {
        target: flipBar
        function onOk() {
            flipBar.keyboardUsed()
        }
        function onOpenedChanged() {
            if (flipBar.opened)
                flipBar.textAtOpening = flipBar.text
            // Closed with the keyboard inside: it stays on the bar, not lost
            // with the face that turns away.
            else if (backFace.activeFocus)
                flipBar.forceActiveFocus()
        }
    }

    // Screen readers: a button while closed, a text field while open, named
    // by what it shows; the colour's meaning goes into the description.
    Accessible.role: opened ? Accessible.EditableText : Accessible.Button
    Accessible.name: opened ? placeHolder : label
    Accessible.description: ColourMeaning.of(opened ? backColor : frontColor)
    Accessible.focusable: true
    Accessible.focused: hasKeyboard
    Accessible.onPressAction: press()

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
            id: frontArea
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
        id: backFace
        width: flipBar.width
        height: flipBar.height
        enabled: rotation.angle > 90
        onEnabledChanged: {
            if (enabled && flipBar.opened && flipBar.activeFocus)
                lineInput.forceActiveFocus()
        }

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
            LineInput {
                id: lineInput
                anchors.fill: parent
                anchors.margins: 6
                placeholder: flipBar.placeHolder
                focus: flipBar.opened
                onAccepted: flipBar.ok()
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
