import QtQuick 2.0
import QtTest 1.2

// Devices that answer badly or not at all must never stop the worker from
// answering its report requests, and must leave only what they did answer.
ProbeTestCase {
    name: "ProbeFaults"

    readonly property string timestamp: "2031-07-14 18:02:46"
    readonly property string deviceMac: "02:56:51:4B:00:01"
    readonly property var identified: ({ type: "POE", version: "B", authorized: true, initfail: false,
                                         mac: deviceMac, update: timestamp })

    deviceDefaults: ({ timestamp: timestamp, mac: deviceMac })

    function identifiedWith(changes) { return overlaid(identified, changes) }

    // The same worker still probes a well-behaved device correctly.
    function verifyStillWorks(client) {
        client.probe(startDevice().host, defaultPassword)
        client.expectFindings(identified, "next probe")
    }

    function complete(r) {
        return r.mac !== "" && r.update !== "" && r.type !== "" && r.version !== "" && !r.initfail
    }

    // A worker message cannot carry a text longer than this.
    readonly property int longestText: 0xFFFFFF
    // An answer longer than this is cut off and counts as no answer.
    readonly property int longestAnswer: 64 * 1024

    function test_hugeBody_data() {
        return [
            { tag: "update page of exactly 64 KiB", path: "/var/www/update.html",
              filler: longestAnswer - timestamp.length },
            { tag: "update page one byte over 64 KiB", path: "/var/www/update.html",
              filler: longestAnswer - timestamp.length + 1, expected: identifiedWith({ update: "" }) },
            { tag: "200 MB MAC page", path: "/var/www/mac.html", filler: 200 * 1000 * 1000,
              expected: identifiedWith({ mac: "" }) },
            // The settings page names the kind only after the filler.
            { tag: "200 MB settings page", path: "/var/www/settings.html", filler: 200 * 1000 * 1000,
              expected: identifiedWith({ type: "" }) },
            { tag: "200 MB index page", path: "/index.html", filler: 200 * 1000 * 1000,
              expected: identifiedWith({ initfail: true }) }
        ]
    }

    function test_hugeBody(data) {
        var huge = {}
        huge[data.path] = data.filler
        var device = startDevice({ hugeBodies: huge })
        var client = newClientProbing(device)
        // Report requests are answered while the body is still arriving.
        client.report()

        if (data.expected) {
            waitForEvents(device, "response", 6, 120000)
            client.expectFindings(data.expected, "", 120000)
            verifyStillWorks(client)
            return
        }

        var result = client.reportWhen(complete, 120000)
        var field = { "/var/www/update.html": "update", "/var/www/mac.html": "mac" }[data.path]
        if (field) {
            var text = identified[field]
            compare(typeof result[field], "string")
            compare(result[field].length, Math.min(data.filler + text.length, longestText), "length of " + field)
            verify(result[field].endsWith(text), field + " keeps its end")
            result[field] = text
        }
        client.compareFindings(result, client.findings(identified))
        verifyStillWorks(client)
    }

    function test_binaryBody_data() {
        return [
            { tag: "MAC page", path: "/var/www/mac.html", field: "mac", text: deviceMac },
            { tag: "update page", path: "/var/www/update.html", field: "update", text: timestamp },
            { tag: "settings page", path: "/var/www/settings.html" },
            { tag: "index page", path: "/index.html" }
        ]
    }

    function test_binaryBody(data) {
        var client = newClientProbing(startDevice({ binaries: [data.path] }))
        var result = client.reportWhen(complete)
        if (data.field) {
            // Taken whole: the undecodable bytes come first, the text after them.
            var value = result[data.field]
            verify(value.length > data.text.length, data.field + " holds the binary part")
            verify(value.endsWith(data.text), data.field + " ends with the page text")
            result[data.field] = data.text
        }
        client.compareFindings(result, client.findings(identified))
        verifyStillWorks(client)
    }

    function test_connectionNeverCompletes_data() {
        return [
            { tag: "index page", hangs: ["/index.html"], expected: identifiedWith({ initfail: true }) },
            { tag: "settings page", hangs: ["/var/www/settings.html"], expected: identifiedWith({ type: "" }) },
            { tag: "every page", hangs: ["*"], expected: {} }
        ]
    }

    function test_connectionNeverCompletes(data) {
        var device = startDevice({ hangs: data.hangs })
        var client = newClientProbed(device)
        var expected = client.expectFindings(data.expected)
        // Still pending, still nothing from them, and the worker keeps answering.
        client.compareFindings(client.report(), expected, "second report")
        verifyStillWorks(client)
    }

    function test_connectionReset_data() {
        return [
            { tag: "settings page", resets: ["/var/www/settings.html"], minimum: 2,
              expected: identifiedWith({ type: "" }) },
            { tag: "index page", resets: ["/index.html"], minimum: 1,
              expected: identifiedWith({ initfail: true }) },
            { tag: "every page", resets: ["*"], minimum: 6, expected: {} }
        ]
    }

    function test_connectionReset(data) {
        var device = startDevice({ resets: data.resets })
        var client = newClientProbing(device)
        waitForEvents(device, "reset", data.minimum)
        client.expectFindings(data.expected)
        verifyStillWorks(client)
    }

    // Connection refused: status 0 everywhere, which changes nothing.
    function test_nothingListening() {
        var gone = startDevice({})
        var host = gone.host
        gone.stop()

        var client = newClient()
        client.probe(host, defaultPassword)
        client.compareFindings(client.report(), client.emptyFindings, "first report")
        client.compareFindings(client.report(), client.emptyFindings, "second report")
        verifyStillWorks(client)
    }
}
