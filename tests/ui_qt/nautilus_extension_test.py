"""Loads the installed Files (Nautilus) extension with stand-ins for the
GObject bindings, as nautilus-python would load it, and checks which menu
items each selection gets and what each runs.

Usage: nautilus_extension_test.py EXTENSION
"""
import sys
import types


class MenuItem:
    def __init__(self, name, label, icon):
        self.name, self.label, self.icon = name, label, icon
        self.handlers = []

    def connect(self, _signal, handler, *data):
        self.handlers.append((handler, data))

    def activate(self):
        for handler, data in self.handlers:
            handler(self, *data)


class File:
    def __init__(self, uri, directory=False):
        self.uri, self.directory = uri, directory

    def get_uri(self):
        return self.uri

    def get_uri_scheme(self):
        return self.uri.split(":", 1)[0]

    def is_directory(self):
        return self.directory


spawned = []
glib = types.SimpleNamespace(
    spawn_async=lambda argv, flags: spawned.append(argv),
    SpawnFlags=types.SimpleNamespace(SEARCH_PATH=1))
gobject = types.SimpleNamespace(GObject=type("GObject", (), {}))
nautilus = types.SimpleNamespace(MenuItem=MenuItem, MenuProvider=type("MenuProvider", (), {}))
sys.modules["gi"] = types.ModuleType("gi")
sys.modules["gi.repository"] = types.SimpleNamespace(GLib=glib, GObject=gobject, Nautilus=nautilus)

# Run as Nautilus runs it: the file's code in a module of its own.
extension = types.ModuleType("kestrune_extension")
with open(sys.argv[1], encoding="utf-8") as source:
    exec(compile(source.read(), sys.argv[1], "exec"), extension.__dict__)
provider = extension.KestruneMenuProvider()

CASES = [
    ("plain files", [File("file:///d/a.txt"), File("file:///d/b%20c.odt")],
     "Encrypt with Kestrune"),
    ("containers", [File("file:///d/a.txt.enc"), File("file:///d/caf%E9.enc")],
     "Decrypt with Kestrune"),
    ("both kinds", [File("file:///d/a.txt"), File("file:///d/b.enc")], None),
    ("a folder", [File("file:///d/a.txt"), File("file:///d/folder", directory=True)], None),
    ("a remote file", [File("sftp://host/d/a.txt")], None),
    ("upper-case suffix", [File("file:///d/a.ENC")], "Encrypt with Kestrune"),
]
failures = []
for name, files, expected in CASES:
    for items in (provider.get_file_items(files), provider.get_file_items(None, files)):
        labels = [item.label for item in items]
        if labels != ([expected] if expected else []):
            failures.append(f"{name}: {labels}, not {expected}")
    if expected:
        spawned.clear()
        provider.get_file_items(files)[0].activate()
        if spawned != [["kestrune", *[f.get_uri() for f in files]]]:
            failures.append(f"{name}: runs {spawned}")
for failure in failures:
    print("FAIL:", failure, file=sys.stderr)
print(f"Files extension: {len(CASES)} selections checked")
sys.exit(1 if failures else 0)
