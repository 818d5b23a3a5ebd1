import QtQuick 2.0
import QtTest 1.2

// The update-code upload, and how the worker tells its three messages apart.
ProbeTestCase {
    name: "ProbeUpload"
    deviceDefaults: ({ mac: "02:56:51:4B:00:01" })

    readonly property string updateCodePath: "/etc/update_code"

    function test_uploadReachesDevice_data() {
        return [
            { tag: "default password", generation: "B", devicePassword: "plorvask",
              password: "plorvask", code: "7123845011698117104", accepted: true },
            { tag: "typed password", generation: "B", devicePassword: "Gr\u00fc\u00dfe",
              password: "Gr\u00fc\u00dfe", code: "42", accepted: true },
            // The upload always carries the digest, which this line refuses.
            { tag: "generation A device", generation: "A", devicePassword: "plorvask",
              password: "plorvask", code: "12345", accepted: false },
            { tag: "wrong password", generation: "B", devicePassword: "plorvask",
              password: "nope", code: "12345", accepted: false }
        ]
    }

    function test_uploadReachesDevice(data) {
        var device = startDevice({ generation: data.generation, password: data.devicePassword })
        var client = newClient()
        client.upload(device.host, data.password, data.code)

        var uploads = waitForEvents(device, "update_code", 1)
        compare(uploads.length, 1)
        compare(uploads[0].code, data.code)
        compare(uploads[0].authorization, "Basic " + Qt.md5(data.password))
        compare(uploads[0].accepted, data.accepted)

        var requests = device.requests()
        compare(requests.length, 1, "one POST and nothing else")
        compare(requests[0].method, "POST")
        compare(requests[0].path, updateCodePath)
        compare(requests[0].query, "", "no query on the upload")
        compare(requests[0].body, data.code)

        // The upload itself gets no answer, and touches none of the findings.
        client.compareFindings(client.report(), client.emptyFindings)
        compare(client.messageCount, 1)
    }

    function test_uploadLeavesFindingsAlone() {
        var device = startDevice({ timestamp: "2031-07-14 18:02:46" })
        var client = newClientProbing(device)
        var expected = client.expectFindings({ type: "POE", version: "B", authorized: true, initfail: false,
                                               mac: "02:56:51:4B:00:01", update: "2031-07-14 18:02:46" },
                                             "before the upload")
        var reportsBefore = client.messageCount

        client.upload(device.host, defaultPassword, "99")
        waitForEvents(device, "update_code", 1)
        client.compareFindings(client.report(), expected, "after the upload")
        compare(client.messageCount, reportsBefore + 1)
    }

    // The device's answer to the upload is cut off beyond 64 KiB like any
    // other: a 200 MB answer ends the request as no answer.
    function test_longUploadAnswerIsCutOff_data() {
        return [
            { tag: "short answer", filler: 1000, status: 200 },
            { tag: "200 MB answer", filler: 200 * 1000 * 1000, status: 0 }
        ]
    }

    function test_longUploadAnswerIsCutOff(data) {
        var device = startDevice({ hugeBodies: { "/etc/update_code": data.filler } })
        var client = newClient()
        client.worker.sendMessage({ POST: true, ip: device.host, pwd: defaultPassword, code: "77", confirm: true })
        tryCompare(client, "messageCount", 1, 60000)
        var answer = client.lastMessage()
        verify(answer.uploaded)
        compare(answer.status, data.status)
        compare(waitForEvents(device, "update_code", 1)[0].code, "77")
    }

    // An upload flag wins over a report flag, and anything that is neither
    // an upload nor a report is a probe.
    function test_messageKinds_data() {
        return [
            { tag: "POST and abort", fields: { POST: true, abort: true }, kind: "upload" },
            { tag: "POST without abort", fields: { POST: true, abort: false }, kind: "upload" },
            { tag: "abort with POST false", fields: { POST: false, abort: true }, kind: "report" },
            { tag: "abort alone, address ignored", fields: { abort: true }, kind: "report" },
            { tag: "neither flag set", fields: { POST: false, abort: false }, kind: "probe" },
            { tag: "no flags at all", fields: {}, kind: "probe" }
        ]
    }

    function test_messageKinds(data) {
        var device = startDevice()
        var client = newClient()
        client.worker.sendMessage(overlaid({ ip: device.host, pwd: defaultPassword, code: "31337" }, data.fields))

        if (data.kind === "report") {
            tryCompare(client, "messageCount", 1, 10000)
            // A later upload shows the device heard nothing before it.
            client.upload(device.host, defaultPassword, "sentinel")
            waitForEvents(device, "update_code", 1)
            compare(device.requests().length, 1)
            compare(device.requests()[0].body, "sentinel")
            return
        }

        if (data.kind === "upload") {
            var uploads = waitForEvents(device, "update_code", 1)
            compare(uploads[0].code, "31337")
            compare(device.requests().length, 1)
        } else {
            waitForEvents(device, "request", 6)
            compare(device.events("update_code").length, 0)
        }
        // Neither an upload nor a probe answers; the report is the first message.
        client.report()
        compare(client.messageCount, 1)
    }
}
