#!/usr/bin/python3
"""A drag source as a file manager is one (GTK, as Nautilus, Thunar and PCManFM are): a small
window at the top left of the screen that, pressed with the left button and dragged, offers the
URIs given on the command line as "text/uri-list" through XDND, byte for byte as given (names
that are not UTF-8 percent-encoded, as file managers send them). xdotool cannot drag by
itself; it presses here, moves the pointer and lets go over the target.

Prints "ready" once the window is mapped, then the outcome of the drag ("dropped" or
"refused") and exits.

usage: drag_source.py URI...
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

URI_LIST = "text/uri-list"


def main():
    uris = "".join(u + "\r\n" for u in sys.argv[1:]).encode("ascii")
    window = Gtk.Window(title="drag source")
    window.set_decorated(False)
    window.set_default_size(120, 60)
    window.move(0, 0)
    area = Gtk.EventBox()
    area.add(Gtk.Label(label="drag me"))
    window.add(area)
    area.drag_source_set(Gdk.ModifierType.BUTTON1_MASK,
                         [Gtk.TargetEntry.new(URI_LIST, 0, 0)],
                         Gdk.DragAction.COPY | Gdk.DragAction.MOVE)

    def data_get(widget, context, selection, info, time):
        selection.set(Gdk.Atom.intern(URI_LIST, False), 8, uris)

    def ended(outcome):
        print(outcome, flush=True)
        GLib.idle_add(Gtk.main_quit)

    area.connect("drag-data-get", data_get)
    area.connect("drag-end", lambda *a: ended("dropped") if not failed else None)
    failed = []

    def drag_failed(widget, context, result):
        failed.append(result)
        ended("refused")
        return True
    area.connect("drag-failed", drag_failed)
    window.connect("map-event", lambda *a: GLib.timeout_add(100, lambda: print(
        "ready", flush=True) and False))
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
