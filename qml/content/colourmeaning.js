.pragma library

// What a row's colour tells a sighted user, in words for a screen reader.
// Grey says nothing of its own.
function of(colour) {
    switch (String(colour).toLowerCase()) {
    case "#d9d926":
        return "waiting"
    case "#69c56e":
        return "identified"
    case "#f73e3e":
        return "error"
    default:
        return ""
    }
}
