"""Reads the running dialog as a screen reader does, through AT-SPI: prints
its accessibility tree, checks the names, groups and description a user
hears, then follows the focus as Tab is pressed. Exits 1 on a mismatch.

Usage: accessibility_tree.py APPLICATION_NAME
"""
import subprocess
import sys
import time

import pyatspi

EXPECTED_GROUPS = {
    "Hash": ["SHA1", "SHA256", "SHA384", "SHA512", "MD5"],
    "Algorithm": ["DES", "3DES", "AES128", "AES192", "AES256"],
}
HINT = "* Input a password and please drag files here *"
TAB_ORDER = ["Password", "SHA256", "AES256", "QUIT", "Password"]


def find_application(name):
    for _ in range(100):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name.lower() == name.lower():
                return app
        time.sleep(0.2)
    sys.exit(f"no application named {name} on the accessibility bus")


def walk(node, depth=0):
    yield node, depth
    for child in node:
        if child is not None:
            yield from walk(child, depth + 1)


def describe(node):
    states = node.getState()
    flags = [flag for flag, state in (("focused", pyatspi.STATE_FOCUSED),
                                      ("checked", pyatspi.STATE_CHECKED))
             if states.contains(state)]
    text = f"[{node.getRoleName()}] '{node.name}'"
    if node.description:
        text += f" description '{node.description}'"
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            text += f" labelled by '{relation.getTarget(0).name}'"
    return text + "".join(f" ({flag})" for flag in flags)


def check_tree(window, failures):
    nodes = [node for node, _ in walk(window)]
    field = next((n for n in nodes if n.getRoleName() == "password text"), None)
    if field is None or field.name != "Password" or field.description != HINT:
        failures.append("the password field is not named 'Password' and described by the hint")
    for title, choices in EXPECTED_GROUPS.items():
        group = next((n for n in nodes if n.name == title and n.getRoleName() == "panel"), None)
        found = [child.name for child in group if child.getRoleName() == "radio button"] if group else []
        if found != choices:
            failures.append(f"group '{title}' holds {found}, not {choices}")
    for role, name in (("progress bar", "Progress"), ("image", "Kestrune")):
        if not any(n.getRoleName() == role and n.name == name for n in nodes):
            failures.append(f"no {role} named '{name}'")


def focused_name(window):
    for node, _ in walk(window):
        if node.getState().contains(pyatspi.STATE_FOCUSED):
            return node.name
    return None


def check_tab_order(window, failures):
    seen = [focused_name(window)]
    for _ in range(len(TAB_ORDER) - 1):
        subprocess.run(["xdotool", "key", "Tab"], check=True)
        previous = seen[-1]
        for _ in range(50):
            time.sleep(0.1)
            if focused_name(window) != previous:
                break
        seen.append(focused_name(window))
    print("Focus as Tab is pressed:", " -> ".join(str(name) for name in seen))
    if seen != TAB_ORDER:
        failures.append(f"Tab visits {seen}, not {TAB_ORDER}")


def main():
    app = find_application(sys.argv[1])
    window = app[0]
    print("Accessibility tree as AT-SPI reads it:")
    for node, depth in walk(window):
        print("  " * depth + describe(node))
    failures = []
    check_tree(window, failures)
    check_tab_order(window, failures)
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    sys.exit(1 if failures else 0)


main()
