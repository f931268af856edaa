#!/usr/bin/python3
"""End-to-end harness: the real korvanta-menubar in a real X server with a real tray host.

One ``Session`` is one isolated desktop for one test:

* a private session bus: ``dbus-daemon --session --nofork`` started as our own child, so
  its pid is the child's pid and nothing has to be read back from a fork; its socket
  lives in the session's temporary directory. Every process of the session gets its
  address, so none of them autolaunches a bus of its own;
* ``Xvfb -displayfd`` on a display it picks itself (no window manager: the screen's
  available geometry is the whole screen);
* the accessibility bus (``at-spi-bus-launcher --launch-immediately``) and an AT-SPI
  watcher (atspi_watcher.py) registered before the utility starts;
* the tray host ``trayer`` (now, later, or not at all);
* the utility itself with a temporary HOME, XDG_CONFIG_HOME, XDG_DATA_HOME,
  XDG_CACHE_HOME and XDG_RUNTIME_DIR (0700), QT_QPA_PLATFORM=xcb and Qt accessibility
  forced on.

Every process is started in its own process group and is stopped through that group
(SIGTERM, then SIGKILL). Helpers that the buses start on demand (the registry daemon,
the accessibility bus daemon) are not our children; they carry a per-session marker in
their environment, and ``stop()`` kills whatever still carries it, by pid. The harness
process is a child subreaper, so such helpers are reparented to it and reaped here.
``stop()`` runs from ``with``/``finally``, from atexit and on SIGTERM/SIGHUP. Children
get a parent-death signal; what a harness killed outright still leaves behind (the
accessibility bus daemon, the temporary directory) is swept when the next session
starts, since the marker names the harness process that owned it.

The outer environment is not passed on (only PATH, TZ, LD_LIBRARY_PATH and sanitizer
options): no DISPLAY, bus address, Wayland or Qt variable of the caller leaks in, so the
harness behaves the same on a desktop, over ssh and as root in CI.

Run by /usr/bin/python3: the AT-SPI watcher needs the distribution's pyatspi.
"""

import atexit
import ctypes
import datetime
import json
import os
import plistlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import uuid
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
SYSTEM_PYTHON = "/usr/bin/python3"
AT_SPI_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
IMPORT = "/usr/bin/import"    # ImageMagick, by full path: a stand-in may shadow it on PATH
CONVERT = "/usr/bin/convert"
DEFAULT_TRAY_ARGS = ("--edge", "top", "--align", "right", "--widthtype", "request",
                     "--height", "24", "--SetDockType", "true", "--transparent", "false")
SCREEN_SIZE = (1280, 800)
MARKER_VARIABLE = "KMB_E2E_SESSION"
POLL_INTERVAL = 0.05
PASSED_THROUGH = ("PATH", "TZ", "LD_LIBRARY_PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS",
                  "LSAN_OPTIONS")
SETTINGS_RELATIVE = Path("Korvanta") / "KorvantaMenuBar.conf"
HISTORY_RELATIVE = Path("Korvanta") / "CleanupHistory.plist"
LOW_DISK_DAY_KEY = "lowDiskSpacePrompt.lastShownDay"

_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36
_libc = ctypes.CDLL(None, use_errno=True)


class HarnessError(RuntimeError):
    """The desktop could not be brought up or taken down as required."""


class WaitTimeout(AssertionError):
    """A condition did not become true within its limit (an assertion failure)."""


@dataclass(frozen=True)
class Window:
    """An X window in root coordinates."""
    id: int
    x: int
    y: int
    width: int
    height: int
    parent: int
    name: str

    @property
    def center(self):
        return (self.x + self.width // 2, self.y + self.height // 2)

    @property
    def geometry(self):
        return (self.x, self.y, self.width, self.height)

    @property
    def bottom(self):
        """First row below the window."""
        return self.y + self.height

    @property
    def right(self):
        """First column right of the window."""
        return self.x + self.width

    def contains(self, x, y):
        return self.x <= x < self.right and self.y <= y < self.bottom

    def __str__(self):
        return "0x%x %dx%d+%d+%d" % (self.id, self.width, self.height, self.x, self.y)


def wait_until(predicate, timeout, what, interval=POLL_INTERVAL):
    """Polls ``predicate`` until it returns a truthy value; returns (value, seconds).

    Raises WaitTimeout naming ``what`` when ``timeout`` seconds pass first.
    """
    start = time.monotonic()
    while True:
        value = predicate()
        elapsed = time.monotonic() - start
        if value:
            return value, elapsed
        if elapsed >= timeout:
            raise WaitTimeout("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def holds_for(predicate, duration, interval=POLL_INTERVAL):
    """True when ``predicate`` stays truthy for ``duration`` seconds (bounded observation)."""
    end = time.monotonic() + duration
    while True:
        if not predicate():
            return False
        if time.monotonic() >= end:
            return True
        time.sleep(interval)


def accessible_nodes(node):
    """The node and all its descendants, depth first."""
    yield node
    for child in node.get("children", ()):
        yield from accessible_nodes(child)


def accessible_texts(node):
    """Every non-empty name and text in an accessible subtree, in tree order."""
    texts = []
    for item in accessible_nodes(node):
        for value in (item.get("name"), item.get("text")):
            if value and value not in texts:
                texts.append(value)
    return texts


# ---------------------------------------------------------------------------------------
# Processes

def _become_subreaper():
    # Orphans of our children (processes a bus daemon spawns and detaches) come back to
    # us instead of init, so they stay in our process tree and we can reap them.
    _libc.prctl(_PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def _child_setup():
    # Runs in the child before exec: die with the harness even if it is SIGKILLed.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def _read_environ(pid):
    try:
        with open("/proc/%d/environ" % pid, "rb") as handle:
            return handle.read()
    except OSError:
        return b""


def _stat_fields(pid):
    """Fields of /proc/<pid>/stat from the state on (field 3 is index 0), or None."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as handle:
            stat = handle.read()
    except OSError:
        return None
    return stat[stat.rindex(b")") + 2:].split()


def _process_state(pid):
    fields = _stat_fields(pid)
    if fields is None:
        return None, None
    return fields[0].decode(), int(fields[1])  # state, ppid


def _start_time(pid):
    fields = _stat_fields(pid)
    return int(fields[19]) if fields is not None else None  # field 22: starttime


def _all_pids():
    return [int(entry) for entry in os.listdir("/proc") if entry.isdigit()]


def _marked_processes():
    """{pid: marker} of live processes carrying a session marker of any harness."""
    prefix = ("%s=" % MARKER_VARIABLE).encode()
    found = {}
    for pid in _all_pids():
        if pid == os.getpid():
            continue
        for entry in _read_environ(pid).split(b"\0"):
            if entry.startswith(prefix):
                state, _ = _process_state(pid)
                if state not in (None, "Z"):
                    found[pid] = entry[len(prefix):].decode(errors="replace")
                break
    return found


def _pids_with_marker(marker):
    return sorted(pid for pid, value in _marked_processes().items() if value == marker)


def _owner():
    # The harness process as pid and start time: marks what a session leaves in the
    # process table and in the temporary directory, so that a later run can tell the
    # leftovers of a harness that was killed outright.
    return "%d-%d" % (os.getpid(), _start_time(os.getpid()))


def _new_marker():
    return "%s-%s" % (_owner(), uuid.uuid4().hex)


_OWNED_NAME = re.compile(r"^(\d+)-(\d+)-[0-9A-Za-z_]+$")


def _orphaned(name):
    """True for a marker or directory suffix of ours whose harness process is gone."""
    match = _OWNED_NAME.match(name)
    return bool(match) and _start_time(int(match.group(1))) != int(match.group(2))


TEMP_PREFIX = "kmb-e2e-"


def sweep_orphans():
    """Kills, by pid, processes of sessions whose harness died without stopping them.

    A harness killed with SIGKILL cannot clean up; its direct children die with it
    (parent-death signal), but a daemon that one of them spawned may not, and its
    temporary directory stays. Removes such directories too. Returns the (pid, command
    line) of what was killed.
    """
    killed = []
    temp = Path(tempfile.gettempdir())
    for directory in temp.glob(TEMP_PREFIX + "*"):
        if directory.is_dir() and _orphaned(directory.name[len(TEMP_PREFIX):]):
            shutil.rmtree(directory, ignore_errors=True)
    for pid, marker in _marked_processes().items():
        if not _orphaned(marker):
            continue
        try:
            cmdline = Path("/proc/%d/cmdline" % pid).read_bytes()
            os.kill(pid, signal.SIGKILL)
            killed.append((pid, cmdline.replace(b"\0", b" ").decode(errors="replace")))
        except OSError:
            pass
    return killed


def _reap_zombie_children():
    for pid in _all_pids():
        state, ppid = _process_state(pid)
        if state == "Z" and ppid == os.getpid():
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass


class _Process:
    """A child in its own process group, with its output in a log file."""

    ready_at = None  # when the process was seen ready, where the session waits for that

    def __init__(self, name, argv, env, log_path, pass_fds=(), stdin=None, stdout=None):
        self.name = name
        self.argv = list(argv)
        self.log_path = Path(log_path)
        self._log = open(self.log_path, "wb")
        self.popen = subprocess.Popen(
            self.argv, env=env, stdin=stdin if stdin is not None else subprocess.DEVNULL,
            stdout=stdout if stdout is not None else self._log, stderr=self._log,
            pass_fds=pass_fds, start_new_session=True, preexec_fn=_child_setup)
        self.pid = self.popen.pid
        self.started_at = time.monotonic()

    def running(self):
        return self.popen.poll() is None

    def stop(self, grace=3.0):
        if self.popen.poll() is None:
            # The group is ours while its leader is unreaped: its id cannot be reused.
            for sig, limit in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
                try:
                    os.killpg(self.pid, sig)
                except ProcessLookupError:
                    pass
                try:
                    self.popen.wait(limit)
                    break
                except subprocess.TimeoutExpired:
                    continue
        self._log.close()
        return self.popen.returncode


# ---------------------------------------------------------------------------------------
# The session

_live_sessions = []


class Session:
    """One isolated desktop running the utility; use as a context manager.

    Options:
      tray_host: start trayer before the utility (default). False: start none; call
          start_tray() later.
      tray_delay: seconds after the utility's start at which start() starts trayer.
      settings: a dict written as the settings file's [General] section, or the file's
          whole text (written as is).
      suppress_low_disk_prompt: record today as the low-disk prompt's last day (added to
          a dict of settings), so the first click opens the dashboard even on a nearly
          full disk. On by default.
      history: Korvanta's cleanup history: a dict (written as an XML property list),
          bytes or text.
      extra_env: more variables for the utility only.
      accessibility: start the AT-SPI bus and watcher (default True).
    """

    def __init__(self, binary, artifacts=None, name="session", *, tray_host=True,
                 tray_delay=None, tray_args=DEFAULT_TRAY_ARGS, settings=None,
                 suppress_low_disk_prompt=True, history=None, extra_env=None,
                 accessibility=True, screen=SCREEN_SIZE):
        self.binary = Path(binary).resolve()
        self.name = name
        self.tray_host = tray_host
        self.tray_delay = tray_delay
        self.tray_args = tuple(tray_args)
        self.settings = settings
        self.suppress_low_disk_prompt = suppress_low_disk_prompt
        self.history = history
        self.extra_env = dict(extra_env or {})
        self.accessibility = accessibility
        self.screen = screen

        self.temp = Path(tempfile.mkdtemp(prefix="%s%s-" % (TEMP_PREFIX, _owner())))
        if artifacts:
            self.artifacts = Path(artifacts) / name
            shutil.rmtree(self.artifacts, ignore_errors=True)
        else:
            self.artifacts = self.temp / "artifacts"
        self.artifacts.mkdir(parents=True, exist_ok=True)

        self.home = self.temp / "home"
        self.config_home = self.temp / "config"
        self.data_home = self.temp / "data"
        self.cache_home = self.temp / "cache"
        self.runtime_dir = self.temp / "runtime"
        for directory in (self.home, self.config_home, self.data_home, self.cache_home):
            directory.mkdir()
        self.runtime_dir.mkdir(mode=0o700)
        os.chmod(self.runtime_dir, 0o700)

        self.marker = _new_marker()
        self.display = None
        self.bus_address = None
        self.root_window = None
        self.app = None
        self.tray = None
        self.swept = []
        self._processes = []
        self._watcher = None
        self._watcher_reader = None
        self._events = []
        self._events_changed = threading.Condition()
        self._stopped = False
        _live_sessions.append(self)  # so that atexit cleans up even if never stopped

    # -- environment -----------------------------------------------------------------

    def base_env(self):
        """Environment of every process of the session."""
        env = {key: os.environ[key] for key in PASSED_THROUGH if key in os.environ}
        env.setdefault("PATH", "/usr/local/bin:/usr/bin:/bin")
        env.update({
            "HOME": str(self.home),
            "XDG_CONFIG_HOME": str(self.config_home),
            "XDG_DATA_HOME": str(self.data_home),
            "XDG_CACHE_HOME": str(self.cache_home),
            "XDG_RUNTIME_DIR": str(self.runtime_dir),
            "LANG": "C.UTF-8",
            MARKER_VARIABLE: self.marker,
        })
        if self.display is not None:
            env["DISPLAY"] = self.display
        if self.bus_address is not None:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return env

    def app_env(self):
        env = self.base_env()
        env.update({
            "QT_QPA_PLATFORM": "xcb",
            "QT_ACCESSIBILITY": "1",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        })
        env.update(self.extra_env)
        return env

    @property
    def settings_path(self):
        return self.config_home / SETTINGS_RELATIVE

    @property
    def history_path(self):
        return self.data_home / HISTORY_RELATIVE

    # -- start and stop ----------------------------------------------------------------

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, kind, value, traceback):
        if kind is not None:
            self.save_diagnostics("failure")
        self.stop()
        return False

    def start(self):
        orphans = sweep_orphans()
        if orphans:
            (self.artifacts / "orphans-swept.txt").write_text(
                "".join("%d %s\n" % item for item in orphans))
        self._seed_files()
        self._start_bus()
        self._start_x()
        if self.accessibility:
            self._start_accessibility()
        if self.tray_host and self.tray_delay is None:
            self.start_tray()
        self.start_app()
        if self.tray_host and self.tray_delay is not None:
            end = self.app.started_at + self.tray_delay
            while time.monotonic() < end:
                if not self.app.running():
                    raise HarnessError("korvanta-menubar exited while waiting for the tray")
                time.sleep(POLL_INTERVAL)
            self.start_tray()
        return self

    def _spawn(self, name, argv, env=None, **kwargs):
        process = _Process(name, argv, env if env is not None else self.base_env(),
                           self.artifacts / (name + ".log"), **kwargs)
        self._processes.append(process)
        return process

    def _seed_files(self):
        if isinstance(self.settings, str):
            text = self.settings  # as given: it alone decides the low-disk record
        else:
            values = {}
            if self.suppress_low_disk_prompt:
                values[LOW_DISK_DAY_KEY] = datetime.date.today().isoformat()
            values.update(self.settings or {})
            text = "[General]\n" + "".join("%s=%s\n" % item for item in values.items()) \
                if values else None
        if text is not None:
            self.settings_path.parent.mkdir(parents=True, exist_ok=True)
            self.settings_path.write_text(text, encoding="utf-8")

        if self.history is not None:
            if isinstance(self.history, dict):
                data = plistlib.dumps(self.history, fmt=plistlib.FMT_XML)
            elif isinstance(self.history, str):
                data = self.history.encode("utf-8")
            else:
                data = bytes(self.history)
            self.history_path.parent.mkdir(parents=True, exist_ok=True)
            self.history_path.write_bytes(data)

    def _read_line_from(self, fd, process, what, timeout=15.0):
        """Reads one line that a starting child writes to ``fd``."""
        data = b""
        end = time.monotonic() + timeout
        os.set_blocking(fd, False)
        while not data.endswith(b"\n"):
            try:
                chunk = os.read(fd, 256)
                if chunk:
                    data += chunk
                    continue
                raise HarnessError("%s closed its pipe before printing %s" % (process.name, what))
            except BlockingIOError:
                pass
            if not process.running():
                raise HarnessError("%s exited (status %s) before printing %s; see %s"
                                   % (process.name, process.popen.returncode, what,
                                      process.log_path))
            if time.monotonic() > end:
                raise HarnessError("%s printed no %s within %.0f s" % (process.name, what, timeout))
            time.sleep(0.02)
        return data.decode().strip()

    def _start_bus(self):
        read_end, write_end = os.pipe()
        try:
            bus = self._spawn("dbus-daemon", [
                "dbus-daemon", "--session", "--nofork", "--nopidfile", "--nosyslog",
                "--address=unix:path=%s" % (self.temp / "bus"),
                "--print-address=%d" % write_end], pass_fds=(write_end,))
            os.close(write_end)
            write_end = None
            self.bus_address = self._read_line_from(read_end, bus, "its address")
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)

    def _start_x(self):
        read_end, write_end = os.pipe()
        try:
            xvfb = self._spawn("Xvfb", [
                "Xvfb", "-displayfd", str(write_end), "-screen", "0",
                "%dx%dx24" % self.screen, "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,))
            os.close(write_end)
            write_end = None
            number = self._read_line_from(read_end, xvfb, "its display number")
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        if not number.isdigit():
            raise HarnessError("Xvfb printed %r instead of a display number" % number)
        self.display = ":" + number

    def _start_accessibility(self):
        launcher = self._spawn("at-spi-bus-launcher",
                               [AT_SPI_BUS_LAUNCHER, "--launch-immediately"])

        def registered():
            if not launcher.running():
                raise HarnessError("at-spi-bus-launcher exited; see %s" % launcher.log_path)
            return self._bus_name_has_owner("org.a11y.Bus")
        try:
            wait_until(registered, 15.0, "the accessibility bus (org.a11y.Bus)")
        except WaitTimeout as error:
            raise HarnessError(str(error)) from None

        self._watcher = self._spawn(
            "atspi-watcher", [SYSTEM_PYTHON, str(HERE / "atspi_watcher.py")],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self._watcher_reader = threading.Thread(
            target=self._read_watcher, args=(self._watcher,), name="atspi-watcher-reader",
            daemon=True)
        self._watcher_reader.start()
        try:
            self._wait_event(lambda e: e["type"] == "ready", 20.0, "the AT-SPI watcher")
        except WaitTimeout as error:
            raise HarnessError(str(error)) from None

    def _bus_name_has_owner(self, name):
        result = subprocess.run(
            ["dbus-send", "--session", "--print-reply=literal",
             "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
             "org.freedesktop.DBus.NameHasOwner", "string:" + name],
            env=self.base_env(), capture_output=True, text=True, timeout=10)
        return result.returncode == 0 and "true" in result.stdout

    def start_tray(self):
        """Starts trayer and waits until it owns the system tray selection."""
        if self.tray is not None:
            raise HarnessError("the tray host runs already")
        self.tray = self._spawn("trayer", ["trayer", *self.tray_args])

        def owned():
            if not self.tray.running():
                raise HarnessError("trayer exited; see %s" % self.tray.log_path)
            return self.selection_owner("_NET_SYSTEM_TRAY_S0") != 0
        try:
            wait_until(owned, 15.0, "trayer to own _NET_SYSTEM_TRAY_S0")
        except WaitTimeout as error:
            raise HarnessError(str(error)) from None
        self.tray.ready_at = time.monotonic()
        return self.tray

    def start_app(self):
        if not os.access(self.binary, os.X_OK):
            raise HarnessError("not an executable: %s" % self.binary)
        self.app = self._spawn("korvanta-menubar", [str(self.binary)], env=self.app_env())
        return self.app

    def stop(self):
        """Stops everything the session started; returns the pids that had to be swept."""
        if self._stopped:
            return self.swept
        self._stopped = True
        try:
            if self._watcher is not None:
                try:
                    self._watcher.popen.stdin.close()  # end of input ends the watcher
                except OSError:
                    pass
            for process in reversed(self._processes):
                process.stop()
            if self._watcher_reader is not None:
                self._watcher_reader.join(5.0)
            if self._watcher is not None and not self._watcher_reader.is_alive():
                self._watcher.popen.stdout.close()
            self.swept = self._sweep()
            if self.swept:
                (self.artifacts / "swept.txt").write_text(
                    "".join("%d %s\n" % item for item in self.swept))
        finally:
            if self in _live_sessions:
                _live_sessions.remove(self)
            shutil.rmtree(self.temp, ignore_errors=True)
        return self.swept

    def _sweep(self):
        """Kills, by pid, every process still carrying this session's marker."""
        swept = []
        for _ in range(10):
            pids = _pids_with_marker(self.marker)
            if not pids:
                break
            for pid in pids:
                try:
                    cmdline = Path("/proc/%d/cmdline" % pid).read_bytes()
                    swept.append((pid, cmdline.replace(b"\0", b" ").decode(errors="replace")))
                    os.kill(pid, signal.SIGKILL)
                except (OSError, ProcessLookupError):
                    pass
            deadline = time.monotonic() + 2.0
            while time.monotonic() < deadline and any(
                    _process_state(pid)[0] not in (None, "Z") for pid in pids):
                time.sleep(0.02)
            _reap_zombie_children()
        _reap_zombie_children()
        left = _pids_with_marker(self.marker)
        if left:
            raise HarnessError("processes of the session survived SIGKILL: %s" % left)
        return swept

    def processes_alive(self):
        """Pids of live processes carrying the session's marker."""
        return _pids_with_marker(self.marker)

    # -- X --------------------------------------------------------------------------------

    def _x(self, *argv, check=True, binary=False):
        """Runs an X client on the session's display."""
        result = subprocess.run(list(argv), env=self.base_env(), capture_output=True,
                                text=not binary, timeout=20)
        if check and result.returncode != 0:
            stderr = result.stderr if not binary else result.stderr.decode(errors="replace")
            raise HarnessError("%s failed (%d): %s" % (" ".join(argv), result.returncode,
                                                       stderr.strip()))
        return result

    def selection_owner(self, selection):
        """The window owning an X selection, 0 when none (read in a child process)."""
        code = (
            "import ctypes, sys\n"
            "x = ctypes.CDLL('libX11.so.6')\n"
            "x.XOpenDisplay.restype = ctypes.c_void_p\n"
            "x.XOpenDisplay.argtypes = [ctypes.c_char_p]\n"
            "x.XInternAtom.restype = ctypes.c_ulong\n"
            "x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]\n"
            "x.XGetSelectionOwner.restype = ctypes.c_ulong\n"
            "x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]\n"
            "d = x.XOpenDisplay(None)\n"
            "if not d: sys.exit(2)\n"
            "print(x.XGetSelectionOwner(d, x.XInternAtom(d, sys.argv[1].encode(), 0)))\n")
        result = self._x(SYSTEM_PYTHON, "-c", code, selection)
        return int(result.stdout.strip() or 0)

    _TREE_LINE = re.compile(
        r"^(?P<indent>\s*)(?P<id>0x[0-9a-f]+) (?P<name>.*?):?\s+(?:\(.*\)\s+)?"
        r"(?P<w>\d+)x(?P<h>\d+)[+-]-?\d+[+-]-?\d+\s+\+(?P<x>-?\d+)\+(?P<y>-?\d+)\s*$")

    def window_tree(self):
        """Every window below the root: {id: Window} (absolute geometry)."""
        output = self._x("xwininfo", "-root", "-tree").stdout
        root_match = re.search(r"Root window id: (0x[0-9a-f]+)", output)
        root = int(root_match.group(1), 16) if root_match else 0
        windows = {}
        stack = []  # (indent, id)
        for line in output.splitlines():
            match = self._TREE_LINE.match(line)
            if not match:
                continue
            indent = len(match.group("indent"))
            while stack and stack[-1][0] >= indent:
                stack.pop()
            window_id = int(match.group("id"), 16)
            windows[window_id] = Window(
                window_id, int(match.group("x")), int(match.group("y")),
                int(match.group("w")), int(match.group("h")),
                stack[-1][1] if stack else root, match.group("name").strip('"'))
            stack.append((indent, window_id))
        self.root_window = root
        return windows

    def visible_windows(self, pid=None):
        """The viewable windows of a process (default: the utility), by _NET_WM_PID."""
        pid = pid if pid is not None else self.app.pid
        result = self._x("xdotool", "search", "--onlyvisible", "--pid", str(pid), check=False)
        ids = {int(token) for token in result.stdout.split()}
        if not ids:
            return []
        tree = self.window_tree()
        return [tree[i] for i in sorted(ids) if i in tree]

    def ancestors(self, window, tree=None):
        """Ids of the windows that contain ``window``, innermost first, up to the root."""
        tree = tree if tree is not None else self.window_tree()
        chain = []
        parent = window.parent
        while parent in tree:
            chain.append(parent)
            parent = tree[parent].parent
        return chain

    def tray_icon(self):
        """The utility's viewable window embedded in the tray host, or None."""
        embedded = [w for w in self.visible_windows() if w.parent != self.root_window]
        return embedded[0] if len(embedded) == 1 else None

    def toplevel_windows(self):
        """The utility's viewable windows directly on the root (popups, windows)."""
        return [w for w in self.visible_windows() if w.parent == self.root_window]

    def wait_for_icon(self, timeout=10.0):
        """Waits until the icon is docked; returns the icon window."""
        def docked():
            self._check_app_alive()
            return self.tray_icon()
        return wait_until(docked, timeout, "the tray icon to dock")[0]

    def wait_for_popup(self, timeout=10.0, size=None):
        """Waits until exactly one top-level window of the utility is mapped; returns it."""
        def shown():
            self._check_app_alive()
            windows = self.toplevel_windows()
            if len(windows) == 1 and (size is None or
                                      (windows[0].width, windows[0].height) == tuple(size)):
                return windows[0]
            return None
        return wait_until(shown, timeout, "a popup window of the utility")[0]

    def wait_for_no_popup(self, timeout=10.0):
        def closed():
            self._check_app_alive()
            return not self.toplevel_windows()
        wait_until(closed, timeout, "the utility's popup to close")

    def _check_app_alive(self):
        if self.app is not None and not self.app.running():
            raise AssertionError("korvanta-menubar exited with status %s"
                                 % self.app.popen.returncode)

    def click(self, x, y, button=1):
        self._x("xdotool", "mousemove", str(x), str(y), "click", str(button))

    def click_icon(self):
        icon = self.tray_icon()
        if icon is None:
            raise AssertionError("no docked tray icon to click")
        self.click(*icon.center)
        return icon

    def outside_point(self):
        """A point on the bare root window, away from the tray and every window of ours."""
        ours = self.visible_windows()
        width, height = self.screen
        for x, y in ((40, height - 40), (width // 4, height - 40), (40, height // 2)):
            if not any(w.contains(x, y) for w in ours):
                return x, y
        raise HarnessError("no free point on the screen to click")

    def click_outside(self):
        point = self.outside_point()
        self.click(*point)
        return point

    def screenshot(self, path, region=None, scale=None):
        """Saves the screen (or ``region``, a Window or (x, y, w, h)) as a PNG."""
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(region, Window):
            region = (region.x, region.y, region.width, region.height)
        argv = [IMPORT, "-silent", "-window", "root"]
        if region is not None:
            x, y, w, h = region
            argv += ["-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage"]
        if scale:
            argv += ["-filter", "point", "-resize", "%d%%" % int(scale * 100)]
        self._x(*argv, str(path))
        return path

    def pixel_colors(self, region):
        """The distinct colours in a screen region, as a set of hex strings."""
        if isinstance(region, Window):
            region = (region.x, region.y, region.width, region.height)
        x, y, w, h = region
        capture = self._x(IMPORT, "-silent", "-window", "root", "-crop",
                          "%dx%d+%d+%d" % (w, h, x, y), "+repage", "ppm:-", binary=True)
        result = subprocess.run([CONVERT, "ppm:-", "-depth", "8", "-unique-colors", "txt:-"],
                                input=capture.stdout, capture_output=True,
                                timeout=20)
        if result.returncode != 0:
            raise HarnessError("convert failed: %s" % result.stderr.decode(errors="replace"))
        return set(re.findall(r"#[0-9A-Fa-f]{6}", result.stdout.decode()))

    def wait_painted(self, region, timeout=10.0, colors=3):
        """Waits until a screen region shows at least ``colors`` distinct colours."""
        return wait_until(lambda: len(self.pixel_colors(region)) >= colors, timeout,
                          "%s to be painted" % (region,))[0]

    # -- AT-SPI -----------------------------------------------------------------------------

    def _read_watcher(self, watcher):
        for raw in watcher.popen.stdout:
            try:
                event = json.loads(raw.decode("utf-8"))
            except ValueError:
                event = {"type": "error", "message": "unreadable line %r" % raw[:200]}
            with self._events_changed:
                self._events.append(event)
                self._events_changed.notify_all()
        with self._events_changed:
            self._events.append({"type": "eof"})
            self._events_changed.notify_all()

    def accessibility_events(self):
        with self._events_changed:
            return list(self._events)

    def _wait_event(self, predicate, timeout, what, start_index=0):
        end = time.monotonic() + timeout
        with self._events_changed:
            index = start_index
            while True:
                while index < len(self._events):
                    event = self._events[index]
                    index += 1
                    if predicate(event):
                        return event
                    if event["type"] == "eof":
                        raise HarnessError("the AT-SPI watcher ended; see %s"
                                           % self._watcher.log_path)
                remaining = end - time.monotonic()
                if remaining <= 0:
                    raise WaitTimeout("timed out after %.1f s waiting for %s" % (timeout, what))
                self._events_changed.wait(remaining)

    def event_mark(self):
        """Position in the event stream; wait_for_accessible(since=...) looks after it."""
        with self._events_changed:
            return len(self._events)

    def wait_for_accessible(self, predicate=None, timeout=10.0, since=0):
        """Waits for a top-level accessible of the utility to show; returns its node.

        ``predicate`` gets the node; ``since`` is an event_mark() taken before the action.
        """
        if self._watcher is None:
            raise HarnessError("the session runs without accessibility")
        pid = self.app.pid

        def matches(event):
            return (event["type"] == "showing" and event["value"] == 1
                    and event["pid"] == pid and (predicate is None or predicate(event["node"])))
        return self._wait_event(matches, timeout, "an accessible window of the utility to show",
                                since)["node"]

    def accessible_snapshot(self, timeout=10.0):
        """Re-reads every top-level accessible of the utility that is showing now."""
        mark = self.event_mark()
        self._watcher.popen.stdin.write(b"snapshot\n")
        self._watcher.popen.stdin.flush()
        event = self._wait_event(lambda e: e["type"] == "snapshot", timeout,
                                 "an AT-SPI snapshot", mark)
        return [node for node in event["nodes"] if node.get("pid") == self.app.pid]

    # -- diagnostics ------------------------------------------------------------------------

    def save_diagnostics(self, label):
        """Writes a screenshot, the window tree and the AT-SPI events under artifacts."""
        try:
            if self.display is not None:
                self.screenshot(self.artifacts / ("%s-screen.png" % label))
                (self.artifacts / ("%s-windows.txt" % label)).write_text(
                    self._x("xwininfo", "-root", "-tree", check=False).stdout)
        except Exception as error:  # diagnostics must not mask the failure
            sys.stderr.write("diagnostics: %s\n" % error)
        with open(self.artifacts / ("%s-atspi-events.jsonl" % label), "w") as handle:
            for event in self.accessibility_events():
                handle.write(json.dumps(event, ensure_ascii=False) + "\n")


def _stop_live_sessions():
    for session in list(_live_sessions):
        try:
            session.stop()
        except Exception as error:
            sys.stderr.write("stopping %s: %s\n" % (session.name, error))


def _terminate(signum, frame):
    # Turns SIGTERM/SIGHUP into an exception so that finally blocks stop the session.
    raise SystemExit(128 + signum)


_become_subreaper()
atexit.register(_stop_live_sessions)
if threading.current_thread() is threading.main_thread():
    for _signal in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(_signal, _terminate)


# ---------------------------------------------------------------------------------------
# Test programs: each tests/e2e/test_*.py is run by CTest as
#   /usr/bin/python3 test_x.py --binary <korvanta-menubar> --artifacts <dir> [unittest args]

_options = None


class E2ETestCase(unittest.TestCase):
    """Base of the end-to-end cases: ``with self.session(...) as session:``."""

    def session(self, **options):
        if _options is None:
            raise HarnessError("run the test program through harness.main()")
        test_file = Path(sys.modules[type(self).__module__].__file__).stem \
            if type(self).__module__ != "__main__" else Path(sys.argv[0]).stem
        artifacts = _options.artifacts / test_file if _options.artifacts else None
        return Session(_options.binary, artifacts,
                       "%s.%s" % (type(self).__name__, self._testMethodName), **options)


def main():
    """Parses --binary and --artifacts, then runs the calling module's unittest cases."""
    global _options
    import argparse
    parser = argparse.ArgumentParser(description="End-to-end tests of korvanta-menubar.")
    parser.add_argument("--binary", required=True, type=Path,
                        help="the korvanta-menubar executable")
    parser.add_argument("--artifacts", type=Path,
                        help="directory for logs and screenshots of every case")
    _options, rest = parser.parse_known_args()
    if not os.access(_options.binary, os.X_OK):
        parser.error("not an executable: %s" % _options.binary)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


# ---------------------------------------------------------------------------------------
# Command line: a demo session for scripts/demo-session.sh

def _demo(argv):
    import argparse
    parser = argparse.ArgumentParser(prog="harness.py demo",
                                     description="Headless demo: tray and dashboard screenshots.")
    parser.add_argument("--binary", required=True)
    parser.add_argument("--out", required=True, help="directory for the screenshots")
    parser.add_argument("--keep", action="store_true",
                        help="keep the session running until interrupted")
    args = parser.parse_args(argv)
    # Ctrl-C stops the session even where the shell started us with SIGINT ignored.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    with Session(args.binary, out / "demo-logs", name="demo") as session:
        icon = session.wait_for_icon(10.0)
        width = session.screen[0]
        tray_strip = (max(0, icon.right - 240), 0, min(240, icon.right), icon.bottom + 8)
        tray_png = session.screenshot(out / "demo-tray.png", tray_strip, scale=3)
        session.click_icon()
        popup = session.wait_for_popup(10.0)
        session.wait_painted(popup)
        left = max(0, popup.x - 16)
        dashboard_png = session.screenshot(
            out / "demo-dashboard.png",
            (left, 0, width - left, min(session.screen[1], popup.bottom + 16)))
        print(tray_png.resolve())
        print(dashboard_png.resolve())
        sys.stdout.flush()
        if args.keep:
            print("Demo session on DISPLAY=%s (logs in %s); Ctrl-C stops it."
                  % (session.display, session.artifacts), flush=True)
            try:
                while session.app.running():
                    time.sleep(0.5)
            except KeyboardInterrupt:
                pass
    return 0


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "demo":
        sys.exit(_demo(sys.argv[2:]))
    sys.stderr.write("usage: harness.py demo --binary PATH --out DIR [--keep]\n")
    sys.exit(2)
