import QtQml 2.15
import QtQml.WorkerScript 2.15
import "../content/devicekind.js" as DeviceKind

// One device's conversation with the screen's probe worker: the index page
// alone, then the full probe within the screen's window, then the update-code
// upload. Each instance has a worker of its own, so answers of one address
// never land in another's findings, and destroying it closes its sockets.
QtObject {
    id: device

    property string address
    property int windowMs: 3000
    property string phase: ""

    // `status`: the index page's HTTP status; 0 when the connection failed,
    // -1 when nothing came within the window.
    signal indexChecked(int status, bool velquor)
    signal probed(var finding)

    function checkIndex() {
        phase = "index"
        worker.sendMessage({ index: true, ip: address })
        window.restart()
    }

    function probe(password) {
        phase = "probe"
        worker.sendMessage({ ip: address, pwd: password, abort: false })
        window.restart()
    }

    function upload(password, code) {
        worker.sendMessage({ POST: true, ip: address, pwd: password, code: code })
    }

    function take(message) {
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
        } else if (phase === "probe") {
            worker.sendMessage({ abort: true })
        }
    }

    property WorkerScript worker: WorkerScript {
        source: "../content/get.js"
        onMessage: device.take(messageObject)
    }

    property Timer window: Timer {
        interval: device.windowMs
        onTriggered: device.windowEnded()
    }
}
