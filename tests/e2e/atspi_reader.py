#!/usr/bin/python3
"""AT-SPI side of the end-to-end harness: one process per session, started before the utility.

Qt keeps Qt::Popup windows out of its application's accessible children, so a popup is
reachable only from the event raised when it shows. This process listens for
``object:state-changed:showing`` (Qt's bridge asks the registry which events are wanted
when it comes up, so nothing is missed) and remembers every top-level object that showed.

Requests on stdin, one JSON object a line; one JSON answer a line on stdout:
  {"pid": N}     -> {"nodes": [the shown top-levels of process N]}
  {"app": NAME}  -> {"nodes": [every application of that name, e.g. a tray host]}
Trees are read afresh (libatspi's cache off: the figures change every 2 s). A node is
{"role", "name", "description", "states", "extents": [x, y, w, h] or null, "children"}.
"""

import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

import pyatspi  # noqa: E402

toplevels = []


def emit(message):
    sys.stdout.write(json.dumps(message, ensure_ascii=False) + "\n")
    sys.stdout.flush()


def dump(accessible, depth=0):
    try:
        box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        extents = [box.x, box.y, box.width, box.height]
    except NotImplementedError:
        extents = None
    node = {"role": accessible.getRoleName(), "name": accessible.name or "",
            "description": accessible.description or "",
            "states": sorted(pyatspi.stateToString(s) for s in accessible.getState().getStates()),
            "extents": extents, "children": []}
    if depth < 30:
        for index in range(accessible.childCount):
            child = accessible.getChildAtIndex(index)
            if child is not None:
                node["children"].append(dump(child, depth + 1))
    return node


def uncached(accessible):
    application = accessible.get_application()
    if application is not None:
        application.set_cache_mask(Atspi.Cache.NONE)
    return accessible


def on_showing(event):
    try:
        source = event.source
        if (event.detail1 and source is not None and source.parent is not None
                and source.parent.getRoleName() == "application"
                and not any(source == known for known in toplevels)):
            toplevels.append(source)
    except Exception:  # a window may be gone before it is looked at
        pass


def shown_of(pid):
    nodes = []
    for accessible in list(toplevels):
        try:
            if accessible.get_process_id() != pid:
                continue
        except Exception:  # its process is gone
            toplevels.remove(accessible)
            continue
        try:
            if uncached(accessible).getState().contains(pyatspi.STATE_SHOWING):
                nodes.append(dump(accessible))
        except Exception:  # hidden or destroyed while read
            pass
    return nodes


def applications(name):
    nodes = []
    for application in pyatspi.Registry.getDesktop(0):
        try:
            if application is not None and application.name == name:
                nodes.append(dump(uncached(application)))
        except Exception:
            pass
    return nodes


def on_stdin(channel, condition):
    line = sys.stdin.readline()
    if not line:
        pyatspi.Registry.stop()
        return False
    request = json.loads(line)
    emit({"nodes": shown_of(request["pid"]) if "pid" in request else applications(request["app"])})
    return True


pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                  GLib.IOCondition.IN | GLib.IOCondition.HUP, on_stdin)
emit({"ready": True})
pyatspi.Registry.start()
