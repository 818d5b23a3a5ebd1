import QtQuick 2.1
import QtQuick.Window 2.2
import Flash 1.0
import Arp 1.0
import "devicekind.js" as DeviceKind
import "clicks.js" as Clicks

// The tool's one screen: from an IP address to a flashed device. Every
// decision of the workflow is taken here; the rows only show its state.
Rectangle {
    id: screen

    readonly property color grey: "#999999"
    readonly property color yellow: "#d9d926"
    readonly property color red: "#f73e3e"
    readonly property color green: "#69C56E"
    readonly property string defaultPassword: "plorvask"
    readonly property string dropPicture: "resources/upload-dropfile.gif"
    readonly property string dropEnteredPicture: "resources/upload-dropfile-entered.gif"
    readonly property string acceptedPicture: "resources/upload-checkmark.png"
    // Address, MAC address and image are all valid: the flash can start.
    readonly property bool ready: readyButton.ip && readyButton.mac && readyButton.bin
    // The identified device's own MAC address, from its MAC page ("" when the
    // page held none), and its kind as shown in the IP row.
    property string deviceMac: ""
    property string deviceKind: ""
    // The history line of the flash that runs, filled in as it goes.
    property var flashRecord: null
    // Tells the awaited upload's answer from a late one given up on.
    property int uploadTicket: 0
    // How long the flasher waits for the upload's answer.
    readonly property int uploadWaitMs: 3000

    color: "#d6d6d6"
    width: parent ? parent.width : 320
    height: column.height
    z: 2

    // Back to grey on both faces under its plain caption.
    function resetRow(row, caption) {
        paint(row, grey)
        row.label = caption
    }

    // Also empties the row and closes it.
    function clearRow(row, caption) {
        resetRow(row, caption)
        row.text = ""
        row.close()
    }

    function paint(row, color) {
        row.frontColor = color
        row.backColor = color
    }

    function firstMissingRequirement() {
        if (!readyButton.ip)
            return "Insert valid IP"
        if (!readyButton.mac)
            return "Insert valid MAC"
        return "Drag and drop valid file"
    }

    // The typed address in the one form that the probe, the upload, the MAC
    // lookup and the flasher all take: each part read as the decimal number
    // typed, so "127.0.0.010" is 127.0.0.10 (the HTTP layer would read 010 as
    // octal). Empty for text that names no single device: no IPv4 address,
    // "this host", the broadcast address or a multicast group.
    function deviceAddress(text) {
        var parts = /^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})$/.exec(text)
        if (parts === null)
            return ""
        var numbers = parts.slice(1).map(function (part) { return parseInt(part, 10) })
        if (numbers.some(function (number) { return number > 255 }))
            return ""
        var address = numbers.join(".")
        if (address === "0.0.0.0" || address === "255.255.255.255"
                || (numbers[0] >= 224 && numbers[0] <= 239))
            return ""
        return address
    }

    // A MAC address in one form for comparing, "" for text that is none.
    function macText(text) {
        var trimmed = String(text).trim()
        if (!/^([0-9A-Fa-f]{2}[:-]){5}[0-9A-Fa-f]{2}$/.test(trimmed))
            return ""
        return trimmed.toLowerCase().replace(/-/g, ":")
    }

    function startProbe(password) {
        paint(ipAddr, yellow)
        ipAddr.label = "Testing IP Address"
        readyButton.ipAddr = ipAddr.text
        jScript.sendMessage({ "ip": ipAddr.text, "pwd": password, "abort": false })
        resp.complete = false
        resp.start()
    }

    function showProbeResult(result) {
        // The row has been given another address meanwhile: this result is
        // for a device the user has left, and the row's own address is
        // probed instead (once the user has closed the row).
        if (deviceAddress(ipAddr.text) !== readyButton.ipAddr) {
            ipAddr.check = false
            resp.complete = true
            if (!ipAddr.opened)
                ipAddr.validateIP()
            return
        }
        macAddr.validateMAC()
        // Only the code of the device this probe found goes to it: without an
        // update page (empty, refused, no answer) there is none to upload.
        readyButton.updateCode = result.update !== ""
        update.updateCode = result.update !== "" ? DeviceKind.updateCodeFrom(result.update) : ""
        deviceMac = macText(result.mac)
        deviceKind = ""
        ipAddr.check = false
        resp.complete = true

        if (result.initfail === true) {
            password.hide()
            ipAddr.frontColor = red
            ipAddr.label = "No response, IP may be incorrect."
            arp.kill()
            macAddr.text = ""
            macAddr.validateMAC()
        } else if (result.authorized === "Unauthorized") {
            if (!password.visible) {
                password.text = ""
                password.show()
                password.usepwd = true
                password.open()
                ipAddr.label = "Insert Password"
            } else {
                password.open()
                ipAddr.frontColor = red
                ipAddr.label = "Incorrect Password"
                password.text = ""
            }
        } else {
            readyButton.ip = true
            paint(ipAddr, green)
            ipAddr.label = readyButton.ipAddr
            password.frontColor = green
            password.hide()

            var device = DeviceKind.deviceText(result.type, result.version)
            deviceKind = device
            readyButton.type = DeviceKind.kindLetter(device)
            if (readyButton.bin)
                f.testFile(readyButton.file, readyButton.type)

            if (readyButton.type === "G") {
                ipAddr.frontColor = red
                ipAddr.label = "Type could not be determined"
                readyButton.mac = false
                clearRow(macAddr, "MAC Address")
            } else {
                readyButton.message()
                ipAddr.label = readyButton.ipAddr + " (" + device + ")"
            }
        }
    }

    function startFlash() {
        if (f.flashing || readyButton.complete || !ready)
            return
        // An address typed but not yet probed is the one the user means: it
        // is probed now, and nothing goes to the identified one instead.
        if (deviceAddress(ipAddr.text) !== readyButton.ipAddr) {
            ipAddr.close()
            return
        }
        // What an open row holds is taken first; it cannot change once the
        // flash runs.
        if (ipAddr.opened || macAddr.opened) {
            ipAddr.close()
            macAddr.close()
            return
        }
        // The magic packet wakes whichever device has this MAC address.
        if (deviceMac !== "" && macText(readyButton.macAddr) !== deviceMac) {
            readyButton.mac = false
            paint(macAddr, red)
            readyButton.error("MAC does not match the device")
            return
        }
        f.waserror = false
        f.flashing = true
        flashRecord = {
            "time": new Date(),
            "address": readyButton.ipAddr,
            "mac": readyButton.macAddr,
            "kind": deviceKind,
            "letter": readyButton.type,
            "image": readyButton.file,
            "image_sha256": f.imageSha256,
            "code_uploaded": readyButton.updateCode,
            "code_status": 0
        }
        if (!readyButton.updateCode) {
            runFlasher()
            return
        }
        // The flasher's magic packet takes the web interface offline: it
        // starts once the upload has ended, whether the code was taken or not.
        uploadTicket += 1
        update.sendMessage({
            "POST": true,
            "confirm": true,
            "ticket": uploadTicket,
            "ip": readyButton.ipAddr,
            "code": update.updateCode,
            "pwd": password.usepwd ? password.text : defaultPassword
        })
        uploadWait.start()
    }

    function runFlasher() {
        uploadWait.stop()
        f.flash(flashRecord.address, flashRecord.mac)
    }

    function endFlash() {
        if (!f.flashing)
            return
        f.flashing = false
        recordFlash()
        if (f.waserror) {
            // The failure stays until the user acts: no fill of this run may
            // show on the front face meanwhile.
            readyButton.progress = 0
            readyButton.noProg = false
            readyButton.close()
            readyButton.failure("Error during flash, try again.", flashFailureReason())
            return
        }
        f.deleteTemp()
        readyButton.progress = 0
        readyButton.open()
        readyButton.noProg = false

        readyButton.ip = false
        clearRow(ipAddr, "IP Address")

        resetRow(password, "Enter Password")
        password.text = ""

        readyButton.mac = false
        clearRow(macAddr, "MAC Address")

        readyButton.bin = false
        readyButton.file = ""
        fileImage.source = dropPicture

        readyButton.type = ""

        readyButton.complete = true
        // A retry after a failed run would otherwise announce success in red.
        readyButton.backColor = green
        readyButton.labelBack = "Complete"
        readyButton.open()
        completeTimer.start()
    }

    // Why the last run failed, in the flasher's own words where it gave any:
    // a user who started the program from a menu never sees standard error.
    function flashFailureReason() {
        if (f.errorLines.length > 0)
            return String(f.errorLines[0]).replace(/^.*?ERROR:?\s*/, "")
        if (f.lastExitStatus === -1)
            return "eflash.exe crashed or was stopped"
        return "eflash.exe ended with exit status " + f.lastExitStatus
    }

    function recordFlash() {
        var record = flashRecord
        flashRecord = null
        record.result = f.waserror ? "failed" : "complete"
        record.exit_status = f.lastExitStatus
        record.errors = f.errorLines
        history.append(record)
    }

    // A file URL as a local path: decoded, with Windows drive letters and
    // network hosts kept. Anything else is taken as it stands.
    function localPath(url) {
        var text = String(url).replace(/[\r\n]+$/, "")
        var parts = /^file:\/\/([^\/]*)(\/[\s\S]*)?$/i.exec(text)
        if (parts === null)
            return text
        var path
        try {
            path = decodeURIComponent(parts[2] || "")
        } catch (malformed) {
            return ""
        }
        var host = parts[1]
        if (host !== "" && host.toLowerCase() !== "localhost")
            return "//" + host + path
        if (/^\/[A-Za-z]:/.test(path))
            return path.substring(1)
        return path
    }

    function acceptFile(url) {
        // The image of a running flash stays staged until it ends.
        if (f.flashing)
            return
        var path = localPath(url)
        if (path.indexOf(".bin") !== -1) {
            readyButton.file = path
            fileImage.source = acceptedPicture
            readyButton.bin = true
        }
        if (ready) {
            readyButton.open()
            readyButton.backColor = green
            readyButton.labelBack = "Click here to flash file"
        }
        f.testFile(readyButton.file, readyButton.type)
    }

    Column {
        id: column

        width: parent.width

        Rectangle {
            width: parent.width
            height: 70
            color: "#ffffff"

            Image {
                anchors.centerIn: parent
                width: 290
                source: "resources/vqlogo.png"
                Accessible.role: Accessible.Graphic
                Accessible.name: "Velquor"
            }
        }

        InputDelegate {
            id: ipAddr
            objectName: "ipAddr"
            // The keyboard starts here.
            focus: true

            // A probe started from this row is pending.
            property bool check: false

            function validateIP() {
                if (!ipAddr.check && ipAddr.text !== "") {
                    readyButton.ip = false
                    ipAddr.check = true
                    var address = screen.deviceAddress(ipAddr.text)
                    if (address !== "") {
                        ipAddr.text = address
                        screen.startProbe(screen.defaultPassword)
                        arp.getMac(address)
                    } else {
                        ipAddr.check = false
                        readyButton.ip = false
                        ipAddr.label = "Invalid IP"
                        screen.paint(ipAddr, screen.red)
                        macAddr.text = ""
                    }
                    readyButton.message()
                }
                if (ipAddr.text === "") {
                    readyButton.ip = false
                    screen.resetRow(ipAddr, "IP Address")
                    ipAddr.close()
                }
            }

            label: "IP Address"
            placeHolder: "Enter IP Address"
            locked: f.flashing

            onHasOpened: {
                if (password.usepwd) {
                    password.usepwd = false
                    password.hide()
                    readyButton.ip = false
                    screen.resetRow(ipAddr, "IP Address")
                }
                password.close()
                macAddr.close()
            }
            onOk: ipAddr.close()
            onHasClosed: ipAddr.validateIP()
        }

        PwdDelegate {
            id: password
            objectName: "password"

            // The user's password is in use instead of the default one.
            property bool usepwd: false

            function testPassword() {
                password.frontColor = screen.grey
                password.label = new Array(password.text.length + 1).join("*")
                password.close()
                screen.startProbe(password.text)
            }

            label: "Password"
            placeHolder: "Enter Password"
            locked: f.flashing

            onHasOpened: {
                ipAddr.close()
                macAddr.close()
            }
            onOk: password.close()
            onHasClosed: {
                if (password.text !== "" && password.usepwd) {
                    password.testPassword()
                } else {
                    screen.resetRow(password, "Enter Password")
                }
            }
        }

        InputDelegate {
            id: macAddr
            objectName: "macAddr"
            // Closing re-judges the text and starts nothing else, so Escape
            // can take back what was typed.
            escapeRestoresText: true

            function validateMAC() {
                if (/^([0-9A-Fa-f]{2}[:-]){5}([0-9A-Fa-f]{2})$/.test(macAddr.text)) {
                    readyButton.mac = true
                    screen.paint(macAddr, screen.green)
                    macAddr.close()
                    macAddr.label = macAddr.text
                    readyButton.macAddr = macAddr.text
                } else if (macAddr.text === "") {
                    readyButton.mac = false
                    screen.resetRow(macAddr, "MAC Address")
                    macAddr.close()
                } else if (!arp.gettingMac) {
                    readyButton.mac = false
                    macAddr.label = "Invalid MAC"
                    screen.paint(macAddr, screen.red)
                }
                readyButton.message()
            }

            label: "MAC Address"
            placeHolder: "Enter MAC Address"
            locked: f.flashing

            onHasOpened: {
                ipAddr.close()
                password.close()
            }
            onOk: macAddr.close()
            onHasClosed: {
                if (!arp.gettingMac)
                    macAddr.validateMAC()
            }
        }

        Image {
            id: fileImage
            objectName: "fileImage"

            // The image area held the keyboard when the dialog opened.
            property bool keyboardBeforeDialog: false

            // Return, Enter or space: what a click does, through its handler.
            function press() {
                focusRing.keyboardInUse = true
                if (Clicks.wouldReach(imageArea, screen))
                    imageArea.clicked(null)
            }

            activeFocusOnTab: true
            Keys.onReturnPressed: fileImage.press()
            Keys.onEnterPressed: fileImage.press()
            Keys.onSpacePressed: fileImage.press()
            Keys.onPressed: {
                if (event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab)
                    focusRing.keyboardInUse = true
                event.accepted = false
            }
            Accessible.role: Accessible.Button
            Accessible.name: "Click here or drag and drop a file to flash."
            Accessible.description: readyButton.bin ? "file accepted" : ""
            Accessible.focusable: true
            Accessible.focused: fileImage.activeFocus
            Accessible.onPressAction: fileImage.press()

            anchors.horizontalCenter: parent.horizontalCenter
            width: 320
            height: 300
            scale: 1
            source: screen.dropPicture

            MouseArea {
                id: imageArea
                anchors.fill: parent
                enabled: !f.flashing
                onClicked: {
                    ipAddr.close()
                    macAddr.close()
                    fileDialogLoader.active = true
                    fileDialogLoader.item.open()
                }
            }

            DropArea {
                anchors.horizontalCenter: parent.horizontalCenter
                width: 320
                height: 300
                enabled: !f.flashing

                onEntered: fileImage.source = screen.dropEnteredPicture
                onExited: fileImage.source = screen.dropPicture
                onDropped: {
                    drop.accept(Qt.CopyAction)
                    var text = drop.hasText && drop.text !== "" ? drop.text
                             : (drop.hasUrls && drop.urls.length > 0 ? String(drop.urls[0]) : "")
                    screen.acceptFile(text)
                }
            }

            Text {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 60
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: 18
                color: "#444444"
                text: "Click here or drag and drop\na file to flash."
            }
        }

        ButtonDelegate {
            id: readyButton
            objectName: "readyButton"

            // The identified device brought an update code.
            property bool updateCode: false

            // Shows what the screen holds; while a flash runs the button shows
            // its progress instead. The fill of an earlier run goes.
            function message() {
                if (f.flashing)
                    return
                readyButton.progress = 0
                readyButton.noProg = false
                if (screen.ready) {
                    readyButton.backColor = screen.green
                    readyButton.labelBack = "Click here to flash file"
                    readyButton.open()
                } else {
                    readyButton.frontColor = screen.grey
                    readyButton.close()
                    readyButton.labelFront = screen.firstMissingRequirement()
                }
            }

            labelBack: "Click here to flash file"
            labelFront: "Insert valid IP"

            onHasOpened: {
                macAddr.close()
                ipAddr.close()
            }
            onButtonClicked: screen.startFlash()
            onErrorEnded: readyButton.message()
        }

        Arp {
            id: arp
            objectName: "arp"

            // A lookup is running.
            property bool gettingMac: false

            onGettingMac: {
                arp.gettingMac = true
                // What the row holds belongs to the address before; it must
                // not reach the flasher if this lookup finds nothing.
                readyButton.mac = false
                macAddr.text = ""
                screen.paint(macAddr, screen.yellow)
                macAddr.close()
                macAddr.label = "Retrieving MAC Address"
            }
            onNoResponse: {
                readyButton.ip = false
                macAddr.label = "Couldn't obtain MAC Address"
                screen.paint(macAddr, screen.red)
                macAddr.text = ""
                readyButton.message()
            }
            onReceived: macAddr.text = mac ? mac : ""
            onFinished: arp.gettingMac = false
            // A tool that cannot start never finishes; end the lookup so the
            // MAC address can be typed instead.
            onErrorOccurred: {
                if (error === 0)
                    arp.gettingMac = false
            }
        }

        Flash {
            id: f
            objectName: "f"

            // The flasher has reported an error in the current run.
            property bool waserror: false
            // A flash started from the screen is going, from the upload to
            // the flasher's end: one at a time.
            property bool flashing: false

            onProgressChanged: {
                readyButton.labelFront = f.progress + "%"
                readyButton.progress = f.progress / 100
            }
            onError: f.waserror = true
            onFileInvalid: {
                readyButton.bin = false
                fileImage.source = screen.dropPicture
                readyButton.close()
                readyButton.error("Invalid file for selected device")
            }
            onFinished: screen.endFlash()
            // A flasher that cannot start never finishes; report it as the
            // failed run it is instead of showing "0%" forever. Scene handlers
            // run before the object's own, which notes the reason for the
            // history: the end is handled once that has happened.
            onErrorOccurred: {
                if (error === 0) {
                    f.waserror = true
                    Qt.callLater(screen.endFlash)
                }
            }
        }

        Timer {
            id: completeTimer
            objectName: "completeTimer"

            interval: 1000
            onTriggered: {
                readyButton.complete = false
                readyButton.frontColor = screen.grey
                readyButton.close()
                readyButton.labelFront = screen.firstMissingRequirement()
            }
        }

        WorkerScript {
            id: jScript
            objectName: "jScript"

            source: "get.js"
            onMessage: screen.showProbeResult(messageObject)
        }

        // The probe window: every probe result is asked for when it ends.
        Timer {
            id: resp
            objectName: "resp"

            property bool complete: false

            interval: 3000
            onTriggered: {
                if (!resp.complete) {
                    ipAddr.check = false
                    resp.complete = true
                    jScript.sendMessage({ "abort": true })
                }
            }
        }

        // Made on the first click on the image area, then kept, so that it
        // opens again in the folder the user left it in.
        Loader {
            id: fileDialogLoader
            objectName: "fileDialogLoader"

            active: false
            source: "FirmwareDialog.qml"
        }

        Connections {
            target: fileDialogLoader.item
            function onAccepted() {
                screen.acceptFile(String(fileDialogLoader.item.fileUrl))
            }
            // Nothing hands the keyboard back when the dialog hides (no
            // window manager, or none that does): the hidden dialog would
            // keep it, and a row opened next would take no keys.
            function onVisibilityChanged() {
                if (!fileDialogLoader.item.visible && screen.Window.window)
                    screen.Window.window.requestActivate()
            }
        }

        // The image area hands the keyboard to the dialog and takes it back.
        Connections {
            target: fileDialogLoader.item
            function onVisibilityChanged() {
                if (fileDialogLoader.item.visible)
                    fileImage.keyboardBeforeDialog = fileImage.activeFocus
                else if (fileImage.keyboardBeforeDialog)
                    fileImage.forceActiveFocus()
            }
        }

        WorkerScript {
            id: update
            objectName: "update"

            // The identified device's update code.
            property string updateCode: ""

            source: "get.js"
            onMessage: {
                if (messageObject.uploaded && messageObject.ticket === screen.uploadTicket
                        && uploadWait.running) {
                    screen.flashRecord.code_status = messageObject.status
                    screen.runFlasher()
                }
            }
        }

        Timer {
            id: uploadWait
            objectName: "uploadWait"

            interval: screen.uploadWaitMs
            onTriggered: screen.runFlasher()
        }

        FlashHistory {
            id: history
        }
    }

    FocusRing {
        id: focusRing
        objectName: "focusRingArea"

        controls: [ipAddr, password, macAddr, fileImage, readyButton]
    }
}
