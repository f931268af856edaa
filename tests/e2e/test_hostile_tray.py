#!/usr/bin/python3
"""A tray host that comes late and dies: the icon comes back each time.

One session: no tray host for the first 30 s (the utility maps nothing and keeps
running), then trayer starts and the icon docks; then trayer is killed with SIGKILL and
started again, twice. Each time the icon docks again and a click on it still opens and
closes the dashboard within 1 s.
"""

import time

from harness import holds_for, main
from hostile_support import GENEROUS_LIMIT_S, HostileCase

NO_TRAY_FOR_S = 30.0
# The utility looks for a tray host every 0.5 s until it finds one; afterwards Qt docks
# the icon again when a new host announces itself.
DOCK_BOUND_S = 2.0


class TrayHostTest(HostileCase):
    def test_hostile_tray_late_and_killed_host_the_icon_comes_back_each_time(self):
        with self.hostile_session(tray_host=False) as session:
            waited = NO_TRAY_FOR_S - (time.monotonic() - session.app.started_at)
            self.assertTrue(
                holds_for(lambda: session.app.running() and not session.visible_windows(),
                          waited, interval=0.5),
                "without a tray host the utility %s" % (
                    "mapped %s" % [str(w) for w in session.visible_windows()]
                    if session.app.running() else "exited"))

            docked = []
            for round_ in range(3):
                if round_:
                    gone = session.tray_icon()
                    session.kill_tray()
                    # Nothing of ours may be left mapped on the bare screen meanwhile.
                    self.assertTrue(
                        holds_for(lambda: session.app.running() and
                                  not session.toplevel_windows(), 1.0),
                        "after the tray host died: %s (icon was %s)"
                        % ([str(w) for w in session.toplevel_windows()], gone))
                tray = session.start_tray()
                icon = session.wait_for_icon(GENEROUS_LIMIT_S)
                elapsed = time.monotonic() - tray.started_at
                docked.append(elapsed)
                self.assertLessEqual(elapsed, DOCK_BOUND_S,
                                     "round %d: the icon docked %.2f s after trayer started"
                                     % (round_, elapsed))
                tray_windows = {w.id for w in session.visible_windows(tray.pid)}
                self.assertTrue(tray_windows & set(session.ancestors(icon)),
                                "round %d: icon %s is not inside the new tray host"
                                % (round_, icon))
                self.click_open(session)
                self.click_close(session)
                self.click_open(session)
                self.click_close(session, outside=True)
            session.artifacts.joinpath("dock-times.txt").write_text(
                "".join("%.3f\n" % t for t in docked))


if __name__ == "__main__":
    main()
