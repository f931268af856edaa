#!/usr/bin/python3
"""How the process benchmark adds up a window's counters over threads that come and go."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
import process  # noqa: E402


class WindowTotalsTest(unittest.TestCase):
    def test_threads_that_come_and_go(self):
        cases = [
            ("a thread that lived through the window counts its increase",
             {"1": (100, 10, 1)}, {"1": (250, 14, 2)}, (150, 4, 1)),
            ("a thread that began in the window counts from zero",
             {"1": (100, 10, 1)}, {"1": (100, 10, 1), "7": (40, 3, 0)}, (40, 3, 0)),
            # Its last reading stays in `latest`: what it did before that still counts, and
            # what it had done before the window is not taken off anyone else's figure.
            ("a thread that ended in the window counts up to its last reading",
             {"1": (100, 10, 1), "9": (5_000, 900, 50)},
             {"1": (130, 11, 1), "9": (5_200, 903, 50)}, (230, 4, 0)),
            ("nothing happened", {"1": (1, 1, 1)}, {"1": (1, 1, 1)}, (0, 0, 0)),
        ]
        for what, start, latest, expected in cases:
            with self.subTest(what):
                self.assertEqual(process.window_totals(start, latest), expected)

    def test_a_pool_thread_ending_never_makes_a_figure_negative(self):
        # Read at the start and at the end only, the ended thread's 900 switches would be
        # taken off the survivors' 4.
        start = {"1": (100, 10, 1), "9": (5_000, 900, 50)}
        readings = [{"1": (120, 12, 1), "9": (5_100, 902, 50)}, {"1": (130, 14, 1)}]
        latest = dict(start)
        for reading in readings:
            latest.update(reading)
        cpu_ns, voluntary, involuntary = process.window_totals(start, latest)
        self.assertEqual((cpu_ns, voluntary, involuntary), (130, 6, 0))


if __name__ == "__main__":
    unittest.main()
