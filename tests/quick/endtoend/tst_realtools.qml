import QtQuick 2.0
import QtTest 1.2
import "../screen"

// The whole update with this repository's own tools: arpping.exe and
// eflash.exe against the simulated device's web interface and boot loader
// on a loopback address, driven through the screen as a user would.
ScreenTestCase {
    name: "RealTools"

    readonly property string bootAddress: "127.0.0.6"

    function init() {
        makeScreen()
        installArp("exec \"$ZUDIRUV_BIN_DIR/arpping.exe\" \"$@\"")
        installFlasher("\"$ZUDIRUV_BIN_DIR/eflash.exe\" \"$@\" | tee eflash.log")
    }

    function imageBody(size) {
        var text = ""
        for (var i = 0; i < size; ++i)
            text += String.fromCharCode(32 + (i * 7 + (i >> 9)) % 95)
        return text
    }

    function test_flashesTheSimulatedDevice() {
        // The device's own MAC page, which the lookup must agree with.
        startDevice({ address: bootAddress, bootLoader: true, timestamp: "2026-12-07T05:00:00Z", mac: "" })
        identify(bootAddress)
        var button = part("readyButton")
        compare(button.type, "A")
        // What an ARP lookup of a loopback address reports.
        compare(part("macAddr").label, "00:00:00:00:00:00")
        compare(button.mac, true)

        var body = imageBody(100 * 1024 + 300)
        verify(tools.writeFile("release.bin", body + "ODLA"))
        dropFile(tools.path() + "/release.bin")
        compare(button.bin, true)

        var seen = []
        var watcher = function () { seen.push(button.labelFront) }
        button.labelFrontChanged.connect(watcher)
        clickBackFace()
        tryVerify(function () { return button.complete || button.labelBack !== "Click here to flash file" },
                  60000)
        compare(button.labelBack, "Complete", "the flasher said: " + tools.readFile("eflash.log"))
        button.labelFrontChanged.disconnect(watcher)

        // The boot loader keeps the image once its session has ended.
        tryVerify(function () { return device.receivedImage().byteLength > 0 }, 10000)
        compare(device.receivedImage(), body)
        compare(uploads().length, 1)
        compare(uploads()[0].code, "29123829167688589")
        verify(seen.indexOf("100%") >= 0, "the progress reached 100%: " + seen.join(" "))
        verify(!tools.exists("flashfile.tmp"))
    }
}
