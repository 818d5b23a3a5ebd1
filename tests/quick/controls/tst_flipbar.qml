import QtQuick 2.0
import QtTest 1.2
import "../../../qml/content"

// Behaviour shared by the plain and the password flip bar, run against both.
ControlTestCase {
    name: "FlipBar"

    Component { id: inputBar; InputDelegate {} }
    Component { id: pwdBar; PwdDelegate {} }

    function cleanup() {
        container.width = 320
    }

    function createBar(kind, properties) {
        var bar = createControl(kind === "password" ? pwdBar : inputBar, properties)
        if (kind === "password")
            bar.show()
        return bar
    }

    // Text items only: TextInput has no elide.
    function textsOf(item) {
        return findItems(item, function (it) { return it.elide !== undefined })
    }

    function bothKinds() {
        return [{ tag: "plain", kind: "plain" }, { tag: "password", kind: "password" }]
    }

    // Each variant for both kinds of bar, tagged "kind: variant".
    function bothKindsWith(variants) {
        var rows = []
        bothKinds().forEach(function (kind) {
            variants.forEach(function (variant) {
                var row = { kind: kind.kind }
                for (var field in variant)
                    row[field] = variant[field]
                row.tag = kind.tag + ": " + variant.tag
                rows.push(row)
            })
        })
        return rows
    }

    function test_defaults_data() { return bothKinds() }
    function test_defaults(data) {
        var bar = createBar(data.kind)
        compare(bar.width, 320, "as wide as its parent")
        compare(bar.height, 60)
        compare(bar.label, "")
        compare(bar.text, "")
        compare(String(bar.frontColor), grey)
        compare(String(bar.backColor), grey)
        verify(!bar.opened && !bar.flipped)
        verify(bar.front.enabled)
        verify(!bar.back.enabled, "the back face starts turned away")
        tryCompare(bar.back, "opacity", 0, 3000)
        compare(bar.front.opacity, 1)
        container.width = 400
        compare(bar.width, 400, "follows the parent's width")
    }

    function test_openCloseSignalOrder_data() { return bothKinds() }
    function test_openCloseSignalOrder(data) {
        var bar = createBar(data.kind)
        var log = []
        bar.hasOpened.connect(function () { log.push("hasOpened " + bar.opened + " " + bar.flipped) })
        bar.hasClosed.connect(function () { log.push("hasClosed " + bar.opened + " " + bar.flipped) })
        bar.ok.connect(function () { log.push("ok") })

        bar.open()
        compare(log, ["hasOpened true true"], "marked open before it reports")
        bar.open()
        compare(log, ["hasOpened true true"], "a second open() is a no-op")
        bar.close()
        compare(log, ["hasOpened true true", "hasClosed false false"], "marked closed before it reports")
        bar.close()
        compare(log.length, 2, "a second close() is a no-op")
        waitForAngle(bar, 0)
    }

    function test_enterEmitsOkAndStaysOpen_data() {
        return [
            { tag: "plain, Return", kind: "plain", key: Qt.Key_Return },
            { tag: "plain, Enter", kind: "plain", key: Qt.Key_Enter },
            { tag: "password, Return", kind: "password", key: Qt.Key_Return },
            { tag: "password, Enter", kind: "password", key: Qt.Key_Enter }
        ]
    }
    function test_enterEmitsOkAndStaysOpen(data) {
        var bar = createBar(data.kind)
        var okSpy = spyOn(bar, "ok")
        var closedSpy = spyOn(bar, "hasClosed")
        openFully(bar)
        typeText("10.1")
        keyClick(data.key)
        compare(okSpy.count, 1)
        compare(closedSpy.count, 0, "the bar leaves closing to its user")
        verify(bar.opened && bar.flipped)
        compare(bar.text, "10.1")
    }

    function test_closeDuringTurnReversesFromReachedAngle_data() { return bothKinds() }
    function test_closeDuringTurnReversesFromReachedAngle(data) {
        var bar = createBar(data.kind)
        var rotation = bar.transform[0]
        bar.open()
        tryVerify(function () { return rotation.angle > 20 }, 3000, "turn under way")
        var reached = rotation.angle
        if (reached >= 180)
            skip("the machine stalled; the turn ended before it could be reversed")
        var angles = []
        var record = function () { angles.push(rotation.angle) }
        rotation.angleChanged.connect(record)
        bar.close()
        waitForAngle(bar, 0)
        rotation.angleChanged.disconnect(record)
        for (var i = 0; i < angles.length; ++i)
            verify(angles[i] <= reached, "jumped to " + angles[i] + " from " + reached)
    }

    // Keys typed while an opening bar still turns are kept for its box (a
    // quick typist's first characters); a closing box takes none.
    function test_keysDuringTheTurn_data() { return bothKinds() }
    function test_keysDuringTheTurn(data) {
        var bar = createBar(data.kind)
        bar.open()
        keyClick("a")
        compare(bar.text, "a", "keys typed during the turn are kept")
        waitForAngle(bar, 180)
        keyClick("b")
        compare(bar.text, "ab")
        bar.close()
        waitForAngle(bar, 0)
        keyClick("c")
        compare(bar.text, "ab", "no keys after closing")
    }

    function test_frontFaceClick_data() {
        return bothKindsWith([
            { tag: "closed bar opens", openFirst: false, opens: 1 },
            // While turning in, the front still shows but the box cannot
            // hold the focus yet: the click only asks for it.
            { tag: "click during the turn keeps it open", openFirst: true, opens: 1 }
        ])
    }
    function test_frontFaceClick(data) {
        var bar = createBar(data.kind, { label: "IP Address" })
        var openedSpy = spyOn(bar, "hasOpened")
        var closedSpy = spyOn(bar, "hasClosed")
        if (data.openFirst) {
            bar.open()
            verify(bar.front.enabled, "front face still showing")
        }
        clickCentre(bar)
        compare(openedSpy.count, data.opens)
        compare(closedSpy.count, 0)
        verify(bar.opened)
        waitForAngle(bar, 180)
        keyClick("7")
        compare(bar.text, "7", "the box holds the keyboard focus once shown")
    }

    function test_openBarIgnoresClicks_data() {
        return bothKindsWith([{ tag: "margin", x: 3 }, { tag: "box", x: 160 }])
    }
    function test_openBarIgnoresClicks(data) {
        var bar = createBar(data.kind)
        var closedSpy = spyOn(bar, "hasClosed")
        openFully(bar)
        verify(!bar.front.enabled, "front face turned away")
        tryCompare(bar.front, "opacity", 0, 3000)
        mouseClick(bar, data.x, bar.height / 2)
        mouseClick(bar, data.x, bar.height / 2)
        compare(closedSpy.count, 0, "the hidden front face took a click")
        verify(bar.opened)
        keyClick("k")
        compare(bar.text, "k", "the box kept the focus")
    }

    function test_promptFollowsText_data() {
        return [
            { tag: "plain", kind: "plain", prompt: "Enter IP Address" },
            { tag: "password", kind: "password", prompt: "Enter Password" }
        ]
    }
    function test_promptFollowsText(data) {
        var bar = createBar(data.kind, { placeHolder: data.prompt })
        var prompts = findItems(bar.back, function (it) { return it.elide !== undefined && it.text === data.prompt })
        compare(prompts.length, 1, "one prompt bound to placeHolder")
        var prompt = prompts[0]
        compare(prompt.opacity, 1)
        openFully(bar)
        keyClick("1")
        compare(prompt.opacity, 0, "first character hides it at once")
        keyClick("2")
        compare(prompt.opacity, 0)
        keyClick(Qt.Key_Backspace)
        keyClick(Qt.Key_Backspace)
        compare(prompt.opacity, 1, "deleting the last character shows it")
        bar.text = "x"
        compare(prompt.opacity, 0)
        bar.text = ""
        compare(prompt.opacity, 1, "clearing the text shows it")
    }

    function test_unsetPlaceHolderShowsNoPrompt_data() { return bothKinds() }
    function test_unsetPlaceHolderShowsNoPrompt(data) {
        var bar = createBar(data.kind)
        var texts = textsOf(bar.back)
        verify(texts.length > 0)
        for (var i = 0; i < texts.length; ++i)
            compare(texts[i].text, "", "no hint without a placeHolder, not even the box's own")
    }
}
