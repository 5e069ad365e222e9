#!/usr/bin/python3
"""A small StatusNotifierItem tray of our own for the tests: the watcher
(org.kde.StatusNotifierWatcher) with a host registered, on the session bus it is given, as a
panel (Plasma's, swaybar, GNOME's AppIndicator extension) runs it. It only keeps the list of
registered items; the test activates them and uses their menus over D-Bus itself.

usage: sni_watcher.py    (DBUS_SESSION_BUS_ADDRESS names the bus)
Prints "ready" once it owns the watcher's name; ends on SIGTERM.
"""
import os
import signal
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
PROPERTIES = "org.freedesktop.DBus.Properties"


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.items = []  # "bus name/object path"
        bus.add_signal_receiver(self.name_owner_changed, "NameOwnerChanged",
                                "org.freedesktop.DBus")

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # a bus name (with the standard path) or an object path of the caller
        name, path = (sender, service) if service.startswith("/") else (
            service, "/StatusNotifierItem")
        item = name + path
        if item not in self.items:
            self.items.append(item)
            self.StatusNotifierItemRegistered(item)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    def name_owner_changed(self, name, old, new):
        if new:
            return
        for item in [i for i in self.items if i.startswith(name + "/")]:
            self.items.remove(item)
            self.StatusNotifierItemUnregistered(item)

    def properties(self):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": True,
                "ProtocolVersion": dbus.Int32(0)}

    # Qt reads the properties through the introspection data, which dbus-python leaves out.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, in_signature="", out_signature="s",
                         path_keyword="object_path", connection_keyword="connection")
    def Introspect(self, object_path, connection):
        xml = super().Introspect(object_path, connection)
        return xml.replace('<interface name="%s">' % WATCHER, '<interface name="%s">'
                           '<property name="RegisteredStatusNotifierItems" type="as" '
                           'access="read"/>'
                           '<property name="IsStatusNotifierHostRegistered" type="b" '
                           'access="read"/>'
                           '<property name="ProtocolVersion" type="i" access="read"/>' % WATCHER)

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.properties()[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties() if interface == WATCHER else {}


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)
    host = dbus.service.BusName("org.kde.StatusNotifierHost-%d" % os.getpid(), bus)
    name = dbus.service.BusName(WATCHER, bus, do_not_queue=True)
    watcher.StatusNotifierHostRegistered()
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    print("ready", flush=True)
    loop.run()
    del name, host
    return 0


if __name__ == "__main__":
    sys.exit(main())
