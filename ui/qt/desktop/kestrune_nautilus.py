"""Files (Nautilus): "Encrypt with Kestrune" on selected files and "Decrypt
with Kestrune" on selected containers. Either opens Kestrune's one window,
or feeds the window already open, with the selection waiting there for the
password. Loaded by nautilus-python (python3-nautilus)."""
from gi.repository import GLib, GObject, Nautilus

CONTAINER_SUFFIX = ".enc"


def _is_local_file(item):
    return item.get_uri_scheme() == "file" and not item.is_directory()


def _is_container(item):
    # The address keeps ASCII as it is, so its end is the name's end.
    return item.get_uri().endswith(CONTAINER_SUFFIX)


def _open_in_kestrune(_menu_item, uris):
    # Without DO_NOT_REAP_CHILD GLib reaps the program itself; Kestrune
    # takes addresses exactly as a drop's.
    GLib.spawn_async(["kestrune", *uris], flags=GLib.SpawnFlags.SEARCH_PATH)


def _menu_item(name, label, uris):
    item = Nautilus.MenuItem(name=name, label=label, icon="kestrune")
    item.connect("activate", _open_in_kestrune, uris)
    return item


class KestruneMenuProvider(GObject.GObject, Nautilus.MenuProvider):
    # nautilus-python 4 passes the files alone, earlier versions the window first.
    def get_file_items(self, *args):
        files = args[-1]
        if not files or not all(_is_local_file(item) for item in files):
            return []
        uris = [item.get_uri() for item in files]
        if all(_is_container(item) for item in files):
            return [_menu_item("Kestrune::decrypt", "Decrypt with Kestrune", uris)]
        if not any(_is_container(item) for item in files):
            return [_menu_item("Kestrune::encrypt", "Encrypt with Kestrune", uris)]
        return []
