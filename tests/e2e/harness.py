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
            # Every popup decision, timed, in korvanta-menubar.log: a popup that did not
            # open or close leaves its story. Lines of other kinds keep their form.
            "QT_LOGGING_RULES": "korvanta.popup.debug=true",
            "QT_MESSAGE_PATTERN": "%{if-category}%{time process} %{category}: %{endif}%{message}",
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
            # Its code goes on the command line: the checkout may sit where a session run as
            # another user cannot read (a 0700 temporary folder).
            "atspi-watcher", [SYSTEM_PYTHON, "-c", (HERE / "atspi_watcher.py").read_text()],
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


# ---------------------------------------------------------------------------------------
# Acceptance helpers: finding and pressing controls, closing windows, pressing through
# AT-SPI, small volumes, the low-disk prompt's day record and relocated binaries.

DASHBOARD_SIZE = (420, 384)
PROMPT_SIZE = (338, 202)
LOW_DISK_LIMIT_BYTES = 49_999_999_999


def find_accessibles(node, name=None, role=None, showing_only=False):
    """Nodes of a subtree with the given name and/or role, in tree order."""
    found = []
    for item in accessible_nodes(node):
        if name is not None and item.get("name") != name:
            continue
        if role is not None and item.get("role") != role:
            continue
        if showing_only and "showing" not in item.get("states", ()):
            continue
        found.append(item)
    return found


def find_accessible(node, name=None, role=None):
    """The one showing node with that name and/or role; AssertionError unless exactly one."""
    found = find_accessibles(node, name, role, showing_only=True)
    if len(found) != 1:
        raise AssertionError("expected one showing %s named %r, found %d; texts: %s"
                             % (role or "node", name, len(found), accessible_texts(node)))
    return found[0]


def click_accessible(session, node, button=1):
    """Clicks the middle of a node's on-screen extents with xdotool; returns the point."""
    x, y, width, height = node.get("extents") or (0, 0, 0, 0)
    if width <= 0 or height <= 0:
        raise AssertionError("%s %r has no area on screen: %s"
                             % (node.get("role"), node.get("name"), node.get("extents")))
    point = (x + width // 2, y + height // 2)
    session.click(*point, button=button)
    return point


def accessible_of_window(session, window, since, timeout=15.0):
    """The top-level accessible whose showing event (after mark ``since``) covers ``window``."""
    geometry = [window.x, window.y, window.width, window.height]
    return session.wait_for_accessible(lambda n: n.get("extents") == geometry, timeout,
                                       since=since)


def wait_for_window_of_size(session, size, timeout=10.0):
    """Waits until the utility shows exactly one top-level window of ``size`` (others,
    such as the About window, may be shown too); returns it."""
    def shown():
        session._check_app_alive()
        matching = [w for w in session.toplevel_windows() if (w.width, w.height) == tuple(size)]
        return matching[0] if len(matching) == 1 else None
    return wait_until(shown, timeout, "a %dx%d window of the utility" % tuple(size))[0]


def open_dashboard(session, timeout=15.0):
    """Clicks the icon and waits for the dashboard; returns (window, accessible, seconds)."""
    mark = session.event_mark()
    session.click_icon()
    clicked = time.monotonic()
    popup = wait_for_window_of_size(session, DASHBOARD_SIZE, timeout)
    elapsed = time.monotonic() - clicked
    return popup, accessible_of_window(session, popup, mark, timeout), elapsed


_CLOSE_REQUEST_CODE = r"""
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                         ctypes.POINTER(Event)]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
display = x.XOpenDisplay(None)
if not display:
    sys.exit(2)
window = int(sys.argv[1], 0)
event = Event()
event.xclient.type = 33  # ClientMessage
event.xclient.window = window
event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.xclient.format = 32
event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
event.xclient.data[1] = 0  # CurrentTime
if not x.XSendEvent(display, window, 0, 0, ctypes.byref(event)):
    sys.exit(3)
x.XFlush(display)
x.XCloseDisplay(display)
"""


def request_close(session, window):
    """Asks a top-level window to close the way a window manager's close button does: a
    WM_DELETE_WINDOW message. Xvfb runs no window manager that could send it, and
    ``xdotool windowclose`` destroys the X window behind the toolkit's back instead."""
    session._x(SYSTEM_PYTHON, "-c", _CLOSE_REQUEST_CODE, str(window.id))


_ACTOR_CODE = r"""
import json, sys
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib
import pyatspi

pid = int(sys.argv[1])
toplevels = []

def emit(message):
    sys.stdout.write(json.dumps(message, ensure_ascii=False) + "\n")
    sys.stdout.flush()

def walk(accessible, depth=0):
    yield accessible
    if depth < 40:
        for index in range(accessible.childCount):
            child = accessible.getChildAtIndex(index)
            if child is not None:
                yield from walk(child, depth + 1)

def on_showing(event):
    try:
        source = event.source
        if (event.detail1 and source is not None and source.get_process_id() == pid
                and source.parent is not None
                and source.parent.getRoleName() == "application"
                and not any(source == known for known in toplevels)):
            toplevels.append(source)
    except Exception as error:
        emit({"type": "error", "message": repr(error)})

def uncached(accessible):
    # libatspi caches names and children; a read must see what the window shows now.
    application = accessible.get_application()
    if application is not None:
        application.set_cache_mask(Atspi.Cache.NONE)
    return accessible

def press(role, name, action):
    for toplevel in list(toplevels):
        try:
            for accessible in walk(uncached(toplevel)):
                if accessible.name != name or accessible.getRoleName() != role:
                    continue
                actions = accessible.queryAction()
                names = [actions.getName(i) for i in range(actions.nActions)]
                if action not in names:
                    return {"type": "result", "done": False, "actions": names}
                return {"type": "result", "done": bool(actions.doAction(names.index(action))),
                        "actions": names}
        except Exception as error:
            emit({"type": "error", "message": repr(error)})
    return {"type": "result", "done": False, "actions": None}

def dump(accessible, depth=0):
    try:
        box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        extents = [box.x, box.y, box.width, box.height]
    except NotImplementedError:
        extents = None
    node = {"role": accessible.getRoleName(), "name": accessible.name or "",
            "description": accessible.description or "",
            "states": sorted(pyatspi.stateToString(s)
                             for s in accessible.getState().getStates()),
            "extents": extents, "children": []}
    if depth < 40:
        for index in range(accessible.childCount):
            child = accessible.getChildAtIndex(index)
            if child is not None:
                node["children"].append(dump(child, depth + 1))
    return node

def read():
    nodes = []
    for toplevel in list(toplevels):
        try:
            uncached(toplevel)
            if toplevel.getState().contains(pyatspi.STATE_SHOWING):
                nodes.append(dump(toplevel))
        except Exception as error:
            emit({"type": "error", "message": repr(error)})
    return {"type": "tree", "nodes": nodes}

def on_stdin(channel, condition):
    line = sys.stdin.readline()
    if not line:
        pyatspi.Registry.stop()
        return False
    request = json.loads(line)
    if request["command"] == "read":
        emit(read())
    else:
        emit(press(request["role"], request["name"], request["action"]))
    return True

pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                  GLib.IOCondition.IN | GLib.IOCondition.HUP, on_stdin)
emit({"type": "ready"})
pyatspi.Registry.start()
"""


class AtspiActor:
    """Reads and presses controls through AT-SPI, as a screen reader does.

    A helper process of the session remembers every top-level accessible of the utility
    that shows after it started (popups and menus included). ``read()`` gives the current
    trees of those still showing, read afresh: the watcher's snapshot goes through
    libatspi's cache and keeps texts as they were first read. ``press()`` runs an action
    (AT-SPI's Action interface) on a descendant picked by role and name, also after its
    window was hidden again. Start it before the windows it is to know show; it is
    stopped with the session.
    """

    def __init__(self, session, timeout=20.0):
        import queue
        self._lines = queue.Queue()
        self._process = session._spawn(
            "atspi-actor", [SYSTEM_PYTHON, "-c", _ACTOR_CODE, str(session.app.pid)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        threading.Thread(target=self._read, name="atspi-actor-reader", daemon=True).start()
        self._expect("ready", timeout)

    def _read(self):
        for raw in self._process.popen.stdout:
            try:
                self._lines.put(json.loads(raw.decode("utf-8")))
            except ValueError:
                self._lines.put({"type": "error", "message": "unreadable %r" % raw[:200]})
        self._lines.put({"type": "eof"})
        # The helper has ended (at the latest when the session stops it): close our ends.
        self._process.popen.stdout.close()
        try:
            self._process.popen.stdin.close()
        except OSError:
            pass

    def _expect(self, kind, timeout):
        import queue
        end = time.monotonic() + timeout
        while True:
            try:
                message = self._lines.get(timeout=max(0.0, end - time.monotonic()))
            except queue.Empty:
                raise WaitTimeout("the AT-SPI actor sent no %s within %.0f s" % (kind, timeout))
            if message["type"] == kind:
                return message
            if message["type"] == "eof":
                raise HarnessError("the AT-SPI actor ended; see %s" % self._process.log_path)

    def press(self, role, name, action="Press", timeout=20.0):
        """Runs ``action`` on the first remembered node with that role and name; returns
        the helper's answer {"done": bool, "actions": [names] or None when not found}."""
        self._send({"command": "press", "role": role, "name": name, "action": action})
        return self._expect("result", timeout)

    def read(self, timeout=20.0):
        """Current accessible trees of the utility's shown top-level windows."""
        self._send({"command": "read"})
        return self._expect("tree", timeout)["nodes"]

    def read_window(self, window, timeout=20.0):
        """A fresh read of the accessible tree covering a shown window, or None."""
        geometry = [window.x, window.y, window.width, window.height]
        for node in self.read(timeout):
            if node.get("extents") == geometry:
                return node
        return None

    def _send(self, request):
        self._process.popen.stdin.write((json.dumps(request) + "\n").encode("utf-8"))
        self._process.popen.stdin.flush()


def _mount_tmpfs(directory, size_bytes):
    try:
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d,mode=0755" % size_bytes,
                                 "tmpfs", str(directory)], capture_output=True, timeout=20)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return result.returncode == 0


def _unmount(directory):
    for argv in (["umount", str(directory)], ["umount", "-l", str(directory)]):
        if subprocess.run(argv, capture_output=True, timeout=20).returncode == 0:
            return
        time.sleep(0.2)


class SmallVolume:
    """A directory on a volume with less than 50 GB free, for the low-disk prompt.

    Preferably a fresh tmpfs of ``size_bytes`` mounted for the test (needs root or
    CAP_SYS_ADMIN); otherwise a directory under /dev/shm when that volume has less than
    50 GB free. ``path`` is None when neither is possible; ``reason`` says why.
    Use as a context manager: the tmpfs is unmounted and the directory removed at the end.
    """

    def __init__(self, size_bytes=64 << 20):
        self.size_bytes = size_bytes
        self.path = None
        self.mounted = False
        self.reason = ""
        self._base = None

    def __enter__(self):
        self._base = Path(tempfile.mkdtemp(prefix="%s%s-volume-" % (TEMP_PREFIX, _owner())))
        if _mount_tmpfs(self._base, self.size_bytes):
            self.mounted = True
            self.path = self._base
            return self
        self.reason = "mounting a tmpfs failed (not root?)"
        shm = Path("/dev/shm")
        try:
            stats = os.statvfs(shm)
            if stats.f_bavail * stats.f_frsize <= LOW_DISK_LIMIT_BYTES:
                self.path = Path(tempfile.mkdtemp(prefix=TEMP_PREFIX + "home-", dir=shm))
                return self
            self.reason += "; /dev/shm has 50 GB or more free"
        except OSError as error:
            self.reason += "; /dev/shm: %s" % error
        return self

    def __exit__(self, *exc):
        if self.mounted:
            _unmount(self._base)
        elif self.path is not None:
            shutil.rmtree(self.path, ignore_errors=True)
        if self._base is not None:
            shutil.rmtree(self._base, ignore_errors=True)
        return False


def mount_point_of(path):
    """The mount point of the volume holding ``path`` (longest matching /proc/self/mounts
    entry), computed here independently of the utility."""
    path = os.path.realpath(path)
    best = "/"
    with open("/proc/self/mounts", encoding="utf-8", errors="replace") as mounts:
        for line in mounts:
            fields = line.split()
            if len(fields) < 2:
                continue
            target = fields[1].replace("\\040", " ").replace("\\011", "\t") \
                              .replace("\\012", "\n").replace("\\134", "\\")
            inside = path == target or path.startswith(target.rstrip("/") + "/")
            if inside and len(target) >= len(best):
                best = target
    return best


def recorded_prompt_day(session):
    """The low-disk prompt's day in the session's settings file, or None."""
    import configparser
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    try:
        parser.read_string(session.settings_path.read_text(encoding="utf-8"))
    except (OSError, configparser.Error):
        return None
    return parser.get("General", LOW_DISK_DAY_KEY, fallback=None)


def record_prompt_day(session, day):
    """Rewrites the settings file with ``day`` (a date or text) as the prompt's last day,
    atomically, as if the prompt had last been shown then."""
    text = "[General]\n%s=%s\n" % (LOW_DISK_DAY_KEY, day)
    session.settings_path.parent.mkdir(parents=True, exist_ok=True)
    temporary = session.settings_path.with_name(session.settings_path.name + ".new")
    temporary.write_text(text, encoding="utf-8")
    os.replace(temporary, session.settings_path)


def use_binary(session, binary):
    """Makes a session not yet started run ``binary`` (e.g. a copy of the utility in a
    directory tree of the test's own) instead of the one given on the command line."""
    if session.app is not None:
        raise HarnessError("the session has started already")
    session.binary = Path(binary).resolve()
    return session


# ---------------------------------------------------------------------------------------
# Desktop-integration helpers: keys, focus, further launches of the utility, a stand-in
# Korvanta that records its launches, other programs' accessible trees and the
# StatusNotifierItem programs.

STATUS_NOTIFIER_WATCHER = "org.kde.StatusNotifierWatcher"


def press_keys(session, *keys):
    """Types X key names (xdotool syntax: "Tab", "Return", "shift+Tab") one after another."""
    session._x("xdotool", "key", "--delay", "80", *keys)


def focused_accessibles(node):
    """The nodes of a subtree that have keyboard focus now."""
    return [item for item in accessible_nodes(node) if "focused" in item.get("states", ())]


def spawn(session, name, argv, env=None, **kwargs):
    """Starts another process of the session (own process group, log under artifacts,
    stopped with the session)."""
    return session._spawn(name, argv, env, **kwargs)


def run_utility_again(session, extra_env=None, timeout=20.0):
    """Starts the utility once more in the session's environment (plus ``extra_env``) and
    waits for it to exit; returns (CompletedProcess, seconds it ran)."""
    env = session.app_env()
    env.update(extra_env or {})
    started = time.monotonic()
    result = subprocess.run([str(session.binary)], env=env, stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=timeout, preexec_fn=_child_setup)
    return result, time.monotonic() - started


def embedded_icons(session):
    """Every viewable window of the utility's class inside a tray host (any process)."""
    result = session._x("xdotool", "search", "--onlyvisible", "--classname",
                        "^korvanta-menubar$", check=False)
    ids = {int(token) for token in result.stdout.split()}
    tree = session.window_tree()
    return [tree[i] for i in sorted(ids) if i in tree and tree[i].parent != session.root_window]


class StandInKorvanta:
    """A Korvanta that records its launches, installed as the desktop entry the utility
    looks up (XDG_DATA_HOME/applications/com.korvanta.Korvanta.desktop). Create it before
    the session starts."""

    def __init__(self, session):
        self.record = session.temp / "korvanta-launches.jsonl"
        program = session.temp / "korvanta-stand-in"
        program.write_text(
            "#!%s\nimport json, sys\nwith open(%r, 'a') as f:\n"
            "    f.write(json.dumps(sys.argv[1:]) + '\\n')\n" % (SYSTEM_PYTHON, str(self.record)))
        program.chmod(0o700)
        entry = session.data_home / "applications" / "com.korvanta.Korvanta.desktop"
        entry.parent.mkdir(parents=True, exist_ok=True)
        entry.write_text("[Desktop Entry]\nType=Application\nName=Korvanta\nExec=%s\n" % program)

    def launches(self):
        """The argument lists of every launch so far, in order."""
        try:
            lines = self.record.read_text().splitlines()
        except FileNotFoundError:
            return []
        return [json.loads(line) for line in lines if line.strip()]


_APPLICATION_TREE_CODE = r"""
import json, sys
import pyatspi

def dump(accessible, depth=0):
    try:
        box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        extents = [box.x, box.y, box.width, box.height]
    except NotImplementedError:
        extents = None
    try:
        actions = accessible.queryAction()
        action_names = [actions.getName(i) for i in range(actions.nActions)]
    except NotImplementedError:
        action_names = []
    node = {"role": accessible.getRoleName(), "name": accessible.name or "",
            "states": sorted(pyatspi.stateToString(s) for s in accessible.getState().getStates()),
            "extents": extents, "actions": action_names, "children": []}
    if depth < 30:
        for index in range(accessible.childCount):
            child = accessible.getChildAtIndex(index)
            if child is not None:
                node["children"].append(dump(child, depth + 1))
    return node

desktop = pyatspi.Registry.getDesktop(0)
trees = [dump(app) for app in desktop if app is not None and app.name == sys.argv[1]]
print(json.dumps(trees, ensure_ascii=False))
"""


def application_trees(session, application_name):
    """Fresh accessible trees of every application of that name on the session's AT-SPI
    bus (another program's, e.g. a tray host's), read by a new process each time."""
    result = session._x(SYSTEM_PYTHON, "-c", _APPLICATION_TREE_CODE, application_name)
    return json.loads(result.stdout or "[]")


_ACTIVATE_CODE = r"""
import sys
import pyatspi

def find(accessible, role, name, depth=0):
    if accessible.getRoleName() == role and accessible.name == name:
        return accessible
    if depth < 30:
        for index in range(accessible.childCount):
            child = accessible.getChildAtIndex(index)
            found = find(child, role, name, depth + 1) if child is not None else None
            if found is not None:
                return found
    return None

application, role, name = sys.argv[1:4]
for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.name == application:
        target = find(app, role, name)
        if target is not None:
            actions = target.queryAction()
            sys.exit(0 if actions.nActions and actions.doAction(0) else 3)
sys.exit(2)
"""


def activate_accessible(session, application_name, role, name):
    """Runs the first action (click/activate) of another program's accessible, found by
    role and name; True when it ran."""
    result = session._x(SYSTEM_PYTHON, "-c", _ACTIVATE_CODE, application_name, role, name,
                        check=False)
    return result.returncode == 0


def dbus_property(session, service, path, interface, name):
    """Reads a D-Bus property on the session bus; returns dbus-send's literal reply text,
    or None when the call failed (no such service)."""
    result = subprocess.run(
        ["dbus-send", "--session", "--print-reply=literal", "--reply-timeout=3000",
         "--dest=" + service, path, "org.freedesktop.DBus.Properties.Get",
         "string:" + interface, "string:" + name],
        env=session.base_env(), capture_output=True, text=True, timeout=10)
    return result.stdout if result.returncode == 0 else None


def registered_status_notifier_items(session):
    """The watcher's RegisteredStatusNotifierItems, or None while no watcher answers."""
    reply = dbus_property(session, STATUS_NOTIFIER_WATCHER, "/StatusNotifierWatcher",
                          STATUS_NOTIFIER_WATCHER, "RegisteredStatusNotifierItems")
    if reply is None:
        return None
    return re.findall(r"[^\s\[\]]+", reply.replace("variant", "").replace("array", ""))


def bus_name_owner(session, name):
    """The unique name owning a well-known bus name, or None."""
    result = subprocess.run(
        ["dbus-send", "--session", "--print-reply=literal", "--dest=org.freedesktop.DBus",
         "/org/freedesktop/DBus", "org.freedesktop.DBus.GetNameOwner", "string:" + name],
        env=session.base_env(), capture_output=True, text=True, timeout=10)
    return result.stdout.strip() if result.returncode == 0 else None


def bus_name_pid(session, name):
    """The process id behind a bus name, or None."""
    result = subprocess.run(
        ["dbus-send", "--session", "--print-reply=literal", "--dest=org.freedesktop.DBus",
         "/org/freedesktop/DBus", "org.freedesktop.DBus.GetConnectionUnixProcessID",
         "string:" + name],
        env=session.base_env(), capture_output=True, text=True, timeout=10)
    words = result.stdout.split()
    return int(words[-1]) if result.returncode == 0 and words else None


def status_notifier_items_of(session, pid):
    """The watcher's registered items that belong to process ``pid`` (an entry is a bus
    name, optionally followed by an object path)."""
    return [item for item in registered_status_notifier_items(session) or []
            if bus_name_pid(session, item.split("/")[0]) == pid]


def start_status_notifier_watcher(session, timeout=15.0):
    """Starts status-notifier-watcher and waits until it owns its bus name."""
    watcher = spawn(session, "status-notifier-watcher", ["status-notifier-watcher"])

    def owned():
        if not watcher.running():
            raise HarnessError("status-notifier-watcher exited; see %s" % watcher.log_path)
        return session._bus_name_has_owner(STATUS_NOTIFIER_WATCHER)
    wait_until(owned, timeout, "status-notifier-watcher to own its bus name")
    watcher.ready_at = time.monotonic()
    return watcher


def start_status_notifier_host(session, size=30):
    """Starts the standalone StatusNotifierItem host: a bar along the top edge whose icons
    are packed to its end (the right)."""
    return spawn(session, "gtk-sni-tray-standalone",
                 ["gtk-sni-tray-standalone", "--top", "--end", "--size", str(size)])


# ---------------------------------------------------------------------------------------
# Hostile environments: the desktop as an unprivileged user; the utility alone in a
# private mount namespace with fake kernel trees and a small HOME.

class HostileSession(Session):
    """A Session that can run as another user and give the utility its own mount namespace.

    Options besides Session's (all need root, which CI is):
      run_as: a user name, e.g. "nobody". Every process of the session then runs as that
          user and its groups (through setpriv, which also sets a parent-death signal: a
          change of user clears the one the harness sets), and the session's directories
          and seeded files belong to it. The whole desktop changes user, not the utility
          alone: the accessibility bus admits only its own user and root. The harness
          stays root and reads, writes and chmods the session's files at will.
      sys_class: a directory bound over /sys/class for the utility only; put fake
          power_supply/, hwmon/ and thermal/ trees in it. The whole of /sys/class is
          replaced, since a class that this machine lacks cannot be a mount point. The
          harness keeps writing to the directory while the utility runs: bind mounts show
          the changes.
      proc_meminfo: a file bound over /proc/meminfo for the utility only.
      home_size: bytes of a fresh tmpfs mounted over HOME for the utility only: a home
          volume with little free space, so the low-disk prompt is due.
    """

    def __init__(self, binary, artifacts=None, name="session", *, run_as=None,
                 sys_class=None, proc_meminfo=None, home_size=None, **options):
        super().__init__(binary, artifacts, name, **options)
        self.user = None
        if run_as is not None:
            import pwd
            self.user = pwd.getpwnam(run_as)
        self.sys_class = Path(sys_class) if sys_class is not None else None
        self.proc_meminfo = Path(proc_meminfo) if proc_meminfo is not None else None
        self.home_size = home_size
        self.give_to_user(self.temp)
        if self.user is not None:
            # The user runs a copy kept in the session's folder: the build may sit where it
            # cannot reach (a checkout in a 0700 temporary folder).
            copy = self.temp / "bin" / self.binary.name
            copy.parent.mkdir()
            shutil.copy2(self.binary, copy)
            self.binary = copy
            self.give_to_user(copy.parent)

    def give_to_user(self, path):
        """Hands ``path`` and everything below it (symlinks not followed) to run_as."""
        if self.user is None:
            return
        ids = (self.user.pw_uid, self.user.pw_gid)
        os.lchown(path, *ids)
        if os.path.isdir(path) and not os.path.islink(path):
            for directory, subdirectories, files in os.walk(path):
                for entry in subdirectories + files:
                    os.lchown(os.path.join(directory, entry), *ids)

    def as_user(self, argv):
        """``argv`` run as the session's user (unchanged without run_as)."""
        if self.user is None:
            return list(argv)
        return ["setpriv", "--reuid=%d" % self.user.pw_uid, "--regid=%d" % self.user.pw_gid,
                "--init-groups", "--pdeathsig=SIGKILL", "--", *argv]

    def _spawn(self, name, argv, env=None, as_user=True, **kwargs):
        return super()._spawn(name, self.as_user(argv) if as_user else argv, env, **kwargs)

    def _seed_files(self):
        super()._seed_files()
        self.give_to_user(self.temp)

    def _bus_name_has_owner(self, name):
        # The session bus admits its own user only.
        result = subprocess.run(
            self.as_user(["dbus-send", "--session", "--print-reply=literal",
                          "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                          "org.freedesktop.DBus.NameHasOwner", "string:" + name]),
            env=self.base_env(), capture_output=True, text=True, timeout=10)
        return result.returncode == 0 and "true" in result.stdout

    def start_app(self):
        if self.sys_class is None and self.proc_meminfo is None and self.home_size is None:
            return super().start_app()
        if not os.access(self.binary, os.X_OK):
            raise HarnessError("not an executable: %s" % self.binary)
        import shlex
        steps = ["set -e"]
        if self.sys_class is not None:
            steps.append("mount --bind %s /sys/class" % shlex.quote(str(self.sys_class)))
        if self.proc_meminfo is not None:
            steps.append("mount --bind %s /proc/meminfo" % shlex.quote(str(self.proc_meminfo)))
        if self.home_size is not None:
            options = "size=%d,mode=0700" % self.home_size
            if self.user is not None:
                options += ",uid=%d,gid=%d" % (self.user.pw_uid, self.user.pw_gid)
            steps.append("mount -t tmpfs -o %s tmpfs %s"
                         % (options, shlex.quote(str(self.home))))
        steps.append("exec " + " ".join(shlex.quote(word)
                                        for word in self.as_user([str(self.binary)])))
        # unshare and sh exec in turn: the utility keeps the pid that the session knows.
        self.app = self._spawn("korvanta-menubar",
                               ["unshare", "--mount", "--propagation", "private", "--",
                                "/bin/sh", "-c", "\n".join(steps)],
                               env=self.app_env(), as_user=False)
        return self.app

    def kill_tray(self, sig=signal.SIGKILL):
        """Kills the tray host's process group with ``sig`` and waits until it is gone."""
        if self.tray is None:
            raise HarnessError("no tray host runs")
        tray, self.tray = self.tray, None
        try:
            os.killpg(tray.pid, sig)
        except ProcessLookupError:
            pass
        tray.popen.wait(10)
        return tray.stop()

    def app_log(self):
        """What the utility wrote to stdout and stderr so far."""
        return (self.artifacts / "korvanta-menubar.log").read_text(encoding="utf-8",
                                                                     errors="replace")

    def app_rss_kib(self):
        """The utility's resident set (VmRSS) in KiB."""
        with open("/proc/%d/status" % self.app.pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise HarnessError("no VmRSS for pid %d" % self.app.pid)
