.pragma library
// What a probe result makes of a device, shared by the screen and the fleet
// tool so that both name devices, and match firmware images, the same way.

var kindNames = { "POE": "POE Clock", "WIFI": "WIFI Clock", "VO1000": "VO1000" };

// Within each kind the current generation (B) takes the earlier letter; the
// letter is the last byte of the kind's firmware images.
var letters = {
    "POE Clock Type B": "A", "POE Clock Type A": "B",
    "WIFI Clock Type B": "C", "WIFI Clock Type A": "D",
    "VO1000 Type B": "E", "VO1000 Type A": "F"
};

function kindName(kind) {
    return kindNames.hasOwnProperty(kind) ? kindNames[kind] : "";
}

function deviceText(kind, generation) {
    return kindName(kind) + " Type " + generation;
}

function kindLetter(deviceText) {
    return letters.hasOwnProperty(deviceText) ? letters[deviceText] : "G";
}

var updateCodeKey = "GKbastol";

// The key is laid backwards over the last eight characters of the device's
// timestamp page; missing characters count as 0.
function updateCodeFrom(timestamp) {
    var code = "";
    for (var i = 0; i < updateCodeKey.length; ++i) {
        var at = timestamp.length - 1 - i;
        code += String(updateCodeKey.charCodeAt(i) ^ (at >= 0 ? timestamp.charCodeAt(at) : 0));
    }
    return code;
}
