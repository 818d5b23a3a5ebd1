import QtQuick 2.0
import QtTest 1.2
import ZudiruvTest 1.0

// What only the fleet tool asks of the probe worker: the index check before
// any probe (one request, no password, answered at once, findings left as
// they were) and an upload that is answered when it has ended.
TestCase {
    id: testCase
    name: "ProbeIndex"

    Component { id: clientComponent; ProbeClient {} }
    Component { id: deviceComponent; DeviceSimulator {} }

    function startDevice(properties) {
        var device = createTemporaryObject(deviceComponent, testCase, properties)
        verify(device.start(), "velquor-sim starts: " + device.errorText)
        return device
    }

    SignalSpy { id: answers; signalName: "message" }

    function indexAnswer(client, host) {
        answers.clear()
        answers.target = client.worker
        client.worker.sendMessage({ index: true, ip: host })
        tryVerify(function () { return answers.count > 0 }, 10000, "the index check is answered")
        return answers.signalArguments[0][0]
    }

    function test_answersWhetherTheTitleIsVelquor_data() {
        return [
            { tag: "PoE clock", properties: { kind: "poe" }, velquor: true },
            { tag: "VO1000 (time server title)", properties: { kind: "vo1000" }, velquor: true },
            { tag: "another web server", properties: { bodies: { "/index.html": "<title>Printer</title>" } },
              velquor: false }
        ]
    }

    function test_answersWhetherTheTitleIsVelquor(data) {
        var device = startDevice(data.properties)
        var client = createTemporaryObject(clientComponent, testCase, { testCase: testCase })
        var answer = indexAnswer(client, device.host)
        compare(answer.index, true)
        compare(answer.ip, device.host)
        compare(answer.status, 200)
        compare(answer.velquor, data.velquor)

        var requests = device.requests()
        compare(requests.length, 1)
        compare(requests[0].path, "/index.html")
        compare(requests[0].authorization, "Basic " + Qt.md5(""))
        client.compareFindings(client.report(), client.emptyFindings, "findings untouched")
    }

    // The fleet tool starts the flasher only once its upload has ended; the
    // screen's upload still gets no answer.
    function test_confirmedUpload() {
        var device = startDevice({})
        var client = createTemporaryObject(clientComponent, testCase, { testCase: testCase })
        answers.clear()
        answers.target = client.worker
        client.worker.sendMessage({ POST: true, ip: device.host, pwd: "plorvask", code: "2912", confirm: true })
        tryVerify(function () { return answers.count > 0 }, 10000, "the upload is answered")
        compare(answers.signalArguments[0][0].uploaded, true)
        compare(answers.signalArguments[0][0].status, 200)
        compare(device.events("update_code")[0].code, "2912")

        client.upload(device.host, "plorvask", "2913")
        tryVerify(function () { return device.events("update_code").length === 2 }, 10000, "the second upload arrives")
        wait(100)
        compare(answers.count, 1, "an unconfirmed upload gets no answer")
    }

    function test_nothingListening() {
        var device = startDevice({})
        var host = device.host
        device.stop()
        var client = createTemporaryObject(clientComponent, testCase, { testCase: testCase })
        var answer = indexAnswer(client, host)
        compare(answer.status, 0)
        compare(answer.velquor, false)
    }
}
