#!/usr/bin/python3
"""Soak (label soak, run by hand): 500 dashboard toggles, closing by a click outside and
by Esc in turn; every toggle takes effect and the utility's memory stays flat."""

from harness import DASHBOARD, E2ECase, main

TOGGLES = 500
GROWTH_LIMIT_KIB = 4096  # after a warm-up of 50 toggles


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


class SoakTest(E2ECase):
    def test_soak_500_toggles(self):
        session = self.session
        icon = session.wait_icon()
        readings = []
        for toggle in range(1, TOGGLES + 1):
            if toggle % 2:
                session.click(*icon.center)
                session.wait_popup(DASHBOARD)
            else:
                session.keys("Escape") if toggle % 4 else session.click_outside()
                session.wait_closed()
            if toggle % 50 == 0:
                readings.append(rss_kib(session.app.pid))
        report = "VmRSS every 50 toggles (KiB): %s" % readings
        (session.artifacts / "soak.txt").write_text(report + "\n")
        print(report)
        self.assertLessEqual(readings[-1] - readings[0], GROWTH_LIMIT_KIB, report)


if __name__ == "__main__":
    main()
