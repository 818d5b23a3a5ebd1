import QtQuick 2.0
import QtTest 1.2

// What keeps a flash to the device and image that were checked: rows and image
// area locked while it runs, each device's own update code uploaded before the
// flasher starts, the device's own MAC address, and a history line per flash.
ScreenTestCase {
    name: "FlashSafety"

    readonly property string timestamp: "2026-12-07T05:00:00Z"
    readonly property string updatePage: "/var/www/update.html"
    readonly property string settingsPage: "/var/www/settings.html"

    function init() {
        makeScreen()
    }

    // Identifies the device and drops a matching image; returns the button.
    function readyToFlash(deviceSettings, address) {
        startDevice(deviceSettings)
        identify(address)
        var button = part("readyButton")
        dropFile(writeImage("firmware.bin", button.type))
        tryCompare(button, "labelBack", "Click here to flash file")
        return button
    }

    // A failure notice already shows the ending before the retry has run:
    // the run's history line tells that it has.
    function flashToEnd(ending) {
        var before = history().length
        clickBackFace()
        tryVerify(function () { return history().length > before }, 8000, "the flash ends")
        tryCompare(part("readyButton"), "labelBack", ending || "Complete", 8000)
    }

    function history() {
        if (!tools.exists("zudiruv-history.jsonl"))
            return []
        var text = String(tools.readFile("zudiruv-history.jsonl"))
        return text.split("\n").filter(function (line) { return line !== "" }).map(JSON.parse)
    }

    function test_nothingChangesTheDeviceOrImageOfARunningFlash() {
        installFlasher("echo '% Complete: 10%'; while [ ! -e go-on ]; do sleep 0.1; done; echo '% Complete: 100%'")
        var button = readyToFlash({})
        var held = button.file
        clickBackFace()
        tryCompare(button, "labelFront", "10%", 5000)

        var ip = part("ipAddr")
        var mac = part("macAddr")
        mouseClick(ip)
        mouseClick(mac)
        wait(300)
        compare(ip.opened, false, "the IP row stays closed")
        compare(mac.opened, false, "the MAC row stays closed")
        mouseClick(part("fileImage"))
        compare(part("fileDialogLoader").active, false, "no file dialog")
        dropFile(writeImage("other.bin", "A"))
        compare(button.file, held)
        compare(button.noProg, true, "the progress stays shown")
        compare(tools.readFile("staged-at-flash.bin"), "firmware body firmware.bin")

        verify(tools.writeFile("go-on", ""))
        tryCompare(button, "labelBack", "Complete", 5000)
        verify(!tools.exists("flashfile.tmp"), "the flashed image is removed, and no other was staged")
        tryCompare(button, "complete", false, 3000)
        mouseClick(ip)
        tryCompare(ip, "opened", true)
    }

    function test_noUploadToADeviceWithoutItsOwnUpdatePage_data() {
        return [
            { tag: "empty update page", settings: { bodies: { "/var/www/update.html": "" } } },
            { tag: "update page not answering", settings: { hangs: ["/var/www/update.html"] } },
            { tag: "generation A refusing the digest", settings: { generation: "A" } }
        ]
    }

    function test_noUploadToADeviceWithoutItsOwnUpdatePage(data) {
        var first = readyToFlash({ timestamp: timestamp })
        var firstDevice = device
        flashToEnd()
        tryVerify(function () { return firstDevice.events("update_code").length === 1 }, 5000)

        var settings = data.settings
        settings.address = "127.0.0.3"
        settings.timestamp = timestamp
        readyToFlash(settings, "127.0.0.3")
        flashToEnd()
        compare(tools.lastArguments("eflash.exe")[1], "127.0.0.3")
        wait(500)
        compare(device.events("update_code").length, 0, "no code went to the second device")
        compare(firstDevice.events("update_code").length, 1)
        var lines = history()
        compare(lines.length, 2)
        compare(lines[1].address, "127.0.0.3")
        compare(lines[1].code_uploaded, false)
        compare(lines[1].code_status, null)
    }

    // The device typed before answers one of its pages only while the next
    // one is probed. The next device's own update page never answers, and
    // its settings page comes only after the late one.
    function test_aLateAnswerOfTheDeviceBeforeChangesNothing_data() {
        return [
            { tag: "update page", earlier: { kind: "poe", timestamp: timestamp, holds: [updatePage] },
              latePath: updatePage, nextHolds: [] },
            { tag: "Wi-Fi settings page", earlier: { kind: "wifi", holds: [settingsPage] },
              latePath: settingsPage, nextHolds: [settingsPage] }
        ]
    }

    function test_aLateAnswerOfTheDeviceBeforeChangesNothing(data) {
        var settings = data.earlier
        settings.address = "127.0.0.3"
        var earlier = startDevice(settings)
        identify("127.0.0.3")
        var next = startDevice({ timestamp: timestamp, hangs: [updatePage], holds: data.nextHolds })

        enterText("ipAddr", deviceAddress)
        tryVerify(function () { return next.requests().length === 6 }, probeWait)
        var answered = earlier.events("response").length
        earlier.release(data.latePath)
        tryVerify(function () { return earlier.events("response").length > answered }, probeWait)
        wait(200) // the late answer reaches the probe worker
        next.release(settingsPage)
        tryCompare(part("ipAddr"), "label", deviceAddress + " (POE Clock Type B)", probeWait)

        var button = part("readyButton")
        dropFile(writeImage("wifi.bin", "C"))
        compare(button.bin, false, "a Wi-Fi image is refused")
        dropFile(writeImage("poe.bin", "A"))
        flashToEnd()
        compare(tools.lastArguments("eflash.exe")[1], deviceAddress)
        wait(500)
        compare(next.events("update_code").length, 0, "no code went to the next device")
        compare(earlier.events("update_code").length, 0)
        compare(history()[0].code_uploaded, false)
    }

    function test_theFlasherStartsOnceTheUploadHasEnded_data() {
        return [
            { tag: "answered", release: true, status: 200 },
            { tag: "no answer within 3 s", release: false, status: 0 }
        ]
    }

    function test_theFlasherStartsOnceTheUploadHasEnded(data) {
        var button = readyToFlash({ timestamp: timestamp, holds: ["/etc/update_code"] })
        clickBackFace()
        tryCompare(button, "labelFront", "0%")
        wait(1000)
        compare(tools.runCount("eflash.exe"), 0, "the flasher waits for the upload")
        mouseClick(part("ipAddr"))
        compare(part("ipAddr").opened, false, "the rows are locked while it waits")
        if (data.release)
            device.release("/etc/update_code")
        tryCompare(button, "labelBack", "Complete", 8000)
        compare(tools.runCount("eflash.exe"), 1)
        var line = history()[0]
        compare(line.code_uploaded, true)
        compare(line.code_status, data.status)
    }

    function test_aMacRowOtherThanTheDevicesIsRefused() {
        var button = readyToFlash({ timestamp: timestamp, mac: "66:77:88:99:AA:BB\r\n" })
        clickBackFace()
        compare(button.labelBack, "MAC does not match the device")
        compare(String(button.backColor), red)
        compare(String(part("macAddr").frontColor), red)
        tryCompare(button, "labelFront", "Insert valid MAC", 4000)
        compare(button.opened, false)
        wait(300)
        compare(tools.runCount("eflash.exe"), 0)
        compare(uploads().length, 0)

        // The device's own address, in another spelling, is the same one.
        enterText("macAddr", "66-77-88-99-aa-bb")
        flashToEnd()
        compare(tools.lastArguments("eflash.exe")[3], "66-77-88-99-aa-bb")
    }

    function test_aMacPageWithoutAddressLeavesTheRowsAddress() {
        readyToFlash({ mac: "not configured" })
        flashToEnd()
        compare(tools.lastArguments("eflash.exe")[3], deviceMac)
    }

    function test_historyKeepsEveryFlash() {
        installFlasher("sha256sum firmware.bin | cut -c1-64 | tr -d '\\n' > picked.sha\n"
                       + "echo 'ERROR: no answer from the boot loader'; echo 'ERROR: gave up'; exit 1")
        var button = readyToFlash({ timestamp: timestamp })
        flashToEnd("Error during flash, try again.")
        // Each retry is a click on the failure notice itself.
        verify(tools.remove("eflash.exe"))
        flashToEnd("Error during flash, try again.")
        installFlasher("echo '% Complete: 100%'")
        flashToEnd()

        var lines = history()
        compare(lines.length, 3)
        var failed = lines[0]
        compare(failed.tool, "zudiruv")
        compare(failed.address, deviceAddress)
        compare(failed.mac, deviceMac)
        compare(failed.kind, "POE Clock Type B")
        compare(failed.letter, "A")
        compare(failed.image, "firmware.bin")
        compare(failed.image_sha256, String(tools.readFile("picked.sha")))
        compare(failed.code_uploaded, true)
        compare(failed.code_status, 200)
        compare(failed.result, "failed")
        compare(failed.exit_status, 1)
        compare(failed.errors, ["ERROR: no answer from the boot loader", "ERROR: gave up"])
        verify(!isNaN(Date.parse(failed.time)), "a time: " + failed.time)

        compare(lines[1].result, "failed")
        compare(lines[1].exit_status, -1)
        verify(/could not be started/.test(lines[1].errors[0]), JSON.stringify(lines[1]))

        compare(lines[2].result, "complete")
        compare(lines[2].exit_status, 0)
        compare(lines[2].errors, [])
        compare(lines[2].image_sha256, failed.image_sha256)
    }
}
