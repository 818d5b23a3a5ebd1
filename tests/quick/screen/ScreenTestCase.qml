import QtQuick 2.0
import QtTest 1.2
import ZudiruvTest 1.0
import "../../../qml/content" as Content

// A main screen with real Arp and Flash objects, fake arpping.exe and
// eflash.exe in a scratch working directory, and a simulated Velquor device
// on port 80 of a loopback address. The helpers act as a user would: they
// click the rows' faces and type into them.
TestCase {
    id: testCase

    readonly property string deviceAddress: "127.0.0.2"
    readonly property string deviceMac: "00:11:22:33:44:55"
    readonly property string grey: "#999999"
    readonly property string yellow: "#d9d926"
    readonly property string red: "#f73e3e"
    readonly property string green: "#69c56e"
    // A probe always takes its full window; results come only after it.
    readonly property int probeWait: 8000

    property var screen: null
    property var tools: null
    property var device: null

    // A TestCase is not shown by default, and clicks need a visible screen.
    visible: true
    width: 320
    height: 610
    when: windowShown

    Component {
        id: screenComponent
        Content.ListView {}
    }
    Component {
        id: toolsComponent
        FakeToolDir {}
    }
    Component {
        id: deviceComponent
        DeviceSimulator {}
    }

    function part(name) {
        var found = findChild(screen, name)
        verify(found !== null, "the screen has " + name)
        return found
    }

    // A fresh screen in a fresh working directory whose ARP tool answers with
    // `deviceMac` and whose flasher climbs to 100 %.
    function makeScreen() {
        tools = createTemporaryObject(toolsComponent, testCase)
        installArp("echo 'Reply from " + deviceMac + " for $5 in 0.4 ms'")
        installFlasher("echo '% Complete: 50%'; echo '% Complete: 100%'")
        screen = createTemporaryObject(screenComponent, testCase)
        verify(screen !== null)
        return screen
    }

    function installArp(body) {
        verify(tools.install("arpping.exe", body))
    }

    // The flasher also keeps a copy of the staged image it was given.
    function installFlasher(body) {
        verify(tools.install("eflash.exe", "cp \"$5\" staged-at-flash.bin 2>/dev/null\n" + body))
    }

    // The device's MAC page agrees with the fake ARP tool unless told otherwise.
    function startDevice(settings) {
        var properties = { address: deviceAddress, listenPort: 80, mac: deviceMac }
        for (var key in settings)
            properties[key] = settings[key]
        device = createTemporaryObject(deviceComponent, testCase, properties)
        verify(device.start(), "the simulated device starts: " + device.errorText)
        return device
    }

    function typeText(text) {
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i))
    }

    // Clicks the row's caption to open it, types, and presses Enter.
    function enterText(rowName, text) {
        var row = part(rowName)
        mouseClick(row)
        tryCompare(row, "opened", true)
        wait(300) // the text box takes keys once its face has turned in
        keyClick(Qt.Key_A, Qt.ControlModifier)
        keyClick(Qt.Key_Delete)
        typeText(text)
        keyClick(Qt.Key_Return)
        tryCompare(row, "opened", false)
    }

    function compareFaces(row, front, back, context) {
        compare(String(row.frontColor), front, context + ": front face")
        compare(String(row.backColor), back, context + ": back face")
    }

    // Types the address and waits for the probe's end.
    function identify(address) {
        enterText("ipAddr", address || deviceAddress)
        tryCompare(part("resp"), "complete", true, probeWait)
        tryCompare(part("ipAddr"), "check", false, probeWait)
        wait(50)
    }

    function writeImage(name, letter) {
        verify(tools.writeFile(name, "firmware body " + name + "ODL" + letter))
        return tools.path() + "/" + name
    }

    function dropFile(path) {
        screen.acceptFile("file://" + encodeURI(path))
    }

    function clickBackFace() {
        var button = part("readyButton")
        tryCompare(button, "opened", true)
        wait(300) // the back face takes clicks once it has turned in
        mouseClick(button)
    }

    function uploads() {
        return device.events("update_code")
    }
}
