import QtQuick 2.0
import QtTest 1.2
import "../../../qml/content"

ControlTestCase {
    name: "ButtonDelegate"

    Component { id: buttonComponent; ButtonDelegate {} }

    function createButton(properties) {
        return createControl(buttonComponent, properties)
    }

    function openedButton(properties) {
        return openFully(createButton(properties))
    }

    function test_openCloseGuards() {
        var button = createButton()
        var log = []
        button.hasOpened.connect(function () { log.push("hasOpened " + button.opened + " " + button.flipped) })
        button.open()
        button.open()
        compare(log, ["hasOpened true true"], "one report, after the flags are set")
        button.close()
        verify(!button.opened && !button.flipped)
        button.close()
        verify(!button.opened && !button.flipped)
        compare(log.length, 1, "closing reports nothing")
    }

    function test_frontClickNamesFirstMissing_data() {
        return [
            { tag: "nothing", ip: false, mac: false, bin: false, label: "Insert valid IP" },
            { tag: "no ip, rest set", ip: false, mac: true, bin: true, label: "Insert valid IP" },
            { tag: "no mac", ip: true, mac: false, bin: false, label: "Insert valid MAC" },
            { tag: "no mac, file set", ip: true, mac: false, bin: true, label: "Insert valid MAC" },
            { tag: "no file", ip: true, mac: true, bin: false, label: "Drag and drop valid file" },
            { tag: "all set", ip: true, mac: true, bin: true, label: "42%" }
        ]
    }
    function test_frontClickNamesFirstMissing(data) {
        var button = createButton({ ip: data.ip, mac: data.mac, bin: data.bin, labelFront: "42%" })
        var clickedSpy = spyOn(button, "buttonClicked")
        clickCentre(button)
        compare(button.labelFront, data.label)
        compare(clickedSpy.count, 0, "the back face is turned away and takes no clicks")
        verify(!button.opened)
    }

    function test_backClick_data() {
        return [
            { tag: "ready", ip: true, mac: true, bin: true, complete: false, starts: true },
            { tag: "just completed", ip: true, mac: true, bin: true, complete: true, starts: false },
            { tag: "no ip", ip: false, mac: true, bin: true, complete: false, starts: false },
            { tag: "no mac", ip: true, mac: false, bin: true, complete: false, starts: false },
            { tag: "no file", ip: true, mac: true, bin: false, complete: false, starts: false }
        ]
    }
    function test_backClick(data) {
        var button = openedButton({ ip: data.ip, mac: data.mac, bin: data.bin, complete: data.complete,
                                    labelFront: "Insert valid IP", labelBack: "Click here to flash file" })
        var clickedSpy = spyOn(button, "buttonClicked")
        var prog = findChild(button, "progressbar")
        verify(prog, "progress bar by its object name")
        clickCentre(button)
        compare(clickedSpy.count, 1, "every back-face click is reported")
        compare(button.labelFront, data.starts ? "0%" : "Insert valid IP",
                "the front face is turned away and takes no clicks")
        compare(button.noProg, data.starts)
        compare(button.opened, !data.starts)
        compare(button.flipped, !data.starts)
        waitForAngle(button, data.starts ? 0 : 180)
        compare(prog.visible, data.starts)
    }

    // The screen starts the flash in its handler; the button looks at the
    // flags only once every handler has returned.
    function test_clickHandlersRunFirst_data() {
        return [
            { tag: "handler leaves flags", change: "", starts: true },
            { tag: "handler clears bin", change: "bin", starts: false },
            { tag: "handler sets complete", change: "complete", starts: false }
        ]
    }
    function test_clickHandlersRunFirst(data) {
        var button = openedButton({ ip: true, mac: true, bin: true, labelFront: "Insert valid IP" })
        var seen = []
        button.buttonClicked.connect(function () {
            seen.push(button.labelFront + " " + button.noProg + " " + button.opened)
            if (data.change === "bin")
                button.bin = false
            else if (data.change === "complete")
                button.complete = true
        })
        clickCentre(button)
        compare(seen, ["Insert valid IP false true"], "handler ran before the button's own reaction")
        compare(button.labelFront, data.starts ? "0%" : "Insert valid IP")
        compare(button.opened, !data.starts)
    }

    function test_errorShowsThenCloses_data() {
        return [
            { tag: "from closed", openFirst: false, opens: 1 },
            { tag: "while open", openFirst: true, opens: 0 }
        ]
    }
    function test_errorShowsThenCloses(data) {
        var button = data.openFirst ? openedButton({ labelBack: "Click here to flash file" }) : createButton()
        var openedSpy = spyOn(button, "hasOpened")
        button.error("Invalid file for selected device")
        compare(button.labelBack, "Invalid file for selected device")
        compare(String(button.backColor), red)
        verify(button.opened && button.flipped)
        compare(openedSpy.count, data.opens)
        tryCompare(button, "opened", false, 6000)
        verify(!button.flipped)
        compare(String(button.backColor), red, "the red stays for the button's user to replace")
    }

    function test_secondErrorDoesNotExtend() {
        var button = createButton()
        var openedChanges = spyOn(button, "openedChanged")
        button.error("Invalid file for selected device")
        wait(1000)
        verify(button.opened, "the first error still shows")
        var secondCall = Date.now()
        button.error("Error during flash, try again.")
        compare(button.labelBack, "Error during flash, try again.")
        tryCompare(button, "opened", false, 6000)
        // A restarted timer would close no sooner than 2000 ms after the
        // second call; the first one's is due about 1000 ms after it.
        verify(Date.now() - secondCall < 1900, "closed " + (Date.now() - secondCall) + " ms after the second call")
        compare(openedChanges.count, 2, "one turn in, one turn out")
    }

    function test_timerClosesReopenedButton() {
        var button = createButton()
        button.error("Invalid file for selected device")
        button.close()
        button.backColor = green
        button.labelBack = "Click here to flash file"
        button.open()
        verify(button.opened)
        tryCompare(button, "opened", false, 6000)
        verify(!button.flipped)
    }

    function test_progressFill_data() {
        return [
            { tag: "0", value: 0 },
            { tag: "0.42", value: 0.42 },
            { tag: "0.5", value: 0.5 },
            { tag: "1", value: 1 }
        ]
    }
    function test_progressFill(data) {
        var button = createButton({ labelFront: "0%" })
        var prog = findChild(button, "progressbar")
        verify(!prog.visible, "hidden at start")
        button.noProg = true
        button.progress = data.value
        verify(prog.visible)
        compare(prog.width, button.width, "the bar covers the whole face")
        compare(prog.height, button.height)
        var isRect = function (colour) {
            return function (it) { return it.radius !== undefined && String(it.color) === colour }
        }
        tryVerify(function () { return findItems(prog, isRect(green)).length === 1 }, 3000, "one green fill")
        var fill = findItems(prog, isRect(green))[0]
        var background = findItems(prog, isRect(grey))
        compare(background.length, 1, "one grey background")
        compare(background[0].width, button.width)
        var fillOrigin = fill.mapToItem(button, 0, 0)
        compare(fillOrigin.x, 0, "grows from the left edge")
        fuzzyCompare(fill.width, data.value * button.width, 0.5)
        compare(fill.height, button.height)

        button.noProg = false
        verify(!prog.visible, "hidden whatever the value")
    }
}
