#!/usr/bin/python3
"""Korvanta's cleanup history in hostile shapes, read by the real utility.

One session, as an unprivileged user (so that a mode-000 file is really unreadable),
serves every shape in turn: a valid history with a total of its own first (proving that
the next reading is a fresh one), then the hostile shape in its place, which must read as
a total of 0 ("0 bytes") while the dashboard still opens and closes within 1 s of a click
and the process stays alive. A last case rewrites the file 20 times a second, in place
(half-written states included) and by rename, while the dashboard is read over and over:
every total shown must be one that was written, or 0.
"""

import os
import plistlib
import random
import struct
import threading
import time

from harness import AtspiActor, main
from hostile_support import HostileCase

UNPRIVILEGED = "nobody"
ZERO_TEXT = "0 bytes"
NESTING = 1_000_000


def cleaned_text(total):
    """What the dashboard shows for a total from this test (decimal units, two decimals)."""
    assert total % 10_000_000 == 0 and 1_000_000_000 <= total < 1_000_000_000_000
    return "%.2f GB" % (total / 1e9)


def xml_history(total):
    return plistlib.dumps({"totalCleanedBytes": total, "cleanups": [1, 2, 3]},
                          fmt=plistlib.FMT_XML)


def binary_history(total):
    return plistlib.dumps({"totalCleanedBytes": total, "cleanups": [1, 2, 3]},
                          fmt=plistlib.FMT_BINARY)


def deeply_nested_xml(levels):
    """A history whose total sits below ``levels`` nested arrays."""
    return (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
            b"<key>totalCleanedBytes</key>" + b"<array>" * levels +
            b"<integer>4096</integer>" + b"</array>" * levels + b"</dict></plist>\n")


def deeply_nested_binary(levels):
    """A binary history: {"totalCleanedBytes": [[[...4096...]]]} with ``levels`` arrays."""
    count = levels + 3  # dict, key, the arrays, the integer
    ref_size = 3 if count < 1 << 24 else 4
    ref = lambda index: index.to_bytes(ref_size, "big")
    objects = [b"\xd1" + ref(1) + ref(2)]
    objects.append(b"\x5f\x10\x11" + b"totalCleanedBytes")
    for level in range(levels):
        objects.append(b"\xa1" + ref(3 + level))
    objects.append(b"\x11" + (4096).to_bytes(2, "big"))
    body = bytearray(b"bplist00")
    offsets = []
    for item in objects:
        offsets.append(len(body))
        body += item
    table_at = len(body)
    for offset in offsets:
        body += offset.to_bytes(4, "big")
    body += struct.pack(">6xBBQQQ", 4, ref_size, count, 0, table_at)
    return bytes(body)


class HistoryFile:
    """The session's history path, put into each shape as the utility's user would."""

    def __init__(self, session):
        self.session = session
        self.path = session.history_path
        self.path.parent.mkdir(parents=True, exist_ok=True)
        session.give_to_user(self.path.parent)
        self.serial = 0

    def _sibling(self, tag):
        self.serial += 1
        return self.path.with_name(".%s-%d" % (tag, self.serial))

    def clear(self):
        if self.path.is_dir() and not self.path.is_symlink():
            for entry in self.path.iterdir():
                entry.unlink()
            self.path.rmdir()
        elif os.path.lexists(self.path):
            self.path.unlink()
        for stray in self.path.parent.glob(".loop-*"):
            stray.unlink()

    def replace_with(self, make):
        """``make(path)`` builds the new shape beside the file; it then takes its place."""
        staged = self._sibling("stage")
        make(staged)
        if staged.is_dir() and not staged.is_symlink():
            self.clear()
        self.session.give_to_user(staged)
        if staged.is_dir() and not staged.is_symlink():
            os.rename(staged, self.path)
        else:
            if self.path.is_dir() and not self.path.is_symlink():
                self.clear()
            os.replace(staged, self.path)

    def write(self, data, mode=0o644):
        def make(path):
            path.write_bytes(data)
            os.chmod(path, mode)
        self.replace_with(make)


def make_fifo(path):
    os.mkfifo(path, 0o644)


def make_dev_zero_link(path):
    os.symlink("/dev/zero", path)


def make_loop(history):
    def make(path):
        # path -> .loop-N -> the history file's own name: resolving never ends.
        partner = history.path.with_name(".loop-%d" % history.serial)
        os.symlink(history.path.name, partner)
        os.symlink(partner.name, path)
    return make


def make_directory(path):
    path.mkdir()
    (path / "totalCleanedBytes").write_bytes(xml_history(5_550_000_000))


def make_sparse_gibibyte(path):
    # A valid history at the start: if the utility read 1 GiB, it would show 6.66 GB.
    with open(path, "wb") as handle:
        handle.write(xml_history(6_660_000_000))
        handle.truncate(1 << 30)


def make_unreadable(path):
    path.write_bytes(xml_history(7_770_000_000))
    os.chmod(path, 0)


def make_nested_xml(path):
    path.write_bytes(deeply_nested_xml(NESTING))


def make_nested_binary(path):
    path.write_bytes(deeply_nested_binary(NESTING))


def make_random_bytes(path):
    path.write_bytes(random.Random(7).randbytes(256 * 1024))


class HistoryShapesTest(HostileCase):
    def test_hostile_history_shapes_read_as_zero_and_a_rewritten_file_never_shows_garbage(self):
        with self.hostile_session(run_as=UNPRIVILEGED) as session:
            history = HistoryFile(session)
            history.write(xml_history(1_230_000_000))
            session.wait_for_icon(15.0)
            reader = AtspiActor(session)

            shapes = [
                ("a FIFO", make_fifo),
                ("a symlink to /dev/zero", make_dev_zero_link),
                ("a symlink loop", make_loop(history)),
                ("a directory", make_directory),
                ("a 1 GiB sparse file", make_sparse_gibibyte),
                ("a file of mode 000", make_unreadable),
                ("XML nested %d levels deep" % NESTING, make_nested_xml),
                ("binary nested %d levels deep" % NESTING, make_nested_binary),
                ("random bytes", make_random_bytes),
            ]
            for index, (shape, make) in enumerate(shapes):
                with self.subTest(shape=shape):
                    # A fresh valid total first: the 0 that follows is a new reading.
                    total = (index + 2) * 1_000_000_000 + 10_000_000 * index
                    history.write((xml_history if index % 2 else binary_history)(total))
                    popup = self.click_open(session)
                    self.wait_figures(session, reader, popup,
                                      lambda f: f["cleaned"] == cleaned_text(total),
                                      "the valid total %d before %s" % (total, shape))
                    history.replace_with(make)
                    self.wait_figures(session, reader, popup,
                                      lambda f: f["cleaned"] == ZERO_TEXT,
                                      "a total of 0 from %s" % shape)
                    self.click_close(session)
                    # The next click still opens and closes in time, with the shape in place.
                    popup = self.click_open(session)
                    shown = self.wait_figures(session, reader, popup, lambda f: True,
                                              "a reading of the dashboard")
                    self.assertEqual(shown["cleaned"], ZERO_TEXT, shape)
                    self.click_close(session, outside=True)
            history.clear()

            self.check_rewrites(session, reader, history)

    def check_rewrites(self, session, reader, history):
        totals = [n * 1_000_000_000 + 120_000_000 for n in range(1, 10)]
        allowed = {cleaned_text(total) for total in totals} | {ZERO_TEXT}
        stop = threading.Event()
        written = [0]
        errors = []

        def writer():
            chooser = random.Random(11)
            staged = history.path.with_name(".rewrite")
            while not stop.is_set():
                total = chooser.choice(totals)
                data = (xml_history if chooser.random() < 0.5 else binary_history)(total)
                try:
                    if chooser.random() < 0.5:
                        # In place: truncated, then written in two halves with a pause, so
                        # that a reader can meet the half-written file.
                        with open(history.path, "r+b" if history.path.exists() else "wb") as f:
                            f.truncate(0)
                            f.write(data[:len(data) // 2])
                            f.flush()
                            time.sleep(0.004)
                            f.write(data[len(data) // 2:])
                    else:
                        staged.write_bytes(data)
                        os.replace(staged, history.path)
                    written[0] += 1
                except OSError as error:
                    errors.append(error)
                stop.wait(0.05)

        thread = threading.Thread(target=writer, name="history-rewriter", daemon=True)
        thread.start()
        try:
            seen = self.read_while_toggling(session, reader, 10.0, 2.5)
        finally:
            stop.set()
            thread.join(5.0)
        self.assertFalse(errors, "the writer failed: %s" % errors[:3])
        self.assertGreater(written[0], 150, "the writer managed only %d rewrites" % written[0])
        shown = [reading["cleaned"] for reading in seen]
        self.assertGreater(len(shown), 20, "too few readings of the dashboard")
        garbage = sorted(set(shown) - allowed)
        self.assertFalse(garbage, "totals shown that were never written: %s (allowed %s)"
                         % (garbage, sorted(allowed)))
        # The file did get read while it changed: more than one written total was seen.
        self.assertGreater(len(set(shown) - {ZERO_TEXT}), 1, "shown: %s" % sorted(set(shown)))
        session.artifacts.joinpath("rewrite-readings.txt").write_text(
            "%d rewrites, %d readings\n%s\n" % (written[0], len(shown), "\n".join(shown)))


if __name__ == "__main__":
    main()
