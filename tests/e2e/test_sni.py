#!/usr/bin/python3
"""The StatusNotifierItem tray path, with real programs instead of trayer:
``status-notifier-watcher`` (the registry of items) and ``gtk-sni-tray-standalone`` (a
host that draws the registered items in a bar along the top edge and their menus over
dbusmenu), both headless in Xvfb.

The host starts 3 s after the utility, as on a desktop whose panel comes up late. Then:
the item is registered and drawn; a left click on it opens the dashboard; the first
entry of its context menu (drawn by the host, so it is read from the host's own
accessible tree) opens the dashboard; and when the watcher is restarted, the utility's
item is listed again within a few seconds.
"""

import re
import time

from harness import (DASHBOARD_SIZE, E2ETestCase, activate_accessible, accessible_nodes,
                     application_trees, main, registered_status_notifier_items,
                     start_status_notifier_host, start_status_notifier_watcher,
                     status_notifier_items_of, wait_until)

GENEROUS_LIMIT_S = 20.0
HOST_DELAY_S = 3.0
# From the host's start to our item drawn in it, and from the watcher's restart to our
# item listed again.
ITEM_SHOWN_BOUND_S = 6.0
RELISTED_BOUND_S = 6.0
HOST = "gtk-sni-tray-standalone"
MENU_ENTRIES = ["打开面板", "关于 Korvanta", "提供反馈…", "退出状态栏"]


def host_icons(session):
    """The icons the host draws, left to right, as accessible nodes with extents."""
    icons = []
    for tree in application_trees(session, HOST):
        icons += [n for n in accessible_nodes(tree)
                  if n["role"] == "icon" and "showing" in n["states"]
                  and n["extents"] and n["extents"][2] > 0]
    return sorted(icons, key=lambda n: n["extents"][0])


def host_menu_items(session):
    items = []
    for tree in application_trees(session, HOST):
        items += [n for n in accessible_nodes(tree)
                  if n["role"] == "menu item" and "showing" in n["states"]]
    return items


class StatusNotifierTest(E2ETestCase):
    def our_item_listed(self, session):
        return status_notifier_items_of(session, session.app.pid)

    def start_host_late(self, session):
        """Starts the watcher now and the host 3 s after the utility; waits until our item
        is drawn; returns the watcher and the rightmost icon (a freshly registered item may
        be drawn twice for a moment; ours is the newest, packed at the end)."""
        watcher = start_status_notifier_watcher(session)
        end = session.app.started_at + HOST_DELAY_S
        while time.monotonic() < end:
            self.assertTrue(session.app.running(), "the utility exited")
            time.sleep(0.05)
        # No tray host yet: the utility has put up nothing.
        self.assertEqual(session.visible_windows(), [])
        self.assertEqual(self.our_item_listed(session), [])
        start_status_notifier_host(session)
        started = time.monotonic()
        wait_until(lambda: self.our_item_listed(session), GENEROUS_LIMIT_S,
                   "our item in the watcher's RegisteredStatusNotifierItems")
        icon = wait_until(lambda: host_icons(session), GENEROUS_LIMIT_S,
                          "the host to draw an icon")[0][-1]
        x, y, width, height = icon["extents"]
        session.wait_painted((x, y, width, height), GENEROUS_LIMIT_S, colors=8)
        elapsed = time.monotonic() - started
        self.assertLessEqual(elapsed, ITEM_SHOWN_BOUND_S,
                             "our item was drawn %.1f s after the host started" % elapsed)
        return watcher, icon

    def test_item_appears_when_the_host_starts_late_and_a_click_opens_the_dashboard(self):
        with self.session(tray_host=False) as session:
            _, icon = self.start_host_late(session)
            x, y, width, height = icon["extents"]
            session.screenshot(session.artifacts / "sni-tray.png",
                               (max(0, x - 40), 0, min(session.screen[0], x + width + 40)
                                - max(0, x - 40), y + height + 4))
            # The host draws our own picture: mostly the icon's blue, not the bar's black.
            colours = session.pixel_colors((x, y, width, height))
            self.assertTrue(any(self.bluish(c) for c in colours), sorted(colours)[:20])

            session.click(x + width // 2, y + height // 2)
            popup = session.wait_for_popup(GENEROUS_LIMIT_S, size=DASHBOARD_SIZE)
            # The host gives no geometry: the popup opens at the click, on screen.
            self.assertTrue(popup.x <= x + width // 2 < popup.right + 1, popup)
            self.assertTrue(0 <= popup.y - (y + height // 2) <= 8, popup)
            session.screenshot(session.artifacts / "sni-dashboard.png")
            # A second click closes it, and it stays closed.
            session.click(x + width // 2, y + height // 2)
            session.wait_for_no_popup(GENEROUS_LIMIT_S)

    @staticmethod
    def bluish(colour):
        red, green, blue = (int(colour[i:i + 2], 16) for i in (1, 3, 5))
        return blue > 150 and blue > red + 60

    def test_first_entry_of_the_context_menu_opens_the_dashboard(self):
        with self.session(tray_host=False) as session:
            _, icon = self.start_host_late(session)
            x, y, width, height = icon["extents"]
            session.click(x + width // 2, y + height // 2, button=3)
            items = wait_until(lambda: host_menu_items(session), GENEROUS_LIMIT_S,
                               "the host to show the item's menu")[0]
            self.assertEqual([i["name"] for i in items], MENU_ENTRIES)
            session.screenshot(session.artifacts / "sni-menu.png")
            # Pick the first entry as a user does, with a click on it.
            ix, iy, iwidth, iheight = items[0]["extents"]
            session.click(ix + iwidth // 2, iy + iheight // 2)
            session.wait_for_popup(GENEROUS_LIMIT_S, size=DASHBOARD_SIZE)
            wait_until(lambda: not host_menu_items(session), GENEROUS_LIMIT_S,
                       "the host's menu to close")

            # Closed again, the entry also works through the host's accessible action, as
            # a screen reader user picks it.
            session.click_outside()
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            session.click(x + width // 2, y + height // 2, button=3)
            wait_until(lambda: host_menu_items(session), GENEROUS_LIMIT_S, "the menu again")
            self.assertTrue(activate_accessible(session, HOST, "menu item", MENU_ENTRIES[0]))
            session.wait_for_popup(GENEROUS_LIMIT_S, size=DASHBOARD_SIZE)

    def test_item_is_listed_again_after_the_watcher_restarts(self):
        with self.session(tray_host=False) as session:
            watcher, _ = self.start_host_late(session)
            watcher.stop()
            wait_until(lambda: registered_status_notifier_items(session) is None,
                       GENEROUS_LIMIT_S, "the watcher to leave the bus")
            restarted = start_status_notifier_watcher(session)
            listed = wait_until(lambda: self.our_item_listed(session), GENEROUS_LIMIT_S,
                                "our item to be listed by the new watcher")[0]
            elapsed = time.monotonic() - restarted.ready_at
            self.assertLessEqual(elapsed, RELISTED_BOUND_S,
                                 "our item was listed %.1f s after the watcher came back"
                                 % elapsed)
            self.assertEqual(len(listed), 1, listed)
            self.assertTrue(re.match(r"^[:\w.-]+(/.*)?$", listed[0]), listed)
            self.assertTrue(session.app.running())


if __name__ == "__main__":
    main()
