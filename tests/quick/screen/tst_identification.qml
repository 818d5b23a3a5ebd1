import QtQuick 2.0
import QtTest 1.2

// From a typed address to an identified device: validation, the probe over
// HTTP, the password request and the MAC address lookup.
ScreenTestCase {
    name: "Identification"

    function init() {
        makeScreen()
    }

    function test_addressThatIsNoIPv4AddressIsRefusedWithoutProbing_data() {
        return [
            { tag: "number too large", text: "256.1.1.1" },
            { tag: "three parts", text: "127.0.0" },
            { tag: "trailing text", text: "127.0.0.2x" },
            { tag: "port", text: "127.0.0.2:80" },
            { tag: "this host", text: "0.0.0.0" },
            { tag: "this host with zeros", text: "000.00.0.0" },
            { tag: "broadcast", text: "255.255.255.255" },
            { tag: "lowest multicast group", text: "224.0.0.1" },
            { tag: "highest multicast group", text: "239.255.255.255" }
        ]
    }

    function test_addressThatIsNoIPv4AddressIsRefusedWithoutProbing(data) {
        var ip = part("ipAddr")
        part("macAddr").text = "stale"
        enterText("ipAddr", data.text)
        compare(ip.label, "Invalid IP")
        compareFaces(ip, red, red, "invalid address")
        compare(ip.check, false)
        compare(part("macAddr").text, "")
        compare(part("resp").running, false)
        compare(tools.runCount("arpping.exe"), 0)
    }

    function test_leadingZerosAreReadAsDecimal() {
        enterText("ipAddr", "127.000.0.010")
        compare(part("ipAddr").label, "Testing IP Address")
        compareFaces(part("ipAddr"), yellow, yellow, "testing")
        compare(part("ipAddr").text, "127.0.0.10")
        compare(part("readyButton").ipAddr, "127.0.0.10")
        tryVerify(function () { return tools.runCount("arpping.exe") === 1 }, 5000)
        compare(tools.lastArguments("arpping.exe"), ["-n", "1", "-w", "3000", "127.0.0.10"])
    }

    function test_nothingAnsweringIsReportedAfterTheFullWindow() {
        installArp("echo 'No response from $5'")
        var ip = part("ipAddr")
        enterText("ipAddr", "127.0.0.9")
        compare(ip.label, "Testing IP Address")
        tryVerify(function () { return tools.runCount("arpping.exe") === 1 }, 5000)
        compare(tools.lastArguments("arpping.exe"), ["-n", "1", "-w", "3000", "127.0.0.9"])
        tryCompare(part("macAddr"), "label", "Couldn't obtain MAC Address", 5000)
        // Nothing listens there, yet the result waits for the window's end.
        wait(1500)
        compare(ip.label, "Testing IP Address")
        tryCompare(ip, "label", "No response, IP may be incorrect.", probeWait)
        compare(String(ip.frontColor), red)
        compare(String(ip.backColor), yellow)
        compare(part("readyButton").ip, false)
        compare(part("macAddr").label, "MAC Address")
        compareFaces(part("macAddr"), grey, grey, "MAC row after no response")
    }

    function test_eachKindAndGenerationGetsItsLetter_data() {
        return [
            { tag: "PoE B", kind: "poe", generation: "B", text: "POE Clock Type B", letter: "A" },
            { tag: "PoE A", kind: "poe", generation: "A", text: "POE Clock Type A", letter: "B" },
            { tag: "Wi-Fi B", kind: "wifi", generation: "B", text: "WIFI Clock Type B", letter: "C" },
            { tag: "Wi-Fi A", kind: "wifi", generation: "A", text: "WIFI Clock Type A", letter: "D" },
            { tag: "VO1000 B", kind: "vo1000", generation: "B", text: "VO1000 Type B", letter: "E" },
            { tag: "VO1000 A", kind: "vo1000", generation: "A", text: "VO1000 Type A", letter: "F" }
        ]
    }

    function test_eachKindAndGenerationGetsItsLetter(data) {
        startDevice({ kind: data.kind, generation: data.generation })
        identify()
        var ip = part("ipAddr")
        compare(ip.label, deviceAddress + " (" + data.text + ")")
        compareFaces(ip, green, green, "identified")
        var button = part("readyButton")
        compare(button.type, data.letter)
        compare(button.ip, true)
        compare(button.ipAddr, deviceAddress)
        // The MAC address the lookup brought is checked with the result.
        var mac = part("macAddr")
        compare(mac.label, deviceMac)
        compareFaces(mac, green, green, "MAC row")
        compare(button.mac, true)
        compare(button.macAddr, deviceMac)
        compare(button.labelFront, "Drag and drop valid file")

        var paths = device.requests().map(function (request) { return request.path })
        verify(paths.indexOf("/index.html") >= 0)
        verify(paths.indexOf("/var/www/settings.html") >= 0)
    }

    function test_recognisedIndexWithoutSettingsLeavesTheKindUndetermined() {
        startDevice({ statuses: { "/var/www/settings.html": 404, "/var/www/version.html": 404 } })
        identify()
        var ip = part("ipAddr")
        compare(ip.label, "Type could not be determined")
        compare(String(ip.frontColor), red)
        var button = part("readyButton")
        compare(button.type, "G")
        compare(button.ip, true)
        compare(button.mac, false)
        var mac = part("macAddr")
        compare(mac.label, "MAC Address")
        compare(mac.text, "")
        compareFaces(mac, grey, grey, "MAC row")
    }

    function test_defaultPasswordRefusedThenTypedPasswordAccepted() {
        startDevice({ password: "s3cret", generation: "B" })
        identify()
        var ip = part("ipAddr")
        var password = part("password")
        compare(ip.label, "Insert Password")
        compareFaces(ip, yellow, yellow, "password wanted")
        compare(password.visible, true)
        compare(password.opened, true)
        compare(password.usepwd, true)
        tryCompare(screen, "height", 610)

        enterTextInOpenRow(password, "s3cret")
        compare(password.label, "******")
        compare(ip.label, "Testing IP Address")
        tryCompare(ip, "label", deviceAddress + " (POE Clock Type B)", probeWait)
        compare(password.visible, false)
        tryCompare(screen, "height", 550)
        compare(part("readyButton").type, "A")
    }

    function test_typedPasswordRefused() {
        startDevice({ password: "s3cret" })
        identify()
        var password = part("password")
        compare(password.opened, true)
        enterTextInOpenRow(password, "wrong")
        tryCompare(part("ipAddr"), "label", "Incorrect Password", probeWait)
        compare(String(part("ipAddr").frontColor), red)
        compare(password.opened, true)
        compare(password.text, "")
        compare(part("readyButton").ip, false)
    }

    function test_openingTheAddressRowGivesUpThePassword() {
        startDevice({ password: "s3cret" })
        identify()
        var ip = part("ipAddr")
        mouseClick(ip)
        tryCompare(ip, "opened", true)
        compare(part("password").visible, false)
        compare(part("password").usepwd, false)
        compare(ip.label, "IP Address")
        compareFaces(ip, grey, grey, "after giving up")
    }

    function test_lostMacLookupAfterIdentificationBlocksTheFlash() {
        startDevice({})
        installArp("echo 'Reply from " + deviceMac + " for $5'; sleep 4.5; echo 'No response from $5'")
        identify()
        var button = part("readyButton")
        compare(button.ip, true)
        tryCompare(part("macAddr"), "label", "Couldn't obtain MAC Address", probeWait)
        compare(button.ip, false)
        compare(part("macAddr").text, "")
        // The address row still shows the device.
        compare(part("ipAddr").label, deviceAddress + " (POE Clock Type B)")
        compare(String(part("ipAddr").frontColor), green)
    }

    function test_malformedMacIsAnErrorOnlyOnceNoLookupRuns() {
        startDevice({})
        installArp("sleep 1.5; echo 'Reply from 00-11-22 for $5'")
        enterText("ipAddr", deviceAddress)
        var mac = part("macAddr")
        compare(mac.label, "Retrieving MAC Address")
        compareFaces(mac, yellow, yellow, "lookup running")
        tryCompare(mac, "text", "00-11-22", 5000)
        compare(mac.label, "Retrieving MAC Address")
        tryCompare(part("arp"), "gettingMac", false, 5000)
        tryCompare(mac, "label", "Invalid MAC", probeWait)
        compareFaces(mac, red, red, "invalid MAC")

        mouseClick(mac)
        tryCompare(mac, "opened", true)
        wait(300)
        mac.text = "" // as if the user had deleted it
        typeText("0a-1B:2c-3D:4e-5F")
        keyClick(Qt.Key_Return)
        tryCompare(mac, "label", "0a-1B:2c-3D:4e-5F")
        compare(part("readyButton").mac, true)
    }

    function test_missingArpToolLetsTheUserTypeTheMac() {
        startDevice({})
        verify(tools.remove("arpping.exe"))
        enterText("ipAddr", deviceAddress)
        tryCompare(part("arp"), "gettingMac", false, 5000)
        tryCompare(part("readyButton"), "ip", true, probeWait)
        var mac = part("macAddr")
        compare(mac.label, "MAC Address")
        mouseClick(mac)
        tryCompare(mac, "opened", true)
        wait(300)
        typeText(deviceMac)
        keyClick(Qt.Key_Return)
        tryCompare(mac, "label", deviceMac)
        compare(part("readyButton").mac, true)
    }

    function enterTextInOpenRow(row, text) {
        tryCompare(row, "opened", true)
        wait(300)
        typeText(text)
        keyClick(Qt.Key_Return)
        tryCompare(row, "opened", false)
    }
}
