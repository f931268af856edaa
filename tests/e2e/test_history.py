#!/usr/bin/python3
"""Acceptance of the cleaned total: Korvanta's cleanup-history file, as the running
utility shows it in the dashboard's footer ("已累计清理 <size> 垃圾", the size in units
of 1,000).

The file is $XDG_DATA_HOME/Korvanta/CleanupHistory.plist with the key
totalCleanedBytes, in the XML or the binary property-list encoding. The utility reads it
again on every refresh (every 2 s), so a rewrite shows within one refresh interval while
the dashboard is open or when it is opened again; a file that cannot give a total (gone,
or a FIFO in its place) shows zero, and never stalls the utility.
"""

import os
import plistlib
import time

from harness import (DASHBOARD_SIZE, AtspiActor, E2ETestCase, find_accessibles, holds_for,
                     main, open_dashboard, wait_until)

GENEROUS_LIMIT_S = 15.0
REFRESH_INTERVAL_S = 2.0
# A rewrite must show within one refresh interval; the margin covers the queued redraw
# and the AT-SPI read that observes it.
REWRITE_BOUND_S = REFRESH_INTERVAL_S + 0.5
POPUP_BOUND_S = 1.0
SAME_CLICK_S = 0.5
FOOTER_PREFIX = "已累计清理 "
FOOTER_SUFFIX = " 垃圾"


def footer(size_text):
    return FOOTER_PREFIX + size_text + FOOTER_SUFFIX


def history_bytes(total, fmt):
    # Korvanta keeps more than the total; only totalCleanedBytes is read.
    return plistlib.dumps({"lastCleanupDate": "2026-01-01T00:00:00Z",
                           "totalCleanedBytes": total,
                           "cleanups": [{"bytes": 1}, {"bytes": 2}]}, fmt=fmt)


def replace_file(path, data):
    """Writes a new file beside ``path`` and renames it over it, as an editor would."""
    temporary = path.with_name(path.name + ".tmp")
    temporary.write_bytes(data)
    os.replace(temporary, path)


def rewrite_in_place(path, data):
    """Overwrites ``path`` in place with data of the same size and puts its modification
    time back: only the change time tells the new content from the old."""
    before = os.stat(path)
    if before.st_size != len(data):
        raise AssertionError("an in-place rewrite needs data of the same size")
    with open(path, "r+b") as handle:
        handle.write(data)
    os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))


class HistoryCase(E2ETestCase):
    def footer_text(self, actor, popup):
        node = actor.read_window(popup)
        if node is None:
            raise AssertionError("the dashboard is not shown")
        buttons = [n["name"] for n in find_accessibles(node, role="push button",
                                                      showing_only=True)
                   if n["name"].startswith(FOOTER_PREFIX)]
        if len(buttons) != 1:
            raise AssertionError("expected one cleaned-total button, found %s" % buttons)
        return buttons[0]

    def open(self, session, actor):
        popup, _, elapsed = open_dashboard(session, GENEROUS_LIMIT_S)
        self.assertEqual((popup.width, popup.height), DASHBOARD_SIZE)
        self.assertLessEqual(elapsed, POPUP_BOUND_S,
                             "the dashboard took %.2f s to open" % elapsed)
        return popup

    def close(self, session, popup):
        session.click_outside()
        session.wait_for_no_popup(GENEROUS_LIMIT_S)
        # A click on the icon within 400 ms of the outside click counts as part of that
        # click and only closes: let that window pass (the popup must stay closed).
        self.assertTrue(holds_for(lambda: not session.toplevel_windows(), SAME_CLICK_S),
                        "the dashboard reopened after it closed")

    def wait_footer(self, actor, popup, expected, since, what):
        """Waits until the footer reads ``expected``; asserts it did within one refresh
        of ``since`` (the moment the file changed)."""
        texts = []

        def shows():
            text = self.footer_text(actor, popup)
            if not texts or texts[-1] != text:
                texts.append(text)
            return text == expected
        # Reads back to back (each takes about 0.1 s): the moment a read first sees the
        # new text is an upper bound of when the dashboard showed it.
        wait_until(shows, GENEROUS_LIMIT_S, "the footer to read %r after %s (seen: %s)"
                   % (expected, what, texts), interval=0.0)
        elapsed = time.monotonic() - since
        self.assertLessEqual(
            elapsed, REWRITE_BOUND_S,
            "the footer read %r %.2f s after %s; the bound is one refresh (%.1f s) plus "
            "%.1f s for the redraw and the read" % (expected, elapsed, what,
                                                    REFRESH_INTERVAL_S,
                                                    REWRITE_BOUND_S - REFRESH_INTERVAL_S))
        # Nothing else may have shown in between (e.g. a zero while the file was replaced).
        self.assertLessEqual(len(texts), 2, "the footer went through %s" % texts)


class CleanedTotalTest(HistoryCase):
    def test_total_follows_rewrites_while_the_dashboard_is_open(self):
        xml = history_bytes(5_000_000_000, plistlib.FMT_XML)
        with self.session(history=xml) as session:
            path = session.history_path
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup = self.open(session, actor)
            self.assertEqual(self.footer_text(actor, popup), footer("5.00 GB"))

            # Same size, same modification time: only the change time differs.
            rewrite_in_place(path, history_bytes(7_000_000_000, plistlib.FMT_XML))
            self.wait_footer(actor, popup, footer("7.00 GB"), time.monotonic(),
                             "an in-place rewrite")

            replace_file(path, history_bytes(1_234_567_890_123, plistlib.FMT_BINARY))
            self.wait_footer(actor, popup, footer("1.23 TB"), time.monotonic(),
                             "a binary file replaced the XML one")

            path.unlink()
            self.wait_footer(actor, popup, footer("0 bytes"), time.monotonic(),
                             "the file was removed")

            # A real number without a fraction counts as that whole number.
            path.write_bytes(history_bytes(2048.0, plistlib.FMT_XML))
            self.wait_footer(actor, popup, footer("2.05 kB"), time.monotonic(),
                             "the file came back")
            session.screenshot(session.artifacts / "footer.png", popup)

    def test_reopened_dashboard_shows_the_rewritten_total(self):
        binary = history_bytes(987_654_321, plistlib.FMT_BINARY)
        with self.session(history=binary) as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup = self.open(session, actor)
            self.assertEqual(self.footer_text(actor, popup), footer("987.65 MB"))
            self.close(session, popup)

            replace_file(session.history_path, history_bytes(42, plistlib.FMT_XML))
            written = time.monotonic()
            popup = self.open(session, actor)
            self.wait_footer(actor, popup, footer("42 bytes"), written,
                             "a rewrite while the dashboard was closed")


class UnreadableHistoryTest(HistoryCase):
    def cycle_popup(self, session, actor, cycles):
        """Opens and closes the dashboard ``cycles`` times; each must open in time."""
        for _ in range(cycles):
            popup = self.open(session, actor)
            self.close(session, popup)
        return popup

    def test_fifo_in_place_of_the_file_reads_zero_and_stalls_nothing(self):
        with self.session(history=history_bytes(5_000_000_000, plistlib.FMT_XML)) as session:
            path = session.history_path
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup = self.open(session, actor)
            self.assertEqual(self.footer_text(actor, popup), footer("5.00 GB"))

            path.unlink()
            os.mkfifo(path)
            self.wait_footer(actor, popup, footer("0 bytes"), time.monotonic(),
                             "a FIFO replaced the file")
            self.close(session, popup)
            # Several refresh passes over the FIFO: the utility stays responsive.
            start = time.monotonic()
            while time.monotonic() - start < 2.5 * REFRESH_INTERVAL_S:
                popup = self.cycle_popup(session, actor, 1)
            popup = self.open(session, actor)
            self.assertEqual(self.footer_text(actor, popup), footer("0 bytes"))
            self.assertTrue(session.app.running())

    def test_fifo_present_at_launch(self):
        # The first pass runs during start-up: a blocking open would keep the icon away.
        session = self.session()
        session.history_path.parent.mkdir(parents=True)
        os.mkfifo(session.history_path)
        with session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            actor = AtspiActor(session)
            popup = self.cycle_popup(session, actor, 2)
            popup = self.open(session, actor)
            self.assertEqual(self.footer_text(actor, popup), footer("0 bytes"))


if __name__ == "__main__":
    main()
