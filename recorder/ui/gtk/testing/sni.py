#!/usr/bin/python3
"""The notification area's side of the StatusNotifierItem protocol, for the
window's tests: a watcher that items register with, and the host's calls on
a registered item (its properties, its menu's labels, a click on a menu
item through com.canonical.dbusmenu).

  sni.py watch LOG            own org.kde.StatusNotifierWatcher; each item is
                              written to LOG as "item BUS PATH"
  sni.py prop LOG NAME        print a property of the last item
  sni.py labels LOG           print the menu's labels, one a line ("-" grayed)
  sni.py click LOG PREFIX     click the menu item whose label starts with PREFIX
"""
import sys

from gi.repository import Gio, GLib

WATCHER = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""


def watch(log):
    items = []

    def on_call(conn, sender, path, interface, method, params, invocation):
        if method == "RegisterStatusNotifierItem":
            service = params.unpack()[0]
            bus, obj = (sender, service) if service.startswith("/") else (service, "/StatusNotifierItem")
            items.append(bus + obj)
            with open(log, "a") as f:
                f.write("item %s %s\n" % (bus, obj))
            conn.emit_signal(None, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                             "StatusNotifierItemRegistered", GLib.Variant("(s)", (bus + obj,)))
        invocation.return_value(None)

    def on_property(conn, sender, path, interface, name):
        if name == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", items)
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        return GLib.Variant("i", 0)

    def on_bus(conn, name):
        info = Gio.DBusNodeInfo.new_for_xml(WATCHER)
        conn.register_object("/StatusNotifierWatcher", info.interfaces[0], on_call, on_property, None)

    loop = GLib.MainLoop()
    Gio.bus_own_name(Gio.BusType.SESSION, "org.kde.StatusNotifierWatcher", Gio.BusNameOwnerFlags.NONE,
                     on_bus, None, lambda *a: loop.quit())
    loop.run()


def last_item(log):
    lines = [l.split() for l in open(log) if l.startswith("item ")]
    if not lines:
        sys.exit("no item registered")
    return lines[-1][1], lines[-1][2]


def call(bus, path, interface, method, args, reply):
    conn = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    return conn.call_sync(bus, path, interface, method, args, GLib.VariantType(reply) if reply else None,
                          Gio.DBusCallFlags.NONE, 10000, None)


def prop(bus, path, name):
    v = call(bus, path, "org.freedesktop.DBus.Properties", "Get",
             GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", name)), "(v)")
    return v.unpack()[0]


def menu_items(bus, path):
    menu = prop(bus, path, "Menu")
    layout = call(bus, menu, "com.canonical.dbusmenu", "GetLayout", GLib.Variant("(iias)", (0, -1, [])),
                  "(u(ia{sv}av))").unpack()[1]
    out = []

    def walk(node):
        ident, props, children = node
        if "label" in props:
            out.append((ident, props["label"], props.get("enabled", True)))
        for c in children:
            walk(c)
    walk(layout)
    return menu, out


def main():
    what, log = sys.argv[1], sys.argv[2]
    if what == "watch":
        return watch(log)
    bus, path = last_item(log)
    if what == "prop":
        print(prop(bus, path, sys.argv[3]))
    elif what == "labels":
        for _, label, enabled in menu_items(bus, path)[1]:
            print(("" if enabled else "-") + label)
    elif what == "click":
        menu, items = menu_items(bus, path)
        for ident, label, enabled in items:
            if label.startswith(sys.argv[3]):
                call(bus, menu, "com.canonical.dbusmenu", "Event",
                     GLib.Variant("(isvu)", (ident, "clicked", GLib.Variant("i", 0), 0)), None)
                return 0
        sys.exit("no menu item " + sys.argv[3])


if __name__ == "__main__":
    sys.exit(main())
