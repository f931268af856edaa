#!/usr/bin/python3
"""End-to-end harness: the real korvanta-menubar in a private desktop (session bus, Xvfb,
AT-SPI reader, tray host, temporary HOME and XDG folders), one Session per test file."""

import argparse
import atexit
import contextlib
import ctypes
import datetime
import json
import os
import plistlib
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import uuid
from dataclasses import dataclass
from pathlib import Path

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

HERE = Path(__file__).resolve().parent
PYTHON = "/usr/bin/python3"
SCREEN = (1280, 800)
DASHBOARD, PROMPT = (420, 384), (338, 202)
SNI_WATCHER, SNI_HOST = "org.kde.StatusNotifierWatcher", "gtk-sni-tray-standalone"
DAY_KEY = "lowDiskSpacePrompt.lastShownDay"
RECORDED_ENV = ("QT_QPA_PLATFORM", "DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN")
PASSED_THROUGH = ("PATH", "TZ", "LD_LIBRARY_PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS",
                  "LSAN_OPTIONS")
# In the environment of every process of a session, also of those its buses start, which no
# parent-death signal reaches. Not KMB_E2E_SESSION: older checkouts read that as theirs.
MARKER = "KMB_TEST_SESSION"
LIMIT_S = 20.0  # generous bound of every wait: reached only when something is wrong
# HOME on a 64 MiB tmpfs (far below the low-disk threshold) in a mount namespace of the
# utility's own, which a user namespace lets anyone make; an inner user namespace gives the
# utility this user's id back, which the buses check.
SMALL_HOME = ('mount -t tmpfs -o size=64m,mode=0700 tmpfs "$HOME" && '
              'exec unshare --map-user=%d --map-group=%d "$@"')

_libc = ctypes.CDLL(None, use_errno=True)


class HarnessError(RuntimeError):
    """The desktop could not be brought up or taken down."""


class WaitTimeout(AssertionError):
    """A state did not come about in time."""


def wait_until(predicate, what, timeout=LIMIT_S, interval=0.05):
    """Polls ``predicate`` until it returns a true value, which it returns."""
    end = time.monotonic() + timeout
    while not (value := predicate()):
        if time.monotonic() > end:
            raise WaitTimeout("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)
    return value


def today(offset_days=0):
    return (datetime.date.today() + datetime.timedelta(days=offset_days)).isoformat()


@dataclass(frozen=True)
class Window:
    """An X window (or an icon a host draws) in root coordinates."""
    id: int
    x: int
    y: int
    width: int
    height: int
    toplevel: bool = True

    size = property(lambda self: (self.width, self.height))
    center = property(lambda self: (self.x + self.width // 2, self.y + self.height // 2))
    bottom = property(lambda self: self.y + self.height)
    right = property(lambda self: self.x + self.width)


def nodes(tree):
    yield tree
    for child in tree.get("children", ()):
        yield from nodes(child)


def find(tree, role=None, name=None):
    """The showing nodes of ``tree`` with that role and name."""
    return [n for n in nodes(tree) if "showing" in n["states"]
            and role in (None, n["role"]) and name in (None, n["name"])]


def center(node):
    x, y, width, height = node["extents"]
    return x + width // 2, y + height // 2


def _die_with_parent():
    _libc.prctl(1, signal.SIGKILL, 0, 0, 0)  # PR_SET_PDEATHSIG


def _marked(marker):
    """Pids of the live processes with ``marker`` in their environment."""
    found, entry = [], ("%s=%s" % (MARKER, marker)).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):
            if entry in Path("/proc", pid, "environ").read_bytes().split(b"\0"):
                found.append(int(pid))
    return found


class Process:
    """A child in its own process group, its output in a log file."""

    def __init__(self, name, argv, env, log_path, **options):
        self.name, self.log_path, self._buffer = name, log_path, b""
        with open(self.log_path, "ab") as log:
            self.popen = subprocess.Popen(
                argv, env=env, stdin=options.pop("stdin", subprocess.DEVNULL),
                stdout=options.pop("stdout", log), stderr=log, start_new_session=True,
                preexec_fn=_die_with_parent, **options)
        self.pid = self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout=LIMIT_S):
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise WaitTimeout("%s still runs %.0f s later" % (self.name, timeout)) from None

    def stop(self, grace=5.0):
        for sig, limit in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
            with contextlib.suppress(ProcessLookupError, subprocess.TimeoutExpired):
                if self.running():
                    os.killpg(self.pid, sig)
                    self.popen.wait(limit)
        return self.popen.returncode

    def ask(self, request, timeout=30):
        """Writes ``request`` as a JSON line; returns the JSON line it answers."""
        self.popen.stdin.write((json.dumps(request) + "\n").encode())
        self.popen.stdin.flush()
        return json.loads(self.line(timeout))

    def line(self, timeout=LIMIT_S):
        """The next line it prints."""
        fd, end = self.popen.stdout.fileno(), time.monotonic() + timeout
        while b"\n" not in self._buffer:
            if not select.select([fd], [], [], max(0.0, end - time.monotonic()))[0]:
                raise WaitTimeout("%s printed nothing within %.0f s" % (self.name, timeout))
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                raise HarnessError("%s ended; see %s" % (self.name, self.log_path))
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode()


_live = []


class Session:
    """One private desktop, a context manager. ``tray_host``: "trayer", "sni" or None."""

    edge, image_format = "top", "rgb"  # the tray's screen edge; the format of screen_image()
    platform = "xcb"  # the utility's Qt platform; None: its own choice
    managed = False  # whether a window manager nests the windows it frames
    _TREE_LINE = re.compile(
        r"^(?P<indent>\s*)(?P<id>0x[0-9a-f]+) .*?\s(?P<w>\d+)x(?P<h>\d+)[+-]-?\d+[+-]-?\d+"
        r"\s+\+(?P<x>-?\d+)\+(?P<y>-?\d+)\s*$")

    def __init__(self, binary, artifacts=None, name="session", *, tray_host="trayer",
                 accessibility=True, app=True, xvfb=True):
        self.binary = Path(binary).resolve()
        self.tray_host, self.accessibility, self.start_with_app = tray_host, accessibility, app
        self.xvfb, self.screen, self.marker = xvfb, SCREEN, uuid.uuid4().hex
        self.temp = Path(tempfile.mkdtemp(prefix="kmb-e2e-"))
        self.artifacts = Path(artifacts) / name if artifacts else self.temp / "artifacts"
        shutil.rmtree(self.artifacts, ignore_errors=True)
        self.artifacts.mkdir(parents=True)
        for folder in ("home", "small-home", "config", "data", "cache", "runtime", "share"):
            (self.temp / folder).mkdir(mode=0o700)
        self.home, self.runtime_dir = self.temp / "home", self.temp / "runtime"
        self.settings_path = self.temp / "config" / "Korvanta" / "KorvantaMenuBar.conf"
        self.history_path = self.temp / "data" / "Korvanta" / "CleanupHistory.plist"
        # Korvanta's desktop entry; its program records each launch: arguments, RECORDED_ENV.
        self.korvanta_record, program = self.temp / "korvanta-launches", self.temp / "korvanta"
        program.write_text("#!%s\nimport json, os, sys\nwith open(%r, 'a') as f:\n"
                           "    f.write(json.dumps({'args': sys.argv[1:], 'env': {k: os.environ[k]"
                           " for k in %r if k in os.environ}}) + '\\n')\n"
                           % (PYTHON, str(self.korvanta_record), RECORDED_ENV))
        program.chmod(0o755)
        self.replace_file(self.temp / "data" / "applications" / "com.korvanta.Korvanta.desktop",
                          b"[Desktop Entry]\nType=Application\nName=Korvanta\nExec=%s\n"
                          % bytes(program))
        self.display = self.bus_address = self.reader = self.app = self.tray = None
        self.wayland = self.xauthority = None
        self.sni, self.app_extra_env, self.small_home = [], {}, False
        self._processes, self._logs, self._x11, self._bus = [], {}, None, None
        _live.append(self)

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc):
        self.stop()

    def base_env(self):
        env = {key: os.environ[key] for key in PASSED_THROUGH if key in os.environ}
        env.setdefault("PATH", "/usr/local/bin:/usr/bin:/bin")
        env.update({"HOME": str(self.home), "XDG_CONFIG_HOME": str(self.temp / "config"),
                    "XDG_DATA_HOME": str(self.temp / "data"),
                    "XDG_CACHE_HOME": str(self.temp / "cache"),
                    "XDG_RUNTIME_DIR": str(self.runtime_dir), "LANG": "C.UTF-8",
                    MARKER: self.marker})
        env.update({k: v for k, v in (
            ("DISPLAY", self.display), ("DBUS_SESSION_BUS_ADDRESS", self.bus_address),
            ("WAYLAND_DISPLAY", self.wayland), ("XAUTHORITY", self.xauthority)) if v})
        return env

    def app_env(self):
        env = dict(
            self.base_env(), QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
            # Popup decisions, timed, in the utility's log: a lost toggle leaves its story.
            QT_LOGGING_RULES="korvanta.popup.debug=true",
            QT_MESSAGE_PATTERN="%{if-category}%{time process} %{category}: %{endif}%{message}",
            # No desktop entry of the machine's own stands in for Korvanta.
            XDG_DATA_DIRS=str(self.temp / "share"))
        if self.small_home:
            env["HOME"] = str(self.temp / "small-home")
        if self.platform:
            env["QT_QPA_PLATFORM"] = self.platform
        env.update(self.app_extra_env)
        return env

    def spawn(self, name, argv, env=None, **options):
        """Starts a process of the session (stopped with it), logging to artifacts."""
        count = self._logs[name] = self._logs.get(name, 0) + 1
        log = self.artifacts / ("%s%s.log" % (name, "-%d" % count if count > 1 else ""))
        process = Process(name, argv, env or self.base_env(), log, **options)
        self._processes.append(process)
        return process

    def _start_printing(self, name, argv):
        """Starts a process that first prints a line (an address, a display); returns it."""
        return self.spawn(name, argv, stdout=subprocess.PIPE).line().strip()

    def start(self):
        self.bus_address = self._start_printing("dbus-daemon", [
            "dbus-daemon", "--session", "--nofork", "--nopidfile", "--nosyslog",
            "--address=unix:path=%s" % (self.temp / "bus"), "--print-address=1"])
        if self.xvfb:
            self.display = ":" + self._start_printing("Xvfb", [
                "Xvfb", "-displayfd", "1", "-screen", "0", "%dx%dx24" % self.screen, "-nolisten",
                "tcp", "-noreset"])
        if self.accessibility:
            self.spawn("at-spi-bus-launcher",
                       ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
            self.wait_bus_name("org.a11y.Bus")
            self.reader = self.spawn("atspi-reader", [PYTHON, str(HERE / "atspi_reader.py")],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            self.reader.line()  # ready
        if self.tray_host:
            self.start_trayer() if self.tray_host == "trayer" else self.start_sni()
        if self.start_with_app:
            self.start_app()
        return self

    def start_trayer(self):
        self.tray = self.spawn("trayer", [
            "trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
            "24", "--SetDockType", "true", "--transparent", "false"])

    def start_sni(self):
        watcher = self.spawn("sni-watcher", ["status-notifier-watcher"])
        self.wait_bus_name(SNI_WATCHER)
        self.sni = [watcher, self.spawn("sni-host", [SNI_HOST, "--top", "--end", "--size", "30"])]

    def stop_tray_hosts(self):
        for process in filter(None, [self.tray] + self.sni):
            process.stop()
        self.tray, self.sni = None, []

    def start_app(self, env=None, day=True, small_home=False):
        """(Re)starts the utility with ``env`` over app_env(); ``small_home``: HOME on a small
        volume of its own; ``day``: today recorded first, so that no low-disk prompt opens."""
        self.stop_app()
        if day:
            self.write_day(today())
        self.app_extra_env, self.small_home = dict(env or {}), small_home
        argv = [str(self.binary)]
        if small_home:
            argv = ["unshare", "-Urm", "sh", "-c", SMALL_HOME % (os.geteuid(), os.getegid()),
                    "sh"] + argv
        self.app = self.spawn("korvanta-menubar", argv, env=self.app_env())
        if self.reader is not None:
            # Qt's bridge comes up on the accessibility bus a little after launch; a popup
            # shown before that raises no event and is never found.
            self.wait(lambda: self.reader.ask({"app": self.app.pid})["nodes"],
                      "the utility on the accessibility bus")
        return self.app

    def stop_app(self):
        return self.app and self.app.stop()

    def run_again(self):
        return subprocess.run([str(self.binary)], env=self.app_env(), capture_output=True,
                              timeout=LIMIT_S, preexec_fn=_die_with_parent).returncode

    def check_alive(self):
        if self.app is None or not self.app.running():
            raise AssertionError("korvanta-menubar is not running (status %s); see its log "
                                 "under %s" % (self.app and self.app.popen.returncode,
                                               self.artifacts))

    def bus(self):
        if self._bus is None:
            self._bus = Gio.DBusConnection.new_for_address_sync(
                self.bus_address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
                | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        return self._bus

    def call(self, name, path, interface, method, signature=None, args=(), fds=None):
        """A D-Bus call (``fds`` are handed over); its reply's values."""
        return self.bus().call_with_unix_fd_list_sync(
            name, path, interface, method, GLib.Variant(signature, args) if signature else None,
            None, 0, int(LIMIT_S * 1000), fds and Gio.UnixFDList.new_from_array(fds),
            None)[0].unpack()

    def bus_has(self, name):
        return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", "(s)", (name,))[0]

    def wait_bus_name(self, name):
        wait_until(lambda: self.bus_has(name), name + " on the session bus")

    def stop(self):
        if self not in _live:
            return
        _live.remove(self)
        if self._x11 is not None:
            self._x11[0].XCloseDisplay(self._x11[2])
        if self._bus is not None:
            self._bus.close_sync(None)
        for process in reversed(self._processes):
            process.stop()
        for pid in _marked(self.marker):
            with contextlib.suppress(OSError):
                os.kill(pid, signal.SIGKILL)
        wait_until(lambda: not _marked(self.marker), "the session's processes to end")
        shutil.rmtree(self.temp, ignore_errors=True)

    @staticmethod
    def replace_file(path, data):
        """Writes ``data`` beside ``path`` and renames it over it, as an editor would."""
        path.parent.mkdir(parents=True, exist_ok=True)
        staged = path.with_name(path.name + ".new")
        staged.write_bytes(data)
        os.replace(staged, path)

    def write_day(self, day):
        self.replace_file(self.settings_path, ("[General]\n%s=%s\n" % (DAY_KEY, day)).encode())

    def recorded_day(self):
        text = self.settings_path.read_text(errors="replace") if self.settings_path.exists() else ""
        match = re.search(r"^%s=(.*)$" % re.escape(DAY_KEY), text, re.M)
        return match and match.group(1).strip()

    def write_history(self, total):
        self.replace_file(self.history_path, plistlib.dumps(
            {"totalCleanedBytes": total, "cleanups": [{"bytes": 1}]}, fmt=plistlib.FMT_XML))

    def korvanta_launches(self):
        """The stand-in's launches so far: [{"args": [...], "env": {...}}, ...]."""
        record = self.korvanta_record
        return [json.loads(line) for line in record.read_text().splitlines()] \
            if record.exists() else []

    def wait_korvanta_launch(self, count):
        return wait_until(lambda: self.korvanta_launches()[count:], "Korvanta to be launched")[0]

    def x(self, *argv, check=True):
        result = subprocess.run(argv, env=self.base_env(), capture_output=True, text=True,
                                timeout=LIMIT_S)
        if check and result.returncode:
            raise HarnessError("%s failed: %s" % (" ".join(argv), result.stderr.strip()))
        return result.stdout

    def windows(self):
        """The viewable X windows of every running instance of the utility."""
        ids = {int(word) for word in self.x("xdotool", "search", "--onlyvisible", "--classname",
                                            "^korvanta-menubar$", check=False).split()}

        def tree():  # again when a window goes during the walk
            try:
                return [row for row in map(self._TREE_LINE.match, self.x(
                    "xwininfo", "-root", "-tree").splitlines()) if row],
            except HarnessError:
                return None
        rows = wait_until(tree, "a whole window tree")[0] if ids else []
        top = min((len(row["indent"]) for row in rows), default=0)  # the root's children
        return [Window(int(row["id"], 16), int(row["x"]), int(row["y"]), int(row["w"]),
                       int(row["h"]), self.managed or len(row["indent"]) == top)
                for row in rows if int(row["id"], 16) in ids]

    def popups(self, size=None):
        return [w for w in self.windows() if w.toplevel and size in (None, w.size)]

    def icons(self):
        """The utility's windows in an XEmbed tray, else the icons a host draws for it."""
        embedded = [w for w in self.windows() if not w.toplevel]
        if embedded or not self.sni or self.reader is None:
            return embedded
        drawn = [n["extents"] for tree in self.reader.ask({"app": SNI_HOST})["nodes"]
                 for n in find(tree, "icon") if n["extents"] and n["extents"][2] > 0]
        return [Window(0, *extents, toplevel=False) for extents in sorted(drawn)]

    def tray_icon(self):  # the last: a host may draw a re-registered item twice
        return (self.icons() or [None])[-1]

    def wait(self, predicate, what):
        return wait_until(lambda: self.check_alive() or predicate(), what)

    def wait_icon(self):
        return self.wait(self.tray_icon, "the tray icon")

    def wait_popup(self, size):
        return self.wait(lambda: len(found := self.popups(size)) == 1 and found[0],
                         "a %dx%d window of the utility" % size)

    def wait_closed(self, size=None):
        self.wait(lambda: not self.popups(size), "the utility's %s window to close" % (size,))

    def click_icon(self, button=1):
        self.click(*self.wait_icon().center, button=button)

    def open_dashboard(self):
        self.click_icon()
        return self.wait_popup(DASHBOARD)

    def escape(self):
        """Esc to the open popup; waits until no window of the utility is shown."""
        self.keys("Escape")
        self.wait_closed()

    def wait_prompt(self):
        """Waits for the low-disk prompt, alone, and for today in the day record."""
        prompt = self.wait_popup(PROMPT)
        if self.popups(DASHBOARD):
            raise AssertionError("the dashboard is open beside the prompt")
        wait_until(lambda: self.recorded_day() == today(), "today in the day record")
        return prompt

    def grab_held(self):
        """Whether another client holds the pointer grab: then ours fails."""
        xlib, _, display = self._xlib()  # X ids and times fit a C int: no argument types
        status = xlib.XGrabPointer(display, xlib.XDefaultRootWindow(display), 0, 0, 1, 1, 0, 0,
                                   0)  # async, CurrentTime
        if status == 0:  # GrabSuccess
            xlib.XUngrabPointer(display, 0)
            xlib.XSync(display, 0)
        return status == 1  # AlreadyGrabbed

    def click_outside(self):
        """On bare root, below the tray, left of every popup, once the open popup holds the
        pointer grab: only then does it see a press outside."""
        wait_until(self.grab_held, "an open popup to hold the pointer grab")
        self.click(40, self.screen[1] - 40)

    def keys(self, *names):
        self.x("xdotool", "key", *names)

    def _xlib(self):
        """libX11, libXtst and a connection of the harness's own to the session's display."""
        if self._x11 is None:
            x, xtst = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
            x.XOpenDisplay.restype = ctypes.c_void_p
            display = ctypes.c_void_p(x.XOpenDisplay(self.display.encode()))
            if not display.value:
                raise HarnessError("cannot open display %s" % self.display)
            self._x11 = (x, xtst, display)
        return self._x11

    def click(self, x, y, button=1, count=1, press=True, release=True):
        """Clicks there (XTest): presses and releases reach the X server together."""
        xlib, xtst, display = self._xlib()
        xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
        for down in (True, False) * count:
            if press if down else release:
                xtst.XTestFakeButtonEvent(display, button, down, 0)
        xlib.XSync(display, 0)

    def screen_image(self):
        return subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "rgb:-"],
                              env=self.base_env(), check=True, capture_output=True,
                              timeout=LIMIT_S).stdout

    def screenshot(self, path, *options):
        """The screen, or what ImageMagick's ``options`` make of it, in ``path`` ("rgb:-":
        returned as bytes)."""
        image = subprocess.run(["convert", "-size", "%dx%d" % self.screen, "-depth", "8",
                                self.image_format + ":-", *options, str(path)],
                               input=self.screen_image(), check=True, capture_output=True,
                               timeout=LIMIT_S).stdout
        return image if path == "rgb:-" else Path(path)

    def accessible(self, window=None, role=None):
        """Waits for the shown top-level accessible covering ``window`` (or of ``role``)."""
        extents = window and [window.x, window.y, window.width, window.height]
        return self.wait(lambda: next((
            tree for tree in self.reader.ask({"pid": self.app.pid})["nodes"]
            if extents in (None, tree["extents"]) and role in (None, tree["role"])), None),
            "the accessible of %s" % (window or role))


def _terminate(signum, frame):
    raise SystemExit(128 + signum)  # so that sessions stop on the way out


atexit.register(lambda: [session.stop() for session in list(_live)])
signal.signal(signal.SIGTERM, _terminate)
signal.signal(signal.SIGHUP, _terminate)

_options = None


class E2ECase(unittest.TestCase):
    """Cases of one test file share one session, started once for the class."""

    session_options = {}

    @classmethod
    def setUpClass(cls):
        artifacts = _options.artifacts / Path(sys.argv[0]).stem if _options.artifacts else None
        cls.session = cls.make_session(_options.binary, artifacts).__enter__()
        cls.addClassCleanup(cls.session.stop)

    @classmethod
    def make_session(cls, binary, artifacts):
        return Session(binary, artifacts, cls.__name__, **cls.session_options)

    def tearDown(self):
        """On failure, a screenshot beside the logs."""
        result = self._outcome.result
        if any(getattr(t, "test_case", t) is self for t, _ in result.errors + result.failures):
            with contextlib.suppress(Exception):  # it must not hide the failure
                self.session.screenshot(self.session.artifacts / (self._testMethodName + ".png"))

    def assert_at_icon(self, popup, icon, near=8, at_tray_end=False):
        """Within ``near`` px beyond the icon's panel edge; across, over the icon's centre
        (unless at the screen's edge), or with ``at_tray_end`` at the screen's right end."""
        width = self.session.screen[0]
        gap = popup.y - icon.bottom if self.session.edge == "top" else icon.y - popup.bottom
        across = width - near <= popup.right <= width if at_tray_end else (
            popup.x <= icon.center[0] < popup.right or popup.x <= 0 or popup.right >= width)
        self.assertTrue(0 <= gap <= near and across, "%s: %s, icon %s" % (
            "not at the tray end" if at_tray_end else "not at the icon", popup, icon))


def main():
    global _options
    parser = argparse.ArgumentParser(description="End-to-end tests of korvanta-menubar.")
    parser.add_argument("--binary", required=True, type=Path)
    parser.add_argument("--artifacts", type=Path, help="logs and screenshots go here")
    _options, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
