#!/usr/bin/python3
"""The end-to-end session's AT-SPI reader. Qt keeps Qt::Popup windows out of its
application's accessible children, so this remembers every top-level that raised a showing
event. A JSON request a line on stdin, {"pid": N} (the shown top-levels of process N) or
{"app": NAME or N} (those applications), gets {"nodes": [...]} on stdout, read afresh."""

import contextlib
import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import GLib  # noqa: E402

import pyatspi  # noqa: E402

toplevels = []


def dump(accessible, depth=0):
    # What libatspi cached of the node goes, states and children alike, and its states are
    # read before its children. (A node whose children are cached but not its states makes
    # libatspi call the application from inside its own dispatch on a children-changed
    # event, which deadlocks this process.)
    accessible.clear_cache()
    try:
        box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        extents = [box.x, box.y, box.width, box.height]
    except NotImplementedError:
        extents = None
    node = {"role": accessible.getRoleName(), "name": accessible.name or "",
            "states": sorted(pyatspi.stateToString(s) for s in accessible.getState().getStates()),
            "extents": extents}
    count = accessible.childCount if depth < 30 else 0
    children = [accessible.getChildAtIndex(i) for i in range(count)]
    return dict(node, children=[dump(child, depth + 1) for child in children if child is not None])


def on_showing(event):
    with contextlib.suppress(Exception):  # a window may be gone before it is looked at
        source = event.source
        if (event.detail1 and source is not None and source.parent is not None
                and source.parent.getRoleName() == "application"
                and not any(source == known for known in toplevels)):
            toplevels.append(source)


def shown_of(pid):
    nodes = []
    for accessible in list(toplevels):
        try:
            if accessible.get_process_id() != pid:
                continue
        except Exception:  # its process is gone
            toplevels.remove(accessible)
            continue
        with contextlib.suppress(Exception):  # hidden or destroyed while read
            accessible.clear_cache()
            if accessible.getState().contains(pyatspi.STATE_SHOWING):
                nodes.append(dump(accessible))
    return nodes


def applications(key):
    nodes = []
    for application in pyatspi.Registry.getDesktop(0):
        with contextlib.suppress(Exception):  # gone while read
            if application is not None and key in (application.name,
                                                    application.get_process_id()):
                nodes.append(dump(application))
    return nodes


def on_stdin(channel, condition):
    line = sys.stdin.readline()
    if not line:
        pyatspi.Registry.stop()
        return False
    request = json.loads(line)
    answer = shown_of(request["pid"]) if "pid" in request else applications(request["app"])
    print(json.dumps({"nodes": answer}, ensure_ascii=False), flush=True)
    return True


pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                  GLib.IOCondition.IN | GLib.IOCondition.HUP, on_stdin)
print(json.dumps({"ready": True}), flush=True)
pyatspi.Registry.start()
