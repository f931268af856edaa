#!/usr/bin/python3
"""Soak (label soak, by hand): 500 dashboard toggles, closed by a click outside and by Esc in
turn; every toggle takes effect and the utility's memory stays flat after a warm-up."""

from harness import DASHBOARD, E2ECase, main


class SoakTest(E2ECase):
    def test_soak_500_toggles(self):
        session, readings = self.session, []
        icon = session.wait_icon()
        for toggle in range(1, 501):
            if toggle % 2:
                session.click(*icon.center)
                session.wait_popup(DASHBOARD)
            else:
                session.keys("Escape") if toggle % 4 else session.click_outside()
                session.wait_closed()
            if toggle % 50 == 0:
                with open("/proc/%d/status" % session.app.pid) as status:
                    readings.append(next(int(line.split()[1]) for line in status
                                         if line.startswith("VmRSS:")))
        report = "VmRSS every 50 toggles (KiB): %s" % readings
        (session.artifacts / "soak.txt").write_text(report + "\n")
        self.assertLessEqual(readings[-1] - readings[0], 4096, report)


if __name__ == "__main__":
    main()
