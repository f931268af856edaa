#!/usr/bin/python3
"""Hostile files met by the real utility at launch, one fresh process for each: the
dashboard still opens with the fallback (a history that gives no total reads "0 字节")
and the process stays alive. With a settings file that cannot be read or written, on a
small HOME volume (needs root), the prompt shows once and a click then opens the dashboard:
the utility remembers that it showed the prompt today."""

import os
import shutil

from harness import FOOTER, PROMPT, E2ECase, main, wait_until

HISTORY_ROWS = [
    ("history is a FIFO", os.mkfifo),
    ("history links to /dev/zero", lambda path: os.symlink("/dev/zero", path)),
    ("history is a directory", os.mkdir),
]


def folder_as_file(path):
    # Root may write any file; a file in place of the settings folder stops even root.
    path.parent.rmdir()
    path.parent.write_text("not a folder\n")


SETTINGS_ROWS = [("settings file is a FIFO", os.mkfifo),
                 ("settings folder is a file", folder_as_file)]


def remove(path):
    if path.is_dir() and not path.is_symlink():
        shutil.rmtree(path)
    else:
        path.unlink(missing_ok=True)


class HostileFilesTest(E2ECase):
    session_options = {"app": False}

    wants_small_volume = True

    def clear(self):
        for path in (self.session.history_path.parent, self.session.settings_path.parent):
            remove(path)
            path.mkdir()

    def open_dashboard_reading(self, total):
        session = self.session
        popup = session.open_dashboard()
        wait_until(lambda: session.footer(popup) == [FOOTER % total],
                   "the dashboard to show a total of %s" % total)
        session.escape()
        session.check_alive()

    def test_hostile_history_files(self):
        for what, make in HISTORY_ROWS:
            with self.subTest(what):
                self.clear()
                make(self.session.history_path)
                self.session.start_app()
                self.open_dashboard_reading("0 字节")

    def test_hostile_settings_files(self):
        home = self.small_home()
        for what, make in SETTINGS_ROWS:
            with self.subTest(what):
                self.clear()
                self.session.write_history(1_230_000_000)
                make(self.session.settings_path)
                self.session.start_app(home, day=False)
                self.session.wait_popup(PROMPT)
                self.session.escape()
                self.open_dashboard_reading("1.23 GB")


if __name__ == "__main__":
    main()
