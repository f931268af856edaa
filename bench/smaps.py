#!/usr/bin/python3
"""Which mappings a process's memory is in, and what changed between two readings.

bench/process.py --artifacts DIR keeps /proc/PID/smaps of the utility with the dashboard
closed before any opening (runN-smaps-closed.txt) and after the openings
(runN-smaps-reopened.txt); this compares two such files, mapping by mapping (a file's
mappings added up, anonymous ones as [anon]), largest PSS change first:

    /usr/bin/python3 bench/smaps.py BEFORE AFTER [ROWS]
"""

import re
import sys

MAPPING = re.compile(r"^[0-9a-f]+-[0-9a-f]+ \S+ \S+ \S+ \S+\s*(.*)$")


def by_mapping(text):
    """{name: [RSS KiB, PSS KiB]} of one smaps dump."""
    totals = {}
    current = None
    for line in text.splitlines():
        match = MAPPING.match(line)
        if match:
            current = totals.setdefault(match.group(1) or "[anon]", [0, 0])
        elif current is not None and line.startswith(("Rss:", "Pss:")):
            current[0 if line.startswith("Rss:") else 1] += int(line.split()[1])
    return totals


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    with open(sys.argv[1]) as before_file, open(sys.argv[2]) as after_file:
        before, after = by_mapping(before_file.read()), by_mapping(after_file.read())
    rows = int(sys.argv[3]) if len(sys.argv) == 4 else 15
    zero = [0, 0]
    print("RSS %d -> %d KiB, PSS %d -> %d KiB" % (
        sum(v[0] for v in before.values()), sum(v[0] for v in after.values()),
        sum(v[1] for v in before.values()), sum(v[1] for v in after.values())))
    print("%8s %8s %8s %8s  %s" % ("RSS", "RSS'", "PSS'-PSS", "PSS'", "mapping"))
    names = sorted(set(before) | set(after),
                   key=lambda n: -abs(after.get(n, zero)[1] - before.get(n, zero)[1]))
    for name in names[:rows]:
        b, a = before.get(name, zero), after.get(name, zero)
        print("%8d %8d %8d %8d  %s" % (b[0], a[0], a[1] - b[1], a[1], name))


if __name__ == "__main__":
    main()
