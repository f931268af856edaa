#!/usr/bin/python3
"""One utility per session: a second launch hands over to the running one and leaves.

The real utility in Xvfb with trayer; the second launch runs in the same session
(display, session bus, XDG_RUNTIME_DIR). It must exit with status 0 within a second,
the running instance must open its dashboard, and the tray must never hold a second
icon of ours. Without a session bus the second launch cannot reach the first, but the
lock file in XDG_RUNTIME_DIR still keeps it from putting up an icon of its own.
"""

import os
import signal

from harness import (DASHBOARD_SIZE, E2ETestCase, embedded_icons, holds_for, main,
                     run_utility_again, wait_until)

GENEROUS_LIMIT_S = 15.0
EXIT_BOUND_S = 1.0
# Long enough for a second instance that wrongly stayed to find the tray and dock.
NO_SECOND_ICON_S = 2.5
UNREACHABLE_BUS = "unix:path=/nonexistent/kmb-e2e-no-bus"


class SingleInstanceTest(E2ETestCase):
    def assert_left_quickly(self, result, seconds):
        self.assertEqual(result.returncode, 0,
                         "the second launch exited with %s: %s"
                         % (result.returncode, result.stderr.decode(errors="replace")))
        self.assertLessEqual(seconds, EXIT_BOUND_S,
                             "the second launch took %.2f s to exit; the bound is %.1f s"
                             % (seconds, EXIT_BOUND_S))

    def assert_one_icon(self, session, icon):
        self.assertTrue(
            holds_for(lambda: embedded_icons(session) == [icon], NO_SECOND_ICON_S),
            "the tray holds %s instead of just %s" % ([str(w) for w in embedded_icons(session)],
                                                      icon))

    def test_second_launch_exits_and_opens_the_running_dashboard(self):
        with self.session() as session:
            icon = session.wait_for_icon(GENEROUS_LIMIT_S)
            self.assertEqual(embedded_icons(session), [icon])

            result, seconds = run_utility_again(session)
            self.assert_left_quickly(result, seconds)
            popup = session.wait_for_popup(GENEROUS_LIMIT_S, size=DASHBOARD_SIZE)
            # The running instance's own dashboard, under its icon.
            self.assertIn(popup, session.toplevel_windows())
            self.assertTrue(popup.x <= icon.center[0] < popup.right, "%s / %s" % (popup, icon))
            self.assert_one_icon(session, icon)

            # Once more while the dashboard is open: it stays open, still one icon.
            result, seconds = run_utility_again(session)
            self.assert_left_quickly(result, seconds)
            self.assertTrue(holds_for(lambda: session.toplevel_windows() == [popup], 1.0),
                            "the open dashboard did not stay as it was: %s"
                            % session.toplevel_windows())
            self.assert_one_icon(session, icon)
            self.assertTrue(session.app.running())

    def test_without_a_session_bus_the_lock_file_still_prevents_a_second_icon(self):
        with self.session() as session:
            icon = session.wait_for_icon(GENEROUS_LIMIT_S)
            locks = list(session.runtime_dir.glob("*.lock"))
            self.assertTrue(locks, "no lock file in XDG_RUNTIME_DIR %s" % session.runtime_dir)

            result, seconds = run_utility_again(
                session, {"DBUS_SESSION_BUS_ADDRESS": UNREACHABLE_BUS})
            self.assert_left_quickly(result, seconds)
            self.assert_one_icon(session, icon)
            # It could not ask the first instance: nothing opened there.
            self.assertEqual(session.toplevel_windows(), [])
            self.assertTrue(session.app.running())

    def test_a_crashed_instance_does_not_block_the_next(self):
        with self.session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            first = session.app
            os.killpg(first.pid, signal.SIGKILL)
            first.popen.wait(GENEROUS_LIMIT_S)
            self.assertTrue(list(session.runtime_dir.glob("*.lock")),
                            "a killed instance left no lock file to test with")
            wait_until(lambda: not embedded_icons(session), GENEROUS_LIMIT_S,
                       "the killed instance's icon to go")
            # The lock names a process that is gone: it does not count.
            session.start_app()
            icon = session.wait_for_icon(GENEROUS_LIMIT_S)
            self.assertNotEqual(session.app.pid, first.pid)
            self.assert_one_icon(session, icon)
            result, seconds = run_utility_again(session)
            self.assert_left_quickly(result, seconds)
            session.wait_for_popup(GENEROUS_LIMIT_S, size=DASHBOARD_SIZE)


if __name__ == "__main__":
    main()
