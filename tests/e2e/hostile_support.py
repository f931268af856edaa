#!/usr/bin/python3
"""Shared pieces of the hostile-environment tests (test_hostile_*.py, test_soak.py, ...).

* ``HostileCase``: cases that run ``HostileSession``s (harness.py) and hold the utility to
  the acceptance bound: a click on the icon opens the popup, and another closes it, each
  within 1 s, while the process stays alive.
* ``figures()``: the dashboard's texts by card.
"""

import ctypes
import os
import time

import harness
from harness import (DASHBOARD_SIZE, PROMPT_SIZE, E2ETestCase, HarnessError, HostileSession,
                     WaitTimeout, accessible_nodes)

POPUP_BOUND_S = 1.0
GENEROUS_LIMIT_S = 15.0
# A press that closes a popup keeps the icon from reopening it for 400 ms (under XEmbed the
# popup's grab takes the press, so the next click on the icon would be swallowed as part of
# the same gesture). Clicks that open wait this long after the last close was seen.
REOPEN_GUARD_S = 0.45
# The monitor refreshes every 2 s; a new reading is on screen within one pass and a repaint.
PASS_LIMIT_S = 6.0
PLACEHOLDER = "\u2014"
BATTERY_UNAVAILABLE = "不可用"
NO_TEMPERATURE = "--°C"
CLEANED_PREFIX = "已累计清理 "
CLEANED_SUFFIX = " 垃圾"

def find_node(tree, name=None, role=None, name_prefix=None):
    """The first node of ``tree`` with that name (or name prefix) and/or role, or None."""
    for node in accessible_nodes(tree):
        if name is not None and node.get("name") != name:
            continue
        if name_prefix is not None and not node.get("name", "").startswith(name_prefix):
            continue
        if role is not None and node.get("role") != role:
            continue
        return node
    return None


def _card(tree, title):
    node = find_node(tree, name=title, role="panel")
    if node is None:
        return None
    # A card's labels in order: title, value, detail (the detail label is empty or hidden
    # when the card has none).
    labels = [child["name"] for child in node["children"] if child.get("role") == "label"]
    return labels[1:3] + [""] * (3 - len(labels[1:3]))


def figures(tree):
    """The dashboard's texts: {"cleaned", "memory", "volume", "battery": (status, percent),
    "cpu": (load text, temperature)}; a figure is None when its control is missing."""
    cleaned = find_node(tree, role="push button", name_prefix=CLEANED_PREFIX)
    memory = _card(tree, "内存")
    battery = _card(tree, "电池")
    cpu = _card(tree, "CPU")
    volume = None
    for node in accessible_nodes(tree):
        if node.get("role") == "panel" and node.get("name") not in ("内存", "电池", "CPU"):
            volume = _card(tree, node["name"])
            break
    return {
        "cleaned": cleaned["name"][len(CLEANED_PREFIX):-len(CLEANED_SUFFIX)]
        if cleaned and cleaned["name"].endswith(CLEANED_SUFFIX) else None,
        "memory": memory[0] if memory else None,
        "volume": volume[0] if volume else None,
        "battery": (battery[0], battery[1]) if battery else None,
        "cpu": (cpu[0], cpu[1]) if cpu else None,
    }


class HostileCase(E2ETestCase):
    """Base of the hostile-environment cases."""

    def hostile_session(self, name_suffix=None, **options):
        """A HostileSession named and filed like E2ETestCase.session's (plus ``name_suffix``,
        so that each of several sessions of one case keeps its own artifacts)."""
        if harness._options is None:
            raise HarnessError("run the test program through harness.main()")
        module = type(self).__module__
        test_file = os.path.splitext(os.path.basename(
            harness.sys.modules[module].__file__ if module != "__main__"
            else harness.sys.argv[0]))[0]
        artifacts = harness._options.artifacts / test_file if harness._options.artifacts \
            else None
        name = "%s.%s" % (type(self).__name__, self._testMethodName)
        if name_suffix:
            name += "." + "".join(c if c.isalnum() or c in "-_" else "-" for c in name_suffix)
        return HostileSession(harness._options.binary, artifacts, name, **options)

    # -- the acceptance bound -----------------------------------------------------------

    def _wait_reopen_guard(self, session):
        closed_at = getattr(session, "last_close_click", None)
        if closed_at is not None:
            remaining = REOPEN_GUARD_S - (time.monotonic() - closed_at)
            if remaining > 0:
                time.sleep(remaining)

    def click_open(self, session, size=DASHBOARD_SIZE, what="the dashboard"):
        """Clicks the icon; asserts that a popup of ``size`` maps within 1 s; returns it."""
        self._wait_reopen_guard(session)
        session.wait_for_icon(GENEROUS_LIMIT_S)
        session.click_icon()
        clicked = time.monotonic()
        popup = session.wait_for_popup(GENEROUS_LIMIT_S)
        elapsed = time.monotonic() - clicked
        self.assertEqual((popup.width, popup.height), tuple(size),
                         "the click opened %s, not %s" % (popup, what))
        self.assertLessEqual(elapsed, POPUP_BOUND_S,
                             "%s mapped %.2f s after the click (bound %.1f s)"
                             % (what, elapsed, POPUP_BOUND_S))
        return popup

    def click_close(self, session, outside=False):
        """Clicks the icon (or a bare spot); asserts the popup unmaps within 1 s."""
        if outside:
            session.click_outside()
        else:
            session.click_icon()
        clicked = time.monotonic()
        session.wait_for_no_popup(GENEROUS_LIMIT_S)
        # The utility closes the popup while it handles the press, so the press counts for
        # its 400 ms from no later than now (counting from the click would be too early when
        # the utility is slow to get to it).
        session.last_close_click = time.monotonic()
        elapsed = session.last_close_click - clicked
        self.assertLessEqual(elapsed, POPUP_BOUND_S,
                             "the popup closed %.2f s after the click (bound %.1f s)"
                             % (elapsed, POPUP_BOUND_S))
        self.assertTrue(session.app.running(), "the utility exited")

    def read_while_toggling(self, session, reader, seconds, dwell):
        """Opens the dashboard, reads it for ``dwell`` seconds, closes it, and again, for
        ``seconds`` in all; returns every reading taken."""
        seen = []
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            popup = self.click_open(session)
            stop_reading = time.monotonic() + dwell
            while time.monotonic() < stop_reading:
                self.wait_figures(session, reader, popup, lambda f: True,
                                  "a reading of the dashboard", seen=seen)
            self.click_close(session)
        return seen

    def wait_figures(self, session, reader, popup, predicate, what, timeout=PASS_LIMIT_S,
                     seen=None):
        """Re-reads the open dashboard until ``predicate(figures)`` holds; returns them.

        ``seen``, a list, collects every reading taken on the way. A reading counts only when
        two reads in a row agree: AT-SPI reads the labels one call at a time, so a read that
        a pass lands in the middle of pairs one pass's status with the next one's percent,
        a combination the dashboard never showed.
        """
        last = [None]

        def read_figures():
            tree = reader.read_window(popup)
            return None if tree is None else figures(tree)

        def check():
            session._check_app_alive()
            current = read_figures()
            if current is None or read_figures() != current:
                return None
            last[0] = current
            if seen is not None:
                seen.append(current)
            return current if predicate(current) else None
        try:
            return harness.wait_until(check, timeout, what, interval=0.1)[0]
        except WaitTimeout as error:
            raise AssertionError("%s; the dashboard last read %s" % (error, last[0])) from None


class DirectX:
    """A connection of the test's own to the session's X server, for tight loops.

    xdotool and xwininfo cost tens of milliseconds a call; this clicks through XTest and
    reads the root's children and their map states in a few round trips, so that a loop of
    hundreds of clicks measures the utility, not the tools.
    """

    class _Attributes(ctypes.Structure):
        _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                    ("height", ctypes.c_int), ("border_width", ctypes.c_int),
                    ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                    ("root", ctypes.c_ulong), ("class_", ctypes.c_int),
                    ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                    ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                    ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                    ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                    ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                    ("your_event_mask", ctypes.c_long),
                    ("do_not_propagate_mask", ctypes.c_long),
                    ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]

    IS_VIEWABLE = 2

    def __init__(self, display_name):
        self._x = ctypes.CDLL("libX11.so.6")
        self._xtst = ctypes.CDLL("libXtst.so.6")
        self._x.XOpenDisplay.restype = ctypes.c_void_p
        self._x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self._x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                                 ctypes.POINTER(self._Attributes)]
        self._x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self._x.XDefaultRootWindow.restype = ctypes.c_ulong
        self._x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self._x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                       ctypes.POINTER(ctypes.c_ulong),
                                       ctypes.POINTER(ctypes.c_ulong),
                                       ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                       ctypes.POINTER(ctypes.c_uint)]
        self._x.XFree.argtypes = [ctypes.c_void_p]
        self._x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int,
                                                    ctypes.c_int, ctypes.c_int,
                                                    ctypes.c_ulong]
        self._xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint,
                                                    ctypes.c_int, ctypes.c_ulong]
        # A window gone meanwhile must not end the test through Xlib's default handler.
        handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self._ignore_errors = handler_type(lambda display, event: 0)
        self._x.XSetErrorHandler.argtypes = [handler_type]
        self._x.XSetErrorHandler(self._ignore_errors)
        self._display = self._x.XOpenDisplay(display_name.encode())
        if not self._display:
            raise HarnessError("cannot open display %s" % display_name)

    def close(self):
        if self._display:
            self._x.XCloseDisplay(self._display)
            self._display = None

    def click(self, x, y):
        self._xtst.XTestFakeMotionEvent(self._display, -1, x, y, 0)
        self._xtst.XTestFakeButtonEvent(self._display, 1, 1, 0)
        self._xtst.XTestFakeButtonEvent(self._display, 1, 0, 0)
        self._x.XSync(self._display, 0)

    def shown_toplevel(self, size):
        """The id of a viewable window of ``size`` directly on the root, or None. (Qt
        makes a new X window each time a popup shows, so popups are looked up anew.)"""
        root = self._x.XDefaultRootWindow(self._display)
        root_return = ctypes.c_ulong()
        parent_return = ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        count = ctypes.c_uint()
        if not self._x.XQueryTree(self._display, root, ctypes.byref(root_return),
                                  ctypes.byref(parent_return), ctypes.byref(children),
                                  ctypes.byref(count)):
            return None
        try:
            ids = [children[i] for i in range(count.value)]
        finally:
            if children:
                self._x.XFree(children)
        attributes = self._Attributes()
        for window_id in ids:
            if (self._x.XGetWindowAttributes(self._display, window_id,
                                             ctypes.byref(attributes))
                    and attributes.map_state == self.IS_VIEWABLE
                    and (attributes.width, attributes.height) == tuple(size)):
                return window_id
        return None

    def wait_shown(self, size, shown, timeout, alive=lambda: True):
        """Polls until a top-level of ``size`` is (or is no longer) viewable; returns the
        seconds it took."""
        start = time.monotonic()
        while (self.shown_toplevel(size) is not None) != shown:
            if not alive():
                raise AssertionError("korvanta-menubar exited")
            if time.monotonic() - start > timeout:
                raise WaitTimeout("no window of %dx%d %s within %.1f s"
                                  % (size[0], size[1], "shown" if shown else "hidden",
                                     timeout))
            time.sleep(0.002)
        return time.monotonic() - start
