#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in desktop notification server for tests.

Owns org.freedesktop.Notifications on the session bus named by
DBUS_SESSION_BUS_ADDRESS and writes one JSON line per Notify call to the file
given as the first argument. Prints "ready" once it owns the name. Ends on SIGTERM.
"""
import json
import signal
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>
"""

log_path = sys.argv[1]
next_id = [0]


def on_call(connection, sender, path, interface, method, params, invocation):
    if method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["body", "actions"],)))
    elif method == "Notify":
        app, replaces, icon, summary, body, actions, hints, timeout = params.unpack()
        if replaces == 0:
            next_id[0] += 1
        with open(log_path, "a", encoding="utf-8") as log:
            log.write(json.dumps({"app": app, "replaces": replaces, "icon": icon,
                                  "summary": summary, "body": body, "actions": actions,
                                  "hints": sorted(hints.keys())}) + "\n")
        invocation.return_value(GLib.Variant("(u)", (replaces or next_id[0],)))
    elif method == "CloseNotification":
        invocation.return_value(None)
    else:
        invocation.return_value(GLib.Variant("(ssss)", ("stand-in", "tests", "1", "1.2")))


def main():
    loop = GLib.MainLoop()
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
    bus.register_object("/org/freedesktop/Notifications", info, on_call, None, None)

    def acquired(*_):
        print("ready", flush=True)

    Gio.bus_own_name_on_connection(bus, "org.freedesktop.Notifications",
                                   Gio.BusNameOwnerFlags.NONE, acquired, lambda *_: loop.quit())
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    loop.run()


main()
