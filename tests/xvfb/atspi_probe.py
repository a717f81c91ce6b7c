#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What a screen reader learns of a program through the accessibility bus.

  atspi_probe.py tree PID          the program's accessible objects, one per line:
                                   depth, role, name, "focused" for the focus,
                                   "selected" for a selected item, "checked" for a
                                   checked one, and the text
                                   of a text object (escaped)
  atspi_probe.py checked PID SECONDS
                                   prints "ready", then "NAME|checked=0" or "=1" for
                                   each checked state the program reports changed
                                   within SECONDS
  atspi_probe.py notifications PID SECONDS
                                   prints "ready", then the name and content
                                   ("NAME|content=TEXT") of each notification
                                   that appears within SECONDS
"""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


def application(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def walk(node, depth, out):
    if node is None or depth > 12:
        return
    states = node.get_state_set()
    focused = " focused" if states.contains(Atspi.StateType.FOCUSED) else ""
    if states.contains(Atspi.StateType.SELECTED):
        focused += " selected"
    if states.contains(Atspi.StateType.CHECKED):
        focused += " checked"
    line = "%d|%s|%s%s" % (depth, node.get_role_name(), node.get_name(), focused)
    if node.get_role() == Atspi.Role.TEXT:
        content = Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))
        line += "|text=" + content.encode("unicode_escape").decode("ascii")
    out.append(line)
    for i in range(node.get_child_count()):
        walk(node.get_child_at_index(i), depth + 1, out)


def tree(pid):
    app = application(pid)
    if app is None:
        print("no such application", file=sys.stderr)
        return 1
    out = []
    walk(app, 0, out)
    print("\n".join(out))
    return 0


def listen(event_type, seen, seconds):
    """Calls seen(event) for each event of the type, for so many seconds; says
    "ready" once listening."""
    loop = GLib.MainLoop()
    listener = Atspi.EventListener.new(seen)
    listener.register(event_type)
    GLib.timeout_add(int(seconds * 1000), loop.quit)
    print("ready", flush=True)
    loop.run()
    listener.deregister(event_type)
    return 0


def notifications(pid, seconds):
    def seen(event):
        source = event.source
        if (event.detail1 == 1 and source.get_role() == Atspi.Role.NOTIFICATION and
                source.get_process_id() == pid):
            # The content as braille and a notification history take it.
            content = [source.get_child_at_index(i).get_name()
                       for i in range(source.get_child_count())]
            print(source.get_name() + "|content=" + "".join(content), flush=True)

    return listen("object:state-changed:showing", seen, seconds)


def checked(pid, seconds):
    def seen(event):
        if event.source.get_process_id() == pid:
            print("%s|checked=%d" % (event.source.get_name(), event.detail1), flush=True)

    return listen("object:state-changed:checked", seen, seconds)


def main():
    command, pid = sys.argv[1], int(sys.argv[2])
    if command == "tree":
        return tree(pid)
    if command == "checked":
        return checked(pid, float(sys.argv[3]))
    return notifications(pid, float(sys.argv[3]))


sys.exit(main())
