#!/usr/bin/python3
"""The low-disk prompt, with HOME on a 64 MiB tmpfs of the session's own (needs root, as
CI is): shown by itself after launch when not shown today, not again the same day, and
shown instead of the dashboard whenever it falls due while the utility runs (the day
recorded in the settings file turns to yesterday): on a click over the open dashboard, from
the tray menu's "打开面板" and on a second launch. A fresh utility for each case."""

from harness import (DASHBOARD, PROMPT, E2ECase, FileOpens, center, find, main, today,
                     wait_until)

# The first check runs 0.8 s after launch; a refresh pass reading the history file at
# least 1.5 s after the first one (the second, 2 s on) comes after it.
AFTER_FIRST_CHECK_S = 1.5


class LowDiskTest(E2ECase):
    session_options = {"app": False}

    wants_small_volume = True

    def setUp(self):
        if self.volume is None:
            self.skipTest("no tmpfs of our own for HOME (not root)")
        self.session.write_history(1_000_000_000)  # its opens mark the refresh passes

    def start(self, day, past_first_check=False):
        """A fresh utility with ``day`` recorded (None: no settings file)."""
        session = self.session
        if day is None:
            session.settings_path.unlink(missing_ok=True)
        else:
            session.write_day(day)
        opens = FileOpens(session.history_path)
        try:
            session.start_app({"HOME": str(self.volume)}, day=False)
            icon = session.wait_icon()
            if past_first_check:
                opens.wait_pass_after(AFTER_FIRST_CHECK_S, "the second refresh pass")
        finally:
            opens.close()
        return icon

    def wait_prompt(self):
        prompt = self.session.wait_popup(PROMPT)
        self.assertEqual(self.session.popups(DASHBOARD), [])
        wait_until(lambda: self.session.recorded_day() == today(), "today in the settings")
        return prompt

    def dismiss(self):
        self.session.keys("Escape")
        self.session.wait_closed()

    def test_prompt_after_launch_once_a_day(self):
        session = self.session
        icon = self.start(None)
        prompt = self.wait_prompt()
        self.assertTrue(0 <= prompt.y - icon.bottom <= 8 and
                        prompt.x <= icon.center[0] < prompt.right,
                        "prompt %s is not below icon %s" % (prompt, icon))
        ignore = find(session.accessible(prompt), "push button", "忽略")
        session.click(*center(ignore[0]))
        session.wait_closed()
        # Launched again the same day: past the first check nothing showed, and a click
        # opens the dashboard.
        self.start(today(), past_first_check=True)
        self.assertEqual(session.popups(), [])
        session.click_icon()
        session.wait_popup(DASHBOARD)
        self.assertEqual(session.recorded_day(), today())

    def test_icon_click_over_the_open_dashboard_shows_the_due_prompt(self):
        session = self.session
        self.start(today())
        session.click_icon()
        session.wait_popup(DASHBOARD)
        session.write_day(today(-1))
        session.click_icon()
        session.wait_closed(DASHBOARD)
        self.wait_prompt()
        self.dismiss()

    def test_tray_menu_open_dashboard_shows_the_due_prompt(self):
        session = self.session
        self.start(today(), past_first_check=True)
        session.write_day(today(-1))
        session.click_icon(button=3)
        menu = session.accessible(role="popup menu")
        session.click(*center(find(menu, "menu item", "打开面板")[0]))
        self.wait_prompt()
        self.dismiss()

    def test_second_launch_shows_the_due_prompt(self):
        session = self.session
        self.start(today(), past_first_check=True)
        session.write_day(today(-1))
        self.assertEqual(session.run_again(), 0)
        self.wait_prompt()
        self.dismiss()


if __name__ == "__main__":
    main()
