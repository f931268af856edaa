#!/usr/bin/python3
"""Acceptance of launching Korvanta from the running utility.

The utility looks for "Korvanta.app" relative to the directory B that holds its own
executable, first existing wins: B/MacOS/Korvanta.app, parent(B)/Korvanta.app (the
second and third candidates are both this path), parent²(B)/Korvanta.app and
parent³(B)/Korvanta.app. A file is run as is, a directory runs its AppRun. Failing that
(or when the program found is refused: not executable, writable by group or others) it
runs the Exec line of com.korvanta.Korvanta.desktop from $XDG_DATA_HOME/applications or
$XDG_DATA_DIRS/*/applications, split without a shell.

A copy of the utility runs from <tmp>/a/b/c/bin, so every candidate lies inside the
test's own tree. Korvanta is a recorder: a shell script that appends a block with its
label and its arguments, one per line, to a log file.

Controls are found through AT-SPI (their extents) and clicked with xdotool, as a user
would click them.
"""

import os
import shutil
import tempfile
import time
from pathlib import Path

from harness import (DASHBOARD_SIZE, PROMPT_SIZE, E2ETestCase, SmallVolume,
                     accessible_of_window, click_accessible, find_accessible,
                     find_accessibles, holds_for, main, open_dashboard, use_binary,
                     wait_until)

GENEROUS_LIMIT_S = 15.0
# Feedback closes the popups, waits 0.2 s, closes them again, waits 0.2 s, launches.
FEEDBACK_DELAY_S = 0.4
FEEDBACK_MARGIN_S = 0.6
# After a launch: long enough to notice a second, unwanted one.
QUIET_S = 1.0
URL_FAILURE = "Failed to open Korvanta via URL: "
IDENTIFIER_FAILURE = "Failed to open Korvanta via bundle identifier: "
DESKTOP_FILE = "com.korvanta.Korvanta.desktop"

RECORDER = """#!/bin/sh
{{
  printf '@call %s\\n' '{label}'
  for argument in "$@"; do printf '%s\\n' "$argument"; done
  printf '@end\\n'
}} >> '{log}'
"""


class Tree:
    """<root>/a/b/c/bin/korvanta-menubar (a copy of the utility) and Korvanta stand-ins."""

    def __init__(self, binary):
        self.root = Path(tempfile.mkdtemp(prefix="kmb-launcher-"))
        self.bin = self.root / "a" / "b" / "c" / "bin"
        self.bin.mkdir(parents=True)
        self.binary = self.bin / "korvanta-menubar"
        shutil.copy2(binary, self.binary)
        os.chmod(self.binary, 0o755)
        self.log = self.root / "calls.log"
        # Candidate number -> path; 2 and 3 name the same place.
        self.candidates = {
            1: self.bin / "MacOS" / "Korvanta.app",
            2: self.bin.parent / "Korvanta.app",
            4: self.bin.parent.parent / "Korvanta.app",
            5: self.bin.parent.parent.parent / "Korvanta.app",
        }
        self.empty_data_dir = self.root / "no-data-dirs"
        self.empty_data_dir.mkdir()

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def write_recorder(self, path, label, mode=0o755):
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(RECORDER.format(label=label, log=self.log))
        os.chmod(path, mode)
        return path

    def place_file(self, number, label=None, mode=0o755):
        return self.write_recorder(self.candidates[number], label or str(number), mode)

    def place_appdir(self, number, label):
        directory = self.candidates[number]
        directory.mkdir(parents=True)
        self.write_recorder(directory / "AppRun", label)
        return directory

    def clear(self, number):
        path = self.candidates[number]
        if path.is_dir() and not path.is_symlink():
            shutil.rmtree(path)
        elif path.exists() or path.is_symlink():
            path.unlink()

    def calls(self):
        """[(label, [arguments])] in the order the recorder ran."""
        try:
            lines = self.log.read_text().splitlines()
        except FileNotFoundError:
            return []
        calls, current = [], None
        for line in lines:
            if line.startswith("@call "):
                current = (line[len("@call "):], [])
            elif line == "@end" and current is not None:
                calls.append(current)
                current = None
            elif current is not None:
                current[1].append(line)
        return calls


def write_desktop_file(directory, exec_line):
    path = Path(directory) / "applications" / DESKTOP_FILE
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("[Desktop Entry]\nType=Application\nName=Korvanta\nExec=%s\n" % exec_line)
    return path


def log_lines(session, prefix):
    text = (session.artifacts / "korvanta-menubar.log").read_text(errors="replace")
    return [line for line in text.splitlines() if line.startswith(prefix)]


class LauncherCase(E2ETestCase):
    def setUp(self):
        self.tree = Tree(_binary_under_test())
        self.addCleanup(self.tree.remove)

    def launcher_session(self, **options):
        env = {"XDG_DATA_DIRS": str(self.tree.empty_data_dir)}
        env.update(options.pop("extra_env", {}))
        return use_binary(self.session(extra_env=env, **options), self.tree.binary)

    def wait_call(self, count_before, what):
        """Waits for the recorder's next call; returns (label, arguments, when seen)."""
        calls = wait_until(lambda: self.tree.calls()[count_before:], GENEROUS_LIMIT_S,
                           "Korvanta to be started by %s" % what, interval=0.01)[0]
        return calls[0][0], calls[0][1], time.monotonic()

    def assert_no_more_calls(self, count):
        self.assertTrue(holds_for(lambda: len(self.tree.calls()) == count, QUIET_S),
                        "Korvanta was started again: %s" % self.tree.calls())

    def press(self, session, node, what):
        """Clicks a control of a shown popup; the popups must close and Korvanta start
        once, with no arguments. Returns the label of the recorder that ran."""
        count = len(self.tree.calls())
        click_accessible(session, node)
        session.wait_for_no_popup(GENEROUS_LIMIT_S)
        label, arguments, _ = self.wait_call(count, what)
        self.assertEqual(arguments, [], "%s passed arguments" % what)
        self.assert_no_more_calls(count + 1)
        self.assertEqual(session.toplevel_windows(), [], "a popup is still shown")
        return label

    def dashboard(self, session):
        popup, node, _ = open_dashboard(session, GENEROUS_LIMIT_S)
        self.assertEqual((popup.width, popup.height), DASHBOARD_SIZE)
        return node

    def choose_feedback(self, session):
        """Dashboard, gear, 提供反馈…; checks the timing; returns the arguments passed."""
        node = self.dashboard(session)
        mark = session.event_mark()
        click_accessible(session, find_accessible(node, "设置", "push button"))
        menu = session.wait_for_accessible(lambda n: n["role"] == "popup menu",
                                           GENEROUS_LIMIT_S, since=mark)
        item = find_accessible(menu, "提供反馈…", "menu item")
        count = len(self.tree.calls())
        chosen = time.monotonic()
        click_accessible(session, item)
        closed_at = None
        while True:
            if closed_at is None and not session.toplevel_windows():
                closed_at = time.monotonic()
            calls = self.tree.calls()[count:]
            if calls:
                launched_at = time.monotonic()
                break
            self.assertLess(time.monotonic() - chosen, GENEROUS_LIMIT_S,
                            "Feedback started nothing")
            time.sleep(0.01)
        elapsed = launched_at - chosen
        self.assertIsNotNone(closed_at, "the popups were still shown when Korvanta started")
        self.assertTrue(
            FEEDBACK_DELAY_S <= elapsed <= FEEDBACK_DELAY_S + FEEDBACK_MARGIN_S,
            "Korvanta started %.2f s after Feedback was chosen; expected about %.1f s"
            % (elapsed, FEEDBACK_DELAY_S))
        self.assert_no_more_calls(count + 1)
        self.assertEqual(session.toplevel_windows(), [])
        return calls[0]


class BundleLocationsTest(LauncherCase):
    def test_first_existing_candidate_wins_from_every_open_control(self):
        for number in (1, 2, 4, 5):
            self.tree.place_file(number)
        with self.launcher_session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            controls = [
                ("the header", lambda node: find_accessible(node, "Korvanta", "push button")),
                ("the volume card's 释放",
                 lambda node: find_accessibles(node, role="panel", showing_only=True)[0]),
                ("the memory card's 释放",
                 lambda node: find_accessibles(node, role="panel", showing_only=True)[1]),
                ("the cleaned-total button",
                 lambda node: [n for n in find_accessibles(node, role="push button",
                                                           showing_only=True)
                               if n["name"].startswith("已累计清理 ")][0]),
            ]
            for (what, find), number in zip(controls, (1, 2, 4, 5)):
                node = self.dashboard(session)
                control = find(node)
                if control["role"] == "panel":
                    control = find_accessible(control, "释放", "push button")
                self.assertEqual(self.press(session, control, what), str(number),
                                 "%s started the wrong candidate" % what)
                # The next candidate in line takes over once this one is gone.
                self.tree.clear(number)
            self.assertEqual(log_lines(session, "Failed to open Korvanta"), [])

    def test_directory_bundle_runs_its_apprun_also_for_feedback(self):
        self.tree.place_appdir(2, "appdir")
        self.tree.place_file(4, "4")
        with self.launcher_session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            node = self.dashboard(session)
            self.assertEqual(
                self.press(session, find_accessible(node, "Korvanta", "push button"),
                           "the header"), "appdir")
            self.assertEqual(self.choose_feedback(session), ("appdir", ["--show-feedback"]))
            self.assertTrue(session.app.running())


class PromptOpenTest(LauncherCase):
    def test_prompt_open_button_starts_korvanta_and_closes_the_prompt(self):
        with SmallVolume(256 << 20) as volume:
            if volume.path is None:
                self.skipTest("no small volume for HOME: %s" % volume.reason)
            self.tree.place_file(5)
            with self.launcher_session(suppress_low_disk_prompt=False,
                                       extra_env={"HOME": str(volume.path)}) as session:
                prompt = session.wait_for_popup(GENEROUS_LIMIT_S, size=PROMPT_SIZE)
                node = accessible_of_window(session, prompt, 0, GENEROUS_LIMIT_S)
                self.assertEqual(
                    self.press(session, find_accessible(node, "打开 Korvanta", "push button"),
                               "the prompt's 打开 Korvanta"), "5")


class DesktopFileTest(LauncherCase):
    def test_desktop_file_route_when_no_bundle_exists(self):
        recorder = self.tree.write_recorder(self.tree.root / "opt" / "korvanta run", "desktop")
        # First only in a directory of XDG_DATA_DIRS (after one without it) ...
        dirs = [self.tree.root / "share1", self.tree.root / "share2"]
        write_desktop_file(dirs[1], '"%s" --from "two words" %%U' % recorder)
        dirs[0].mkdir()
        with self.launcher_session(
                extra_env={"XDG_DATA_DIRS": ":".join(str(d) for d in dirs)}) as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            node = self.dashboard(session)
            count = len(self.tree.calls())
            click_accessible(session, find_accessible(node, "Korvanta", "push button"))
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            label, arguments, _ = self.wait_call(count, "the header")
            # The Exec line is split as the desktop-entry rules say, with no shell: the
            # quoted words stay one argument each and %U expands to nothing.
            self.assertEqual((label, arguments), ("desktop", ["--from", "two words"]))
            self.assert_no_more_calls(count + 1)

            # ... then $XDG_DATA_HOME comes first.
            home_recorder = self.tree.write_recorder(self.tree.root / "home-run", "home")
            write_desktop_file(session.data_home, str(home_recorder))
            self.assertEqual(self.choose_feedback(session), ("home", ["--show-feedback"]))
            self.assertEqual(log_lines(session, "Failed to open Korvanta"), [])

    def test_refused_bundle_logs_once_then_takes_the_desktop_file_route(self):
        recorder = self.tree.write_recorder(self.tree.root / "run", "desktop")
        # Exists but cannot be run: not executable.
        bundle = self.tree.place_file(2, "bundle", mode=0o644)
        with self.launcher_session() as session:
            write_desktop_file(session.data_home, str(recorder))
            session.wait_for_icon(GENEROUS_LIMIT_S)
            for mode, reason in ((0o644, "not executable"), (0o775, "writable by group")):
                os.chmod(bundle, mode)
                failures = len(log_lines(session, URL_FAILURE))
                node = self.dashboard(session)
                self.assertEqual(
                    self.press(session, find_accessible(node, "Korvanta", "push button"),
                               "the header"), "desktop")
                lines = log_lines(session, URL_FAILURE)[failures:]
                self.assertEqual(len(lines), 1, "expected one log line, got %s" % lines)
                self.assertIn(str(bundle), lines[0])
                self.assertIn(reason, lines[0])
                time.sleep(0.5)
            self.assertEqual(log_lines(session, IDENTIFIER_FAILURE), [])
            self.assertFalse(any(label == "bundle" for label, _ in self.tree.calls()))

    def test_nothing_to_launch_logs_nothing_and_keeps_running(self):
        with self.launcher_session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            node = self.dashboard(session)
            click_accessible(session, find_accessible(node, "Korvanta", "push button"))
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            self.assertTrue(holds_for(session.app.running, QUIET_S), "the utility exited")
            self.assertEqual(log_lines(session, "Failed to open Korvanta"), [])
            self.assertEqual(self.tree.calls(), [])
            # Still usable.
            self.dashboard(session)


def _binary_under_test():
    import harness
    return harness._options.binary


if __name__ == "__main__":
    main()
