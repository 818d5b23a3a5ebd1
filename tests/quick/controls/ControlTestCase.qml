import QtQuick 2.0
import QtTest 1.2

// One control at a time on a visible stage, and the helpers that look into
// it and act on it as a user would. The flip controls turn about a Rotation
// whose angle is 0 with the front face shown and 180 with the back.
TestCase {
    id: testCase
    width: 320
    height: 240
    // TestCase hides itself by default, and with it every control under test.
    visible: true
    when: windowShown

    readonly property string grey: "#999999"
    readonly property string yellow: "#d9d926"
    readonly property string red: "#f73e3e"
    readonly property string green: "#69c56e"
    // The controls' parent, which sets their width.
    property alias container: stage

    Item { id: stage; width: 320; height: 240 }
    Component { id: spyComponent; SignalSpy {} }

    function createControl(component, properties) {
        var control = createTemporaryObject(component, stage, properties || {})
        verify(control, "control created")
        return control
    }

    function openFully(control) {
        control.open()
        waitForAngle(control, 180)
        return control
    }

    function waitForAngle(control, angle) {
        tryCompare(control.transform[0], "angle", angle, 3000)
    }

    function spyOn(target, signalName) {
        return createTemporaryObject(spyComponent, testCase, { target: target, signalName: signalName })
    }

    // `item` and its descendants for which `predicate` holds, depth first.
    function findItems(item, predicate, found) {
        found = found || []
        if (predicate(item))
            found.push(item)
        for (var i = 0; i < item.children.length; ++i)
            findItems(item.children[i], predicate, found)
        return found
    }

    function clickCentre(item) {
        mouseClick(item, item.width / 2, item.height / 2)
    }

    function typeText(text) {
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i))
    }
}
