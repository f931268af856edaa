#!/usr/bin/python3
"""The low-disk prompt's day record in a hostile settings file, on a nearly full disk.

Every case is a fresh utility run as an unprivileged user, with HOME on a 64 MiB tmpfs of
its own (a private mount namespace), so the prompt is due at once. The settings file is
unwritable, a directory, corrupt INI, random bytes, or (as a control) a valid file with a
setting of someone else's. In every case the prompt shows once, from the check 0.8 s after
launch; after it is dismissed a click on the icon opens the dashboard, not the prompt,
twice over. A corrupt file of ours is replaced by a valid one that holds today; a valid
one keeps its other settings; a directory or an unwritable file is left as it was.
"""

import configparser
import datetime
import os
import random
import stat
import time

from harness import LOW_DISK_DAY_KEY, main
from hostile_support import (DASHBOARD_SIZE, GENEROUS_LIMIT_S, PROMPT_SIZE, HostileCase,
                             find_node)

UNPRIVILEGED = "nobody"
SMALL_HOME = 64 << 20
# The first check runs 0.8 s after launch; allow for the start of a loaded machine.
PROMPT_AFTER_LAUNCH_S = 3.0
OLD_DAY = "2000-01-01"


def parse_settings(data):
    """The sections of an INI text as {section: {key: value}}, or None when it is not one."""
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str
    try:
        parser.read_string(data.decode("utf-8"))
    except (UnicodeDecodeError, configparser.Error):
        return None
    return {name: dict(parser[name]) for name in parser.sections()}


def snapshot(path):
    """What must not change about a file left alone: kind, mode, owner, bytes, inode."""
    info = os.lstat(path)
    content = path.read_bytes() if stat.S_ISREG(info.st_mode) else \
        sorted(entry.name for entry in path.iterdir())
    return (stat.S_IFMT(info.st_mode), stat.S_IMODE(info.st_mode), info.st_uid, info.st_ino,
            content)


class SettingsCase(HostileCase):
    def run_prompt_once(self, prepare, check_file, remember=None):
        """Starts the utility with the settings file made by ``prepare(session)`` (then
        handed to the utility's user, then ``remember(session)``), takes the prompt and the
        dashboard through their clicks, then runs ``check_file(session)``."""
        session = self.hostile_session(run_as=UNPRIVILEGED, home_size=SMALL_HOME,
                                       suppress_low_disk_prompt=False)
        session.settings_path.parent.mkdir(parents=True, exist_ok=True)
        prepare(session)
        session.give_to_user(session.settings_path.parent)
        if remember is not None:
            remember(session)
        with session:
            mark = session.event_mark()
            prompt = session.wait_for_popup(GENEROUS_LIMIT_S)
            shown_after = time.monotonic() - session.app.started_at
            self.assertEqual((prompt.width, prompt.height), PROMPT_SIZE,
                             "the first window after launch is not the low-disk prompt")
            self.assertLessEqual(shown_after, PROMPT_AFTER_LAUNCH_S,
                                 "the prompt showed %.2f s after launch" % shown_after)
            node = session.wait_for_accessible(
                lambda n: n.get("extents") == [prompt.x, prompt.y, prompt.width,
                                               prompt.height], GENEROUS_LIMIT_S, since=mark)
            dismiss = find_node(node, name="忽略", role="push button")
            self.assertIsNotNone(dismiss, "the prompt has no 忽略 button")
            x, y, width, height = dismiss["extents"]
            session.click(x + width // 2, y + height // 2)
            clicked = time.monotonic()
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            self.assertLessEqual(time.monotonic() - clicked, 1.0, "dismissing took too long")

            # The day is spent: clicks open the dashboard, not the prompt again.
            for _ in range(2):
                self.click_open(session, DASHBOARD_SIZE, "the dashboard (not the prompt)")
                self.click_close(session)
            self.assertTrue(session.app.running())
            check_file(session)

    def today(self):
        return datetime.date.today().isoformat()

    def assert_holds_only_today(self, session):
        def valid():
            parsed = parse_settings(session.settings_path.read_bytes()) \
                if session.settings_path.is_file() else None
            return parsed if parsed == {"General": {LOW_DISK_DAY_KEY: self.today()}} else None
        deadline = time.monotonic() + 3.0
        while not valid() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(valid(), "the settings file is not a valid one holding today: %r"
                        % session.settings_path.read_bytes()[:300])
        self.assertFalse(stat.S_ISLNK(os.lstat(session.settings_path).st_mode))


class CorruptSettingsTest(SettingsCase):
    def test_hostile_settings_garbage_lines_are_replaced_by_a_valid_file(self):
        text = ("[General]\nthis line is not a setting\n\x01\x02\x03\n[Unclosed\n"
                "%s=%s\n=no key\n[General]\nduplicate=1\n" % (LOW_DISK_DAY_KEY, OLD_DAY))
        self.run_prompt_once(
            lambda s: s.settings_path.write_text(text, encoding="utf-8"),
            self.assert_holds_only_today)

    def test_hostile_settings_random_bytes_are_replaced_by_a_valid_file(self):
        data = random.Random(5).randbytes(4096)
        self.run_prompt_once(lambda s: s.settings_path.write_bytes(data),
                             self.assert_holds_only_today)

    def test_hostile_settings_valid_file_keeps_other_settings(self):
        def prepare(session):
            session.settings_path.write_text(
                "[General]\n%s=%s\nsomeoneElse=kept\n\n[Window]\nsize=@Size(10 20)\n"
                % (LOW_DISK_DAY_KEY, OLD_DAY), encoding="utf-8")

        def check(session):
            parsed = parse_settings(session.settings_path.read_bytes())
            self.assertIsNotNone(parsed)
            self.assertEqual(parsed["General"].get(LOW_DISK_DAY_KEY), self.today())
            self.assertEqual(parsed["General"].get("someoneElse"), "kept")
            self.assertEqual(parsed.get("Window"), {"size": "@Size(10 20)"})
        self.run_prompt_once(prepare, check)


class UntouchableSettingsTest(SettingsCase):
    def left_alone(self, prepare):
        before = {}

        def remember(session):
            before["state"] = snapshot(session.settings_path)

        def check(session):
            self.assertEqual(snapshot(session.settings_path), before["state"],
                             "the settings file was changed")
        self.run_prompt_once(prepare, check, remember)

    def test_hostile_settings_unwritable_file_is_left_alone(self):
        def prepare(session):
            session.settings_path.write_text("[General]\n%s=%s\n" % (LOW_DISK_DAY_KEY, OLD_DAY))
            # The user's own file (handed over before the start), made read-only: only its
            # mode keeps the user out.
            os.chmod(session.settings_path, 0o444)
        self.left_alone(prepare)

    def test_hostile_settings_directory_is_left_alone(self):
        def prepare(session):
            session.settings_path.mkdir()
            (session.settings_path / "inside").write_text("not ours to touch\n")
        self.left_alone(prepare)


if __name__ == "__main__":
    main()
