#!/usr/bin/python3
"""A desktop notification server for the tests: owns org.freedesktop.Notifications on the
session bus, prints each Notify and CloseNotification call as a JSON line, and on a line
"<id> <action>" on its input emits ActionInvoked for that notification."""

import json
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
INTERFACE = """<node><interface name="org.freedesktop.Notifications">
<method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/>
<arg type="s"/><arg type="as"/><arg type="a{sv}"/><arg type="i"/>
<arg type="u" direction="out"/></method>
<method name="CloseNotification"><arg type="u"/></method>
<method name="GetCapabilities"><arg type="as" direction="out"/></method>
<method name="GetServerInformation"><arg type="s" direction="out"/><arg type="s" direction="out"/>
<arg type="s" direction="out"/><arg type="s" direction="out"/></method>
<signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
<signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
</interface></node>"""

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
ids = iter(range(1, 1 << 31))


def report(call, **fields):
    print(json.dumps(dict(call=call, **fields), ensure_ascii=False), flush=True)


def on_call(connection, sender, path, interface, method, parameters, invocation):
    arguments = parameters.unpack()
    if method == "Notify":
        app, _, icon, summary, body, actions, hints, _ = arguments
        number = next(ids)
        report("Notify", id=number, app=app, summary=summary, body=body, actions=actions,
               hints={key: value for key, value in hints.items()})
        invocation.return_value(GLib.Variant("(u)", (number,)))
    elif method == "CloseNotification":
        report("CloseNotification", id=arguments[0])
        connection.emit_signal(None, PATH, NAME, "NotificationClosed",
                               GLib.Variant("(uu)", (arguments[0], 3)))
        invocation.return_value(None)
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["actions", "body"],)))
    else:
        invocation.return_value(GLib.Variant("(ssss)", ("test", "kmb", "1", "1.2")))


def on_input(channel, condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    number, action = line.split()
    bus.emit_signal(None, PATH, NAME, "ActionInvoked", GLib.Variant("(us)", (int(number), action)))
    return True


bus.register_object(PATH, Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0], on_call)
Gio.bus_own_name_on_connection(bus, NAME, Gio.BusNameOwnerFlags.NONE,
                               lambda *_: report("owned"), None)
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_input)
loop = GLib.MainLoop()
loop.run()
