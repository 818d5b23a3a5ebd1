import QtQuick 2.0
import QtTest 1.2
import "../../../qml/content"

// What only the password row does: start hidden, mask, show() and hide().
ControlTestCase {
    name: "PwdDelegate"

    Component { id: pwdBar; PwdDelegate {} }
    Component { id: pwdBox; PwdInput { width: 308; height: 48 } }
    Component {
        id: rowColumn
        Column {
            width: 320
            property alias middle: middleBar
            Rectangle { width: 320; height: 60 }
            PwdDelegate { id: middleBar }
            Rectangle { width: 320; height: 60 }
        }
    }

    function openShownBar(properties) {
        var bar = createControl(pwdBar, properties)
        bar.show()
        return openFully(bar)
    }

    function test_startsHiddenAndTakesNoRoom() {
        var column = createTemporaryObject(rowColumn, container)
        verify(!column.middle.visible)
        compare(column.height, 120, "a hidden row takes no room")
        column.middle.show()
        verify(column.middle.visible)
        tryCompare(column, "height", 180, 3000)
        column.middle.hide()
        tryCompare(column, "height", 120, 3000)
    }

    function test_masksTheTypedText() {
        var bar = openShownBar({ placeHolder: "Enter Password" })
        typeText("s3cR")
        compare(bar.text, "s3cR", "text is the clear password")
        var input = findItems(bar.back, function (it) { return it.echoMode === TextInput.Password })[0]
        verify(input, "a password-echo input on the back face")
        compare(input.displayText, "****")
        bar.text = ""
        compare(input.displayText, "")
    }

    function test_showHideReturnToFront_data() {
        return [
            { tag: "show", fn: "show", visibleAfter: true },
            { tag: "hide", fn: "hide", visibleAfter: false }
        ]
    }
    function test_showHideReturnToFront(data) {
        var bar = openShownBar({ label: "Insert Password", frontColor: "#69C56E", backColor: "#d9d926" })
        var closedSpy = spyOn(bar, "hasClosed")
        var openedSpy = spyOn(bar, "hasOpened")
        typeText("pw")
        bar[data.fn]()
        compare(bar.visible, data.visibleAfter)
        verify(!bar.opened && !bar.flipped)
        compare(closedSpy.count, 0, "a reset is no closing")
        compare(openedSpy.count, 0)
        compare(bar.text, "pw", "the typed text stays")
        compare(bar.label, "Insert Password")
        compare(String(bar.frontColor), green)
        compare(String(bar.backColor), yellow)
        waitForAngle(bar, 0)
        keyClick("x")
        compare(bar.text, "pw", "the box gave up the keyboard focus")
        // Reset from the front face as well: nothing to undo, nothing emitted.
        bar[data.fn]()
        compare(closedSpy.count, 0)
        verify(!bar.opened)
    }

    function test_standaloneBox() {
        var box = createTemporaryObject(pwdBox, container, { prefix: "pw:" })
        var hint = findItems(box, function (it) { return it.elide !== undefined && it.text === "Enter word" })[0]
        var prefix = findItems(box, function (it) { return it.elide !== undefined && it.text === "pw:" })[0]
        verify(hint, "its own hint when nobody sets one")
        verify(prefix)
        compare(hint.opacity, 1)
        compare(prefix.opacity, 0)
        var acceptedSpy = spyOn(box, "accepted")
        box.forceActiveFocus()
        keyClick("q")
        compare(box.text, "q")
        compare(hint.opacity, 0)
        compare(prefix.opacity, 1, "the prefix shows once the hint is gone")
        keyClick(Qt.Key_Return)
        compare(acceptedSpy.count, 1)
    }
}
