import QtQuick 2.0
import QtTest 1.2

// The real probe worker, with the messages the main screen sends and a spy
// on what comes back. `testCase` lends its wait() for polling.
Item {
    id: client

    property var testCase
    readonly property alias worker: worker
    readonly property int messageCount: spy.count
    readonly property var emptyFindings: ({
        version: "", type: "", authorized: false, initfail: true, update: "", mac: ""
    })

    WorkerScript {
        id: worker
        source: Qt.resolvedUrl("../../../qml/content/get.js")
    }

    SignalSpy {
        id: spy
        target: worker
        signalName: "message"
    }

    function probe(host, password) {
        worker.sendMessage({ ip: host, pwd: password, abort: false })
    }

    function upload(host, password, code) {
        worker.sendMessage({ POST: true, ip: host, pwd: password, code: code })
    }

    function lastMessage() {
        return spy.signalArguments[spy.count - 1][0]
    }

    // Sends a report request and returns the probe result it brings.
    function report() {
        var before = spy.count
        worker.sendMessage({ abort: true })
        testCase.tryVerify(function () { return spy.count > before }, 10000,
                           "the worker answers a report request")
        return spy.signalArguments[spy.count - 1][0]
    }

    // Reports until `predicate` holds for the result, and returns that result,
    // or the last one once `timeout` ms have passed.
    function reportWhen(predicate, timeout) {
        var deadline = Date.now() + (timeout || 10000)
        var result = report()
        while (!predicate(result) && Date.now() < deadline) {
            testCase.wait(20)
            result = report()
        }
        return result
    }

    // Reports until the result equals `expected` field by field.
    function reportMatching(expected, timeout) {
        return reportWhen(function (result) { return sameFindings(result, expected) }, timeout)
    }

    function sameFindings(result, expected) {
        for (var field in emptyFindings) {
            if (result[field] !== expected[field])
                return false
        }
        return true
    }

    // Fails the test on the first field that differs, naming it.
    function compareFindings(result, expected, context) {
        for (var field in emptyFindings)
            testCase.compare(result[field], expected[field], (context ? context + ": " : "") + field)
    }

    // Reports until the findings are `fields` laid over the empty ones, then
    // fails on the first field that differs. Returns the expected findings.
    function expectFindings(fields, context, timeout) {
        var expected = findings(fields)
        compareFindings(reportMatching(expected, timeout), expected, context)
        return expected
    }

    // The expected result: the empty findings with `fields` laid over them.
    function findings(fields) {
        var result = {}
        for (var field in emptyFindings)
            result[field] = fields !== undefined && fields.hasOwnProperty(field) ? fields[field]
                                                                               : emptyFindings[field]
        return result
    }
}
