.pragma library

// Whether a click on `area` would reach it now: it and every item up to
// `control` are enabled and shown (a flip control disables the face that is
// turned away, and a user may disable the whole control).
function wouldReach(area, control) {
    for (var item = area; item && item !== control; item = item.parent) {
        if (!item.enabled || !item.visible)
            return false
    }
    return true
}
