#!/usr/bin/python3
"""The dashboard and the low-disk prompt at the tray icon on real desktops: the same cases
for each desktop of desktops.DESKTOPS. ``--platform=xcb|wayland`` forces the utility's Qt
platform, which it otherwise chooses itself."""

import sys
import unittest

import desktops
import harness
from harness import DASHBOARD, E2ECase, wait_until

NEAR = 40  # px from the icon to the popup's edge nearest the panel, and from the tray end


class DesktopCases:
    desktop, platform = None, None

    @classmethod
    def setUpClass(cls):
        if cls.desktop.missing():
            raise unittest.SkipTest("%s: not installed: %s" % (
                cls.desktop.name, ", ".join(cls.desktop.missing())))
        cls.session = cls.desktop(harness._options.binary, harness._options.artifacts,
                                  cls.platform).__enter__()
        cls.volume = cls.session.small_volume()

    def assert_below_icon(self, popup, icon, at_tray_end=False):
        """The popup's edge nearest the panel lies within NEAR px of the icon, on the side
        away from the panel; across, it spans the icon's centre (unless it touches the
        screen's edge), or with ``at_tray_end`` ends at the screen's right end."""
        width = self.session.screen[0]
        gap = popup.y - icon.bottom if self.session.edge == "top" else icon.y - popup.bottom
        if at_tray_end:
            across = width - NEAR <= popup.right <= width
        else:
            across = popup.x <= icon.center[0] < popup.right or popup.x <= 0 or popup.right >= width
        self.assertTrue(0 <= gap <= NEAR and across, "%s: %s, icon %s" % (
            "not at the tray end" if at_tray_end else "not at the icon", popup, icon))

    def test_click_opens_the_dashboard_at_the_icon_a_click_elsewhere_closes_it(self):
        session = self.session
        session.start_app()
        icon = session.wait_icon()
        session.click_route(icon)
        dashboard = session.wait_popup(DASHBOARD)
        self.assert_below_icon(dashboard, icon)
        spot = session.empty_spot(dashboard)
        session.wait(lambda: session.ready_for_outside_click(spot),
                     "the dashboard to hold the keyboard focus or the pointer grab")
        session.click(*spot)
        wait_until(lambda: not session.popups(DASHBOARD),
                   "the dashboard to close after a click on the desktop", timeout=2.0)

    def test_tray_menu_opens_the_dashboard_at_the_tray_end(self):
        session = self.session
        session.start_app()
        icon = session.wait_icon()
        session.open_tray_menu(icon)
        session.choose_first_menu_entry()  # "打开面板"
        self.assert_below_icon(session.wait_popup(DASHBOARD), icon, at_tray_end=True)

    def test_due_prompt_opens_by_itself_at_the_tray_end(self):
        if self.volume is None:
            self.skipTest("no tmpfs of our own for HOME")
        session = self.session
        session.settings_path.unlink(missing_ok=True)  # never shown: due on a small volume
        session.start_app({"HOME": str(self.volume)}, day=False)
        self.assert_below_icon(session.wait_prompt(), session.wait_icon(), at_tray_end=True)


for _option in [a for a in sys.argv if a.startswith("--platform=")]:
    sys.argv.remove(_option)
    DesktopCases.platform = _option.partition("=")[2]
for _desktop in desktops.DESKTOPS.values():
    _name = _desktop.__name__ + "Test"
    globals()[_name] = type(_name, (DesktopCases, E2ECase), {"desktop": _desktop})

if __name__ == "__main__":
    desktops.enter_namespaces()
    harness.main()
