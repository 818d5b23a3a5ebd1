import QtQuick 2.0
import QtTest 1.2

// The probe worker against a simulated device of every kind and generation,
// and against devices whose pages answer in unusual ways.
ProbeTestCase {
    name: "ProbeDevices"

    readonly property string timestamp: "2031-07-14 18:02:46 UTC"
    readonly property string deviceMac: "02:56:51:4B:7A:10"
    readonly property string settingsPath: "/var/www/settings.html"

    deviceDefaults: ({ timestamp: timestamp, mac: deviceMac })

    function credentialPairs(requests) {
        return requests.map(function (request) {
            return request.method + " " + request.path + " " + request.authorization
        }).sort()
    }

    // The six GETs of one probe, as the device saw them.
    function verifyProbeRequests(device, password) {
        var requests = waitForEvents(device, "request", 6)
        compare(requests.length, 6)
        var digest = "Basic " + Qt.md5(password)
        compare(credentialPairs(requests), [
            "GET /index.html Basic " + Qt.md5(""),
            "GET /var/www/mac.html " + digest,
            "GET /var/www/settings.html " + digest,
            "GET /var/www/settings.html Basic " + password,
            "GET /var/www/update.html " + digest,
            "GET /var/www/version.html " + digest
        ].sort())

        var seen = {}
        for (var i = 0; i < requests.length; ++i) {
            var query = requests[i].query
            verify(/^id=\d/.test(query), "query of " + requests[i].path + ": " + query)
            var id = Number(query.substring(3))
            verify(!isNaN(id) && id >= 0 && id < 1, "random id in [0, 1): " + query)
            verify(!seen[query], "every request has its own id: " + query)
            seen[query] = true
            compare(requests[i].body, "", "GET without a body")
        }
    }

    function test_identifiesEveryDevice_data() {
        var withPages = { mac: deviceMac, update: timestamp }
        return [
            { tag: "PoE clock, generation B", kind: "poe", generation: "B", type: "POE", pages: withPages },
            { tag: "Wi-Fi clock, generation B", kind: "wifi", generation: "B", type: "WIFI", pages: withPages },
            { tag: "VO1000, generation B", kind: "vo1000", generation: "B", type: "VO1000", pages: withPages },
            // The older line refuses the digest, so only the plain-password
            // settings request gets through.
            { tag: "PoE clock, generation A", kind: "poe", generation: "A", type: "POE", pages: {} },
            { tag: "Wi-Fi clock, generation A", kind: "wifi", generation: "A", type: "WIFI", pages: {} },
            { tag: "VO1000, generation A", kind: "vo1000", generation: "A", type: "VO1000", pages: {} }
        ]
    }

    function test_identifiesEveryDevice(data) {
        var device = startDevice({ kind: data.kind, generation: data.generation })
        var client = newClientProbing(device)
        verifyProbeRequests(device, defaultPassword)
        waitForEvents(device, "response", 6)
        client.expectFindings({ type: data.type, version: data.generation, authorized: true, initfail: false,
                                mac: data.pages.mac || "", update: data.pages.update || "" })

        var statusByCredential = {}
        device.events("response").forEach(function (response) {
            statusByCredential[response.path] = (statusByCredential[response.path] || []).concat(response.status).sort()
        })
        compare(statusByCredential[settingsPath], [200, 401], "one settings request refused")
    }

    function test_passwords_data() {
        return [
            { tag: "wrong password, generation B", generation: "B", devicePassword: "plorvask",
              password: "plorvas", expected: { authorized: "Unauthorized", initfail: false } },
            { tag: "wrong password, generation A", generation: "A", devicePassword: "plorvask",
              password: "PLORVASK", expected: { authorized: "Unauthorized", initfail: false } },
            { tag: "own password, generation B", generation: "B", devicePassword: "s3cret",
              password: "s3cret",
              expected: { authorized: true, initfail: false, type: "POE", version: "B",
                          mac: deviceMac, update: timestamp } },
            { tag: "own password, generation A", generation: "A", devicePassword: "s3cret",
              password: "s3cret",
              expected: { authorized: true, initfail: false, type: "POE", version: "A" } },
            // The digest must be taken over UTF-8 for the device to agree.
            { tag: "non-ASCII password, generation B", generation: "B",
              devicePassword: "Gr\u00fc\u00dfe \u6642\ud834\udd1e", password: "Gr\u00fc\u00dfe \u6642\ud834\udd1e",
              expected: { authorized: true, initfail: false, type: "POE", version: "B",
                          mac: deviceMac, update: timestamp } },
            { tag: "non-ASCII password, generation A", generation: "A",
              devicePassword: "Gr\u00fc\u00dfe", password: "Gr\u00fc\u00dfe",
              expected: { authorized: true, initfail: false, type: "POE", version: "A" } },
            { tag: "empty password, generation B", generation: "B", devicePassword: "",
              password: "",
              expected: { authorized: true, initfail: false, type: "POE", version: "B",
                          mac: deviceMac, update: timestamp } }
        ]
    }

    function test_passwords(data) {
        var device = startDevice({ generation: data.generation, password: data.devicePassword })
        var client = newClient()
        client.probe(device.host, data.password)
        verifyProbeRequests(device, data.password)
        waitForEvents(device, "response", 6)
        client.expectFindings(data.expected)
    }

    function test_pages_data() {
        var identified = { authorized: true, initfail: false, type: "POE", version: "B",
                           mac: deviceMac, update: timestamp }
        var like = function (changes) { return overlaid(identified, changes) }
        var allButIndex = ["/var/www/settings.html", "/var/www/version.html",
                           "/var/www/mac.html", "/var/www/update.html"]
        function statusFor(paths, status) {
            var statuses = {}
            paths.forEach(function (path) { statuses[path] = status })
            return statuses
        }
        var missingBut = function (kept) {
            return statusFor(allButIndex.filter(function (path) { return path !== kept }), 404)
        }
        // Any one accepted request besides the index page authorizes.
        var onlyAccepted = function (what, kept, found, device) {
            return { tag: "only the " + what + " accepted",
                     device: overlaid(device, { statuses: missingBut(kept) }),
                     expected: overlaid({ authorized: true, initfail: false }, found) }
        }
        return [
            onlyAccepted("legacy request", "/var/www/settings.html", { type: "POE", version: "A" },
                         { generation: "A" }),
            onlyAccepted("settings digest", "/var/www/settings.html", { type: "POE" }),
            onlyAccepted("version page", "/var/www/version.html", { version: "B" }),
            onlyAccepted("MAC page", "/var/www/mac.html", { mac: deviceMac }),
            onlyAccepted("update page", "/var/www/update.html", { update: timestamp }),
            { tag: "index recognised, other pages missing",
              device: { statuses: statusFor(allButIndex, 404) },
              expected: { initfail: false } },
            { tag: "index recognised, other pages failing",
              device: { statuses: statusFor(allButIndex, 500) },
              expected: { initfail: false } },
            { tag: "index without a configuration title",
              device: { bodies: { "/index.html": "<html><title>Router login</title></html>" } },
              expected: like({ initfail: true }) },
            { tag: "index refused, settings accepted",
              device: { statuses: { "/index.html": 401 } },
              expected: like({ initfail: true }) },
            { tag: "time server title",
              device: { bodies: { "/index.html": "<title>Time Server Configuration</title>" } },
              expected: identified },
            { tag: "SSID at the very start still makes a PoE clock",
              device: { kind: "wifi", bodies: { "/var/www/settings.html": "SSID: x <td>Primary NTP Server</td>" } },
              expected: identified },
            { tag: "SSID after the start makes a Wi-Fi clock",
              device: { bodies: { "/var/www/settings.html": " SSID: x <td>Primary NTP Server</td>" } },
              expected: like({ type: "WIFI" }) },
            { tag: "TIVA and plain Firmware Version make generation A",
              device: { bodies: { "/var/www/version.html": "TIVA <td>Firmware Version</td> 4.07" } },
              expected: like({ version: "A" }) },
            { tag: "Firmware Version B at the very start is still B",
              device: { bodies: { "/var/www/version.html": "Firmware Version B 4.07" } },
              expected: identified },
            { tag: "no generation text anywhere",
              device: { bodies: { "/var/www/version.html": "<td>Release</td> 4.07" } },
              expected: like({ version: "" }) },
            { tag: "empty update page",
              device: { bodies: { "/var/www/update.html": "" } },
              expected: like({ update: "" }) },
            { tag: "line ends kept in the update page",
              device: { timestamp: "2031-07-14\r\n18:02:46\n" },
              expected: like({ update: "2031-07-14\r\n18:02:46\n" }) },
            { tag: "line ends kept in the MAC page",
              device: { mac: " " + deviceMac + "\r\n" },
              expected: like({ mac: " " + deviceMac + "\r\n" }) },
            { tag: "kind text on a missing page still counts",
              device: { statuses: statusFor(allButIndex, 404),
                        bodies: { "/var/www/mac.html": "<h1>Not Found</h1> Signal Strength" } },
              expected: { initfail: false, type: "VO1000" } }
        ]
    }

    function test_pages(data) {
        var device = startDevice(data.device)
        var client = newClientProbing(device)
        waitForEvents(device, "response", 6)
        client.expectFindings(data.expected)
    }
}
