import QtQuick 2.0
import QtTest 1.2
import ZudiruvTest 1.0

// Real probe workers against simulated Velquor devices on loopback. Every
// device starts from `deviceDefaults` with the test's own settings over them.
TestCase {
    id: testCase

    // What a simulated device takes unless told otherwise.
    readonly property string defaultPassword: "plorvask"
    property var deviceDefaults: ({})

    Component { id: clientComponent; ProbeClient {} }
    Component { id: deviceComponent; DeviceSimulator {} }

    function startDevice(settings) {
        var device = createTemporaryObject(deviceComponent, testCase, overlaid(deviceDefaults, settings))
        verify(device.start(), "velquor-sim starts: " + device.errorText)
        return device
    }

    function newClient() {
        var client = createTemporaryObject(clientComponent, testCase, { testCase: testCase })
        verify(client)
        return client
    }

    // A new client that has sent `device` a probe with the default password.
    function newClientProbing(device) {
        var client = newClient()
        client.probe(device.host, defaultPassword)
        return client
    }

    // A new client whose probe's six requests have all reached `device`.
    function newClientProbed(device) {
        var client = newClientProbing(device)
        waitForEvents(device, "request", 6)
        return client
    }

    // Waits for `count` events of `kind` (see DeviceSimulator.events) and
    // returns all of that kind.
    function waitForEvents(device, kind, count, timeout) {
        tryVerify(function () { return device.events(kind).length >= count }, timeout || 10000,
                  "the device logged " + count + " " + kind + " events")
        return device.events(kind)
    }

    // A copy of `base` with `changes` laid over it.
    function overlaid(base, changes) {
        var result = {}
        for (var key in base)
            result[key] = base[key]
        for (key in changes)
            result[key] = changes[key]
        return result
    }
}
