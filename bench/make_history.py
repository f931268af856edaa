#!/usr/bin/python3
"""Writes Korvanta-like cleanup-history files for the reader benchmarks.

    make_history.py OUT_DIR

Writes OUT_DIR/{xml,binary}-{1k,1m,16m}.plist: a top-level dictionary with a list of
cleanup records (date, bytes, category, a few paths) grown until the file reaches about the
named size, and "totalCleanedBytes" holding the sum of the records' bytes. Prints one line
per file: name, size in bytes, total.
"""

import datetime
import plistlib
import sys
from pathlib import Path

SIZES = {"1k": 1024, "1m": 1024 * 1024, "16m": 16 * 1024 * 1024}
FORMATS = {"xml": plistlib.FMT_XML, "binary": plistlib.FMT_BINARY}
CATEGORIES = ("System Junk", "Browser Caches", "Mail Attachments", "Large Files", "Trash")


def record(index):
    day = datetime.datetime(2023, 1, 1) + datetime.timedelta(hours=7 * index)
    return {
        "date": day,
        "bytes": 1_000_003 * (index % 977 + 1),
        "category": CATEGORIES[index % len(CATEGORIES)],
        "paths": ["/home/user/.cache/app%d/blob%05d" % (index % 13, index + k) for k in range(3)],
        "automatic": index % 3 == 0,
    }


def document(count):
    records = [record(i) for i in range(count)]
    return {
        "version": 2,
        "records": records,
        "totalCleanedBytes": sum(r["bytes"] for r in records),
    }


def encoded(count, fmt):
    return plistlib.dumps(document(count), fmt=fmt)


def write_sized(path, target, fmt):
    """Writes the largest record count whose encoding is at most ``target`` bytes (found by
    extrapolating from a small document, then stepping down)."""
    base = len(encoded(0, fmt))
    per_record = (len(encoded(64, fmt)) - base) / 64
    count = max(0, int((target - base) / per_record))
    data = encoded(count, fmt)
    while len(data) > target and count > 0:
        count = max(0, count - int((len(data) - target) / per_record) - 1)
        data = encoded(count, fmt)
    path.write_bytes(data)
    return len(data), document(count)["totalCleanedBytes"]


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for fmt_name, fmt in FORMATS.items():
        for size_name, target in SIZES.items():
            name = "%s-%s.plist" % (fmt_name, size_name)
            size, total = write_sized(out / name, target, fmt)
            print(name, size, total)
    return 0


if __name__ == "__main__":
    sys.exit(main())
