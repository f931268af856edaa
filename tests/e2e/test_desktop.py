#!/usr/bin/python3
"""The utility as a user meets it, in one session with trayer: the icon and its dashboard,
the figures against this machine's own, About and Quit, English, the launched
program's environment, the low-disk prompt, SIGTERM, a killed instance, no network socket."""

import contextlib
import os
import re
import signal
from pathlib import Path

from harness import DASHBOARD, E2ECase, center, find, main, wait_until

ABOUT = (340, 250)

FIGURE = re.compile(r"^可用: (\d+(?:\.\d+)?) (字节|kB|MB|GB|TB|PB)$")
UNITS = ["字节", "kB", "MB", "GB", "TB", "PB"]
SLACK = 64 << 20  # what other programs may take or give back between two samples
CJK = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")


def card(tree, position):
    """The texts of the dashboard's card at ``position`` (volume, memory, battery, CPU)."""
    panel = find(tree, "panel")[position]
    return [panel["name"]] + [n["name"] for n in find(panel, "label") if n["name"]]


class DesktopTest(E2ECase):
    def setUp(self):
        # Every case starts from a utility in the default environment with nothing open.
        session = self.session
        if not session.app.running() or session.app_extra_env or session.small_home \
                or session.popups():
            session.start_app()
        self.icon = session.wait_icon()

    def launch_by(self, action):
        """The stand-in's launch (its "args" and "env") that ``action`` brings about."""
        count = len(self.session.korvanta_launches())
        action()
        return self.session.wait_korvanta_launch(count)

    def open_dashboard(self):
        popup = self.session.open_dashboard()
        return popup, self.session.accessible(popup)

    def press(self, tree, role, name):
        self.session.click(*center(find(tree, role, name)[0]))

    def gear_menu(self):
        shown = self.session.popups(DASHBOARD)
        self.press(self.session.accessible(shown[0]) if shown else self.open_dashboard()[1],
                   "push button", "设置")
        return self.session.accessible(role="popup menu")

    def test_icon_click_toggles_the_dashboard_below_the_icon(self):
        session, icon = self.session, self.icon
        popup, _ = self.open_dashboard()
        self.assert_at_icon(popup, icon)
        session.click(*icon.center)
        session.wait_closed()
        # Not a click on the icon within 0.4 s of the one that closed it: that would be taken
        # for the same click (some hosts pass it on to the icon as well). The tray menu opens.
        session.click_icon(button=3)
        self.press(session.accessible(role="popup menu"), "menu item", "打开面板")
        self.assertEqual(session.wait_popup(DASHBOARD).center, popup.center)
        session.click_outside()
        session.wait_closed()
        self.assertEqual(session.icons(), [icon])

    def test_figures_are_this_machines_and_no_network_socket_is_open(self):
        session, samples = self.session, []
        popup, _ = self.open_dashboard()

        def sample():  # this machine's free memory and HOME volume's free space, at every look
            stats = os.statvfs(session.home)
            samples.append((int(re.search(r"^MemAvailable: +(\d+) kB$", Path(
                "/proc/meminfo").read_text(), re.M)[1]) * 1024, stats.f_bavail * stats.f_frsize))

        # Once the new total shows, every figure comes from a pass after the first sample, and
        # the samples go on until they are read: the pass lies among them.
        sample()
        session.write_history(5_000_000_000)
        wait_until(lambda: sample() or find(session.accessible(popup), "push button",
                                            "已累计清理 5.00 GB 垃圾"), "the new total")
        tree = wait_until(lambda: sample() or (t := session.accessible(popup)) and re.match(
            r"^加载: \d+%$", (card(t, 3) + [""] * 3)[2]) and t, "the CPU load (a second pass)")
        sample()
        for texts, column, base in ((card(tree, 0), 1, 1000), (card(tree, 1), 0, 1024)):
            number, unit = FIGURE.match(texts[2]).groups()
            scale = base ** UNITS.index(unit)
            low, high = min(s[column] for s in samples), max(s[column] for s in samples)
            self.assertTrue(low - 0.005 * scale - SLACK <= float(number) * scale
                            <= high + 0.005 * scale + SLACK,
                            "%s shows %s; this machine had %d..%d" % (texts[0], texts[2], low,
                                                                       high))

        sockets, pid = set(), session.app.pid
        for fd in Path("/proc/%d/fd" % pid).iterdir():
            with contextlib.suppress(OSError):  # closed meanwhile
                sockets |= set(re.findall(r"^socket:\[(\d+)\]$", os.readlink(fd)))
        with open("/proc/%d/net/unix" % pid) as table:
            unix = {row.split()[6] for row in table.read().splitlines()[1:]}
        self.assertTrue(sockets, "no socket at all: not even X's")
        self.assertEqual(sockets - unix, set(), "sockets other than Unix domain ones")
        session.escape()

    def test_gear_menu_an_untitled_about_window_and_quit(self):
        session = self.session
        self.press(self.gear_menu(), "menu item", "关于 Korvanta")
        about = session.wait_popup(ABOUT)
        names = session.x("xprop", "-id", str(about.id), "WM_NAME", "_NET_WM_NAME")
        for line in names.splitlines():
            self.assertTrue("not found" in line or line.partition("=")[2].strip() in ("", '""'),
                            "the About window has a title:\n%s" % names)
        # Known to the desktop's switcher and taskbar all the same: our icon and our entry.
        identity = session.x("xprop", "-id", str(about.id), "WM_CLASS", "_NET_WM_ICON")
        self.assertIn('"KorvantaMenuBar"', identity.partition("WM_CLASS")[2].splitlines()[0])
        self.assertRegex(identity, r"_NET_WM_ICON\(CARDINAL\) = .*\d")
        self.press(self.gear_menu(), "menu item", "退出状态栏")
        self.assertEqual(session.app.wait(), 0)

    # An English user's Wayland session with XWayland: Chinese is every other case's language,
    # any other one gets English, all of it. The utility picks X11 for itself, not for
    # Korvanta, and passes on the X time of the click that asked for it.
    def test_english_wayland_session_korvanta_in_its_environment_in_front(self):
        self.session.start_app({"WAYLAND_DISPLAY": "wayland-kmb-none", "QT_QPA_PLATFORM": "",
                                "LANG": "en_US.UTF-8"})
        _, tree = self.open_dashboard()
        names = [n["name"] for n in find(tree)]
        self.assertIn("Click to open Korvanta", names)
        self.assertEqual([n for n in names if CJK.search(n)], [])
        environment = self.launch_by(lambda: self.press(tree, "push button", "Korvanta"))["env"]
        self.assertNotIn("QT_QPA_PLATFORM", environment)
        self.assertRegex(environment.get("DESKTOP_STARTUP_ID", ""), r"_TIME[1-9]\d*$")
        self.assertNotIn("XDG_ACTIVATION_TOKEN", environment)

    def test_due_low_disk_prompt_at_the_icon_records_the_day(self):
        session = self.session
        session.settings_path.unlink(missing_ok=True)  # never shown: due on a small volume
        session.start_app(day=False, small_home=True)
        self.assert_at_icon(session.wait_prompt(), session.wait_icon())
        session.escape()

    def test_a_killed_instance_does_not_block_the_next_which_sigterm_ends_cleanly(self):
        session = self.session
        os.kill(session.app.pid, signal.SIGKILL)  # leaves its lock file behind
        session.app.wait()
        session.start_app()
        self.open_dashboard()
        self.assertEqual(len(session.icons()), 1)
        os.kill(session.app.pid, signal.SIGTERM)
        self.assertEqual(session.app.wait(), 0)
        self.assertEqual(session.windows(), [])
        self.assertFalse((session.runtime_dir / "korvanta-menubar.lock").exists())
        with self.assertRaises(ProcessLookupError, msg="processes of the utility are left"):
            os.killpg(session.app.pid, 0)

if __name__ == "__main__":
    main()
