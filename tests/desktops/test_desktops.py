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
    def make_session(cls, binary, artifacts):
        if cls.desktop.missing():
            raise unittest.SkipTest("%s: not installed: %s" % (
                cls.desktop.name, ", ".join(cls.desktop.missing())))
        return cls.desktop(binary, artifacts, cls.platform)

    def test_click_opens_the_dashboard_at_the_icon_a_click_elsewhere_closes_it(self):
        session = self.session
        session.start_app()
        icon = session.wait_icon()
        session.click_route(icon)
        dashboard = session.wait_popup(DASHBOARD)
        self.assert_at_icon(dashboard, icon, NEAR)
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
        self.assert_at_icon(session.wait_popup(DASHBOARD), icon, NEAR, at_tray_end=True)

    def test_due_prompt_opens_by_itself_at_the_tray_end(self):
        session = self.session
        session.settings_path.unlink(missing_ok=True)  # never shown: due on a small volume
        session.start_app(day=False, small_home=True)
        self.assert_at_icon(session.wait_prompt(), session.wait_icon(), NEAR, at_tray_end=True)


for _option in [a for a in sys.argv if a.startswith("--platform=")]:
    sys.argv.remove(_option)
    DesktopCases.platform = _option.partition("=")[2]
for _desktop in desktops.DESKTOPS.values():
    _name = _desktop.__name__ + "Test"
    globals()[_name] = type(_name, (DesktopCases, E2ECase), {"desktop": _desktop})

if __name__ == "__main__":
    desktops.enter_namespaces()
    harness.main()
