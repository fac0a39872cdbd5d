#!/usr/bin/python3
# A StatusNotifier watcher and host, as a desktop's panel has them, for the desktop tests.
#
# It owns "org.kde.StatusNotifierWatcher" on the session bus (DBUS_SESSION_BUS_ADDRESS), says
# that a host is registered, keeps the items that register, and draws nothing: the test asks it
# on standard input, one command a line, and reads one answer a line on standard output:
#   items              "items <n>"
#   menu               "menu none" (the item offers no menu of its own) or
#                      "menu <label>|<enabled 0/1>|<icon 0/1>;..." with "-" for a separator,
#                      asked as a host asks before it draws the menu (AboutToShow, GetLayout)
#   activate           "activated" after the item's Activate (a left click of the host)
#   activate-last      the same for the item that registered last
#   click <label>      "clicked <label>" after the menu item's "clicked" event, or "no <label>"
# "ready" is printed once the watcher's name is owned; "registered <service>" whenever an item
# registers. Ends on end of input or SIGTERM.
import signal
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"

INTROSPECTION = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
   <arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.items = []  # (bus name, object path)
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", dbus.BUS_DAEMON_IFACE)

    def properties(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(
                [name + path for name, path in self.items], signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.properties()[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties()

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # A service name, or an object path on the caller's connection.
        if service.startswith("/"):
            entry = (sender, service)
        else:
            entry = (service, "/StatusNotifierItem")
        if entry not in self.items:
            self.items.append(entry)
        self.StatusNotifierItemRegistered(entry[0] + entry[1])
        say("registered " + entry[0])

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, service):
        pass

    @dbus.service.signal(WATCHER)
    def StatusNotifierHostRegistered(self):
        pass

    def owner_changed(self, name, old, new):
        if new:
            return
        for entry in [e for e in self.items if name in (e[0],)]:
            self.items.remove(entry)
            self.StatusNotifierItemUnregistered(entry[0] + entry[1])


def item_object(bus, entry):
    return bus.get_object(entry[0], entry[1], introspect=False)


def menu_object(bus, entry):
    item = item_object(bus, entry)
    path = item.Get(ITEM, "Menu", dbus_interface=dbus.PROPERTIES_IFACE)
    if path in ("", "/", "/NO_DBUSMENU"):
        return None
    return bus.get_object(entry[0], path, introspect=False)


def layout(menu):
    menu.AboutToShow(dbus.Int32(0), dbus_interface=MENU)
    _, (_, _, children) = menu.GetLayout(dbus.Int32(0), dbus.Int32(-1), dbus.Array([], "s"),
                                         dbus_interface=MENU)
    entries = []
    for child in children:
        ident, props, _ = child
        entries.append((int(ident), props))
    return entries


def describe(props):
    if props.get("type") == "separator":
        return "-"
    label = str(props.get("label", ""))
    enabled = "1" if props.get("enabled", True) else "0"
    icon = "1" if props.get("icon-data") or props.get("icon-name") else "0"
    return "%s|%s|%s" % (label, enabled, icon)


def command(bus, watcher, line):
    words = line.split(" ", 1)
    if words[0] == "items":
        say("items %d" % len(watcher.items))
        return
    if not watcher.items:
        say("no item")
        return
    entry = watcher.items[-1 if words[0] == "activate-last" else 0]
    if words[0] == "menu":
        menu = menu_object(bus, entry)
        if menu is None:
            say("menu none")
        else:
            say("menu " + ";".join(describe(props) for _, props in layout(menu)))
    elif words[0] in ("activate", "activate-last"):
        item_object(bus, entry).Activate(dbus.Int32(10), dbus.Int32(10), dbus_interface=ITEM)
        say("activated")
    elif words[0] == "click" and len(words) == 2:
        menu = menu_object(bus, entry)
        for ident, props in layout(menu) if menu is not None else []:
            if str(props.get("label", "")) == words[1]:
                menu.Event(dbus.Int32(ident), "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                           dbus_interface=MENU)
                say("clicked " + words[1])
                return
        say("no " + words[1])
    else:
        say("unknown " + line)


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)
    loop = GLib.MainLoop()
    if bus.request_name(WATCHER, dbus.bus.NAME_FLAG_DO_NOT_QUEUE) != \
            dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
        say("watcher taken")
        return 1
    say("ready")

    def on_input(source, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        try:
            command(bus, watcher, line.strip())
        except dbus.DBusException as error:
            say("error " + error.get_dbus_name())
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
