"""Reads a running program through AT-SPI, as a screen reader does, for
the desktop tests.

Usage: atspi_probe.py status APPLICATION TEXT
Waits until a label of APPLICATION is named TEXT (what a screen reader
announces); exits 1 when none is within twenty seconds.
"""
import sys
import time

import pyatspi


def nodes(node):
    yield node
    for child in node:
        if child is not None:
            yield from nodes(child)


def applications():
    desktop = pyatspi.Registry.getDesktop(0)
    return [app for app in desktop if app is not None]


def find(predicate, within):
    for _ in range(100):
        for app in within():
            try:
                for node in nodes(app):
                    if predicate(node):
                        return node
            except Exception:  # a window went away while it was read
                pass
        time.sleep(0.2)
    return None


def status(application, text):
    apps = lambda: [a for a in applications() if a.name.lower() == application.lower()]
    label = find(lambda n: n.getRoleName() == "label" and n.name == text, apps)
    if label is None:
        sys.exit(f"{application} announces no '{text}'")
    print(f"{application} announces: {text}")


if sys.argv[1] == "status":
    status(sys.argv[2], sys.argv[3])
else:
    sys.exit(__doc__)
