"""Reads the running dialog as a screen reader does, through AT-SPI: prints
its accessibility tree, checks the names, groups and labels a user hears,
follows the focus as Tab is pressed, then listens to every text event on the
bus while a password is typed, deleted and pasted. Exits 1 on a mismatch.

Usage: accessibility_tree.py APPLICATION_NAME
       accessibility_tree.py APPLICATION_NAME announcements READY_FILE
The second form instead records what the application announces while files
dropped from another window convert, the focus staying there: it closes the
failure box through the bus, as a reader's user would, and checks that a
three-file drop with one failure is announced at its start, at the failure
and at its end, once each.
"""
import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

EXPECTED_GROUPS = {
    "Hash": ["SHA1", "SHA256", "SHA384", "SHA512", "MD5"],
    "Algorithm": ["DES", "3DES", "AES128", "AES192", "AES256"],
}
HINT = "* Input a password and please drag files here *"
TAB_ORDER = ["Password", "SHA256", "AES256", "QUIT", "Password"]
TYPED = "S3cr#t"
PASTED = "Pa5te!"


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
    if field is None or field.name != "Password":
        failures.append("the password field is not named 'Password'")
    # Heard once, as the field's description: it labels the field too, so a
    # reader leaves it out of the window's own labels, which it reads as the
    # window opens and before each announcement.
    if field is not None and field.description != HINT:
        failures.append(f"the password field is described as '{field.description}'")
    labels = [relation.getTarget(i).name for relation in field.getRelationSet()
              if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
              for i in range(relation.getNTargets())] if field is not None else []
    if labels != ["Password", HINT]:
        failures.append(f"the password field is labelled by {labels}")
    for title, choices in EXPECTED_GROUPS.items():
        group = next((n for n in nodes if n.name == title and n.getRoleName() == "panel"), None)
        found = [child for child in group if child.getRoleName() == "radio button"] if group else []
        if [child.name for child in found] != choices:
            failures.append(f"group '{title}' holds {[c.name for c in found]}, not {choices}")
        # A reader says a button's labels with it: the group's name belongs
        # to entering the group, not to every arrow press within it.
        if any(relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
               for child in found for relation in child.getRelationSet()):
            failures.append(f"the choices of '{title}' are labelled by their group")
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


# Each step is one action on the focused password field; events are taken
# in between, as a screen reader takes them.
PASSWORD_STEPS = [
    ["xdotool", "type", "--delay", "60", TYPED],
    ["xdotool", "key", "BackSpace"],
    ["xdotool", "key", "ctrl+a", "BackSpace"],
    ["xdotool", "key", "ctrl+v"],
]


def check_password_stays_inside(window, failures):
    field = next(n for n, _ in walk(window) if n.getRoleName() == "password text")
    texts = []

    def record(event):
        texts.append((event.type, str(event.any_data), event.source.getRoleName()))

    pyatspi.Registry.registerEventListener(record, "object:text-changed")
    # Serves the clipboard until killed, as a password manager does.
    clipboard = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard"],
                                 stdin=subprocess.PIPE, stderr=subprocess.DEVNULL)
    clipboard.stdin.write(PASTED.encode())
    clipboard.stdin.close()
    steps = list(PASSWORD_STEPS)

    def next_step():
        if steps:
            subprocess.run(steps.pop(0), check=True)
            return True
        pyatspi.Registry.stop()
        return False

    GLib.timeout_add(700, next_step)
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(record, "object:text-changed")
    clipboard.kill()
    clipboard.wait()

    print("Text events while a password was typed, deleted and pasted:")
    for kind, text, role in texts:
        print(f"  {kind} from {role}: '{text}'")
    secret = set(TYPED + PASTED)
    leaked = [text for _, text, _ in texts if secret & set(text)]
    if leaked:
        failures.append(f"password characters on the bus: {leaked}")
    inserted = sum(len(text) for kind, text, _ in texts if kind.endswith(":insert"))
    if inserted != len(TYPED) + len(PASTED):
        failures.append(f"{inserted} characters heard typed or pasted, not {len(TYPED + PASTED)}")
    shown = field.queryText().getText(0, -1)
    if len(shown) != len(PASTED) or secret & set(shown):
        failures.append(f"the field reads '{shown}', not {len(PASTED)} mask characters")


EXPECTED_ANNOUNCEMENTS = [
    re.compile(r"Converting 3 files"),
    re.compile(r"broken\.txt\.enc failed: .+"),
    re.compile(r"1 of 3 failed"),
]


def press_ok_of_failure_box(app):
    for node, _ in walk(app):
        if node.getRoleName() == "push button" and node.name == "OK":
            node.queryAction().doAction(0)
            return


def record_announcements(app_name, ready_file):
    app = find_application(app_name)
    heard = []
    active_when_heard = []

    def on_showing(event):
        source = event.source
        if not event.detail1 or source.getRoleName() != "notification":
            return
        news = source.name
        heard.append(news)
        active_when_heard.append(app[0].getState().contains(pyatspi.STATE_ACTIVE))
        if " failed: " in news:
            GLib.timeout_add(300, lambda: press_ok_of_failure_box(app) and False)
        if len(heard) == len(EXPECTED_ANNOUNCEMENTS):
            # Anything announced more than once would follow at once.
            GLib.timeout_add(1500, lambda: pyatspi.Registry.stop() and False)

    pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
    # As a reader does: the bus then carries name changes, which keep the
    # names read here current.
    pyatspi.Registry.registerEventListener(lambda event: None, "object:property-change:accessible-name")
    GLib.timeout_add(30000, lambda: pyatspi.Registry.stop() and False)
    open(ready_file, "w").close()
    pyatspi.Registry.start()
    print("Announced while the files converted:", heard)
    failures = []
    if len(heard) != len(EXPECTED_ANNOUNCEMENTS) or not all(
            pattern.fullmatch(news) for pattern, news in zip(EXPECTED_ANNOUNCEMENTS, heard)):
        failures.append(f"heard {heard}, not one of each of "
                        f"{[p.pattern for p in EXPECTED_ANNOUNCEMENTS]}")
    if any(active_when_heard):
        failures.append("the dialog had the focus: the test proves nothing")
    return failures


def main():
    if len(sys.argv) > 2 and sys.argv[2] == "announcements":
        failures = record_announcements(sys.argv[1], sys.argv[3])
        for failure in failures:
            print("FAIL:", failure, file=sys.stderr)
        sys.exit(1 if failures else 0)
    app = find_application(sys.argv[1])
    window = app[0]
    print("Accessibility tree as AT-SPI reads it:")
    for node, depth in walk(window):
        print("  " * depth + describe(node))
    failures = []
    check_tree(window, failures)
    check_tab_order(window, failures)
    check_password_stays_inside(window, failures)
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    sys.exit(1 if failures else 0)


main()
