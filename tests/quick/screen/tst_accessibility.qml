import QtQuick 2.0
import QtTest 1.2
import ZudiruvTest 1.0

// What a screen reader finds on the screen and hears as it changes: roles,
// names that are the shown texts, descriptions for what colour says, the
// press action and the focus, read through QAccessible as a reader does.
ScreenTestCase {
    id: testCase
    name: "Accessibility"

    property var reader: null

    Component {
        id: readerComponent
        AccessibilityReader {}
    }

    function init() {
        reader = createTemporaryObject(readerComponent, testCase)
        makeScreen()
        ;["ipAddr", "readyButton"].forEach(function (name) { reader.listen(part(name)) })
    }

    function read(name) {
        return reader.read(part(name))
    }

    // The parts of a reading that a check names, so a failure shows them all.
    function pick(reading, keys) {
        var picked = {}
        keys.forEach(function (key) { picked[key] = reading[key] })
        return picked
    }

    function verifyReads(name, expected) {
        compare(JSON.stringify(pick(read(name), Object.keys(expected))), JSON.stringify(expected), name)
    }

    function test_everyControlIsANamedButtonWithPressAndFocus() {
        var names = ["ipAddr", "macAddr", "fileImage", "readyButton"]
        var expected = [
            { role: "Button", name: "IP Address", description: "" },
            { role: "Button", name: "MAC Address", description: "" },
            { role: "Button", name: "Click here or drag and drop a file to flash.", description: "" },
            { role: "Button", name: "Insert valid IP", description: "not ready" }
        ]
        for (var i = 0; i < names.length; ++i) {
            verifyReads(names[i], expected[i])
            verify(read(names[i]).actions.indexOf("Press") !== -1, names[i] + " offers Press")
            compare(read(names[i]).focusable, true, names[i])
        }
        compare(read("password").invisible, true)
        var tree = reader.tree(screen)
        verify(tree.indexOf("Button 'IP Address'") !== -1, tree.join(", "))
        verify(tree.indexOf("Graphic 'Velquor'") !== -1, tree.join(", "))

        tryCompare(reader.read(part("ipAddr")), "focused", true)
        keyClick(Qt.Key_Tab)
        compare(read("ipAddr").focused, false)
        compare(read("macAddr").focused, true)

        // Press opens a row for typing, and the open row is a text field.
        verify(reader.doAction(part("ipAddr"), "Press"))
        compare(part("ipAddr").opened, true)
        verifyReads("ipAddr", { role: "EditableText", name: "Enter IP Address" })
        verify(reader.doAction(part("fileImage"), "Press"))
        tryCompare(part("fileDialog"), "visible", true)
        part("fileDialog").close()
    }

    function test_namesFollowTheWorkflowAndAreAnnounced() {
        startDevice({})
        enterText("ipAddr", deviceAddress)
        verifyReads("ipAddr", { name: "Testing IP Address", description: "waiting" })
        tryCompare(part("ipAddr"), "label", deviceAddress + " (POE Clock Type B)", probeWait)
        verifyReads("ipAddr", { role: "Button", name: deviceAddress + " (POE Clock Type B)", description: "identified" })
        tryVerify(function () { return part("readyButton").mac }, 5000)
        verifyReads("macAddr", { name: deviceMac, description: "identified" })

        dropFile(writeImage("wrong.bin", "E"))
        tryCompare(part("readyButton"), "opened", true)
        verifyReads("readyButton", { name: "Invalid file for selected device", description: "error" })

        installFlasher("echo '% Complete: 42%'; sleep 1; echo '% Complete: 100%'")
        dropFile(writeImage("firmware.bin", "A"))
        verifyReads("fileImage", { description: "file accepted" })
        tryCompare(part("readyButton"), "labelBack", "Click here to flash file", 3000)
        verifyReads("readyButton", { role: "Button", name: "Click here to flash file", description: "ready" })
        wait(300)
        verify(reader.doAction(part("readyButton"), "Press"))
        tryCompare(part("readyButton"), "labelFront", "42%", 5000)
        verifyReads("readyButton", { role: "ProgressBar", name: "42%", description: "flashing" })
        tryCompare(part("readyButton"), "labelBack", "Complete", 5000)
        verifyReads("readyButton", { role: "Button", name: "Complete", description: "complete" })

        var heard = reader.announced(part("ipAddr"))
        verify(heard.indexOf("Testing IP Address") !== -1, heard.join(" | "))
        verify(heard.indexOf(deviceAddress + " (POE Clock Type B)") !== -1, heard.join(" | "))
        heard = reader.announced(part("readyButton"))
        ;["Invalid file for selected device", "0%", "42%", "100%", "Complete"].forEach(function (name) {
            verify(heard.indexOf(name) !== -1, name + " announced in " + heard.join(" | "))
        })
    }

    function test_aFailedFlashIsHeardWithItsReason() {
        installFlasher("echo '% Complete: 20%'; echo 'ERROR: UDP port 67 is already in use (Address already in use)'")
        startDevice({})
        identify()
        dropFile(writeImage("firmware.bin", "A"))
        tryCompare(part("readyButton"), "labelBack", "Click here to flash file", 3000)
        wait(300)
        verify(reader.doAction(part("readyButton"), "Press"))
        var failed = "Error during flash, try again. UDP port 67 is already in use (Address already in use)"
        tryVerify(function () { return read("readyButton").name === failed }, 5000, JSON.stringify(read("readyButton")))
        verifyReads("readyButton", { role: "Button", name: failed, description: "error" })
        verify(reader.announced(part("readyButton")).indexOf(failed) !== -1)
    }

    function test_noResponseIsAnErrorAndThePasswordStaysHidden() {
        enterText("ipAddr", "127.0.0.7")
        tryCompare(part("ipAddr"), "label", "No response, IP may be incorrect.", probeWait)
        verifyReads("ipAddr", { name: "No response, IP may be incorrect.", description: "error" })
        verify(reader.announced(part("ipAddr")).indexOf("No response, IP may be incorrect.") !== -1)

        startDevice({ password: "s3cret" })
        enterText("ipAddr", deviceAddress)
        tryCompare(part("password"), "opened", true, probeWait)
        wait(300)
        typeText("s3cret")
        var reading = reader.read(findChild(part("password"), "passwordField"))
        // A password field: Qt then gives it no name, and its value is stars.
        compare(JSON.stringify(pick(reading, ["role", "passwordEdit", "value", "focused"])),
                JSON.stringify({ role: "EditableText", passwordEdit: true, value: "******", focused: true }))
        verify(JSON.stringify(reading).indexOf("s3cret") === -1, "the password is not read out: " + JSON.stringify(reading))
    }
}
