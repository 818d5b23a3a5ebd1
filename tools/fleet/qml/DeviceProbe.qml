import QtQml 2.15
import QtQml.WorkerScript 2.15
import "../content/devicekind.js" as DeviceKind

// One device's conversation with the screen's probe worker: the index page
// alone, then the full probe within the screen's window, then the update-code
// upload, each answered or given up within the window (the probe as soon as
// its last page is in). Each instance has a worker of its own, so answers of one address
// never land in another's findings, and destroying it closes its sockets.
QtObject {
    id: device

    property string address
    property int windowMs: 3000
    property string phase: ""
    // A message sent before the worker has loaded its script is lost, so
    // they wait here until it is ready.
    property var waiting: []

    // `status`: the index page's HTTP status; 0 when the connection failed,
    // -1 when nothing came within the window.
    signal indexChecked(int status, bool velquor)
    signal probed(var finding)
    // The upload's HTTP status; -1 when it did not end within the window.
    signal uploaded(int status)

    function checkIndex() {
        phase = "index"
        send({ index: true, ip: address })
        window.restart()
    }

    function probe(password) {
        phase = "probe"
        // Answered as soon as every page is in, or at the window's end.
        send({ ip: address, pwd: password, abort: false, reportWhenDone: true })
        window.restart()
    }

    function upload(password, code) {
        phase = "upload"
        send({ POST: true, ip: address, pwd: password, code: code, confirm: true })
        window.restart()
    }

    function send(message) {
        if (worker.ready)
            worker.sendMessage(message)
        else
            waiting.push(message)
    }

    function take(message) {
        if (message.uploaded === true) {
            if (phase !== "upload")
                return
            phase = ""
            window.stop()
            uploaded(message.status)
            return
        }
        if (message.index === true) {
            if (phase !== "index")
                return
            phase = ""
            window.stop()
            indexChecked(message.status, message.velquor)
            return
        }
        if (phase !== "probe")
            return
        phase = ""
        window.stop()
        var text = DeviceKind.deviceText(message.type, message.version)
        probed({
            initfail: message.initfail,
            unauthorized: message.authorized === "Unauthorized",
            type: message.type,
            kindName: DeviceKind.kindName(message.type),
            generation: message.version,
            deviceText: text,
            letter: DeviceKind.kindLetter(text),
            updateCode: message.update !== "" ? DeviceKind.updateCodeFrom(message.update) : "",
            macPage: message.mac
        })
    }

    function windowEnded() {
        if (phase === "index") {
            phase = ""
            indexChecked(-1, false)
        } else if (phase === "upload") {
            phase = ""
            uploaded(-1)
        } else if (phase === "probe") {
            send({ abort: true })
        }
    }

    property WorkerScript worker: WorkerScript {
        source: "../content/get.js"
        onMessage: device.take(messageObject)
        onReadyChanged: {
            while (ready && device.waiting.length > 0)
                sendMessage(device.waiting.shift())
        }
    }

    property Timer window: Timer {
        interval: device.windowMs
        onTriggered: device.windowEnded()
    }
}
