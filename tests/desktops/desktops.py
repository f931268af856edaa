#!/usr/bin/python3
"""Real desktops started headless, on the end-to-end harness: GNOME Shell and Plasma on
Wayland, xfce4-panel in Xvfb; see README.md. Keeps one up for experiments:

    /usr/bin/python3 desktops.py shell gnome|plasma|xfce [--binary B] [--platform xcb|wayland]
"""

import argparse
import dataclasses
import json
import os
import shlex
import shutil
import signal
import socket
import struct
import subprocess
import sys
import uuid
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "e2e"))
from harness import (LIMIT_S, SNI_WATCHER, GLib, HarnessError, Session, Window,  # noqa: E402
                     wait_until)

NAMESPACED = "KMB_DESKTOPS_NAMESPACED"  # the pid of the unshare process, once inside
APPINDICATOR = "ubuntu-appindicators@ubuntu.com"
EMPTY_SPOTS = ((200, 500), (1000, 600))  # bare desktop on every desktop here, off the panels


def enter_namespaces():
    """Runs this program again in mount, network and pid namespaces of its own (and a user
    namespace when not root) over a private /tmp: the desktops' displays, sockets and lock
    files stay theirs, and their processes die with it."""
    if not os.environ.get(NAMESPACED):
        script = 'mount -t tmpfs -o mode=1777 none /tmp && mkdir -m1777 /tmp/.X11-unix && exec "$@"'
        os.execvpe("unshare", ["unshare", "-mnpf", "--mount-proc", "--kill-child"]
                   + ["-r"] * bool(os.geteuid()) + ["sh", "-c", script, "sh", sys.executable]
                   + sys.argv, dict(os.environ, **{NAMESPACED: str(os.getpid())}))


def icon_pixels(rgb, width, rows):
    """The bounding box of the icon's blues (a #3BA7FF to #1E5BD8 gradient) among ``rows``."""
    found = [(i % width, i // width) for i in range(rows.start * width, rows.stop * width)
             if rgb[3 * i] < 90 and 70 < rgb[3 * i + 1] < 180 and rgb[3 * i + 2] > 200
             and rgb[3 * i + 2] - rgb[3 * i + 1] > 60]
    xs, ys = [p[0] for p in found], [p[1] for p in found]
    return found and Window(0, min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1,
                            False)


class Desktop(Session):
    """A desktop with its tray host. The utility chooses its Qt platform unless
    ``platform`` is given."""

    name, programs, session_type, double_click = "", (), "wayland", False
    # A marker of their own: an end-to-end session outside would take these, whose harness is
    # pid 1 of its namespace, for the leftovers of a killed harness and kill them.
    marker_variable = "KMB_DESKTOPS_SESSION"

    def __init__(self, binary, artifacts=None, platform=None):
        super().__init__(binary, artifacts, self.name, tray_host=None, accessibility=False,
                         app=False, xvfb=self.session_type == "x11")
        self.platform, self.wayland, self.xauthority = platform, None, None
        self._last_icon = None

    @classmethod
    def missing(cls):
        return [p for p in cls.programs if not shutil.which(p) and not Path(p).exists()]

    def base_env(self):
        env = dict(super().base_env(), XDG_CURRENT_DESKTOP=self.current_desktop,
                   XDG_SESSION_TYPE=self.session_type)
        env.update({k: v for k, v in (("WAYLAND_DISPLAY", self.wayland),
                                      ("XAUTHORITY", self.xauthority)) if v})
        return env

    def app_env(self):
        env = super().app_env()
        del env["QT_QPA_PLATFORM"]
        return dict(env, **({"QT_QPA_PLATFORM": self.platform} if self.platform else {}))

    def start(self):
        super().start()
        # Every call of a host on the item, with the points it passes, goes to the log.
        self.monitor = self.spawn("dbus-monitor", [
            "dbus-monitor", "--session", "type=method_call,interface=org.kde.StatusNotifierItem",
            "type=method_call,interface=com.canonical.dbusmenu"])
        wait_until(lambda: "NameAcquired" in self.monitor.log_path.read_text(), "dbus-monitor")
        self.start_desktop()
        return self

    def start_app(self, *args, **options):
        self.click(*EMPTY_SPOTS[0], count=0)  # no pointer over the icon: hosts highlight it
        return super().start_app(*args, **options)

    def stop_app(self):
        """Stops the utility and waits until its host has taken the icon away."""
        status = super().stop_app()
        if self.app is not None:
            wait_until(lambda: not self._icon_pixels(), "the stopped utility's icon to go")
        return status

    def icons(self):
        """The icon in the panel, drawn in full and where it was at the last look: a host
        may slide a new icon in, and move it as the panel lays out again."""
        last, icon = self._last_icon, self._icon_pixels()
        self._last_icon = icon
        square = icon and icon.width >= 8 and abs(icon.width - icon.height) <= 1
        return [icon] if square and icon == last else []

    def _icon_pixels(self):
        width, height = self.screen
        # The panel's rows only: a host's tooltip may show the icon again beside them.
        band = range(0, 40) if self.edge == "top" else range(height - 40, height)
        return icon_pixels(self.pixels(), width, band)

    def pixels(self):
        """The screen as 8-bit RGB, from the desktop's own screenshot."""
        return subprocess.run(["convert", "-size", "%dx%d" % self.screen, "-depth", "8",
                               self.image_format + ":-", "rgb:-"], input=self.screen_image(),
                              check=True, capture_output=True, timeout=LIMIT_S).stdout

    def app_on_wayland(self):
        return "libQt6WaylandClient" in Path("/proc/%d/maps" % self.app.pid).read_text()

    def empty_spot(self, popup):
        """A spot of bare desktop outside ``popup``."""
        return next(spot for spot in EMPTY_SPOTS if not (
            popup.x <= spot[0] < popup.right and popup.y <= spot[1] < popup.bottom))

    def windows(self):
        """A window manager nests the windows it manages: here every window is a top-level
        one (the hosts draw the icon). Its frames may go during the walk: walk again."""
        def walk():
            try:
                return [dataclasses.replace(w, toplevel=True) for w in super(Desktop, self)
                        .windows()],
            except HarnessError:
                return None
        return wait_until(walk, "a whole window tree")[0]

    def click_route(self, icon):
        """A double click where the host answers a single one with its menu."""
        self.click(*icon.center, count=2 if self.double_click else 1)

    def open_tray_menu(self, icon):
        self.click(*icon.center, button=3)

    def choose_first_menu_entry(self):
        self.keys("Down", "Return")

    def ready_for_outside_click(self, spot):
        """Whether an open popup would see a click at ``spot``, elsewhere: it holds the
        keyboard focus (in the X server's word for an X client: its FocusIn comes before any
        later press, else in the compositor's) or the X pointer grab."""
        if self.app_on_wayland():
            return self.focused_pid() == self.app.pid
        focus = self.x("xdotool", "getwindowfocus", "getwindowpid", check=False).strip()
        return focus == str(self.app.pid) or self.grab_held()


class Gnome(Desktop):
    """GNOME Shell 43 with the AppIndicator extension and a test-only one that turns on the
    unsafe mode, so that Eval reads windows and drives a virtual pointer and keyboard."""

    name, double_click, current_desktop, image_format = "gnome", True, "GNOME", "png"
    programs = ("gnome-shell", "/usr/share/gnome-shell/extensions/" + APPINDICATOR)
    EXTENSION = "kmb-test@korvanta.invalid"

    def start_desktop(self):
        settings = self.temp / "config" / "glib-2.0" / "settings"
        settings.mkdir(parents=True)
        (settings / "keyfile").write_text("[org/gnome/shell]\nenabled-extensions=['%s', '%s']\n"
                                          % (APPINDICATOR, self.EXTENSION))
        extension = self.temp / "data" / "gnome-shell" / "extensions" / self.EXTENSION
        extension.mkdir(parents=True)
        (extension / "metadata.json").write_text(json.dumps({
            "uuid": self.EXTENSION, "name": "t", "description": "t", "shell-version": ["43"]}))
        (extension / "extension.js").write_text("function init() { return { enable() { global"
                                                ".context.unsafe_mode = true; }, disable() {} }; }")
        system_bus = self._start_printing("system-bus", lambda fd: [  # the shell needs one
            "dbus-daemon", "--session", "--nofork", "--address=unix:path=%s"
            % (self.temp / "system-bus"), "--print-address=%d" % fd])
        self.wayland = "kmb-wayland"
        self.spawn("gnome-shell", ["gnome-shell", "--headless", "--wayland", "--virtual-monitor",
                                   "%dx%d" % self.screen, "--wayland-display", self.wayland],
                   env=dict(self.base_env(), DBUS_SYSTEM_BUS_ADDRESS=system_bus,
                            GSETTINGS_BACKEND="keyfile"))
        wait_until(lambda: self.bus_has("org.gnome.Shell") and self.js(
            "global.context.unsafe_mode && !Main.layoutManager._startingUp", False), "the shell")
        self.display, self.xauthority = self.js('["DISPLAY", "XAUTHORITY"].map(GLib.getenv)')
        os.environ["XAUTHORITY"] = self.xauthority  # for the harness's own X connection
        self.js("Main.overview.hide()")  # shown at start-up when no window is open
        wait_until(lambda: self.js("!Main.overview.visible"), "the overview to close")
        self.wait_bus_name(SNI_WATCHER)

    def ready_for_outside_click(self, spot):
        """... and a window of the utility over ``spot`` takes presses there already: the
        shell picks an X11 window only once XWayland has drawn it."""
        return super().ready_for_outside_click(spot) and self.js(
            "const [x, y] = [%d, %d], hit = global.stage.get_actor_at_pos(Clutter.PickMode"
            ".REACTIVE, x, y); global.get_window_actors().filter(a => a.meta_window.get_pid()"
            " === %d && a.x <= x && x < a.x + a.width && a.y <= y && y < a.y + a.height)"
            ".every(a => a.contains(hit))" % (*spot, self.app.pid))

    def js(self, code, failed=HarnessError):
        """The value of JavaScript run in the shell; ``failed`` when it fails, if given."""
        try:
            ok, result = self.call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell",
                                   "Eval", "(s)", ("const {GLib, Clutter} = imports.gi; const "
                                                   "Main = imports.ui.main;" + code,))
        except GLib.Error as error:
            ok, result = False, error.message
        if not ok and failed is HarnessError:
            raise HarnessError("Eval: %s" % result)
        return json.loads(result or "null") if ok else failed

    def screen_image(self):
        path = self.temp / "screen.png"
        self.call("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                  "org.gnome.Shell.Screenshot", "Screenshot", "(bbs)", (False, False, str(path)))
        return path.read_bytes()

    def windows(self):
        return [Window(0, *row) for row in self.js(
            "global.get_window_actors().filter(a => a.visible).map(a => a.meta_window).filter("
            "w => w.get_pid() === %d).map(w => w.get_frame_rect()).map(r => [r.x, r.y, r.width,"
            " r.height])" % self.app.pid)]

    def focused_pid(self):
        return self.js("global.display.focus_window?.get_pid() ?? 0")

    def _input(self, kind, steps):
        self.js("global.kmb%s ??= Clutter.get_default_backend().get_default_seat()"
                ".create_virtual_device(Clutter.InputDeviceType.%s_DEVICE);"
                "let t = GLib.get_monotonic_time(); const d = global.kmb%s; %s"
                % (kind, kind.upper(), kind, steps))

    def click(self, x, y, button=1, count=1):
        self._input("Pointer", "d.notify_absolute_motion(t, %d, %d);" % (x, y) + "".join(
            "d.notify_button(t += 1000, %d, Clutter.ButtonState.%s);" % (button, state)
            for _ in range(count) for state in ("PRESSED", "RELEASED")))

    def keys(self, *names):
        self._input("Keyboard", "".join(
            "d.notify_keyval(t += 1000, Clutter.KEY_%s, Clutter.KeyState.%s);" % (name, state)
            for name in names for state in ("PRESSED", "RELEASED")))

    def choose_first_menu_entry(self):
        """Clicks the entry "打开面板" where the shell shows it, once faded in."""
        spot = self.wait(lambda: self.js(
            "const find = a => !a.visible ? null : a.text === '打开面板' && a.get_paint_opacity()"
            " === 255 ? a.get_transformed_position().map((v, i) => v + [a.width, a.height][i]"
            " / 2) : a.get_children().map(find).find(f => f) ?? null; find(global.stage)"),
            "the tray menu")
        self.click(*map(round, spot))


class Plasma(Desktop):
    """Plasma 5.27: kwin_wayland with XWayland on a virtual output, kded5 for the item
    watcher, plasmashell. Input through KWin's fake input protocol, screenshots through
    ScreenShot2, windows of Wayland clients through KWin scripts."""

    name, edge, current_desktop, image_format = "plasma", "bottom", "KDE", "bgra"
    programs = ("kwin_wayland", "plasmashell", "kded5")
    EVDEV = {"Down": 108, "Return": 28, "Escape": 1}

    def start_desktop(self):
        kwin = self.temp / "kwin_wayland"  # a copy: the file capability is refused here
        shutil.copy(shutil.which("kwin_wayland"), kwin)
        self.wayland = "kmb-wayland"
        self.kwin = self.spawn("kwin", [str(kwin), "--virtual", "--width", str(self.screen[0]),
                                        "--height", str(self.screen[1]), "--xwayland", "--socket",
                                        self.wayland, "--no-lockscreen", "--no-global-shortcuts"],
                               env=dict(self.base_env(), KWIN_WAYLAND_NO_PERMISSION_CHECKS="1",
                                        KWIN_SCREENSHOT_NO_PERMISSION_CHECKS="1",
                                        QT_LOGGING_RULES="kwin_scripting=true"))
        self.display = wait_until(self._xwayland_display, "XWayland")
        self.wait_bus_name("org.kde.KWin")
        self.connect_fake_input()
        self.spawn("kactivitymanagerd", ["/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd"])
        self.spawn("kded5", ["kded5"])
        self.wait_bus_name("org.kde.kded5")
        self.call("org.kde.kded5", "/kded", "org.kde.kded5", "loadModule", "(s)",
                  ("statusnotifierwatcher",))
        self.wait_bus_name(SNI_WATCHER)
        self.spawn("plasmashell", ["plasmashell"], env=dict(self.base_env(),
                                                            QT_QPA_PLATFORM="wayland"))
        self.wait_bus_name("org.kde.plasmashell")

    def _xwayland_display(self):
        """The display of the namespace's one XWayland."""
        return next(iter(self.x("pgrep", "-a", "Xwayland", check=False).split()[2:3]), None)

    def screen_image(self):
        read_end, write_end = os.pipe()
        try:  # the call's descriptor list takes the write end
            info = self.call("org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2",
                             "org.kde.KWin.ScreenShot2", "CaptureArea", "(iiuua{sv}h)",
                             (0, 0, self.screen[0], self.screen[1], {}, 0), fds=[write_end])[0]
            size, data = info["stride"] * info["height"], b""
            while len(data) < size:
                data += os.read(read_end, size - len(data)) or bytes(size - len(data))
        finally:
            os.close(read_end)
        return data

    def kwin_query(self, expression):
        """The value of a JavaScript expression in a KWin script, read from KWin's log."""
        token = uuid.uuid4().hex
        script = self.temp / ("%s.js" % token)
        script.write_text('print("%s" + JSON.stringify(%s));\n' % (token, expression))
        scripting = ("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting")
        self.call(*scripting, "loadScript", "(ss)", (str(script), token))
        self.call(*scripting, "start")
        line = wait_until(lambda: next((line for line in self.kwin.log_path.read_text(
            errors="replace").splitlines() if token in line), None), "KWin's answer")
        self.call(*scripting, "unloadScript", "(s)", (token,))
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

    def click(self, x, y, button=1, count=1):
        code = {1: 0x110, 2: 0x112, 3: 0x111}[button]  # BTN_LEFT, BTN_MIDDLE, BTN_RIGHT
        self.fake_input([(9, "ii", (x * 256, y * 256))] + [
            (2, "II", (code, state)) for _ in range(count) for state in (1, 0)])

    def keys(self, *names):
        self.fake_input([(10, "II", (self.EVDEV[name], state)) for name in names
                         for state in (1, 0)])

    def connect_fake_input(self):
        """One fake input device (Wayland object 4) for the whole session: clients that see
        pointers come and go would miss the events sent while they set theirs up."""
        self.wire, self._last_id = socket.socket(socket.AF_UNIX), 4
        self.wire.connect(str(self.runtime_dir / self.wayland))
        self.wire.sendall(_message(1, 1, 2) + _message(1, 0, 3))  # get_registry, sync
        names = [struct.unpack_from("<I", body)[0] for target, body in self._events(3)
                 if target == 2 and b"org_kde_kwin_fake_input\0" in body]
        if not names:
            raise HarnessError("KWin offers no fake input")
        self.fake_input([], _message(2, 0, names[0], "org_kde_kwin_fake_input", 4, 4)
                        + _message(4, 0, "korvanta tests", "tests"))  # bind, authenticate

    def fake_input(self, requests, prefix=b""):
        """Sends requests (opcode, format, arguments) to the device; returns once KWin has
        handled them."""
        self._last_id += 1
        self.wire.sendall(prefix + b"".join(
            struct.pack("<II", 4, (8 + struct.calcsize("<" + fmt)) << 16 | opcode)
            + struct.pack("<" + fmt, *args) for opcode, fmt, args in requests)
            + _message(1, 0, self._last_id))  # wl_display.sync
        self._events(self._last_id)

    def _events(self, callback):
        """The events (object, body) read until ``callback`` is done."""
        buffer, events = b"", []
        while True:
            while len(buffer) < 8 or len(buffer) < struct.unpack_from("<I", buffer, 4)[0] >> 16:
                chunk = self.wire.recv(65536)
                if not chunk:
                    raise HarnessError("KWin closed the Wayland connection")
                buffer += chunk
            target, word = struct.unpack_from("<II", buffer)
            body, buffer = buffer[8:word >> 16], buffer[word >> 16:]
            if (target, word & 0xffff) == (1, 0):
                raise HarnessError("Wayland protocol error: %r" % body)
            if target == callback:
                return events
            events.append((target, body))


def _message(target, opcode, *args):
    """A Wayland request of unsigned and string arguments."""
    payload = b""
    for arg in args:
        data = arg.encode() + b"\0" if isinstance(arg, str) else b""
        payload += struct.pack("<I", len(data) if data else arg) + data + bytes(-len(data) % 4)
    return struct.pack("<II", target, (8 + len(payload)) << 16 | opcode) + payload


class Xfce(Desktop):
    """xfce4-panel 4.18 (its default panels: the tray in the top one) and xfwm4 in Xvfb."""

    name, session_type, current_desktop = "xfce", "x11", "XFCE"
    programs = ("xfce4-panel", "xfwm4", "Xvfb")

    def start_desktop(self):
        channels = self.temp / "config" / "xfce4" / "xfconf" / "xfce-perchannel-xml"
        channels.mkdir(parents=True)  # the default panels, without the first start's question
        shutil.copy("/etc/xdg/xfce4/panel/default.xml", channels / "xfce4-panel.xml")
        self.spawn("xfwm4", ["xfwm4", "--compositor=off"])
        self.spawn("xfce4-panel", ["xfce4-panel"])
        self.wait_bus_name(SNI_WATCHER)

    def click(self, x, y, button=1, count=1):
        for _ in range(max(count, 1)):
            super().click(x, y, button, press=count > 0, release=count > 0)

    def open_tray_menu(self, icon):
        """A right click, again while no menu opens (it holds the pointer grab once open):
        the panel answers one only once it has read the item's menu."""
        wait_until(lambda: self.grab_held() or super(Xfce, self).open_tray_menu(icon),
                   "the tray menu to open", interval=1.0)

    def choose_first_menu_entry(self):
        """Down and Return in the panel's menu, once open (it holds the pointer grab), and
        again while it stays open: the panel builds it again from the layout it asks for as
        it opens, and keys that come meanwhile are lost."""
        self.wait_grab()

        def chosen():  # a window of ours holds the grab once it shows
            if self.popups() or not self.grab_held():
                return True
            self.keys("Down", "Return")
        wait_until(chosen, "the tray menu to take the keys", interval=1.0)


DESKTOPS = {desktop.name: desktop for desktop in (Gnome, Plasma, Xfce)}

if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("command", choices=["shell"])
    parser.add_argument("desktop", choices=sorted(DESKTOPS))
    parser.add_argument("--binary", type=Path)
    parser.add_argument("--platform", choices=["xcb", "wayland"])
    options = parser.parse_args()
    enter_namespaces()
    with DESKTOPS[options.desktop](options.binary or "/bin/true", None, options.platform) as up:
        if options.binary:
            up.start_app()
        inside = "$(cat /proc/%s/task/*/children)" % os.environ[NAMESPACED]
        env = " ".join("%s=%s" % (k, shlex.quote(v)) for k, v in sorted(up.base_env().items()))
        print("Up. A command in it:\n  nsenter -t %s -a env %s COMMAND\nLogs: /proc/%s/root%s\n"
              "Ctrl-C stops it." % (inside, env, inside, up.artifacts), flush=True)
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
        signal.sigwait({signal.SIGINT, signal.SIGTERM})
