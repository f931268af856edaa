#!/usr/bin/python3
"""Tray hosts that come after the utility, or never: trayer (XEmbed), and a
StatusNotifierItem watcher and host, whose watcher then restarts. Without any, notifications
stand in for the tray until one comes."""

from harness import (DASHBOARD, LIMIT_S, SNI_WATCHER, E2ECase, Gio, GLib, center, find, main,
                     today, wait_until)

NO_TRAY = "未找到系统托盘，无法显示状态栏图标。在 GNOME 上可启用 AppIndicator 扩展。"
HINT = "启动 Korvanta 移除不需要的项目并恢复空间。"
APP_SERVICE = "com.korvanta.KorvantaMenuBar"
NOTIFICATIONS = "org.freedesktop.Notifications"
SERVER = Gio.DBusNodeInfo.new_for_xml("""<node><interface name="%s">
<method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/><arg type="s"/>
<arg type="as"/><arg type="a{sv}"/><arg type="i"/><arg type="u" direction="out"/></method>
<method name="CloseNotification"><arg type="u"/></method></interface></node>"""
                                      % NOTIFICATIONS).interfaces[0]


class TrayHostsTest(E2ECase):
    session_options = {"tray_host": None, "app": False}

    def tearDown(self):
        super().tearDown()
        self.session.stop_app()
        self.session.stop_tray_hosts()

    def start_before_host(self, **options):
        self.session.start_app(**options)
        self.session.wait(lambda: self.session.bus_has(APP_SERVICE), "the utility to come up")
        self.assertEqual(self.session.windows(), [], "a window showed without a tray host")

    def registered_items(self):
        try:
            return self.session.call(SNI_WATCHER, "/StatusNotifierWatcher",
                                     "org.freedesktop.DBus.Properties", "Get", "(ss)",
                                     (SNI_WATCHER, "RegisteredStatusNotifierItems"))[0]
        except GLib.Error:  # no watcher
            return []

    # The host activates the item on the press: the dashboard shows while the button is still
    # down and the host's implicit grab keeps the popup's own grab from being taken until the
    # release. The outside click comes once the popup holds the grab, as a person's would.
    def test_sni_held_click_then_watcher_restart_and_the_hosts_activation_token(self):
        session, launched = self.session, len(self.session.korvanta_launches())
        self.start_before_host()
        session.start_sni()
        icon = session.wait_icon()
        session.click(*icon.center, release=False)
        session.wait_popup(DASHBOARD)
        session.click(*icon.center, press=False)
        session.click_outside()
        session.wait_closed()

        session.sni[0].stop()
        wait_until(lambda: not session.bus_has(SNI_WATCHER), "the watcher to leave the bus")
        session.sni[0] = session.spawn("sni-watcher", ["status-notifier-watcher"])
        wait_until(lambda: len(self.registered_items()) == 1, "the item registered again")
        # The host's activation token goes on to Korvanta, once.
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

    # Each host started after the utility, whose icon then works. The popup's own outside
    # press and the host's click meet: the click that closes the dashboard must bring the
    # prompt that fell due.
    def test_late_host_icon_click_over_the_open_dashboard_shows_the_due_prompt(self):
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

    # -- no tray host: notifications stand in, shown by a server of the test's own ------------

    def on_notification_call(self, bus, sender, path, interface, method, parameters, call):
        self.calls.append((method, parameters.unpack()))  # a Notify's id: its place, from 1
        call.return_value(GLib.Variant("(u)", (len(self.calls),)) if method == "Notify" else None)

    def notification_calls(self, count):
        """The first ``count`` calls, once made (they are answered while waiting only)."""
        def answered():
            while GLib.MainContext.default().iteration(False):
                pass
            return len(self.calls) >= count
        wait_until(answered, "%d calls on the notification server" % count, LIMIT_S + 10)
        return self.calls[:count]

    def invoke(self, notification_id):
        self.session.bus().emit_signal(None, "/org/freedesktop/Notifications", NOTIFICATIONS,
                                       "ActionInvoked", GLib.Variant("(us)", (notification_id,
                                                                              "default")))

    def test_notifications_stand_in_for_the_tray_until_one_comes(self):
        session, launched = self.session, len(self.session.korvanta_launches())
        bus, self.calls = session.bus(), []
        self.addCleanup(bus.unregister_object, bus.register_object(
            "/org/freedesktop/Notifications", SERVER, self.on_notification_call))
        dbus = ("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus")
        self.assertEqual(session.call(*dbus, "RequestName", "(su)", (NOTIFICATIONS, 4)),
                         (1,))  # the primary owner
        self.addCleanup(session.call, *dbus, "ReleaseName", "(s)", (NOTIFICATIONS,))
        session.write_day(today(-1))
        session.start_app(day=False, small_home=True)
        (first, no_tray), (second, warning) = self.notification_calls(2)  # 10 s after launch
        self.assertEqual((first, second), ("Notify", "Notify"))
        # (app, replaces, icon, summary, body, actions, hints, timeout)
        self.assertEqual(no_tray[3:6], ("Korvanta", NO_TRAY, ["default", "打开面板"]))
        self.assertEqual(no_tray[6]["desktop-entry"], "com.korvanta.KorvantaMenuBar")
        summary, body, actions, hints = warning[3:7]
        self.assertEqual((summary, body.split("\n")[0], actions, hints["urgency"]),
                         ("磁盘空间快用完了！", HINT, ["default", "打开 Korvanta"], 1))
        self.assertRegex(body.split("\n")[2], r"^可用： \d+\.\d\d GB$")
        self.assertEqual(session.recorded_day(), today())

        self.invoke(2)  # the warning
        self.assertEqual(session.wait_korvanta_launch(launched)["args"], [])
        self.invoke(1)
        dashboard = session.wait_popup(DASHBOARD)
        # No tray to hang from: the right end of the top of the screen's work area.
        self.assertEqual((dashboard.right, dashboard.y), (session.screen[0], 0))
        session.escape()

        session.start_trayer()
        session.wait_icon()
        self.assertEqual(sorted(self.notification_calls(4)[2:]),
                         [("CloseNotification", (1,)), ("CloseNotification", (2,))])

    def test_nothing_blocks_without_a_notification_server(self):
        app = self.session.start_app()
        wait_until(lambda: "no notification service" in app.log_path.read_text(),
                   "the log line about the missing server", timeout=LIMIT_S + 10)
        self.assertEqual(self.session.run_again(), 0)
        self.session.wait_popup(DASHBOARD)
        self.session.escape()


if __name__ == "__main__":
    main()
