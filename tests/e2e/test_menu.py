#!/usr/bin/python3
"""Acceptance of the settings menu and its commands in the running utility.

The dashboard's gear button ("设置") pops up "关于 Korvanta", "提供反馈…", a separator
and "退出状态栏"; the tray icon's context menu (right click) holds "打开面板", a
separator and the same entries. About shows one 340 × 250 window, centred, however often
it is chosen; closing it leaves the utility running, and About shows the same window
again. Quit ends the process with status 0, also while the low-disk prompt is open.

Xvfb runs no window manager, so the About window is closed the way a window manager's
close button closes it: with a WM_DELETE_WINDOW message (harness.request_close).
"""

import datetime
import subprocess
import time

from harness import (DASHBOARD_SIZE, PROMPT_SIZE, AtspiActor, E2ETestCase, SmallVolume,
                     accessible_texts, click_accessible, find_accessible, holds_for, main,
                     open_dashboard, record_prompt_day, request_close, wait_until)

GENEROUS_LIMIT_S = 15.0
ABOUT_SIZE = (340, 250)
# Quit: the process is gone this soon after the command.
QUIT_BOUND_S = 2.0
SETTINGS_ENTRIES = [("menu item", "关于 Korvanta"), ("menu item", "提供反馈…"),
                    ("separator", ""), ("menu item", "退出状态栏")]
TRAY_ENTRIES = [("menu item", "打开面板"), ("separator", "")] + SETTINGS_ENTRIES


def entries(menu):
    return [(child["role"], child["name"]) for child in menu["children"]]


class MenuCase(E2ETestCase):
    def open_settings_menu(self, session):
        """Opens the dashboard and its gear menu; returns the menu's accessible node."""
        popup, node, _ = open_dashboard(session, GENEROUS_LIMIT_S)
        self.assertEqual((popup.width, popup.height), DASHBOARD_SIZE)
        mark = session.event_mark()
        click_accessible(session, find_accessible(node, "设置", "push button"))
        return session.wait_for_accessible(lambda n: n["role"] == "popup menu",
                                           GENEROUS_LIMIT_S, since=mark)

    def open_tray_menu(self, session):
        mark = session.event_mark()
        session.click(*session.tray_icon().center, button=3)
        return session.wait_for_accessible(lambda n: n["role"] == "popup menu",
                                           GENEROUS_LIMIT_S, since=mark)

    def about_windows(self, session):
        return [w for w in session.toplevel_windows() if (w.width, w.height) == ABOUT_SIZE]

    def choose_about(self, session):
        menu = self.open_settings_menu(session)
        mark = session.event_mark()
        click_accessible(session, find_accessible(menu, "关于 Korvanta", "menu item"))
        windows = wait_until(lambda: self.about_windows(session), GENEROUS_LIMIT_S,
                             "the About window")[0]
        self.assertEqual(len(windows), 1, "About windows: %s" % [str(w) for w in windows])
        about = windows[0]
        width, height = session.screen
        self.assertTrue(abs(about.x + about.width / 2 - width / 2) <= 1 and
                        abs(about.y + about.height / 2 - height / 2) <= 1,
                        "About window %s is not centred on the %dx%d screen"
                        % (about, width, height))
        return about, mark

    def assert_quits(self, session, what):
        start = time.monotonic()
        try:
            status = session.app.popen.wait(GENEROUS_LIMIT_S)
        except subprocess.TimeoutExpired:
            self.fail("the utility still runs %.0f s after %s" % (GENEROUS_LIMIT_S, what))
        elapsed = time.monotonic() - start
        self.assertEqual(status, 0, "the utility ended with status %s after %s" % (status, what))
        self.assertLessEqual(elapsed, QUIT_BOUND_S,
                             "the utility took %.2f s to end after %s" % (elapsed, what))


class SettingsMenuTest(MenuCase):
    def test_gear_and_tray_menus_hold_the_entries_in_order(self):
        with self.session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            menu = self.open_settings_menu(session)
            self.assertEqual(entries(menu), SETTINGS_ENTRIES)
            for child in menu["children"]:
                if child["role"] == "menu item":
                    self.assertIn("enabled", child["states"], child["name"])
                    self.assertNotIn("\t", child["name"], "an entry shows a shortcut")
            # Escape closes the menu, then a click elsewhere the dashboard.
            session._x("xdotool", "key", "Escape")
            wait_until(lambda: len(session.toplevel_windows()) == 1, GENEROUS_LIMIT_S,
                       "the menu to close")
            session.click_outside()
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            self.assertTrue(holds_for(lambda: not session.toplevel_windows(), 0.6))

            tray_menu = self.open_tray_menu(session)
            self.assertEqual(entries(tray_menu), TRAY_ENTRIES)
            # 打开面板 opens the dashboard.
            click_accessible(session, find_accessible(tray_menu, "打开面板", "menu item"))
            popup = session.wait_for_popup(GENEROUS_LIMIT_S, size=DASHBOARD_SIZE)
            self.assertTrue(session.app.running(), popup)


class AboutWindowTest(MenuCase):
    def test_about_shows_one_window_that_survives_closing(self):
        with self.session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            about, mark = self.choose_about(session)
            node = session.wait_for_accessible(
                lambda n: n.get("extents") == [about.x, about.y, about.width, about.height],
                GENEROUS_LIMIT_S, since=mark)
            texts = accessible_texts(node)
            self.assertIn("Korvanta 菜单", texts)
            self.assertTrue(any(t.startswith("版本 ") for t in texts), texts)
            session.wait_painted(about)
            session.screenshot(session.artifacts / "about.png", about)

            # Chosen again while it is shown: still one window, the same one.
            again, _ = self.choose_about(session)
            self.assertEqual(again.id, about.id)
            self.assertEqual(len(self.about_windows(session)), 1)

            request_close(session, about)
            wait_until(lambda: not self.about_windows(session), GENEROUS_LIMIT_S,
                       "the About window to close")
            self.assertTrue(holds_for(session.app.running, 1.0),
                            "closing the About window ended the utility")
            session._x("xdotool", "key", "Escape")  # closes a dashboard still open, if any
            session.click_outside()
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            self.assertTrue(holds_for(lambda: not session.toplevel_windows(), 0.6))

            # About shows the window again, centred (choose_about), one of it. Closing
            # lets Qt drop the native window, so the X window id may be a new one.
            self.choose_about(session)


class QuitTest(MenuCase):
    def test_quit_from_the_settings_menu(self):
        with self.session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            menu = self.open_settings_menu(session)
            click_accessible(session, find_accessible(menu, "退出状态栏", "menu item"))
            self.assert_quits(session, "退出状态栏 was chosen")

    def test_quit_while_the_low_disk_prompt_is_open(self):
        with SmallVolume(64 << 20) as volume:
            if volume.path is None:
                self.skipTest("no small volume for HOME: %s" % volume.reason)
            # Today is recorded: no prompt at launch.
            with self.session(extra_env={"HOME": str(volume.path)}) as session:
                session.wait_for_icon(GENEROUS_LIMIT_S)
                actor = AtspiActor(session)
                # The actor learns the tray menu's entries while the menu is shown.
                self.assertEqual(entries(self.open_tray_menu(session)), TRAY_ENTRIES)
                session._x("xdotool", "key", "Escape")
                session.wait_for_no_popup(GENEROUS_LIMIT_S)
                # Let the double-click interval of the right click pass.
                self.assertTrue(holds_for(lambda: not session.toplevel_windows(), 0.6))

                # The prompt falls due; a click shows it.
                yesterday = datetime.date.today() - datetime.timedelta(days=1)
                record_prompt_day(session, yesterday.isoformat())
                session.click_icon()
                session.wait_for_popup(GENEROUS_LIMIT_S, size=PROMPT_SIZE)

                # Under XEmbed a click anywhere outside the prompt, the icon included, only
                # closes it (its pointer grab takes the click): the command is given
                # through AT-SPI's action interface while the prompt stays open.
                answer = actor.press("menu item", "退出状态栏")
                self.assertTrue(answer["done"], "the Quit entry could not be pressed: %s"
                                % answer)
                self.assert_quits(session, "退出状态栏 was pressed with the prompt open")


if __name__ == "__main__":
    main()
