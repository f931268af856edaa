#!/usr/bin/python3
"""A desktop without a tray: the utility says so in one notification whose action opens the
dashboard, sends the due low-disk warning as a notification once a day, and once a tray
host comes, docks its icon and withdraws what it sent. The notification server is the test's
own (notification_server.py)."""

import json
import os
import select
import subprocess

from harness import (DASHBOARD, HERE, LIMIT_S, PYTHON, E2ECase, WaitTimeout, main, today,
                     wait_until)

NO_TRAY = "未找到系统托盘，无法显示状态栏图标。在 GNOME 上可启用 AppIndicator 扩展。"
HINT = "启动 Korvanta 移除不需要的项目并恢复空间。"


class NoTrayTest(E2ECase):
    session_options = {"tray_host": None, "app": False}

    @classmethod
    def prepare(cls, session):
        session.install_korvanta()

    def setUp(self):
        if self._testMethodName.endswith("_without_a_notification_server"):
            self.server = None
            return
        self.server = self.session.spawn(
            "notifications", [PYTHON, str(HERE / "notification_server.py")],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.calls, self.buffer = [], b""
        self.assertEqual(self.next_call()["call"], "owned")
        self.calls.clear()

    def tearDown(self):
        super().tearDown()
        self.session.stop_app()
        self.session.stop_tray_hosts()
        if self.server:
            self.server.stop()

    def next_call(self, timeout=LIMIT_S):
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
        session = self.session
        session.write_day(today(-1))
        session.start_app(day=False, small_home=True)
        # Ten seconds without a host: one notification, then the due warning as another.
        no_tray = self.next_call(timeout=LIMIT_S + 10)
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
        self.assertEqual(session.wait_korvanta_launch(0)["args"], [])
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
        session.start_app(small_home=True)  # today recorded: not due
        self.assertEqual(self.next_call(timeout=LIMIT_S + 10)["body"], NO_TRAY)
        # The second launch's dashboard comes after every check the first notification
        # started: nothing followed it.
        self.assertEqual(session.run_again(), 0)
        session.wait_popup(DASHBOARD)
        self.assertRaises(WaitTimeout, self.next_call, timeout=0)
        self.assertEqual(len(self.calls), 1)
        wait_until(lambda: session.recorded_day() == today(), "the day left as it was")

    def test_nothing_blocks_without_a_notification_server(self):
        session = self.session
        app = session.start_app()
        wait_until(lambda: "no notification service" in app.log_path.read_text(),
                   "the log line about the missing server", timeout=LIMIT_S + 10)
        self.assertEqual(session.run_again(), 0)
        session.wait_popup(DASHBOARD)
        session.escape()


if __name__ == "__main__":
    main()
