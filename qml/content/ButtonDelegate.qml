import QtQuick 2.1
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4
import "clicks.js" as Clicks

// The flash button: its front face names what is missing or shows the
// flash progress, its back face offers the flash or shows a notice.
// It also holds the workflow's readiness flags and the flash target.
Flipable {
    id: buttonBar

    property string labelBack: ""
    // A second line under the back caption, saying why; it belongs to the
    // caption it was shown with and goes when that caption changes.
    property string labelDetail: ""
    property string labelFront: ""
    property bool opened: false
    property bool ip: false
    property bool mac: false
    property bool bin: false
    property string ipAddr: ""
    property string macAddr: ""
    property string file: ""
    property string type: ""
    property bool complete: false
    property alias frontColor: front.color
    property alias backColor: back.color
    property alias noProg: prog.visible
    property alias progress: prog.value
    property bool flipped: false

    signal hasOpened()
    signal buttonClicked()
    // The error view has closed again.
    signal errorEnded()

    function open() {
        if (opened)
            return
        flipped = true
        opened = true
        hasOpened()
    }

    function close() {
        if (!opened)
            return
        flipped = false
        opened = false
    }

    function error(t) {
        labelBack = t
        backColor = "#f73e3e"
        open()
        // start() leaves a running timer alone: the notice lasts 2000 ms
        // from the first call, however often it is repeated.
        errorTimer.start()
    }

    // A failure the user has to act on: it stays until the next caption
    // rather than 2000 ms, with its reason on the second line.
    function failure(t, reason) {
        errorTimer.stop()
        labelBack = t
        labelDetail = reason
        backColor = "#f73e3e"
        open()
    }

    onLabelBackChanged: labelDetail = ""

    width: parent ? parent.width : 320
    height: 60

    // The keyboard: one stop of the screen's Tab chain; Return, Enter and
    // space act as a click on the face that shows, through its own handler.
    readonly property bool hasKeyboard: buttonBar.activeFocus

    // A key has worked the button (the focus ring shows from now on).
    signal keyboardUsed()

    function press() {
        var area = rotation.angle > 90 ? backArea : frontArea
        if (Clicks.wouldReach(area, buttonBar))
            area.clicked(null)
    }

    activeFocusOnTab: true
    Keys.onReturnPressed: { keyboardUsed(); press() }
    Keys.onEnterPressed: { keyboardUsed(); press() }
    Keys.onSpacePressed: { keyboardUsed(); press() }
    Keys.onPressed: {
        if (event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab)
            keyboardUsed()
        event.accepted = false
    }

    // Screen readers: a progress bar while a flash runs, else a button named
    // by the face that shows; red and green are told in the description.
    Accessible.role: !opened && noProg ? Accessible.ProgressBar : Accessible.Button
    // The whole reason, also where the face has to shorten it.
    Accessible.name: opened ? (labelDetail !== "" ? labelBack + " " + labelDetail : labelBack) : labelFront
    Accessible.description: {
        if (opened && String(backColor).toLowerCase() === "#f73e3e")
            return "error"
        if (opened)
            return complete ? "complete" : "ready"
        return noProg ? "flashing" : "not ready"
    }
    Accessible.focusable: true
    Accessible.focused: hasKeyboard
    Accessible.onPressAction: press()

    Timer {
        id: errorTimer
        interval: 2000
        repeat: false
        running: false
        onTriggered: {
            buttonBar.close()
            buttonBar.errorEnded()
        }
    }

    front: Rectangle {
        id: front
        width: buttonBar.width
        height: buttonBar.height
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
            color: "#999999"
        }
        ProgressBar {
            id: prog
            objectName: "progressbar"
            // The button itself speaks for the progress.
            Accessible.ignored: true
            anchors.fill: parent
            visible: false
            style: ProgressBarStyle {
                background: Rectangle { color: "#999999" }
                progress: Rectangle { color: "#69C56E" }
            }
        }
        Text {
            anchors.centerIn: parent
            font.pixelSize: 18
            color: "#ffffff"
            text: buttonBar.labelFront
        }
        MouseArea {
            id: frontArea
            anchors.fill: parent
            onClicked: {
                if (!buttonBar.ip)
                    buttonBar.labelFront = "Insert valid IP"
                else if (!buttonBar.mac)
                    buttonBar.labelFront = "Insert valid MAC"
                else if (!buttonBar.bin)
                    buttonBar.labelFront = "Drag and drop valid file"
            }
        }
    }

    back: FocusScope {
        width: buttonBar.width
        height: buttonBar.height
        enabled: rotation.angle > 90

        Rectangle {
            id: back
            anchors.fill: parent
            color: "#69C56E"

            Rectangle {
                anchors.top: parent.top
                width: parent.width
                height: 1
                color: "#999999"
            }
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: "#999999"
            }
            Column {
                anchors.centerIn: parent
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    font.pixelSize: 18
                    color: "#ffffff"
                    text: buttonBar.labelBack
                }
                // Shortened to the bar's width; the full text is in the
                // accessible name and the flash history.
                Text {
                    objectName: "labelDetail"
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: Math.min(implicitWidth, buttonBar.width - 16)
                    visible: buttonBar.labelDetail !== ""
                    elide: Text.ElideRight
                    font.pixelSize: 18
                    color: "#ffffff"
                    text: buttonBar.labelDetail
                }
            }
            MouseArea {
                id: backArea
                anchors.fill: parent
                onClicked: {
                    // The screen's handler starts the flash and may change
                    // the flags; they are read only after it has run.
                    buttonBar.buttonClicked()
                    if (!buttonBar.complete && buttonBar.ip && buttonBar.mac && buttonBar.bin) {
                        buttonBar.labelFront = "0%"
                        buttonBar.noProg = true
                        buttonBar.close()
                    }
                }
            }
        }
    }

    transform: Rotation {
        id: rotation
        origin.x: buttonBar.width / 2
        origin.y: buttonBar.height / 2
        axis.x: 1
        axis.y: 0
        axis.z: 0
        angle: 0
    }

    states: State {
        name: "back"
        when: buttonBar.flipped
        PropertyChanges { target: rotation; angle: 180 }
    }

    transitions: Transition {
        NumberAnimation { target: rotation; property: "angle"; duration: 250 }
    }
}
