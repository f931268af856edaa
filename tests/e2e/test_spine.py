#!/usr/bin/python3
"""Acceptance of the foundation: the tray icon docks, a click toggles the dashboard popup.

Each case runs the real korvanta-menubar in its own Xvfb with trayer as the tray host
(see harness.py). Bounds that the requirements state (icon docked within 2 s, popup
within 1 s) are polled with a generous limit and then asserted, so a slow run reports
the time it took instead of a bare time-out.
"""

import time
from pathlib import Path

from harness import (E2ETestCase, accessible_texts, holds_for, main, wait_until)

DOCK_BOUND_S = 2.0
POPUP_BOUND_S = 1.0
GENEROUS_LIMIT_S = 15.0
# Long enough to see a popup that reopens by mistake: beyond the utility's 400 ms window
# in which the click that closed a popup must not reopen it, plus a repaint.
STAYS_CLOSED_S = 1.2
POPUP_SIZE = (420, 384)
# Largest gap between the icon's bottom edge and the popup's top edge that still reads
# as "hanging below the icon".
MAX_GAP_BELOW_ICON = 8


def machine_has_battery():
    supplies = Path("/sys/class/power_supply")
    if not supplies.is_dir():
        return False
    for supply in supplies.iterdir():
        try:
            if (supply / "type").read_text().strip() == "Battery":
                return True
        except OSError:
            continue
    return False


class SpineCase(E2ETestCase):
    def wait_docked(self, session, since, what):
        """Waits for the icon; asserts it docked within the bound counted from ``since``."""
        icon = session.wait_for_icon(GENEROUS_LIMIT_S)
        elapsed = time.monotonic() - since
        self.assertLessEqual(
            elapsed, DOCK_BOUND_S,
            "the icon docked %.2f s after %s; the bound is %.1f s (the harness polls "
            "every 50 ms, so the true time may be up to that much shorter)"
            % (elapsed, what, DOCK_BOUND_S))
        return icon

    def open_popup(self, session):
        """Clicks the icon; asserts that the popup maps within the bound; returns it."""
        icon = session.click_icon()
        clicked = time.monotonic()
        popup = session.wait_for_popup(GENEROUS_LIMIT_S)
        elapsed = time.monotonic() - clicked
        self.assertLessEqual(
            elapsed, POPUP_BOUND_S,
            "the popup mapped %.2f s after the click; the bound is %.1f s (xdotool's "
            "click and the 50 ms polling are included)" % (elapsed, POPUP_BOUND_S))
        return icon, popup

    def assert_stays_closed(self, session, icon):
        self.assertTrue(
            holds_for(lambda: not session.toplevel_windows() and session.app.running(),
                      STAYS_CLOSED_S),
            "the popup reopened (or the utility exited) within %.1f s after it closed: %s"
            % (STAYS_CLOSED_S, session.toplevel_windows()))
        self.assertEqual(session.tray_icon(), icon, "the tray icon moved or went away")


class TrayIconTest(SpineCase):
    def test_icon_docks_within_bound_and_no_other_window_maps(self):
        with self.session() as session:
            icon = self.wait_docked(session, session.app.started_at, "the utility started")
            tree = session.window_tree()
            tray_windows = {w.id for w in session.visible_windows(session.tray.pid)}
            self.assertTrue(
                tray_windows & set(session.ancestors(icon, tree)),
                "icon %s is not inside a window of the tray host (%s)"
                % (icon, sorted(hex(w) for w in tray_windows)))
            self.assertTrue(0 < icon.width <= 64 and 0 < icon.height <= 64,
                            "implausible icon size: %s" % icon)
            # Nothing but the icon may map, also shortly after it docked.
            self.assertTrue(
                holds_for(lambda: session.visible_windows() == [icon], 1.0),
                "windows of the utility besides the tray icon: %s"
                % [str(w) for w in session.visible_windows() if w != icon])
            session.screenshot(session.artifacts / "docked.png")

    def test_icon_docks_when_tray_host_starts_late(self):
        with self.session(tray_host=False) as session:
            # Without a tray host the utility waits: it maps nothing and keeps running.
            self.assertTrue(
                holds_for(lambda: session.app.running() and not session.visible_windows(),
                          3.0),
                "before a tray host existed the utility %s"
                % ("mapped %s" % [str(w) for w in session.visible_windows()]
                   if session.app.running() else "exited"))
            tray = session.start_tray()
            icon = self.wait_docked(session, tray.started_at, "trayer was started")
            self.assertEqual(session.toplevel_windows(), [],
                             "a window besides the icon mapped")
            _, popup = self.open_popup(session)
            self.assertEqual((popup.width, popup.height), POPUP_SIZE)


class DashboardPopupTest(SpineCase):
    def test_click_opens_popup_below_icon_and_second_click_closes_it(self):
        with self.session() as session:
            self.wait_docked(session, session.app.started_at, "the utility started")
            icon, popup = self.open_popup(session)
            self.assertEqual((popup.width, popup.height), POPUP_SIZE, "popup %s" % popup)
            gap = popup.y - icon.bottom
            self.assertTrue(
                0 <= gap <= MAX_GAP_BELOW_ICON,
                "popup %s does not hang below icon %s (gap %d px)" % (popup, icon, gap))
            self.assertTrue(popup.x <= icon.center[0] < popup.right,
                            "popup %s is not under icon %s" % (popup, icon))
            width, height = session.screen
            self.assertTrue(popup.x >= 0 and popup.right <= width and popup.bottom <= height,
                            "popup %s leaves the %dx%d screen" % (popup, width, height))
            session.wait_painted(popup)
            session.screenshot(session.artifacts / "popup-open.png")

            session.click_icon()
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            self.assert_stays_closed(session, icon)

            # Closing left nothing stuck: the next click opens it again, in the same place.
            _, again = self.open_popup(session)
            self.assertEqual(again.geometry, popup.geometry)

    def test_click_outside_closes_popup_and_process_keeps_running(self):
        with self.session() as session:
            self.wait_docked(session, session.app.started_at, "the utility started")
            icon, popup = self.open_popup(session)
            point = session.click_outside()
            self.assertFalse(popup.contains(*point))
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            self.assert_stays_closed(session, icon)
            self.assertTrue(session.app.running(), "the utility exited after the popup closed")

            _, again = self.open_popup(session)
            self.assertEqual(again.geometry, popup.geometry)


class AccessibilityTest(SpineCase):
    def test_popup_texts_are_readable_through_atspi(self):
        with self.session() as session:
            self.wait_docked(session, session.app.started_at, "the utility started")
            mark = session.event_mark()
            _, popup = self.open_popup(session)
            geometry = [popup.x, popup.y, popup.width, popup.height]
            # Qt keeps popups out of the application's children: the popup is caught from
            # its showing event. Matching its extents to the X window pins the right one.
            node = session.wait_for_accessible(lambda n: n.get("extents") == geometry,
                                               GENEROUS_LIMIT_S, since=mark)
            self.assertEqual(node["name"], "Korvanta")
            self.assertIn("showing", node["states"])

            texts = [t for t in accessible_texts(node) if t != "Korvanta"]
            self.assertTrue(any(t.strip() for t in texts),
                            "the popup exposes no text besides its name: %s" % node)
            if not machine_has_battery():
                self.assertTrue(any("不可用" in t for t in texts),
                                "no battery here, yet no text reads 不可用: %s" % texts)

            # A fresh read while it is open finds it again; once closed it is gone.
            self.assertIn("Korvanta", [n["name"] for n in session.accessible_snapshot()])
            session.click_outside()
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            wait_until(lambda: "Korvanta" not in
                       [n["name"] for n in session.accessible_snapshot()],
                       GENEROUS_LIMIT_S, "the closed popup to leave the accessible tree")


if __name__ == "__main__":
    main()
