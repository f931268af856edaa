#!/usr/bin/python3
"""The utility opens no network socket: only local ones (the X server, the buses).

While the real utility runs with the dashboard open for a few refresh passes, and after
its header asked to open Korvanta (which is not installed here), the test matches the
socket inodes of its descriptors (/proc/PID/fd links "socket:[N]") against the inode
column of the kernel's network socket tables (/proc/PID/net/tcp, tcp6, udp, udp6, and
raw, udplite for good measure): none may appear there. Every socket must be a Unix
domain one (/proc/PID/net/unix).
"""

import os
import re
import time

from harness import main
from hostile_support import GENEROUS_LIMIT_S, HostileCase, find_node

NETWORK_TABLES = ("tcp", "tcp6", "udp", "udp6", "raw", "raw6", "udplite", "udplite6")
SOCKET_LINK = re.compile(r"^socket:\[(\d+)\]$")
WATCH_S = 5.0  # more than two refresh passes


def socket_inodes(pid):
    inodes = set()
    fd_dir = "/proc/%d/fd" % pid
    for fd in os.listdir(fd_dir):
        try:
            match = SOCKET_LINK.match(os.readlink(os.path.join(fd_dir, fd)))
        except OSError:  # closed meanwhile
            continue
        if match:
            inodes.add(int(match.group(1)))
    return inodes


def table_inodes(pid, table, column):
    """The inode column of /proc/PID/net/<table> (the process's network namespace)."""
    try:
        with open("/proc/%d/net/%s" % (pid, table)) as handle:
            rows = handle.read().splitlines()[1:]
    except FileNotFoundError:
        return set()
    return {int(row.split()[column]) for row in rows if len(row.split()) > column}


class NoNetworkTest(HostileCase):
    def check_sockets(self, session, when, report):
        pid = session.app.pid
        sockets = socket_inodes(pid)
        self.assertTrue(sockets, "no sockets at all %s: cannot be (X and D-Bus)" % when)
        network = set()
        for table in NETWORK_TABLES:
            network |= table_inodes(pid, table, 9)  # inode is the 10th column
        unix = table_inodes(pid, "unix", 6)  # Num RefCount Protocol Flags Type St Inode
        self.assertFalse(sockets & network, "%s the utility holds network sockets: %s"
                         % (when, sorted(sockets & network)))
        self.assertEqual(sockets - unix, set(), "%s sockets that are not Unix domain: %s"
                         % (when, sorted(sockets - unix)))
        report.append("%s: %d sockets, all Unix domain" % (when, len(sockets)))

    def test_no_network_sockets_while_the_dashboard_is_open(self):
        report = []
        with self.hostile_session() as session:
            session.wait_for_icon(GENEROUS_LIMIT_S)
            self.check_sockets(session, "after the start", report)
            mark = session.event_mark()
            popup = self.click_open(session)
            end = time.monotonic() + WATCH_S
            while time.monotonic() < end:
                self.check_sockets(session, "with the dashboard open", report)
                time.sleep(0.25)
            tree = session.wait_for_accessible(
                lambda n: n.get("extents") == [popup.x, popup.y, popup.width, popup.height],
                GENEROUS_LIMIT_S, since=mark)
            header = find_node(tree, name="Korvanta", role="push button")
            self.assertIsNotNone(header)
            x, y, width, height = header["extents"]
            session.click(x + width // 2, y + height // 2)
            session.wait_for_no_popup(GENEROUS_LIMIT_S)
            self.click_open(session)
            self.check_sockets(session, "after asking to open Korvanta", report)
            self.click_close(session)
        session.artifacts.joinpath("sockets.txt").write_text("\n".join(report) + "\n")


if __name__ == "__main__":
    main()
