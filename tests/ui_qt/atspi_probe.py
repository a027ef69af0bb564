"""Reads and drives running programs through AT-SPI, as a screen reader
does, for the desktop tests.

Usage:
  atspi_probe.py status APPLICATION TEXT   waits until a label of
      APPLICATION is named TEXT (what a screen reader announces)
  atspi_probe.py menu-item NAME            prints the centre of the menu item
      called NAME on screen, opening an "Actions" submenu to find it
Exits 1 when nothing matches within twenty seconds.
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


def find(predicate, within=None):
    for _ in range(100):
        for app in within() if within else applications():
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


def showing_menu_item(name):
    return lambda n: (n.getRoleName() == "menu item" and n.name.replace("&", "") == name
                      and n.getState().contains(pyatspi.STATE_SHOWING))


def centre(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x + box.width // 2, box.y + box.height // 2


def menu_item(name):
    item = find(showing_menu_item(name))
    if item is None:
        submenu = find(lambda n: n.getRoleName() == "menu" and n.name.replace("&", "") == "Actions")
        if submenu is not None:
            submenu.queryAction().doAction(0)
            item = find(showing_menu_item(name))
    if item is None:
        sys.exit(f"no menu item '{name}' is showing")
    print(*centre(item))


if sys.argv[1] == "status":
    status(sys.argv[2], sys.argv[3])
elif sys.argv[1] == "menu-item":
    menu_item(sys.argv[2])
else:
    sys.exit(__doc__)
