#!/usr/bin/python3
"""A portal back end for the tests: what a compositor's back end does for
xdg-desktop-portal (org.freedesktop.impl.portal.ScreenCast and
GlobalShortcuts), with the stream a test producer serves in PipeWire. The
real xdg-desktop-portal talks to it, opens the PipeWire remote for the
client and keeps the grant. The test presses a bound shortcut with
org.kmrtest.Keys.Press(id).

Environment: KMR_CAST_NODE (the producer's node), KMR_CAST_SIZE ("W,H"),
KMR_CAST_ANSWER_FILE (a file holding Start's answer: 0 grants, 1 is the
user cancelling, 2 a failure; no file: 0),
KMR_CAST_LOG (a file: one line per call, with what came in).
"""
import os
import sys

from gi.repository import Gio, GLib

NAME = "org.freedesktop.impl.portal.desktop.kmrtest"
XML = """
<node>
  <interface name="org.freedesktop.impl.portal.ScreenCast">
    <method name="CreateSession">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="SelectSources">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="Start">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
</node>
"""
SHORTCUTS_XML = """
<node>
  <interface name="org.freedesktop.impl.portal.GlobalShortcuts">
    <method name="CreateSession">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="BindShortcuts">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="a(sa{sv})" name="shortcuts" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="ListShortcuts">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <signal name="Activated">
      <arg type="o" name="session_handle"/>
      <arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/>
      <arg type="a{sv}" name="options"/>
    </signal>
    <signal name="Deactivated">
      <arg type="o" name="session_handle"/>
      <arg type="s" name="shortcut_id"/>
      <arg type="t" name="timestamp"/>
      <arg type="a{sv}" name="options"/>
    </signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.kmrtest.Keys">
    <method name="Press">
      <arg type="s" name="shortcut_id" direction="in"/>
    </method>
  </interface>
</node>
"""
SESSION_XML = """
<node>
  <interface name="org.freedesktop.impl.portal.Session">
    <method name="Close"/>
    <signal name="Closed"/>
    <property name="version" type="u" access="read"/>
  </interface>
</node>
"""

node = int(os.environ.get("KMR_CAST_NODE", "0"))
width, height = (int(v) for v in os.environ.get("KMR_CAST_SIZE", "640,480").split(","))
answer_file = os.environ.get("KMR_CAST_ANSWER_FILE", "")
log_path = os.environ.get("KMR_CAST_LOG", "/dev/null")
sessions = {}
selected = {}
shortcut_session = [None]


def log(text):
    with open(log_path, "a") as f:
        f.write(text + "\n")


def options_text(options):
    return " ".join("%s=%s" % (k, options[k]) for k in sorted(options))


def on_call(conn, sender, path, interface, method, params, invocation):
    args = params.unpack()
    if interface == "org.freedesktop.impl.portal.Session":
        log("Close")
        reg = sessions.pop(path, None)
        if reg is not None:
            conn.unregister_object(reg)
        invocation.return_value(None)
        return
    if interface == "org.kmrtest.Keys":
        log("Press %s" % args[0])
        for signal in ("Activated", "Deactivated"):
            conn.emit_signal(None, "/org/freedesktop/portal/desktop", "org.freedesktop.impl.portal.GlobalShortcuts",
                             signal, GLib.Variant("(osta{sv})", (shortcut_session[0] or "/", args[0], 0, {})))
        invocation.return_value(None)
        return
    if interface == "org.freedesktop.impl.portal.GlobalShortcuts":
        if method == "CreateSession":
            shortcut_session[0] = args[1]
            node_info = Gio.DBusNodeInfo.new_for_xml(SESSION_XML)
            sessions[args[1]] = conn.register_object(
                args[1], node_info.interfaces[0], on_call, on_property, None)
            log("ShortcutsSession")
            invocation.return_value(GLib.Variant("(ua{sv})", (0, {})))
            return
        if method == "BindShortcuts":
            bound = []
            for sid, props in args[2]:
                trigger = props.get("preferred_trigger", "")
                log("Bind %s %s (%s)" % (sid, trigger, props.get("description", "")))
                bound.append((sid, {"description": GLib.Variant("s", props.get("description", "")),
                                    "trigger_description": GLib.Variant("s", "Press " + trigger)}))
            invocation.return_value(GLib.Variant("(ua{sv})", (0, {"shortcuts": GLib.Variant("a(sa{sv})", bound)})))
            return
        invocation.return_value(GLib.Variant("(ua{sv})", (0, {})))
        return
    options = args[-1]
    log("%s %s" % (method, options_text(options)))
    results = {}
    if method == "CreateSession":
        session_path = args[1]
        node_info = Gio.DBusNodeInfo.new_for_xml(SESSION_XML)
        sessions[session_path] = conn.register_object(
            session_path, node_info.interfaces[0], on_call, on_property, None)
        results["session_id"] = GLib.Variant("s", "kmrtest")
        invocation.return_value(GLib.Variant("(ua{sv})", (0, results)))
        return
    if method == "SelectSources":
        selected[args[1]] = options
        invocation.return_value(GLib.Variant("(ua{sv})", (0, results)))
        return
    # Start: the dialog's answer.
    answer = 0
    if answer_file and os.path.exists(answer_file):
        with open(answer_file) as f:
            answer = int(f.read().strip() or "0")
    if answer != 0:
        invocation.return_value(GLib.Variant("(ua{sv})", (answer, {})))
        return
    chosen = selected.get(args[1], {})
    types = chosen.get("types", 1)
    stream = (node, {
        "position": GLib.Variant("(ii)", (0, 0)),
        "size": GLib.Variant("(ii)", (width, height)),
        "source_type": GLib.Variant("u", 2 if types & 2 else 1),
    })
    results["streams"] = GLib.Variant("a(ua{sv})", [stream])
    if chosen.get("persist_mode", 0):
        results["persist_mode"] = GLib.Variant("u", chosen["persist_mode"])
        results["restore_data"] = GLib.Variant("(suv)", ("kmrtest", 1, GLib.Variant("s", "monitor-0")))
    invocation.return_value(GLib.Variant("(ua{sv})", (0, results)))


def on_property(conn, sender, path, interface, name):
    if name == "AvailableSourceTypes":
        return GLib.Variant("u", 3)
    if name == "AvailableCursorModes":
        return GLib.Variant("u", 7)
    return GLib.Variant("u", 4 if interface.endswith("ScreenCast") else 1)


def on_bus(conn, name):
    info = Gio.DBusNodeInfo.new_for_xml(XML)
    conn.register_object("/org/freedesktop/portal/desktop", info.interfaces[0], on_call, on_property, None)
    keys = Gio.DBusNodeInfo.new_for_xml(SHORTCUTS_XML)
    for interface in keys.interfaces:
        conn.register_object("/org/freedesktop/portal/desktop", interface, on_call, on_property, None)


def main():
    loop = GLib.MainLoop()
    Gio.bus_own_name(Gio.BusType.SESSION, NAME, Gio.BusNameOwnerFlags.NONE, on_bus, None,
                     lambda *a: (log("lost the name"), loop.quit()))
    loop.run()


if __name__ == "__main__":
    sys.exit(main())
