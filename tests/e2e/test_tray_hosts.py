#!/usr/bin/python3
"""Tray hosts that come after the utility: trayer (XEmbed), and a StatusNotifierItem
watcher with a host (status-notifier-watcher, gtk-sni-tray-standalone), whose watcher
then restarts; and, on both, a click over the open dashboard when the low-disk prompt has
fallen due."""

from harness import (APP_SERVICE, DASHBOARD, SNI_WATCHER, E2ECase, GLib, center, find, main,
                     today, wait_until)


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
        session = self.session
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
        for count, token in enumerate(("host-token-1", None)):
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


if __name__ == "__main__":
    main()
