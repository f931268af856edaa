#!/usr/bin/python3
"""Real desktops started headless for korvanta-menubar, on top of the end-to-end harness:
GNOME Shell on Wayland with its AppIndicator extension, Plasma on Wayland (kwin_wayland and
plasmashell), xfce4-panel with xfwm4 under Xvfb. Each runs in private mount, network and
pid namespaces over a private /tmp (so paths given to it must lie elsewhere): its displays,
sockets and lock files are its own and its processes die with it.

    /usr/bin/python3 tests/desktops/desktops.py shell gnome|plasma|xfce [--binary B]
                     [--platform xcb|wayland]
"""

import argparse
import json
import os
import shutil
import shlex
import signal
import socket
import struct
import subprocess
import sys
import uuid
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "e2e"))
import harness  # noqa: E402
from harness import LIMIT_S, SNI_WATCHER, HarnessError, Session, Window, wait_until  # noqa

from gi.repository import Gio, GLib  # noqa: E402

NAMESPACED = "KMB_DESKTOPS_NAMESPACED"  # the pid of the unshare process, once inside
EMPTY_SPOT = (200, 500)  # bare desktop on every desktop here, away from panels and popups


def enter_namespaces():
    """Runs this program again inside its own namespaces (a user namespace when not root)."""
    if os.environ.get(NAMESPACED):
        return
    argv = ["unshare", "--mount", "--net", "--pid", "--fork", "--mount-proc", "--kill-child"]
    argv += ["--map-root-user"] if os.geteuid() else []
    script = 'mount -t tmpfs -o mode=1777 tmpfs /tmp && mkdir -m 1777 /tmp/.X11-unix && exec "$@"'
    os.execvpe("unshare", argv + ["sh", "-c", script, "sh", sys.executable] + sys.argv,
               dict(os.environ, **{NAMESPACED: str(os.getpid())}))


def icon_pixels(rgb, width, rows):
    """The bounding box of the icon's blues (a #3BA7FF to #1E5BD8 gradient) among ``rows``."""
    found = [(i % width, i // width) for i in range(rows.start * width, rows.stop * width)
             if rgb[3 * i] < 90 and 70 < rgb[3 * i + 1] < 180 and rgb[3 * i + 2] > 200
             and rgb[3 * i + 2] - rgb[3 * i + 1] > 60]
    xs, ys = [p[0] for p in found], [p[1] for p in found]
    return found and Window(0, min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1,
                            False)


class Desktop(Session):
    """A desktop with its tray host; the utility is started by start_app, its platform
    left to its own choice unless ``platform`` is given."""

    name, programs, edge, session_type, double_click = "", (), "top", "wayland", False

    def __init__(self, binary, artifacts=None, platform=None):
        super().__init__(binary, artifacts, self.name, tray_host=None, accessibility=False,
                         app=False, xvfb=self.session_type == "x11")
        self.platform, self.wayland, self.xauthority, self._bus = platform, None, None, None

    @classmethod
    def missing(cls):
        return [p for p in cls.programs if not shutil.which(p)]

    def base_env(self):
        env = super().base_env()
        env.update(XDG_CURRENT_DESKTOP=self.current_desktop, XDG_SESSION_TYPE=self.session_type)
        env.update({k: v for k, v in (("WAYLAND_DISPLAY", self.wayland),
                                      ("XAUTHORITY", self.xauthority)) if v})
        return env

    def app_env(self):
        env = super().app_env()
        del env["QT_QPA_PLATFORM"]
        env.update({"QT_QPA_PLATFORM": self.platform} if self.platform else {})
        return env

    def start(self):
        super().start()
        # What the hosts ask of the item, with the points they pass, in the monitor's log.
        self.monitor = self.spawn("dbus-monitor", [
            "dbus-monitor", "--session", "type=method_call,interface=org.kde.StatusNotifierItem",
            "type=method_call,interface=com.canonical.dbusmenu"])
        wait_until(lambda: "NameAcquired" in self.monitor.log_path.read_text(), "dbus-monitor")
        self.start_desktop()
        return self

    def start_app(self, env=None, day=True):
        self._calls_from = self.monitor.log_path.stat().st_size
        self.click(*EMPTY_SPOT, count=0)  # no pointer over the icon: hosts highlight it
        return super().start_app(env, day)

    def item_calls(self, member):
        """The calls of ``member`` that hosts made on the utility's item since it started."""
        with open(self.monitor.log_path, "rb") as log:
            log.seek(self._calls_from)
            return [call for call in log.read().decode(errors="replace").split("\nmethod call ")
                    if "member=%s" % member in call.partition("\n")[0]]

    def call(self, name, path, interface, method, signature=None, args=(), fds=None):
        """A D-Bus call on the session bus; returns its reply's values."""
        if self._bus is None:
            self._bus = Gio.DBusConnection.new_for_address_sync(
                self.bus_address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
                | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        reply = self._bus.call_with_unix_fd_list_sync(
            name, path, interface, method, GLib.Variant(signature, args) if signature else None,
            None, 0, int(LIMIT_S * 1000), fds and Gio.UnixFDList.new_from_array(fds), None)
        return reply[0].unpack()

    def wait_bus_name(self, name):
        wait_until(lambda: self.bus_has(name), name + " on the session bus")

    def app_on_wayland(self):
        """Whether the utility chose Qt's Wayland platform."""
        maps = Path("/proc/%d/maps" % self.app.pid).read_text()
        return "libQt6WaylandClient" in maps

    def icons(self):
        """The icon in the panel, once drawn in full (a host may slide a new one in)."""
        icon = self._icon_pixels()
        return [icon] if icon and icon.width >= 8 and abs(icon.width - icon.height) <= 1 else []

    def _icon_pixels(self):
        width, height = self.screen
        # The panel's rows only: a host's tooltip may show the icon again beside them.
        band = range(0, 40) if self.edge == "top" else range(height - 40, height)
        return icon_pixels(self.pixels(), width, band)

    def stop_app(self):
        """Stops the utility and waits until its host has taken the icon away."""
        status = super().stop_app()
        if self.app is not None:
            wait_until(lambda: not self._icon_pixels(), "the stopped utility's icon to go")
        return status

    def pixels(self):
        """The screen as 8-bit RGB rows."""
        raise NotImplementedError

    def screenshot(self, path, *options):
        subprocess.run(["convert", "-size", "%dx%d" % self.screen, "-depth", "8", "rgb:-",
                        *options, str(path)], input=self.pixels(), check=True, timeout=LIMIT_S)
        return Path(path)

    def save_diagnostics(self, label):
        try:
            self.screenshot(self.artifacts / ("%s-screen.png" % label))
            (self.artifacts / ("%s-windows.json" % label)).write_text(json.dumps(
                [w.__dict__ for w in self.windows()] if self.app else []))
        except Exception as error:  # diagnostics must not hide the failure
            sys.stderr.write("diagnostics: %s\n" % error)

    def click_route(self, icon):
        """The click that opens the dashboard: a double click where the host answers a
        single one with its menu."""
        self.click(*icon.center, count=2 if self.double_click else 1)

    def open_tray_menu(self, icon):
        self.click(*icon.center, button=3)

    def choose_first_menu_entry(self):
        self.keys("Down", "Return")

    def ready_for_outside_click(self):
        """Whether an open popup would see a click elsewhere: it holds the keyboard focus
        (the compositor's word) or an X pointer grab."""
        return self.focused_pid() == self.app.pid or bool(self.display) and self.grab_held()


class Gnome(Desktop):
    """GNOME Shell 43, headless, with the AppIndicator extension and a test-only one that
    turns on the unsafe mode: Eval then reads windows and drives a virtual pointer."""

    name, edge, double_click, current_desktop = "gnome", "top", True, "GNOME"
    programs = ("gnome-shell",)
    EXTENSION = "kmb-test@korvanta.invalid"

    @classmethod
    def missing(cls):
        extension = Path("/usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com")
        return super().missing() + ([] if extension.is_dir() else [extension.name])

    def start_desktop(self):
        settings = self.temp / "config" / "glib-2.0" / "settings"
        settings.mkdir(parents=True)
        (settings / "keyfile").write_text(
            "[org/gnome/shell]\nenabled-extensions=['ubuntu-appindicators@ubuntu.com', '%s']\n"
            "disable-extension-version-validation=true\n" % self.EXTENSION)
        extension = self.temp / "data" / "gnome-shell" / "extensions" / self.EXTENSION
        extension.mkdir(parents=True)
        (extension / "metadata.json").write_text(json.dumps(
            {"uuid": self.EXTENSION, "name": "tests", "description": "tests",
             "shell-version": ["43"]}))
        (extension / "extension.js").write_text(
            "function init() { return { enable() { global.context.unsafe_mode = true; },"
            " disable() {} }; }\n")
        system_bus = self._start_printing("system-bus", lambda fd: [
            "dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=%s"
            % (self.temp / "system-bus"), "--print-address=%d" % fd])
        self.wayland = "kmb-wayland"
        env = dict(self.base_env(), DBUS_SYSTEM_BUS_ADDRESS=system_bus,
                   GSETTINGS_BACKEND="keyfile")
        self.spawn("gnome-shell", ["gnome-shell", "--headless", "--wayland", "--virtual-monitor",
                                   "%dx%d" % self.screen, "--wayland-display", self.wayland],
                   env=env)
        wait_until(lambda: self.bus_has("org.gnome.Shell") and self.js_ok("global.context"
                   ".unsafe_mode && Main.layoutManager._startingUp === false"), "GNOME Shell")
        self.display, self.xauthority = self.js('[GLib.getenv("DISPLAY"), '
                                                'GLib.getenv("XAUTHORITY")]')
        os.environ["XAUTHORITY"] = self.xauthority  # for the harness's own X connection
        self.js("Main.overview.hide()")  # shown at start-up when no window is open
        wait_until(lambda: self.js("!Main.overview.visible"), "the overview to close")
        self.wait_bus_name(SNI_WATCHER)

    def js_ok(self, code):
        try:
            return self.js(code)
        except GLib.Error:
            return False

    def js(self, code):
        ok, result = self.call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell",
                               "Eval", "(s)", ("const {GLib, Clutter, Meta} = imports.gi;"
                                               "const Main = imports.ui.main;" + code,))
        if not ok:
            raise HarnessError("Eval failed: %s" % result)
        return json.loads(result) if result else None

    def pixels(self):
        path = self.temp / "shot.png"
        self.call("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                  "org.gnome.Shell.Screenshot", "Screenshot", "(bbs)", (False, False, str(path)))
        return subprocess.run(["convert", str(path), "-depth", "8", "rgb:-"], check=True,
                              capture_output=True, timeout=LIMIT_S).stdout

    def windows(self):
        rows = self.js("global.get_window_actors().filter(a => a.visible).map(a =>"
                       " a.meta_window).filter(w => w.get_pid() === %d).map(w => {"
                       "const r = w.get_frame_rect(); return [r.x, r.y, r.width, r.height];})"
                       % self.app.pid)
        return [Window(0, *row) for row in rows]

    def focused_pid(self):
        return self.js("global.display.focus_window ? global.display.focus_window.get_pid()"
                       " : 0")

    def _input(self, kind, steps):
        self.js("const seat = Clutter.get_default_backend().get_default_seat();"
                "global.kmb%s ??= seat.create_virtual_device(Clutter.InputDeviceType.%s);"
                "let t = GLib.get_monotonic_time(); const d = global.kmb%s; %s"
                % (kind, kind.upper() + "_DEVICE", kind, steps))

    def click(self, x, y, button=1, count=1):
        self._input("Pointer", "d.notify_absolute_motion(t, %d, %d);" % (x, y) + (
            "d.notify_button(t += 1000, %d, Clutter.ButtonState.PRESSED);"
            "d.notify_button(t += 1000, %d, Clutter.ButtonState.RELEASED);"
            % (button, button)) * count)

    def keys(self, *names):
        self._input("Keyboard", "".join(
            "d.notify_keyval(t += 1000, Clutter.KEY_%s, Clutter.KeyState.%s);" % (name, state)
            for name in names for state in ("PRESSED", "RELEASED")))

    def open_tray_menu(self, icon):
        self.click(*icon.center)  # the AppIndicator host answers a single click with its menu

    def choose_first_menu_entry(self):
        """Clicks the menu entry "打开面板" where the shell shows it, once faded in."""
        spot = self.wait(lambda: self.js(
            "const find = a => { if (!a.visible) return null; if (a.text === '打开面板'"
            " && a.get_paint_opacity() === 255) {"
            "const [x, y] = a.get_transformed_position(); return [x + a.width / 2,"
            "y + a.height / 2]; } for (const c of a.get_children()) { const f = find(c);"
            "if (f) return f; } return null; }; find(global.stage)"), "the tray menu")
        self.click(*map(round, spot))


class Plasma(Desktop):
    """Plasma 5.27: kwin_wayland on a virtual output with XWayland, kded5 for the
    StatusNotifierItem watcher, plasmashell. Input through KWin's fake input protocol,
    screenshots through ScreenShot2, Wayland windows through KWin scripts."""

    name, edge, current_desktop = "plasma", "bottom", "KDE"
    programs = ("kwin_wayland", "plasmashell", "kded5")
    KACTIVITYMANAGERD = "/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd"

    def start_desktop(self):
        # The packaged binary's file capability is refused here; a copy has none.
        kwin = self.temp / "kwin_wayland"
        shutil.copy(shutil.which("kwin_wayland"), kwin)
        self.wayland = "kmb-wayland"
        self.kwin = self.spawn("kwin", [str(kwin), "--virtual", "--width", str(self.screen[0]),
                                        "--height", str(self.screen[1]), "--xwayland",
                                        "--socket", self.wayland, "--no-lockscreen",
                                        "--no-global-shortcuts"],
                               env=dict(self.base_env(), KWIN_WAYLAND_NO_PERMISSION_CHECKS="1",
                                        KWIN_SCREENSHOT_NO_PERMISSION_CHECKS="1",
                                        QT_LOGGING_RULES="kwin_scripting=true"))
        self.display = wait_until(self._xwayland_display, "XWayland")
        self.wait_bus_name("org.kde.KWin")
        self.connect_fake_input()
        self.spawn("kactivitymanagerd", [self.KACTIVITYMANAGERD])
        self.spawn("kded5", ["kded5"])
        self.wait_bus_name("org.kde.kded5")
        self.call("org.kde.kded5", "/kded", "org.kde.kded5", "loadModule", "(s)",
                  ("statusnotifierwatcher",))
        self.wait_bus_name(SNI_WATCHER)
        self.spawn("plasmashell", ["plasmashell"],
                   env=dict(self.base_env(), QT_QPA_PLATFORM="wayland"))
        self.wait_bus_name("org.kde.plasmashell")

    @staticmethod
    def _xwayland_display():
        """The display of the XWayland that runs (the namespace's only one)."""
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                argv = Path("/proc", pid, "cmdline").read_bytes().split(b"\0")
            except OSError:
                continue
            if argv[0].endswith(b"/Xwayland") and argv[1].startswith(b":"):
                return argv[1].decode()
        return None

    def pixels(self):
        read_end, write_end = os.pipe()
        try:  # the call's descriptor list takes the write end
            info = self.call("org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2",
                             "org.kde.KWin.ScreenShot2", "CaptureArea", "(iiuua{sv}h)",
                             (0, 0, self.screen[0], self.screen[1], {}, 0), fds=[write_end])[0]
            stride, (width, height), data = info["stride"], self.screen, b""
            while len(data) < stride * height:
                data += os.read(read_end, stride * height - len(data)) or b"x" * len(data)
        finally:
            os.close(read_end)
        # 32-bit pixels, blue first in memory, to RGB
        rows = (data[y * stride:y * stride + 4 * width] for y in range(height))
        return b"".join(bytes(r[i + c] for i in range(0, 4 * width, 4) for c in (2, 1, 0))
                        for r in rows)

    def kwin_query(self, expression):
        """The value of a JavaScript expression in a KWin script, read from KWin's log."""
        token = uuid.uuid4().hex
        script = self.temp / ("%s.js" % token)
        script.write_text('print("%s" + JSON.stringify(%s));\n' % (token, expression))
        self.call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "loadScript", "(ss)",
                  (str(script), token))
        self.call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "start")
        line = wait_until(lambda: next((line for line in self.kwin.log_path.read_text(
            errors="replace").splitlines() if token in line), None), "KWin's answer")
        self.call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", "(s)",
                  (token,))
        return json.loads(line.split(token, 1)[1])

    def windows(self):
        if not self.app_on_wayland():
            return super().windows()
        return [Window(0, *row) for row in self.kwin_query(
            "workspace.clientList().filter(c => c.pid === %d).map(c => [c.x, c.y, c.width,"
            " c.height])" % self.app.pid)]

    def focused_pid(self):
        return self.kwin_query("workspace.activeClient ? workspace.activeClient.pid : 0")

    def choose_first_menu_entry(self):
        self.wait(lambda: self.kwin_query("workspace.clientList().some(c => c.popupWindow)"),
                  "the tray menu")
        super().choose_first_menu_entry()

    EVDEV = {"Down": 108, "Return": 28, "Escape": 1}

    def click(self, x, y, button=1, count=1):
        code = {1: 0x110, 2: 0x112, 3: 0x111}[button]  # BTN_LEFT, BTN_MIDDLE, BTN_RIGHT
        self.fake_input([(9, "ii", (x * 256, y * 256))] + [
            (2, "II", (code, state)) for _ in range(count) for state in (1, 0)])

    def keys(self, *names):
        self.fake_input([(10, "II", (self.EVDEV[name], state)) for name in names
                         for state in (1, 0)])

    def connect_fake_input(self):
        """One fake input device for the whole session: clients that see a pointer come
        and go would miss the events sent while they set theirs up."""
        self.wire, self._last_id = socket.socket(socket.AF_UNIX), 3
        self.wire.connect(str(self.runtime_dir / self.wayland))
        self.wire.sendall(_message(1, 1, struct.pack("<I", 2)) + _message(1, 0, struct.pack(
            "<I", 3)))  # wl_display.get_registry, wl_display.sync
        names = [struct.unpack_from("<I", body)[0] for target, _, body in self._events(3)
                 if target == 2 and b"org_kde_kwin_fake_input\0" in body]
        if not names:
            raise HarnessError("KWin offers no fake input")
        self._last_id = 4  # the device's id; callbacks follow
        self.fake_input([], _message(2, 0, struct.pack("<I", names[0]) + _text(
            "org_kde_kwin_fake_input") + struct.pack("<II", 4, 4)) + _message(
            4, 0, _text("korvanta tests") + _text("tests")))  # bind, authenticate

    def fake_input(self, requests, prefix=b""):
        """Sends requests of org_kde_kwin_fake_input (opcode, format, arguments) and waits
        until KWin has handled them."""
        self._last_id += 1
        self.wire.sendall(prefix + b"".join(
            _message(4, opcode, struct.pack("<" + fmt, *args)) for opcode, fmt, args in requests)
            + _message(1, 0, struct.pack("<I", self._last_id)))
        self._events(self._last_id)

    def _events(self, callback):
        """Reads events until ``callback`` is done; a protocol error raises."""
        buffer, events = b"", []
        while True:
            while len(buffer) < 8 or len(buffer) < struct.unpack_from("<I", buffer, 4)[0] >> 16:
                chunk = self.wire.recv(65536)
                if not chunk:
                    raise HarnessError("KWin closed the Wayland connection")
                buffer += chunk
            target, word = struct.unpack_from("<II", buffer)
            body, buffer = buffer[8:word >> 16], buffer[word >> 16:]
            if target == 1 and word & 0xffff == 0:
                raise HarnessError("Wayland protocol error: %r" % body)
            if target == callback:
                return events
            events.append((target, word & 0xffff, body))


def _message(target, opcode, payload):
    """A Wayland request: object, size and opcode, arguments."""
    return struct.pack("<II", target, (8 + len(payload)) << 16 | opcode) + payload


def _text(value):
    data = value.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


class Xfce(Desktop):
    """xfce4-panel 4.18 at the top of the screen with its tray, and xfwm4, under Xvfb."""

    name, edge, session_type, current_desktop = "xfce", "top", "x11", "XFCE"
    programs = ("xfce4-panel", "xfwm4", "Xvfb")
    PANEL = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array"><value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="28"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/><value type="int" value="2"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/></property>
    <property name="plugin-2" type="string" value="systray"/>
  </property>
</channel>
"""

    def start_desktop(self):
        channels = self.temp / "config" / "xfce4" / "xfconf" / "xfce-perchannel-xml"
        channels.mkdir(parents=True)
        (channels / "xfce4-panel.xml").write_text(self.PANEL)
        self.spawn("xfwm4", ["xfwm4", "--compositor=off"])
        self.spawn("xfce4-panel", ["xfce4-panel"])
        self.wait_bus_name(SNI_WATCHER)

    def pixels(self):
        return subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "rgb:-"],
                              env=self.base_env(), check=True, capture_output=True,
                              timeout=LIMIT_S).stdout

    def click(self, x, y, button=1, count=1):
        for _ in range(max(count, 1)):
            super().click(x, y, button, press=count > 0, release=count > 0)

    def focused_pid(self):
        return 0  # an X11 popup holds the pointer grab instead

    def open_tray_menu(self, icon):
        self.wait(lambda: self.item_calls("GetLayout"), "the panel to read the tray menu")
        super().open_tray_menu(icon)

    def choose_first_menu_entry(self):
        self.wait_grab()  # the panel's menu, once open, holds it
        super().choose_first_menu_entry()


DESKTOPS = {desktop.name: desktop for desktop in (Gnome, Plasma, Xfce)}


def shell(arguments):
    """Brings a desktop up (with the utility when given) and keeps it up until Ctrl-C."""
    enter_namespaces()
    desktop = DESKTOPS[arguments.desktop](arguments.binary or "/bin/true", None,
                                          arguments.platform)
    with desktop:
        if arguments.binary:
            desktop.start_app()
        env = " ".join("%s=%s" % (k, shlex.quote(v)) for k, v in sorted(desktop.base_env().items()))
        unshare = int(os.environ[NAMESPACED])
        print("%s is up. Run a command in it:\n  nsenter -t $(cat /proc/%d/task/%d/children) -a"
              " env %s COMMAND\nLogs: %s\nCtrl-C stops it." % (
                  desktop.name, unshare, unshare, env, desktop.artifacts), flush=True)
        try:
            while True:
                signal.pause()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("command", choices=["shell"])
    parser.add_argument("desktop", choices=sorted(DESKTOPS))
    parser.add_argument("--binary", type=Path)
    parser.add_argument("--platform", choices=["xcb", "wayland"])
    shell(parser.parse_args())
