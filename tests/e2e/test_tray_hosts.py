#!/usr/bin/python3
"""Tray hosts that come after the utility: trayer (XEmbed), and a StatusNotifierItem
watcher with a host (status-notifier-watcher, gtk-sni-tray-standalone), whose watcher
then restarts; and, on a StatusNotifierItem host, a click over the open dashboard when
the low-disk prompt has fallen due."""

import unittest

from harness import (APP_SERVICE, DASHBOARD, PROMPT, SNI_WATCHER, E2ECase, main, today,
                     wait_until)


class TrayHostsTest(E2ECase):
    session_options = {"tray_host": None, "app": False}

    wants_small_volume = True

    def tearDown(self):
        super().tearDown()
        self.session.stop_app()
        self.session.stop_tray_hosts()

    def start_before_host(self, env=None):
        session = self.session
        session.start_app(env)
        wait_until(lambda: session.check_alive() or session.bus_has(APP_SERVICE),
                   "the utility to come up")
        self.assertEqual(session.windows(), [], "a window showed without a tray host")

    def registered_items(self):
        result = self.session.x(
            "dbus-send", "--session", "--print-reply=literal", "--dest=" + SNI_WATCHER,
            "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
            "string:" + SNI_WATCHER, "string:RegisteredStatusNotifierItems", check=False)
        return [word for word in result.split() if word not in ("variant", "array", "[", "]")]

    def test_xembed_host_started_late(self):
        session = self.session
        self.start_before_host()
        session.start_trayer()
        session.wait_icon()
        session.click_icon()
        session.wait_popup(DASHBOARD)
        session.click_outside()
        session.wait_closed()

    def test_sni_host_started_late_and_watcher_restart(self):
        session = self.session
        self.start_before_host()
        session.start_sni()
        wait_until(self.registered_items, "the item registered with the watcher")
        session.wait_icon()
        session.click_icon()
        popup = session.wait_popup(DASHBOARD)
        self.assertTrue(popup.right <= session.screen[0] and popup.bottom <= session.screen[1])
        session.click_icon()
        session.wait_closed()

        session.sni[0].stop()
        wait_until(lambda: not session.bus_has(SNI_WATCHER), "the watcher to leave the bus")
        session.sni[0] = session.spawn("sni-watcher", ["status-notifier-watcher"])
        wait_until(lambda: len(self.registered_items()) == 1, "the item registered again")

    def test_sni_click_over_the_open_dashboard_shows_the_due_prompt(self):
        if self.volume is None:
            self.skipTest("no tmpfs of our own for HOME (not root)")
        session = self.session
        self.start_before_host({"HOME": str(self.volume)})
        session.start_sni()
        session.wait_icon()
        session.click_icon()
        session.wait_popup(DASHBOARD)
        session.write_day(today(-1))
        session.click_icon()
        session.wait_closed(DASHBOARD)
        session.wait_popup(PROMPT)
        wait_until(lambda: session.recorded_day() == today(), "today in the settings")

    # The host activates the item on the press: the dashboard shows while the button is still
    # down, the host's implicit grab keeps the popup's own grab from being taken, and an
    # outside click no longer closes it. A person's click (down for 0.1 s) meets this.
    @unittest.expectedFailure
    def test_sni_click_held_down_leaves_a_dashboard_an_outside_click_closes(self):
        session = self.session
        self.start_before_host()
        session.start_sni()
        icon = session.wait_icon()
        session.click(*icon.center, release=False)
        session.wait_popup(DASHBOARD)
        session.click(*icon.center, press=False)
        session.click_outside()
        session.wait_closed(timeout=5.0)  # in milliseconds where the popup has its grab


if __name__ == "__main__":
    main()
