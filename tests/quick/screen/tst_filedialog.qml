import QtQuick 2.0
import QtTest 1.2

// The image area's file dialog: made only when first asked for, set up as
// before, and the screen keeps taking keys however the dialog was closed.
// Keys go to the application's focus window, as the user's keyboard does.
ScreenTestCase {
    name: "FileDialog"

    readonly property string imageName: "firmware.bin"

    function init() {
        makeScreen()
        writeImage(imageName, "A")
    }

    // Opens the dialog as the user does and waits until its file list shows
    // the scratch folder's image.
    function openDialog() {
        mouseClick(part("fileImage"))
        var dialog = part("fileDialog")
        tryCompare(dialog, "visible", true)
        // The offscreen platform leaves the dialog's window at 1 x 1.
        dialog.width = 400
        dialog.height = 320
        dialog.folder = "file://" + tools.path()
        tryVerify(function () { return fileRow(dialog) !== null }, 5000,
                  "the dialog lists " + imageName)
        return dialog
    }

    function descendant(item, matches) {
        var children = item.children
        for (var i = 0; i < children.length; ++i) {
            if (matches(children[i]))
                return children[i]
            var found = descendant(children[i], matches)
            if (found !== null)
                return found
        }
        return null
    }

    function fileRow(dialog) {
        return descendant(dialog.contentItem, function (item) {
            return item.text === imageName && item.visible && item.width > 0
        })
    }

    function dialogButton(dialog, caption) {
        var button = descendant(dialog.contentItem, function (item) {
            return item.text === caption && item.hasOwnProperty("pressed")
        })
        verify(button !== null, "the dialog has a " + caption + " button")
        return button
    }

    function pathField(dialog) {
        var field = descendant(dialog.contentItem, function (item) {
            return typeof item.doAccept === "function"
        })
        verify(field !== null, "the dialog has a path field")
        return field
    }

    // The first click on the IP row after the dialog has gone must open it
    // and take the typed address, which then starts the MAC lookup.
    function verifyRowsTakeAnAddress() {
        enterText("ipAddr", "127.0.0.9")
        compare(part("ipAddr").text, "127.0.0.9")
        tryVerify(function () { return tools.runCount("arpping.exe") === 1 }, 5000)
        compare(tools.lastArguments("arpping.exe"), ["-n", "1", "-w", "3000", "127.0.0.9"])
        mouseClick(part("macAddr"))
        tryCompare(part("macAddr"), "opened", true)
    }

    function test_dialogIsMadeOnTheFirstClickAndKept() {
        compare(findChild(screen, "fileDialog"), null)
        compare(part("fileDialogLoader").status, Loader.Null)
        mouseClick(part("fileImage"))
        var dialog = part("fileDialog")
        tryCompare(dialog, "visible", true)
        compare(dialog.title, "Please choose a file")
        compare(String(dialog.folder), String(dialog.shortcuts.home))
        compare(dialog.nameFilters, ["Binary Files (*.bin)"])
        compare(dialog.selectMultiple, false)
        compare(dialog.selectExisting, true)
        dialog.close()
        tryCompare(dialog, "visible", false)
        mouseClick(part("fileImage"))
        compare(part("fileDialog"), dialog)
        tryCompare(dialog, "visible", true)
        dialog.close()
    }

    function test_clickOnTheImageClosesTheOpenRows() {
        var ip = part("ipAddr")
        mouseClick(ip)
        tryCompare(ip, "opened", true)
        mouseClick(part("fileImage"))
        compare(ip.opened, false)
        tryCompare(part("fileDialog"), "visible", true)
        part("fileDialog").close()
    }

    function test_rowsOpenAfterTheDialogCloses_data() {
        return [
            { tag: "Enter in the path field", taken: true },
            { tag: "double-click on the file", taken: true },
            { tag: "Open button", taken: true },
            { tag: "Escape", taken: false },
            { tag: "Cancel button", taken: false }
        ]
    }

    function test_rowsOpenAfterTheDialogCloses(data) {
        var dialog = openDialog()
        var path = tools.path() + "/" + imageName
        switch (data.tag) {
        case "Enter in the path field":
            var field = pathField(dialog)
            mouseClick(field)
            tryCompare(field, "activeFocus", true)
            keyClick(Qt.Key_A, Qt.ControlModifier)
            typeText(path)
            keyClick(Qt.Key_Return)
            break
        case "double-click on the file":
            mouseDoubleClickSequence(fileRow(dialog))
            break
        case "Open button":
            mouseClick(fileRow(dialog))
            mouseClick(dialogButton(dialog, "Open"))
            break
        case "Escape":
            keyClick(Qt.Key_Escape)
            break
        case "Cancel button":
            mouseClick(dialogButton(dialog, "Cancel"))
            break
        }
        tryCompare(dialog, "visible", false)
        // Before identification the image check refuses every image; the
        // path is still taken.
        compare(part("readyButton").file, data.taken ? path : "")
        verifyRowsTakeAnAddress()
    }
}
