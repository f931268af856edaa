#!/usr/bin/python3
"""Opening Korvanta through hostile desktop files, from the real utility's controls.

No Korvanta.app lies near the utility (it runs from a copy in a directory tree of the
test's own), so every request goes to the desktop-file route:
$XDG_DATA_HOME/applications/com.korvanta.Korvanta.desktop (XDG_DATA_DIRS points at an
empty directory). One session, on a nearly full home volume so that the low-disk prompt
shows first: its "打开 Korvanta" button takes the first desktop file, the dashboard's header
the others. Each click closes the popup within 1 s, the process stays alive, and the
utility logs exactly the documented line (or none, for Hidden=true and for a valid file,
whose program does run).
"""

import os
import shutil
import time

from harness import main
from hostile_support import (DASHBOARD_SIZE, GENEROUS_LIMIT_S, PROMPT_SIZE, HostileCase,
                             find_node)

SMALL_HOME = 64 << 20
DESKTOP_ID = "com.korvanta.Korvanta.desktop"
BUNDLE_ROUTE = "Failed to open Korvanta via bundle identifier: "
URL_ROUTE = "Failed to open Korvanta via URL: "
MEBIBYTE = 1 << 20
LOG_LINE_LIMIT = 1024  # longer reasons are cut there and end in "…"


def entry(*lines):
    return ("[Desktop Entry]\nType=Application\nName=Korvanta\n" + "".join(
        line + "\n" for line in lines)).encode("utf-8")


def launcher_lines(session):
    return [line for line in session.app_log().splitlines()
            if line.startswith((BUNDLE_ROUTE, URL_ROUTE))]


class DesktopFileTest(HostileCase):
    def test_hostile_desktop_files_log_the_documented_lines_and_never_hang(self):
        session = self.hostile_session(home_size=SMALL_HOME, suppress_low_disk_prompt=False)
        # The utility from a tree of our own: no Korvanta.app candidate exists beside it.
        tree = session.temp / "opt" / "a" / "b" / "c"
        tree.mkdir(parents=True)
        binary = tree / "korvanta-menubar"
        shutil.copy2(session.binary, binary)
        session.binary = binary
        empty_dirs = session.temp / "no-data-dirs"
        empty_dirs.mkdir()
        session.extra_env["XDG_DATA_DIRS"] = str(empty_dirs)
        desktop = session.data_home / "applications" / DESKTOP_ID
        desktop.parent.mkdir(parents=True)
        marker = session.temp / "korvanta-ran"
        stub = session.temp / "bin" / "korvanta-stub"
        stub.parent.mkdir()
        stub.write_text("#!/bin/sh\necho \"$#:$*\" >> %s\n" % marker)
        os.chmod(stub, 0o755)

        cases = [
            ("unbalanced quotes", entry('Exec="%s --flag' % stub),
             [BUNDLE_ROUTE + "%s: unbalanced double quote in Exec" % desktop]),
            ("NUL bytes", entry("Exec=%s" % stub, "Comment=a\0b"),
             [BUNDLE_ROUTE + "%s: desktop file contains NUL bytes" % desktop]),
            ("no Exec key", entry("Icon=korvanta"),
             [BUNDLE_ROUTE + "%s: desktop file has no Exec key" % desktop]),
            ("an Exec program name of 1 MiB", entry("Exec=" + "A" * MEBIBYTE),
             [(BUNDLE_ROUTE + "%s: Exec program %s is not in PATH"
               % (desktop, "A" * MEBIBYTE))[:LOG_LINE_LIMIT] + "\u2026"]),
            ("an Exec argument of 1 MiB", entry("Exec=%s %s" % (stub, "B" * MEBIBYTE)),
             None),  # the system refuses to start it: one line, whatever its wording
            ("Hidden=true", entry("Exec=%s" % stub, "Hidden=true"), []),
            ("a valid file", entry("Exec=%s" % stub), []),
        ]

        with session:
            prompt = session.wait_for_popup(GENEROUS_LIMIT_S)
            self.assertEqual((prompt.width, prompt.height), PROMPT_SIZE)
            node = session.wait_for_accessible(
                lambda n: n.get("extents") == [prompt.x, prompt.y, prompt.width,
                                               prompt.height], GENEROUS_LIMIT_S)
            header = None
            for index, (what, data, expected) in enumerate(cases):
                with self.subTest(case=what):
                    before = launcher_lines(session)
                    desktop.write_bytes(data)
                    if index == 0:
                        control = find_node(node, name="打开 Korvanta", role="push button")
                        self.assertIsNotNone(control, "the prompt has no 打开 Korvanta button")
                    else:
                        mark = session.event_mark()
                        popup = self.click_open(session, DASHBOARD_SIZE)
                        if header is None:
                            tree = session.wait_for_accessible(
                                lambda n: n.get("extents") == [popup.x, popup.y, popup.width,
                                                               popup.height],
                                GENEROUS_LIMIT_S, since=mark)
                            header = find_node(tree, name="Korvanta", role="push button")
                            self.assertIsNotNone(header, "the dashboard has no header button")
                        control = header
                    x, y, width, height = control["extents"]
                    session.click(x + width // 2, y + height // 2)
                    clicked = time.monotonic()
                    session.wait_for_no_popup(GENEROUS_LIMIT_S)
                    elapsed = time.monotonic() - clicked
                    self.assertLessEqual(elapsed, 1.0, "the popup closed %.2f s after the "
                                         "click on %s" % (elapsed, control["name"]))
                    # The launch runs in the click's handler: once the event loop answers
                    # the next click, whatever it logs is in the log.
                    self.click_open(session, DASHBOARD_SIZE)
                    self.click_close(session)
                    new = launcher_lines(session)[len(before):]
                    if expected is None:
                        self.assertEqual(len(new), 1, "log lines: %s" % [l[:200] for l in new])
                        self.assertTrue(new[0].startswith(BUNDLE_ROUTE), new[0][:200])
                        self.assertLessEqual(len(new[0]), LOG_LINE_LIMIT + 1)
                    else:
                        self.assertEqual(new, expected)
                    if what == "a valid file":
                        self.wait_marker(marker)
                    else:
                        self.assertFalse(marker.exists(), "Korvanta was started for %s" % what)
            self.assertTrue(session.app.running())

    def wait_marker(self, marker):
        deadline = time.monotonic() + GENEROUS_LIMIT_S
        while not marker.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(marker.exists(), "the valid desktop file's program did not run")
        self.assertEqual(marker.read_text(), "0:\n", "Korvanta got unexpected arguments")


if __name__ == "__main__":
    main()
