// Probe worker: asks a Velquor device over HTTP what it is, and uploads the
// update code before a flash. Runs as a WorkerScript; the screen talks to it
// only by messages and gets exactly one answer per report request. The fleet
// tool runs the same worker and also asks it for the index page alone.
Qt.include("md5.js");

// What the answers of the latest probe have revealed. Requests of earlier
// probes are never cancelled; their late answers are dropped, or one device's
// kind or timestamp would be taken for the next one's.
var type = "";
var version = "";
var authorized = false;
var initfail = true;
var update = "";
var mac = "";

var configurationTitles = ["Velquor Configuration", "Time Server Configuration"];

function resetFindings() {
    type = "";
    version = "";
    authorized = false;
    initfail = true;
    update = "";
    mac = "";
}

function contains(body, text) {
    return body.indexOf(text) !== -1;
}

function showsConfigurationTitle(body) {
    return contains(body, configurationTitles[0]) || contains(body, configurationTitles[1]);
}

// Absent, or right at the start of the body: the devices' pages were matched
// this way from the start, and both tests below keep that quirk on purpose.
function absentOrAtStart(body, text) {
    return body.indexOf(text) <= 0;
}

function classifyPage(body) {
    if (type === "") {
        if (contains(body, "Primary NTP Server") && absentOrAtStart(body, "SSID"))
            type = "POE";
        else if (contains(body, "SSID"))
            type = "WIFI";
        else if (contains(body, "Signal Strength"))
            type = "VO1000";
    }
    if (version === "") {
        // A later step overwrites an earlier one.
        var generation = "";
        if (contains(body, "TIVA"))
            generation = "B";
        if (contains(body, "Firmware Version") && absentOrAtStart(body, "Firmware Version B"))
            generation = "A";
        if (contains(body, "Firmware Version B"))
            generation = "B";
        version = generation;
    }
}

function takeAnswer(probe, status, body) {
    if (status === 200) {
        if (probe !== "init")
            authorized = true;
        // The plain password was accepted: only the older line does that.
        if (probe === "legacy")
            version = "A";
        if (probe === "update")
            update = body;
        if (probe === "mac")
            mac = body;
    } else if (status === 401) {
        if (authorized === false)
            authorized = "Unauthorized";
    }

    if (probe === "init") {
        if (showsConfigurationTitle(body))
            initfail = false;
    } else {
        classifyPage(body);
    }
}

// No device page comes near this; an answer that grows beyond it is cut off
// and counts as no answer, so a host in a scanned range cannot fill memory.
var longestAnswer = 64 * 1024;

function bodyText(request) {
    return request.responseText;
}

// Called on each part of an answer as it arrives. The abort happens only in
// the LOADING call, the last thing the framework does for a part: aborting
// in the HEADERS_RECEIVED call pulls the connection from under the reading
// that follows it, and crashes. The abort ends the request at once, as
// DONE with status 0.
function cutOffLongAnswer(request) {
    if (request.readyState !== XMLHttpRequest.LOADING)
        return;
    var bytes = request.response;
    if (bytes && bytes.byteLength > longestAnswer)
        request.abort();
}

// The probe's requests still open; with `reportWhenDone` the findings go out
// as soon as the last one has ended.
var probeNumber = 0;
var probeRequestsOpen = 0;
var reportWhenDone = false;

// `answered` gets the status and body; by default they go into the findings.
function requestPage(probe, ip, path, credential, answered) {
    var request = new XMLHttpRequest();
    var number = probeNumber;
    // Raw bytes, so that the length can be checked before decoding.
    request.responseType = "arraybuffer";
    request.onreadystatechange = function () {
        cutOffLongAnswer(request);
        if (request.readyState !== XMLHttpRequest.DONE)
            return;
        // A failed request ends here too, with status 0 and an empty body.
        if (answered) {
            answered(request.status, bodyText(request));
            return;
        }
        if (number !== probeNumber)
            return;
        takeAnswer(probe, request.status, bodyText(request));
        if (--probeRequestsOpen === 0 && reportWhenDone) {
            reportWhenDone = false;
            sendFindings();
        }
    };
    // The random query keeps any cache on the way from answering.
    request.open("GET", "http://" + ip + path + "?id=" + Math.random());
    request.setRequestHeader("Authorization", "Basic " + credential);
    request.send();
}

function startProbe(ip, pwd, reportEarly) {
    resetFindings();
    ++probeNumber;
    probeRequestsOpen = 6;
    reportWhenDone = reportEarly;
    var digest = hex_md5(pwd);
    requestPage("init", ip, "/index.html", hex_md5(""));
    requestPage("legacy", ip, "/var/www/settings.html", pwd);
    requestPage("type", ip, "/var/www/settings.html", digest);
    requestPage("version", ip, "/var/www/version.html", digest);
    requestPage("mac", ip, "/var/www/mac.html", digest);
    requestPage("update", ip, "/var/www/update.html", digest);
}

// The probe's first request alone, answered as soon as it completes and
// leaving the findings alone. Across an address range only this goes out
// until a Velquor title has been seen: it carries no password.
function checkIndex(ip) {
    requestPage("init", ip, "/index.html", hex_md5(""), function (status, body) {
        WorkerScript.sendMessage({ index: true, ip: ip, status: status, velquor: showsConfigurationTitle(body) });
    });
}

// With `confirm` the worker answers once the upload has ended: the screen and
// the fleet tool start the flasher only then, as the boot loader takes the
// device offline. `ticket` comes back with the answer, so that a late answer
// to an upload given up on is told apart from the one awaited.
function uploadUpdateCode(ip, pwd, code, confirm, ticket) {
    var request = new XMLHttpRequest();
    request.responseType = "arraybuffer";
    request.onreadystatechange = function () {
        cutOffLongAnswer(request);
        if (confirm && request.readyState === XMLHttpRequest.DONE)
            WorkerScript.sendMessage({ uploaded: true, ip: ip, status: request.status, ticket: ticket || 0 });
    };
    request.open("POST", "http://" + ip + "/etc/update_code");
    request.setRequestHeader("Authorization", "Basic " + hex_md5(pwd));
    request.send(code);
}

// A worker message carries texts of at most this many units; a longer one
// would reach the screen as undefined. The end of such a text is kept, since
// the update code is taken from the last characters of the update page.
var longestMessageText = 0xFFFFFF;

function carriable(text) {
    return text.length > longestMessageText ? text.substring(text.length - longestMessageText) : text;
}

function sendFindings() {
    WorkerScript.sendMessage({
        version: version,
        type: type,
        authorized: authorized,
        initfail: initfail,
        update: carriable(update),
        mac: carriable(mac)
    });
}

WorkerScript.onMessage = function (message) {
    if (message.POST)
        uploadUpdateCode(message.ip, message.pwd, message.code, message.confirm === true, message.ticket);
    else if (message.abort) {
        reportWhenDone = false;
        sendFindings();
    }
    else if (message.index)
        checkIndex(message.ip);
    else
        startProbe(message.ip, message.pwd, message.reportWhenDone === true);
};
