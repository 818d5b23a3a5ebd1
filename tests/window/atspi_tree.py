#!/usr/bin/python3
"""Reads the program's objects through AT-SPI, as a screen reader does.

Usage: atspi_tree.py APPLICATION list       prints "role 'name' [description] states" lines
       atspi_tree.py APPLICATION press NAME  does the Press action of the object named NAME
Waits up to 20 s for the application to show on the accessibility bus.
"""
import sys
import time

import pyatspi


def application(name):
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.name == name and app.childCount > 0:
                return app
        time.sleep(0.3)
    sys.exit("no application %r on the accessibility bus" % name)


def walk(node, depth=0):
    if depth > 40:
        return
    yield node
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            yield from walk(child, depth + 1)


def line(node):
    states = node.getState()
    flags = [word for word, state in (("focused", pyatspi.STATE_FOCUSED),
                                      ("focusable", pyatspi.STATE_FOCUSABLE),
                                      ("showing", pyatspi.STATE_SHOWING))
             if states.contains(state)]
    description = " [%s]" % node.description if node.description else ""
    return "%s '%s'%s %s" % (node.getRoleName(), node.name, description, ",".join(flags))


def main():
    app = application(sys.argv[1])
    if sys.argv[2] == "list":
        for node in walk(app):
            if node.name:
                print(line(node))
        return
    target = [node for node in walk(app) if node.name == sys.argv[3]]
    if not target:
        sys.exit("nothing named %r" % sys.argv[3])
    action = target[0].queryAction()
    names = [action.getName(index) for index in range(action.nActions)]
    if "Press" not in names:
        sys.exit("%r offers no Press, only %s" % (sys.argv[3], names))
    action.doAction(names.index("Press"))


if __name__ == "__main__":
    main()
