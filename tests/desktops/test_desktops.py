#!/usr/bin/python3
"""The dashboard and the prompt at the icon on GNOME, Plasma (Wayland) and Xfce, headless."""

import json
import os
import shlex
import shutil
import socket
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "e2e"))
from harness import (DASHBOARD, SNI_WATCHER, E2ECase, GLib, HarnessError, Session,  # noqa: E402
                     Window, main, wait_until)

NAMESPACED = "KMB_DESKTOPS_NAMESPACED"  # the pid of the unshare process, once inside
APPINDICATOR = "ubuntu-appindicators@ubuntu.com"
EMPTY_SPOTS = ((200, 500), (1000, 600))  # bare desktop on every desktop here, off the panels
NEAR = 40  # px from the icon to the popup's edge nearest the panel, and from the tray end


def enter_namespaces():
    """Runs this program again in namespaces of its own (a user one when not root), over a
    private /tmp: displays, sockets and lock files stay the desktop's; its processes die."""
    if not os.environ.get(NAMESPACED):
        # What the run needs from the old /tmp (a checkout there) is bound back into the new.
        keep = {part for p in (Path(__file__), Path.cwd(), *map(Path, sys.argv[1:]))
                if p.resolve().is_relative_to("/tmp")
                for part in p.resolve().relative_to("/tmp").parts[:1]}
        script = ('exec 3</tmp && mount -t tmpfs -o mode=1777 none /tmp && mkdir -m1777 '
                  '/tmp/.X11-unix && for k in %s; do mkdir "/tmp/$k" && mount -c --bind '
                  '"/proc/self/fd/3/$k" "/tmp/$k" || exit 1; done && exec 3<&- "$@"'
                  % " ".join(map(shlex.quote, keep)))
        os.execvpe("unshare", ["unshare", "-mnpf", "--mount-proc", "--kill-child"]
                   + ["-r"] * bool(os.geteuid()) + ["sh", "-c", script, "sh", sys.executable]
                   + sys.argv, dict(os.environ, **{NAMESPACED: str(os.getpid())}))


class Desktop(Session):
    """A desktop, the item host that start_sni brings up; the utility picks its platform."""

    name, programs, session_type, double_click, managed = "", (), "wayland", False, True

    def __init__(self, binary, artifacts=None, platform=None):
        super().__init__(binary, artifacts, self.name, tray_host="sni", accessibility=False,
                         app=False, xvfb=self.session_type == "x11")
        self.platform, self._last_icon = platform, None

    def base_env(self):
        return dict(super().base_env(), XDG_CURRENT_DESKTOP=self.current_desktop,
                    XDG_SESSION_TYPE=self.session_type)

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
        """The icon in the panel, whole and where it was at the last look (hosts slide it)."""
        last, icon = self._last_icon, self._icon_pixels()
        self._last_icon = icon
        square = icon and icon.width >= 8 and abs(icon.width - icon.height) <= 1
        return [icon] if square and icon == last else []

    def _icon_pixels(self):
        """The icon's blues (#3BA7FF to #1E5BD8) in the panel's rows, not in a tooltip's."""
        (width, height), rgb = self.screen, self.screenshot("rgb:-")
        rows = range(0, 40) if self.edge == "top" else range(height - 40, height)
        found = [(i % width, i // width) for i in range(rows.start * width, rows.stop * width)
                 if rgb[3 * i] < 90 and 70 < rgb[3 * i + 1] < 180 and rgb[3 * i + 2] > 200
                 and rgb[3 * i + 2] - rgb[3 * i + 1] > 60]
        xs, ys = [p[0] for p in found], [p[1] for p in found]
        return found and Window(0, min(xs), min(ys), max(xs) - min(xs) + 1,
                                max(ys) - min(ys) + 1, False)

    def open_tray_menu(self, icon):
        self.click(*icon.center, button=3)

    def ready_for_outside_click(self, spot):
        """Whether the popup holds the X focus or the pointer grab."""
        focus = self.x("xdotool", "getwindowfocus", "getwindowpid", check=False).strip()
        return focus == str(self.app.pid) or self.grab_held()


class Gnome(Desktop):
    """GNOME Shell 43, AppIndicator, and an extension of ours for Eval (the unsafe mode)."""

    name, double_click, current_desktop, image_format = "gnome", True, "GNOME", "png"
    programs = ("gnome-shell", "/usr/share/gnome-shell/extensions/" + APPINDICATOR)
    EXTENSION = "kmb-test@korvanta.invalid"

    def start_sni(self):
        self.replace_file(self.temp / "config/glib-2.0/settings/keyfile", (
            "[org/gnome/shell]\nenabled-extensions=['%s', '%s']\n" % (APPINDICATOR, self.EXTENSION)
        ).encode())
        extension = self.temp / "data/gnome-shell/extensions" / self.EXTENSION
        self.replace_file(extension / "metadata.json", json.dumps({
            "uuid": self.EXTENSION, "name": "t", "description": "t", "shell-version": ["43"]
        }).encode())
        self.replace_file(extension / "extension.js", b"function init() { return { enable() {"
                          b" global.context.unsafe_mode = true; }, disable() {} }; }")
        system_bus = self._start_printing("system-bus", [  # the shell needs one
            "dbus-daemon", "--session", "--nofork", "--print-address=1",
            "--address=unix:path=%s" % (self.temp / "system-bus")])
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
        """... and the shell gives presses at ``spot`` to a window of ours that covers it
        only once XWayland has drawn it."""
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


class Plasma(Desktop):
    """Plasma 5.27 on kwin_wayland's virtual output: KWin's fake input and ScreenShot2."""

    name, edge, current_desktop, image_format = "plasma", "bottom", "KDE", "bgra"
    programs = ("kwin_wayland", "plasmashell", "kded5")
    EVDEV = {"Down": 108, "Return": 28}

    def start_sni(self):
        kwin = self.temp / "kwin_wayland"  # a copy: the file capability is refused here
        shutil.copy(shutil.which("kwin_wayland"), kwin)
        self.wayland = "kmb-wayland"

        def xwayland():  # the display of the namespace's one XWayland once it answers
            log = kwin_process.log_path.read_text(errors="replace")
            if "could not connect to wayland server" in log:  # now and then, as both start
                return "gone"
            display = next(iter(self.x("pgrep", "-a", "Xwayland", check=False).split()[2:3]), "")
            return display.startswith(":") and self.x(
                "timeout", "2", "xdpyinfo", "-display", display, check=False) and display

        argv = [str(kwin), "--virtual", "--width", str(self.screen[0]), "--height",
                str(self.screen[1]), "--xwayland", "--socket", self.wayland, "--no-lockscreen",
                "--no-global-shortcuts"]
        env = dict(self.base_env(), KWIN_WAYLAND_NO_PERMISSION_CHECKS="1",
                   KWIN_SCREENSHOT_NO_PERMISSION_CHECKS="1")
        for _ in range(3):
            kwin_process = self.spawn("kwin", argv, env)
            self.display = wait_until(xwayland, "XWayland to answer or end")
            if self.display != "gone":
                break
            kwin_process.stop()
        else:
            raise HarnessError("XWayland did not reach KWin three times")
        self.wait_bus_name("org.kde.KWin")
        self.connect_fake_input()
        self.spawn("kactivitymanagerd", ["/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd"])
        self.spawn("kded5", ["kded5"])
        self.wait_bus_name("org.kde.kded5")
        self.call("org.kde.kded5", "/kded", "org.kde.kded5", "loadModule", "(s)",
                  ("statusnotifierwatcher",))
        self.wait_bus_name(SNI_WATCHER)
        self.spawn("plasmashell", ["plasmashell"], dict(self.base_env(), QT_QPA_PLATFORM="wayland"))
        self.wait_bus_name("org.kde.plasmashell")

    def screen_image(self):
        read_end, write_end = os.pipe()  # the call's descriptor list takes the write end
        with os.fdopen(read_end, "rb") as pipe:
            info = self.call("org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2",
                             "org.kde.KWin.ScreenShot2", "CaptureArea", "(iiuua{sv}h)",
                             (0, 0, self.screen[0], self.screen[1], {}, 0), fds=[write_end])[0]
            return pipe.read(info["stride"] * info["height"])

    def click(self, x, y, button=1, count=1):
        code = {1: 0x110, 2: 0x112, 3: 0x111}[button]  # BTN_LEFT, BTN_MIDDLE, BTN_RIGHT
        self.fake_input(_message(4, 9, x * 256, y * 256) + b"".join(
            _message(4, 2, code, state) for _ in range(count) for state in (1, 0)))

    def keys(self, *names):
        self.fake_input(b"".join(_message(4, 10, self.EVDEV[name], state) for name in names
                                 for state in (1, 0)))

    def connect_fake_input(self):
        """One device (object 4) for the session: clients miss events as pointers come."""
        self.wire, self._last_id = socket.socket(socket.AF_UNIX), 2
        self.wire.connect(str(self.runtime_dir / self.wayland))
        names = [struct.unpack_from("<I", body)[0] for target, body in self.fake_input(
            _message(1, 1, 2)) if target == 2 and b"org_kde_kwin_fake_input\0" in body]
        if not names:
            raise HarnessError("KWin offers no fake input")
        self._last_id = 4  # ids come in order: registry 2, its sync 3, the device 4
        self.fake_input(_message(2, 0, names[0], "org_kde_kwin_fake_input", 4, 4)
                        + _message(4, 0, "korvanta tests", "tests"))  # bind, authenticate

    def fake_input(self, requests):
        """Sends Wayland requests; returns the events (object, body) until KWin handled them."""
        self._last_id += 1
        self.wire.sendall(requests + _message(1, 0, self._last_id))  # wl_display.sync
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
            if target == self._last_id:
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

    def start_sni(self):
        channels = self.temp / "config" / "xfce4" / "xfconf" / "xfce-perchannel-xml"
        channels.mkdir(parents=True)  # the default panels, without the first start's question
        shutil.copy("/etc/xdg/xfce4/panel/default.xml", channels / "xfce4-panel.xml")
        self.spawn("xfwm4", ["xfwm4", "--compositor=off"])
        self.spawn("xfce4-panel", ["xfce4-panel"])
        self.wait_bus_name(SNI_WATCHER)

    def open_tray_menu(self, icon):
        """Right clicks until the menu holds the grab: the panel must first read ours."""
        wait_until(lambda: self.grab_held() or super(Xfce, self).open_tray_menu(icon),
                   "the tray menu to open", interval=1.0)


DESKTOPS = {desktop.name: desktop for desktop in (Gnome, Plasma, Xfce)}


class DesktopCases:  # the same cases on each desktop
    desktop = None

    @classmethod
    def make_session(cls, binary, artifacts):
        missing = [p for p in cls.desktop.programs if not (shutil.which(p) or Path(p).exists())]
        if missing:
            raise unittest.SkipTest("not installed: " + ", ".join(missing))
        return cls.desktop(binary, artifacts)

    def test_click_opens_the_dashboard_at_the_icon_a_click_elsewhere_closes_it(self):
        session = self.session
        session.start_app()
        icon = session.wait_icon()
        # A double click where the host answers a single one with its menu.
        session.click(*icon.center, count=2 if session.double_click else 1)
        dashboard = session.wait_popup(DASHBOARD)
        self.assert_at_icon(dashboard, icon, NEAR)
        if session.session_type == "wayland":  # a managed window there: out of the taskbar
            self.assertIn("_NET_WM_STATE_SKIP_TASKBAR",
                          session.x("xprop", "-id", str(dashboard.id), "_NET_WM_STATE"))
        spot = next(spot for spot in EMPTY_SPOTS if not (
            dashboard.x <= spot[0] < dashboard.right and dashboard.y <= spot[1] < dashboard.bottom))
        session.wait(lambda: session.ready_for_outside_click(spot),
                     "the dashboard to hold the keyboard focus or the pointer grab")
        session.click(*spot)
        wait_until(lambda: not session.popups(DASHBOARD),
                   "the dashboard to close after a click on the desktop")

    def test_tray_menu_opens_the_dashboard_at_the_tray_end(self):
        session = self.session
        session.start_app()
        icon = session.wait_icon()
        session.open_tray_menu(icon)
        # Its first entry, "打开面板": keys are lost before the menu is up and while a panel
        # builds it again from the layout it asks for as it opens.
        wait_until(lambda: session.popups() or session.keys("Down", "Return"),
                   "the tray menu to take the keys", interval=1.0)
        self.assert_at_icon(session.wait_popup(DASHBOARD), icon, NEAR, at_tray_end=True)

    def test_due_prompt_opens_by_itself_at_the_tray_end(self):
        session = self.session
        session.settings_path.unlink(missing_ok=True)  # never shown: due on a small volume
        session.start_app(day=False, small_home=True)
        self.assert_at_icon(session.wait_prompt(), session.wait_icon(), NEAR, at_tray_end=True)


for _desktop in DESKTOPS.values():
    _name = _desktop.__name__ + "Test"
    globals()[_name] = type(_name, (DesktopCases, E2ECase), {"desktop": _desktop})

if __name__ == "__main__":
    enter_namespaces()
    main()
