import QtQuick 2.0
import QtTest 1.2

// The whole screen by keyboard alone: the Tab chain, keys on closed and open
// rows, the image area and the flash button, and the focus ring. Keys go to
// the focus window, as the user's keyboard does.
ScreenTestCase {
    name: "Keyboard"

    function init() {
        makeScreen()
        tryVerify(function () { return part("ipAddr").hasKeyboard }, 3000, "the keyboard starts on the IP row")
    }

    function holder() {
        var names = ["ipAddr", "password", "macAddr", "fileImage", "readyButton"]
        for (var i = 0; i < names.length; ++i) {
            var control = part(names[i])
            if (control.activeFocus || (control.hasKeyboard === true))
                return names[i]
        }
        return "nothing"
    }

    function tabThrough(key, modifiers, count) {
        var visited = []
        for (var i = 0; i < count; ++i) {
            keyClick(key, modifiers)
            visited.push(holder())
        }
        return visited
    }

    function ring() {
        return findChild(screen, "focusRing")
    }

    function test_tabChainWrapsAndTakesThePasswordRowWhileShown() {
        compare(tabThrough(Qt.Key_Tab, Qt.NoModifier, 5),
                ["macAddr", "fileImage", "readyButton", "ipAddr", "macAddr"])
        compare(tabThrough(Qt.Key_Backtab, Qt.ShiftModifier, 3), ["ipAddr", "readyButton", "fileImage"])

        startDevice({ password: "s3cret" })
        mouseClick(part("ipAddr"))
        wait(300)
        typeText(deviceAddress)
        keyClick(Qt.Key_Return)
        tryCompare(part("password"), "opened", true, probeWait)
        tryVerify(function () { return holder() === "password" }, 3000, "the password row takes the keyboard")
        // Leaving an open row by Tab closes it as a click elsewhere does.
        compare(tabThrough(Qt.Key_Tab, Qt.NoModifier, 2), ["macAddr", "fileImage"])
        compare(part("password").opened, false)
        compare(tabThrough(Qt.Key_Backtab, Qt.ShiftModifier, 3), ["macAddr", "password", "ipAddr"])
    }

    function test_rowsOpenAndCloseByKeyAndKeepTheFocus() {
        var ip = part("ipAddr")
        keyClick(Qt.Key_Space)
        compare(ip.opened, true)
        wait(300)
        typeText("127.0.0.9")
        keyClick(Qt.Key_Return)
        compare(ip.opened, false)
        tryVerify(function () { return tools.runCount("arpping.exe") === 1 }, 5000, "the typed address is looked up")
        wait(300)
        compare(holder(), "ipAddr")
        // Return opens it again, and Escape there closes it as Return does:
        // the typed address is taken and probed as any closing takes it.
        keyClick(Qt.Key_Return)
        compare(ip.opened, true)
        wait(300)
        keyClick(Qt.Key_A, Qt.ControlModifier)
        typeText("127.0.0.8")
        keyClick(Qt.Key_Escape)
        compare(ip.opened, false)
        tryVerify(function () { return tools.runCount("arpping.exe") === 2 }, 5000)
        compare(tools.lastArguments("arpping.exe")[4], "127.0.0.8")

        // Escape in the MAC row puts back what it held; Return keeps the typing.
        var mac = part("macAddr")
        tryCompare(mac, "text", deviceMac, 5000)
        keyClick(Qt.Key_Tab)
        compare(holder(), "macAddr")
        keyClick(Qt.Key_Return)
        wait(300)
        keyClick(Qt.Key_A, Qt.ControlModifier)
        typeText("zz")
        keyClick(Qt.Key_Escape)
        compare(mac.opened, false)
        compare(mac.text, deviceMac)
        compare(holder(), "macAddr")
        wait(300) // a click, too, reaches the face only once it has turned
        keyClick(Qt.Key_Return)
        wait(300)
        keyClick(Qt.Key_A, Qt.ControlModifier)
        typeText("zz")
        keyClick(Qt.Key_Return)
        compare(mac.text, "zz")
        compare(mac.label, "Invalid MAC")
    }

    // A quick typist types while the row is still turning to its text box.
    function test_typingDuringTheTurnIsKept() {
        var ip = part("ipAddr")
        keyClick(Qt.Key_Return)
        typeText("127.0.0.9")
        compare(ip.text, "127.0.0.9")
        keyClick(Qt.Key_Return)
        compare(ip.opened, false)
        tryVerify(function () { return tools.runCount("arpping.exe") === 1 }, 5000, "the typed address is looked up")
        compare(tools.lastArguments("arpping.exe")[4], "127.0.0.9")

        // The same after a click, and the text box has the keys once it shows.
        // The lookup's answer first: arriving while the row is typed in, it
        // would take the row's text.
        var mac = part("macAddr")
        tryCompare(mac, "text", deviceMac, 5000)
        var looked = mac.text
        mouseClick(mac)
        typeText("00:11")
        wait(300)
        typeText(":22")
        compare(mac.text, looked + "00:11:22")
    }

    function test_wholeUpdateByKeyboard() {
        startDevice({})
        var button = part("readyButton")
        // Return on the button before anything is known does what a click does.
        tabThrough(Qt.Key_Backtab, Qt.ShiftModifier, 1)
        button.labelFront = "something else"
        keyClick(Qt.Key_Return)
        compare(button.labelFront, "Insert valid IP")

        tabThrough(Qt.Key_Tab, Qt.NoModifier, 1)
        keyClick(Qt.Key_Return)
        wait(300)
        typeText(deviceAddress)
        keyClick(Qt.Key_Return)
        tryVerify(function () { return button.ip && button.mac }, probeWait, "the device is identified")

        // The image area opens the dialog and gets the keyboard back after it.
        compare(tabThrough(Qt.Key_Tab, Qt.NoModifier, 2), ["macAddr", "fileImage"])
        keyClick(Qt.Key_Space)
        var dialog = part("fileDialog")
        tryCompare(dialog, "visible", true)
        dialog.close()
        tryCompare(dialog, "visible", false)
        tryCompare(part("fileImage"), "activeFocus", true)
        compare(tools.runCount("eflash.exe"), 0)

        dropFile(writeImage("firmware.bin", "A"))
        tryCompare(button, "opened", true)
        compare(tabThrough(Qt.Key_Tab, Qt.NoModifier, 1), ["readyButton"])
        wait(300) // the back face turns in, as a click must wait for it
        keyClick(Qt.Key_Return)
        compare(button.labelFront, "0%")
        compare(button.noProg, true)
        tryCompare(button, "labelBack", "Complete", 5000)
        // Keys during "Complete", like clicks, start nothing.
        keyClick(Qt.Key_Return)
        keyClick(Qt.Key_Space)
        wait(500)
        compare(tools.runCount("eflash.exe"), 1)
        compare(uploads().length, 1)
    }

    function test_ringShowsAfterKeysOnlyAndChangesNoColour() {
        var ip = part("ipAddr")
        var faces = [String(ip.frontColor), String(ip.backColor)]
        compare(ring().visible, false)
        keyClick(Qt.Key_Tab)
        keyClick(Qt.Key_Backtab, Qt.ShiftModifier)
        tryCompare(ring(), "visible", true)
        compare([ring().x, ring().y, ring().width, ring().height], [ip.x, ip.y, ip.width, ip.height])
        compare(ring().border.width, 2)
        compare(String(ring().color), "#00000000")
        compare([String(ip.frontColor), String(ip.backColor)], faces)

        keyClick(Qt.Key_Tab)
        keyClick(Qt.Key_Tab)
        var image = part("fileImage")
        compare([ring().y, ring().height], [image.y, image.height])

        mouseClick(part("macAddr"))
        compare(ring().visible, false)
        tryCompare(part("macAddr"), "opened", true)
        wait(300)
        keyClick(Qt.Key_Escape)
        compare(ring().visible, true)
        compare(ring().y, part("macAddr").y)
    }
}
