#!/usr/bin/python3
"""The utility as a user meets it, in one session with trayer: the icon and its dashboard,
the figures against this machine's own, the gear menu and its commands, the keyboard, the
languages, the low-disk prompt, a second launch, SIGTERM, and no network socket."""

import os
import re
import shlex
import signal
import subprocess
from pathlib import Path

from harness import (ABOUT, DASHBOARD, FOOTER, E2ECase, center, find, main, nodes, today,
                     wait_until)

FIGURE = re.compile(r"^可用: (\d+(?:\.\d+)?) (字节|kB|MB|GB|TB|PB)$")
UNITS = ["字节", "kB", "MB", "GB", "TB", "PB"]
SLACK = 64 << 20  # what other programs may take or give back between two samples
CHINESE = ("点击打开 Korvanta", "内存", "电池", "释放", "设置")
ENGLISH = ("Click to open Korvanta", "Memory", "Battery", "Free Up", "Settings")
# Which language a locale gives is a table of the widget tests; here, that the process
# reads it and that no text stays untranslated.
LANGUAGES = {"en_US.UTF-8": ENGLISH, "C": CHINESE}
CJK = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")


def mem_available():
    with open("/proc/meminfo") as meminfo:
        return next(int(line.split()[1]) * 1024 for line in meminfo
                    if line.startswith("MemAvailable:"))


def card(tree, position):
    """The texts of the dashboard's card at ``position`` (volume, memory, battery, CPU)."""
    panel = find(tree, "panel")[position]
    return [panel["name"]] + [n["name"] for n in find(panel, "label") if n["name"]]


def volume_name(path):
    """What the volume card is titled: the volume's label, else the system's name for the root
    filesystem, else the last component of the mount point."""
    target, _, label = subprocess.run(["findmnt", "-n", "-o", "TARGET,LABEL", "--target",
                                       str(path)], capture_output=True, text=True,
                                      check=True).stdout.strip().partition(" ")
    if label.strip():
        return label.strip()
    releases = [r for r in (Path("/etc/os-release"), Path("/usr/lib/os-release")) if r.is_file()]
    if target == "/" and releases:
        names = [shlex.split(line[5:]) for line in releases[0].read_text().splitlines()
                 if line.startswith("NAME=")]
        return " ".join(names[-1]) if names else "Linux"
    return Path(target).name


class DesktopTest(E2ECase):
    @classmethod
    def prepare(cls, session):
        session.install_korvanta()

    def setUp(self):
        # Every case starts from a utility in the default environment with nothing open.
        session = self.session
        if not session.app.running() or session.app_extra_env or session.small_home \
                or session.popups():
            session.start_app()
        self.icon = session.wait_icon()

    def launches(self):
        return self.session.korvanta_launches()

    def wait_launch(self, count):
        return self.session.wait_korvanta_launch(count)["args"]

    def open_dashboard(self):
        popup = self.session.open_dashboard()
        return popup, self.session.accessible(popup)

    def footer(self, popup):
        """The names of the dashboard's footer (the cleaned total)."""
        return [n["name"] for n in find(self.session.accessible(popup), "push button",
                                        prefix=FOOTER.partition("%")[0])]

    def gear_menu(self):
        shown = self.session.popups(DASHBOARD)
        tree = self.session.accessible(shown[0]) if shown else self.open_dashboard()[1]
        self.session.click(*center(find(tree, "push button", "设置")[0]))
        return self.session.accessible(role="popup menu")

    def choose(self, entry):
        menu = self.gear_menu()
        self.session.click(*center(find(menu, "menu item", entry)[0]))

    def test_icon_click_toggles_the_dashboard_below_the_icon(self):
        session, icon = self.session, self.icon
        popup, _ = self.open_dashboard()
        self.assert_at_icon(popup, icon)
        session.click(*icon.center)
        session.wait_closed()
        # Not a click on the icon within 0.4 s of the one that closed it: that would be taken
        # for the same click (some hosts pass it on to the icon as well). The tray menu opens.
        session.tray_menu("打开面板")
        self.assertEqual(session.wait_popup(DASHBOARD).center, popup.center)
        session.click_outside()
        session.wait_closed()
        # At once after an outside click: a click on the icon is a click of its own.
        session.click(*icon.center)
        session.wait_popup(DASHBOARD)
        session.escape()
        self.assertEqual(session.icons(), [icon])

    def test_figures_are_this_machines_and_no_network_socket_is_open(self):
        session, samples = self.session, []

        def sample():  # this machine's free memory and free space of HOME's volume
            stats = os.statvfs(session.home)
            samples.append((mem_available(), stats.f_bavail * stats.f_frsize))
        popup, _ = self.open_dashboard()
        # The figures of a pass after our first sample: one that read the history written
        # then. Read again once it shows: every figure read then comes from that pass or later.
        sample()
        session.write_history(5_000_000_000)
        wait_until(lambda: sample() or self.footer(popup) == [FOOTER % "5.00 GB"],
                   "the new total on the dashboard")

        def loaded():  # the CPU load needs a second pass
            sample()
            tree = session.accessible(popup)
            return re.match(r"^加载: \d+%$", (card(tree, 3) + [""] * 3)[2]) and tree
        tree = wait_until(loaded, "the CPU load on the dashboard")
        sample()
        volume, memory, battery = card(tree, 0), card(tree, 1), card(tree, 2)
        self.assertEqual(volume[:2], [volume_name(session.home)] * 2)
        for texts, column, base in ((volume, 1, 1000), (memory, 0, 1024)):
            number, unit = FIGURE.match(texts[2]).groups()
            scale = base ** UNITS.index(unit)
            low, high = min(s[column] for s in samples), max(s[column] for s in samples)
            shown, tolerance = float(number) * scale, 0.005 * scale + SLACK
            self.assertTrue(low - tolerance <= shown <= high + tolerance,
                            "%s shows %s; this machine had %d..%d" % (texts[0], texts[2], low,
                                                                       high))
        supplies = Path("/sys/class/power_supply")
        if not any((s / "type").read_text().strip() in ("Battery", "UPS")
                   for s in (supplies.iterdir() if supplies.is_dir() else ())):
            self.assertEqual(battery, ["电池", "电池", "不可用", "\u2014"])
        else:
            self.assertRegex(battery[3], r"^\d{1,3}%$")
        session.write_history(1_234_567_890_123)
        wait_until(lambda: self.footer(popup) == [FOOTER % "1.23 TB"], "the rewritten total")

        sockets = set()
        for fd in os.listdir("/proc/%d/fd" % session.app.pid):
            try:
                link = os.readlink("/proc/%d/fd/%s" % (session.app.pid, fd))
            except OSError:  # closed meanwhile
                continue
            sockets |= {int(n) for n in re.findall(r"^socket:\[(\d+)\]$", link)}
        with open("/proc/%d/net/unix" % session.app.pid) as table:
            unix = {int(row.split()[6]) for row in table.read().splitlines()[1:]}
        self.assertTrue(sockets, "no socket at all: not even X's")
        self.assertEqual(sockets - unix, set(), "sockets other than Unix domain ones")
        self.session.escape()

    def test_gear_menu_and_one_untitled_about_window(self):
        session = self.session
        menu = self.gear_menu()
        self.assertEqual([(n["role"], n["name"]) for n in menu["children"]],
                         [("menu item", "关于 Korvanta"), ("menu item", "提供反馈…"),
                          ("separator", ""), ("menu item", "退出状态栏")])
        session.click(*center(find(menu, "menu item", "关于 Korvanta")[0]))
        about = session.wait_popup(ABOUT)
        names = session.x("xprop", "-id", str(about.id), "WM_NAME", "_NET_WM_NAME")
        for line in names.splitlines():
            self.assertTrue("not found" in line or line.partition("=")[2].strip() in ("", '""'),
                            "the About window has a title:\n%s" % names)
        # Known to the desktop's switcher and taskbar all the same: our icon and our entry.
        identity = session.x("xprop", "-id", str(about.id), "WM_CLASS", "_NET_WM_ICON")
        self.assertIn('"KorvantaMenuBar"', identity.partition("WM_CLASS")[2].splitlines()[0])
        self.assertRegex(identity, r"_NET_WM_ICON\(CARDINAL\) = .*\d")
        self.choose("关于 Korvanta")
        self.assertEqual(session.wait_popup(ABOUT), about, "a second About window")
        session.close_window(about)
        session.wait_closed(ABOUT)
        self.assertEqual(session.icons(), [self.icon])
        if session.popups(DASHBOARD):
            self.session.escape()

    def test_feedback_header_and_quit(self):
        session, count = self.session, len(self.launches())
        self.choose("提供反馈…")
        self.assertEqual(self.wait_launch(count), ["--show-feedback"])
        self.assertEqual(session.popups(DASHBOARD), [])
        _, tree = self.open_dashboard()
        session.click(*center(find(tree, "push button", "Korvanta")[0]))
        self.assertEqual(self.wait_launch(count + 1), [])
        session.wait_closed(DASHBOARD)
        self.choose("退出状态栏")
        self.assertEqual(session.app.wait(), 0)

    def test_korvanta_starts_in_the_sessions_environment_in_front(self):
        # A Wayland session with XWayland: the utility picks X11 for itself, not for Korvanta,
        # and passes on the X time of the click that asked for it.
        session, count = self.session, len(self.launches())
        session.start_app({"WAYLAND_DISPLAY": "wayland-kmb-none", "QT_QPA_PLATFORM": ""})
        _, tree = self.open_dashboard()
        session.click(*center(find(tree, "push button", "Korvanta")[0]))
        environment = session.wait_korvanta_launch(count)["env"]
        self.assertNotIn("QT_QPA_PLATFORM", environment)
        self.assertRegex(environment.get("DESKTOP_STARTUP_ID", ""), r"_TIME[1-9]\d*$")
        self.assertNotIn("XDG_ACTIVATION_TOKEN", environment)

    def test_keyboard_tab_return_and_escape(self):
        session, count = self.session, len(self.launches())
        popup, _ = self.open_dashboard()

        def focus(prefix):
            session.keys("Tab")
            wait_until(lambda: [n["name"][:len(prefix)] for n in nodes(session.accessible(popup))
                                if "focused" in n["states"] and n["role"] == "push button"]
                       == [prefix], "Tab to " + prefix)
        for prefix in ("Korvanta", "释放", "释放", "已累计清理 ", "设置", "Korvanta", "释放"):
            focus(prefix)
        session.keys("Return")  # the volume card's 释放 opens Korvanta
        self.assertEqual(self.wait_launch(count), [])
        session.wait_closed(DASHBOARD)
        self.open_dashboard()
        self.session.escape()

    def test_languages(self):
        for language, (hint, memory, battery, free_up, settings) in LANGUAGES.items():
            with self.subTest(language=language):
                self.session.start_app({"LANG": language})
                self.icon = self.session.wait_icon()
                _, tree = self.open_dashboard()
                names = [n["name"] for n in find(tree)]
                self.assertIn(hint, names)
                self.assertEqual([n["name"] for n in find(tree, "panel")][1:],
                                 [memory, battery, "CPU"])
                self.assertEqual([n["name"] for n in find(tree, "push button", free_up)] +
                                 [n["name"] for n in find(tree, "push button", settings)],
                                 [free_up, free_up, settings])
                if hint == ENGLISH[0]:
                    self.assertEqual([n for n in names if CJK.search(n)], [])
                self.session.escape()

    def test_low_disk_prompt_at_the_icon_once_a_day(self):
        session = self.session
        session.settings_path.unlink(missing_ok=True)  # never shown: due on a small volume
        session.start_app(day=False, small_home=True)
        self.assert_at_icon(session.wait_prompt(), session.wait_icon())
        session.escape()
        # Launched again the same day: a click opens the dashboard (a due prompt would come
        # instead, and a prompt the first check showed would be what the click closes).
        session.start_app(day=False, small_home=True)
        session.open_dashboard()
        self.assertEqual(session.recorded_day(), today())
        session.escape()

    def test_second_launch_opens_the_running_dashboard(self):
        self.assertEqual(self.session.run_again(), 0)
        self.session.wait_popup(DASHBOARD)
        self.assertEqual(self.session.icons(), [self.icon])
        self.session.escape()

    def test_sigterm_ends_the_utility_cleanly(self):
        session = self.session
        self.open_dashboard()
        os.kill(session.app.pid, signal.SIGTERM)
        self.assertEqual(session.app.wait(), 0)
        self.assertEqual(session.windows(), [])
        self.assertFalse((session.runtime_dir / "korvanta-menubar.lock").exists())
        with self.assertRaises(ProcessLookupError, msg="processes of the utility are left"):
            os.killpg(session.app.pid, 0)

    def test_a_killed_instance_does_not_block_the_next(self):
        os.kill(self.session.app.pid, signal.SIGKILL)  # leaves its lock file behind
        self.session.app.wait()
        self.session.start_app()
        self.session.wait_icon()
        self.assertEqual(len(self.session.icons()), 1)


if __name__ == "__main__":
    main()
