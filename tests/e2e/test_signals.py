#!/usr/bin/python3
"""SIGTERM and SIGINT end the real utility cleanly: exit status 0, lock file released.

Table-driven: each signal while idle, with the dashboard open, and with the low-disk
prompt open (a home volume of 64 MiB of its own makes the prompt due).
"""

import os
import signal
import subprocess
import time

from harness import main
from hostile_support import DASHBOARD_SIZE, GENEROUS_LIMIT_S, PROMPT_SIZE, HostileCase

EXIT_LIMIT_S = 5.0
LOCK_NAME = "korvanta-menubar.lock"


class SignalTest(HostileCase):
    def test_signals_end_the_utility_with_status_zero(self):
        cases = [(sig, state) for state in ("idle", "dashboard open", "prompt open")
                 for sig in (signal.SIGTERM, signal.SIGINT)]
        for sig, state in cases:
            with self.subTest(signal=sig.name, state=state):
                options = {}
                if state == "prompt open":
                    options = {"home_size": 64 << 20, "suppress_low_disk_prompt": False}
                with self.hostile_session("%s-%s" % (sig.name, state), **options) as session:
                    session.wait_for_icon(GENEROUS_LIMIT_S)
                    lock = session.runtime_dir / LOCK_NAME
                    self.assertTrue(lock.exists(), "no lock file while running")
                    if state == "dashboard open":
                        self.click_open(session, DASHBOARD_SIZE)
                    elif state == "prompt open":
                        prompt = session.wait_for_popup(GENEROUS_LIMIT_S)
                        self.assertEqual((prompt.width, prompt.height), PROMPT_SIZE)
                    os.kill(session.app.pid, sig)
                    sent = time.monotonic()
                    try:
                        status = session.app.popen.wait(EXIT_LIMIT_S)
                    except subprocess.TimeoutExpired:
                        self.fail("still running %.0f s after %s" % (EXIT_LIMIT_S, sig.name))
                    self.assertEqual(status, 0, "%s ended the utility with status %s"
                                     % (sig.name, status))
                    self.assertFalse(lock.exists(), "the lock file outlived the utility")
                    session.artifacts.joinpath("exit.txt").write_text(
                        "%s: status %d after %.3f s\n"
                        % (sig.name, status, time.monotonic() - sent))


if __name__ == "__main__":
    main()
