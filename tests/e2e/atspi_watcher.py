#!/usr/bin/python3
"""AT-SPI side of the end-to-end harness: one process per test session.

Run with /usr/bin/python3 (pyatspi) inside the session's environment (DISPLAY and
DBUS_SESSION_BUS_ADDRESS of the private session). It registers for
``object:state-changed:showing`` before the application under test starts, so Qt's
AT-SPI bridge, which asks the registry for the registered events when it comes up,
sends those events from the first window on.

Qt leaves Qt::Popup windows out of its application's accessible children: a popup is
reachable only from the event raised when it shows. For every such event whose source
is a top-level object (its parent is the application) this prints one JSON line with
the whole subtree as read at that moment.

Protocol, one JSON object per line on stdout:
  {"type": "ready"}                                    listeners are registered
  {"type": "showing", "value": 1|0, "pid": N, "node": {...}}   a top-level shows/hides
  {"type": "snapshot", "nodes": [{...}, ...]}          answer to "snapshot" on stdin
  {"type": "error", "message": "..."}                  a read failed (the watcher goes on)
Commands on stdin, one per line: "snapshot" re-reads every top-level seen showing so
far and still showing. End of stdin ends the watcher.

A node is {"role", "name", "description", "text", "states", "extents": [x, y, w, h]
(desktop coordinates), "children": [...]}; "text" is null where the object has no
Text interface.
"""

import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import GLib  # noqa: E402

import pyatspi  # noqa: E402

MAX_DEPTH = 40
MAX_NODES = 5000

# Top-level objects seen showing, in order; the same object is kept once.
_toplevels = []


def emit(message):
    sys.stdout.write(json.dumps(message, ensure_ascii=False) + "\n")
    sys.stdout.flush()


def read_text(accessible):
    try:
        text = accessible.queryText()
    except NotImplementedError:
        return None
    count = text.characterCount
    return text.getText(0, count) if count > 0 else ""


def read_extents(accessible):
    try:
        extents = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    except NotImplementedError:
        return None
    return [extents.x, extents.y, extents.width, extents.height]


def dump(accessible, budget, depth=0):
    budget[0] -= 1
    node = {
        "role": accessible.getRoleName(),
        "name": accessible.name or "",
        "description": accessible.description or "",
        "text": read_text(accessible),
        "states": sorted(pyatspi.stateToString(s) for s in accessible.getState().getStates()),
        "extents": read_extents(accessible),
        "children": [],
    }
    if depth < MAX_DEPTH:
        for index in range(accessible.childCount):
            if budget[0] <= 0:
                node["truncated"] = True
                break
            child = accessible.getChildAtIndex(index)
            if child is not None:
                node["children"].append(dump(child, budget, depth + 1))
    return node


def is_toplevel(accessible):
    parent = accessible.parent
    return parent is not None and parent.getRoleName() == "application"


def remember(accessible):
    for known in _toplevels:
        if known == accessible:
            return
    _toplevels.append(accessible)


def on_showing(event):
    try:
        source = event.source
        if source is None or not is_toplevel(source):
            return
        remember(source)
        emit({
            "type": "showing",
            "value": int(event.detail1),
            "pid": source.get_process_id(),
            "node": dump(source, [MAX_NODES]) if event.detail1 else {
                "role": source.getRoleName(), "name": source.name or "", "children": []},
        })
    except Exception as error:  # a window may vanish while it is read
        emit({"type": "error", "message": "showing event: %r" % (error,)})


def snapshot():
    nodes = []
    for accessible in list(_toplevels):
        try:
            accessible.clear_cache()
            if accessible.getState().contains(pyatspi.STATE_SHOWING):
                entry = dump(accessible, [MAX_NODES])
                entry["pid"] = accessible.get_process_id()
                nodes.append(entry)
        except Exception as error:
            emit({"type": "error", "message": "snapshot: %r" % (error,)})
    emit({"type": "snapshot", "nodes": nodes})


def on_stdin(channel, condition):
    if condition & GLib.IOCondition.IN:
        line = sys.stdin.readline()
        if line:
            if line.strip() == "snapshot":
                snapshot()
            return True
    pyatspi.Registry.stop()
    return False


def main():
    pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
    GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                      GLib.IOCondition.IN | GLib.IOCondition.HUP | GLib.IOCondition.ERR,
                      on_stdin)
    emit({"type": "ready"})
    pyatspi.Registry.start()


if __name__ == "__main__":
    main()
