#!/usr/bin/python3
"""Tray hosts that come after the utility, or never: trayer (XEmbed), and a
StatusNotifierItem watcher with a host (status-notifier-watcher, gtk-sni-tray-standalone),
whose watcher then restarts; on both, a click over the open dashboard when the low-disk
prompt has fallen due. Without any, notifications stand in for the tray until one comes; the
notification server is the test's own (notification_server.py)."""

import json
import os
import select
import subprocess

from harness import (APP_SERVICE, DASHBOARD, HERE, LIMIT_S, PYTHON, SNI_WATCHER, E2ECase, GLib,
                     WaitTimeout, center, find, main, today, wait_until)

NO_TRAY = "未找到系统托盘，无法显示状态栏图标。在 GNOME 上可启用 AppIndicator 扩展。"
HINT = "启动 Korvanta 移除不需要的项目并恢复空间。"


class TrayHostsTest(E2ECase):
    session_options = {"tray_host": None, "app": False}

    @classmethod
    def prepare(cls, session):
        session.install_korvanta()

    def tearDown(self):
        super().tearDown()
        self.session.stop_app()
        self.session.stop_tray_hosts()

    def start_before_host(self, **options):
        session = self.session
        session.start_app(**options)
        wait_until(lambda: session.check_alive() or session.bus_has(APP_SERVICE),
                   "the utility to come up")
        self.assertEqual(session.windows(), [], "a window showed without a tray host")

    def registered_items(self):
        try:
            return self.session.call(SNI_WATCHER, "/StatusNotifierWatcher",
                                     "org.freedesktop.DBus.Properties", "Get", "(ss)",
                                     (SNI_WATCHER, "RegisteredStatusNotifierItems"))[0]
        except GLib.Error:  # no watcher
            return []

    def test_xembed_host_started_late(self):
        session = self.session
        self.start_before_host()
        session.start_trayer()
        session.open_dashboard()
        session.click_outside()
        session.wait_closed()

    def test_sni_host_started_late_and_watcher_restart(self):
        session, launched = self.session, len(self.session.korvanta_launches())
        self.start_before_host()
        session.start_sni()
        wait_until(self.registered_items, "the item registered with the watcher")
        popup = session.open_dashboard()
        self.assertTrue(popup.right <= session.screen[0] and popup.bottom <= session.screen[1])
        session.click_icon()
        session.wait_closed()

        session.sni[0].stop()
        wait_until(lambda: not session.bus_has(SNI_WATCHER), "the watcher to leave the bus")
        session.sni[0] = session.spawn("sni-watcher", ["status-notifier-watcher"])
        wait_until(lambda: len(self.registered_items()) == 1, "the item registered again")
        # The host's activation token goes on to Korvanta, once. The dashboard comes from a
        # second launch: a click on the icon this soon after the one that closed it would be
        # taken for that same click.
        item = self.registered_items()[0].split("/")[0]
        session.call(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                     "ProvideXdgActivationToken", "(s)", ("host-token-1",))
        for count, token in enumerate(("host-token-1", None), launched):
            self.assertEqual(session.run_again(), 0)
            tree = session.accessible(session.wait_popup(DASHBOARD))
            session.click(*center(find(tree, "push button", "Korvanta")[0]))
            launch = session.wait_korvanta_launch(count)
            self.assertEqual(launch["env"].get("XDG_ACTIVATION_TOKEN"), token)
            session.wait_closed(DASHBOARD)

    def test_icon_click_over_the_open_dashboard_shows_the_due_prompt(self):
        session = self.session
        for host in (session.start_trayer, session.start_sni):
            with self.subTest(host.__name__):
                session.stop_tray_hosts()
                self.start_before_host(small_home=True)  # today recorded: no prompt
                host()
                session.open_dashboard()
                session.write_day(today(-1))
                session.click_icon()
                session.wait_prompt()

    # The host activates the item on the press: the dashboard shows while the button is still
    # down and the host's implicit grab keeps the popup's own grab from being taken until the
    # release. The outside click comes once the popup holds the grab, as a person's would.
    def test_sni_click_held_down_leaves_a_dashboard_an_outside_click_closes(self):
        session = self.session
        self.start_before_host()
        session.start_sni()
        icon = session.wait_icon()
        session.click(*icon.center, release=False)
        session.wait_popup(DASHBOARD)
        session.click(*icon.center, press=False)
        session.click_outside()
        session.wait_closed()

    # -- no tray host at all: ten seconds after launch, notifications stand in ---------------

    def start_notification_server(self):
        self.server = self.session.spawn(
            "notifications", [PYTHON, str(HERE / "notification_server.py")],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(self.server.stop)
        self.calls, self.buffer = [], b""
        self.assertEqual(self.next_call()["call"], "owned")
        self.calls.clear()

    def next_call(self, timeout=LIMIT_S + 10):
        fd = self.server.popen.stdout.fileno()
        while b"\n" not in self.buffer:
            if not select.select([fd], [], [], timeout)[0]:
                raise WaitTimeout("no call reached the notification server")
            self.buffer += os.read(fd, 1 << 16)
        line, self.buffer = self.buffer.split(b"\n", 1)
        self.calls.append(json.loads(line))
        return self.calls[-1]

    def invoke(self, notification, action="default"):
        self.server.popen.stdin.write(("%d %s\n" % (notification["id"], action)).encode())
        self.server.popen.stdin.flush()

    def test_notifications_stand_in_for_the_tray_until_one_comes(self):
        session, launched = self.session, len(self.session.korvanta_launches())
        self.start_notification_server()
        session.write_day(today(-1))
        session.start_app(day=False, small_home=True)
        no_tray = self.next_call()  # then the due warning as another
        self.assertEqual((no_tray["call"], no_tray["summary"], no_tray["body"]),
                         ("Notify", "Korvanta", NO_TRAY))
        self.assertEqual(no_tray["actions"], ["default", "打开面板"])
        self.assertEqual(no_tray["hints"]["desktop-entry"], "com.korvanta.KorvantaMenuBar")
        warning = self.next_call()
        lines = warning["body"].split("\n")
        self.assertEqual((warning["summary"], lines[0]), ("磁盘空间快用完了！", HINT))
        self.assertRegex(lines[2], r"^可用： \d+\.\d\d GB$")
        self.assertEqual((warning["actions"], warning["hints"]["urgency"]),
                         (["default", "打开 Korvanta"], 1))
        self.assertEqual(session.recorded_day(), today())

        self.invoke(warning)
        self.assertEqual(session.wait_korvanta_launch(launched)["args"], [])
        self.invoke(no_tray)
        dashboard = session.wait_popup(DASHBOARD)
        # No tray to hang from: the right end of the top of the screen's work area.
        self.assertEqual((dashboard.right, dashboard.y), (session.screen[0], 0))
        session.escape()
        # Launched again, the running utility opens its dashboard there too.
        self.assertEqual(session.run_again(), 0)
        session.wait_popup(DASHBOARD)
        session.escape()

        session.start_trayer()
        session.wait_icon()
        closed = {self.next_call()["id"], self.next_call()["id"]}
        self.assertEqual(closed, {no_tray["id"], warning["id"]})
        self.assertEqual([c["call"] for c in self.calls[-2:]], ["CloseNotification"] * 2)

    def test_the_warning_comes_once_a_day(self):
        session = self.session
        self.start_notification_server()
        session.start_app(small_home=True)  # today recorded: not due
        self.assertEqual(self.next_call()["body"], NO_TRAY)
        # The second launch's dashboard comes after every check the first notification
        # started: nothing followed it.
        self.assertEqual(session.run_again(), 0)
        session.wait_popup(DASHBOARD)
        self.assertRaises(WaitTimeout, self.next_call, timeout=0)
        self.assertEqual(len(self.calls), 1)
        wait_until(lambda: session.recorded_day() == today(), "the day left as it was")

    def test_nothing_blocks_without_a_notification_server(self):
        app = self.session.start_app()
        wait_until(lambda: "no notification service" in app.log_path.read_text(),
                   "the log line about the missing server", timeout=LIMIT_S + 10)
        self.assertEqual(self.session.run_again(), 0)
        self.session.wait_popup(DASHBOARD)
        self.session.escape()


if __name__ == "__main__":
    main()
