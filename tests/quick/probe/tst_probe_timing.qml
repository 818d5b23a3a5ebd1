import QtQuick 2.0
import QtTest 1.2

// When answers arrive relative to each other and to the report requests.
// Held answers are let go through the simulator at chosen moments, so every
// order below is forced rather than hoped for.
ProbeTestCase {
    name: "ProbeTiming"
    deviceDefaults: ({ mac: "02:56:51:4B:00:01" })

    readonly property string settingsPath: "/var/www/settings.html"
    readonly property string versionPath: "/var/www/version.html"
    readonly property string updatePath: "/var/www/update.html"

    // Everything but the update page has been found.
    function allButUpdate(r) {
        return r.mac !== "" && r.version !== "" && r.type !== "" && !r.initfail
    }

    function test_reportBeforeAnyAnswer() {
        var device = startDevice({ hangs: ["*"] })
        var client = newClientProbed(device)

        client.compareFindings(client.report(), client.emptyFindings, "first report")
        // Nothing was reset or cancelled by the first report; still nothing came.
        client.compareFindings(client.report(), client.emptyFindings, "second report")
        compare(client.messageCount, 2, "one result per report request")
        compare(device.events("response").length, 0)
    }

    function test_secondReportShowsWhatCameInBetween() {
        var device = startDevice({ timestamp: "2031-07-14 18:02:46", holds: [updatePath] })
        var client = newClientProbed(device)

        var first = client.reportWhen(allButUpdate)
        var partial = client.findings({ type: "POE", version: "B", authorized: true, initfail: false,
                                        mac: "02:56:51:4B:00:01" })
        client.compareFindings(first, partial, "before the update page answered")

        device.release(updatePath)
        partial.update = "2031-07-14 18:02:46"
        client.expectFindings(partial, "after it answered")
        compare(device.requests().length, 6, "reports send nothing to the device")
    }

    // A slow page joins the findings whenever it arrives.
    function test_slowPageStillCounts() {
        var device = startDevice({ timestamp: "slow stamp", delays: { "/var/www/update.html": 700 } })
        var client = newClientProbing(device)
        client.expectFindings({ type: "POE", version: "B", authorized: true, initfail: false,
                                mac: "02:56:51:4B:00:01", update: "slow stamp" })

        var asked = device.requests().filter(function (e) { return e.path === updatePath })
        var answered = device.events("response").filter(function (e) { return e.path === updatePath })
        compare(asked.length, 1)
        compare(answered.length, 1)
        // Log times are whole milliseconds.
        verify(answered[0].ms - asked[0].ms >= 699, "answered " + (answered[0].ms - asked[0].ms) + " ms later")
    }

    // The old probe's update page answers after the next probe has begun:
    // it belongs to another device and changes nothing.
    function test_lateAnswerOfEarlierProbe() {
        var earlier = startDevice({ kind: "poe", timestamp: "earlier device", mac: "02:00:00:00:00:01",
                                    holds: [updatePath] })
        var later = startDevice({ kind: "vo1000", timestamp: "later device", mac: "02:00:00:00:00:02",
                                  hangs: [updatePath] })
        var client = newClientProbed(earlier)
        client.reportWhen(allButUpdate)

        client.probe(later.host, defaultPassword)
        waitForEvents(later, "request", 6)
        var own = client.expectFindings({ type: "VO1000", version: "B", authorized: true, initfail: false,
                                          mac: "02:00:00:00:00:02" }, "the new probe reset everything")

        earlier.release(updatePath)
        waitForEvents(earlier, "response", 6)
        client.compareFindings(client.reportWhen(function (r) { return r.update !== "" }, 500), own,
                               "the late answer was dropped")
    }

    // The legacy request's 200 means generation A, whichever order the
    // answers come in. The device takes both credentials and its version
    // page says B, so only the order decides what is seen in between.
    function test_legacyAnswerWins_data() {
        return [
            { tag: "version page first", holds: [settingsPath], bodies: {},
              before: function (r) { return r.version === "B" && r.type === "" },
              after: function (r) { return r.type === "POE" && r.version === "A" } },
            // The update page carries the generation text so that its
            // handling can be seen; the version page is held along with it.
            { tag: "legacy first", holds: [versionPath, updatePath],
              bodies: { "/var/www/update.html": "TIVA Firmware Version B" },
              before: function (r) { return r.version === "A" && r.type === "POE" },
              after: function (r) { return r.update === "TIVA Firmware Version B" } }
        ]
    }

    function test_legacyAnswerWins(data) {
        var device = startDevice({ accept: "both", holds: data.holds, bodies: data.bodies })
        var client = newClientProbed(device)

        verify(data.before(client.reportWhen(data.before)), "the first answers were handled")
        device.release("")
        var result = client.reportWhen(data.after)
        verify(data.after(result), "the held answers were handled")
        compare(result.version, "A")
        compare(result.authorized, true)
    }

    // The kind comes from the first body that names one. The legacy answer
    // turns the generation from B to A, which shows when it was handled.
    function test_firstKindTextWins() {
        var device = startDevice({ accept: "both", holds: [settingsPath],
                                   bodies: { "/var/www/mac.html": "<td>Signal Strength</td>" } })
        var client = newClientProbed(device)
        var before = client.reportWhen(function (r) { return r.type !== "" && r.version !== "" })
        compare(before.type, "VO1000")
        compare(before.version, "B")

        device.release(settingsPath)
        var after = client.reportWhen(function (r) { return r.version === "A" })
        compare(after.version, "A", "the settings pages were handled")
        compare(after.type, "VO1000")
    }

    // A 401 turns false into "Unauthorized" but never takes back a true. The
    // held update page of a generation A device is refused; its body names a
    // kind, which shows when the refusal has been handled.
    function test_refusalAfterAcceptance() {
        var device = startDevice({ generation: "A", holds: [updatePath],
                                   bodies: { "/var/www/settings.html": "<p>settings</p>",
                                             "/var/www/update.html": "<p>Signal Strength</p>" } })
        var client = newClientProbed(device)
        var before = client.reportWhen(function (r) { return r.version === "A" })
        compare(before.authorized, true, "the plain password was accepted")
        compare(before.type, "")

        device.release(updatePath)
        client.expectFindings({ type: "VO1000", version: "A", authorized: true, initfail: false })
        compare(device.events("response").filter(function (e) { return e.path === updatePath })
                    .map(function (e) { return e.status }), [401])
    }
}
