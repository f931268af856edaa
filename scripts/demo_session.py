#!/usr/bin/python3
"""The headless demo behind scripts/demo-session.sh: a private desktop (the end-to-end
harness's session), the tray with the icon and the open dashboard, saved as screenshots."""

import argparse
import re
import signal
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
from harness import SCREEN, Session, find, wait_until  # noqa: E402


def crop(region, scale=1):
    x, y, width, height = region
    return ["-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
            "-filter", "point", "-resize", "%d%%" % (scale * 100)]


def main(argv):
    parser = argparse.ArgumentParser(prog="demo_session.py")
    parser.add_argument("--binary", required=True)
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--keep", action="store_true", help="keep it up until Ctrl-C")
    args = parser.parse_args(argv)
    signal.signal(signal.SIGINT, signal.default_int_handler)
    args.out.mkdir(parents=True, exist_ok=True)
    with Session(args.binary, args.out, "demo-logs", app=False) as session:
        session.write_history(0)  # its own, empty: the demo has no Korvanta
        session.start_app()
        icon = session.wait_icon()
        tray = session.screenshot(args.out / "demo-tray.png", *crop(
            (max(0, icon.right - 240), 0, min(240, icon.right), icon.bottom + 8), scale=3))
        popup = session.open_dashboard()
        # The second refresh pass is the first with a CPU load to show.
        session.wait(lambda: any(re.match(r"^加载: \d+%$", n["name"]) for n in find(
            session.accessible(popup), "label")), "the CPU load on the dashboard")
        left = max(0, popup.x - 16)
        region = (left, 0, SCREEN[0] - left, popup.bottom + 16)

        def painted():  # more than the few colours of an empty window
            png = session.screenshot(args.out / "demo-dashboard.png", *crop(region))
            return session.x("/usr/bin/convert", str(png), "-unique-colors", "txt:-").count(
                "\n") > 8 and png
        dashboard = wait_until(painted, "the dashboard to be painted")
        print(tray.resolve(), dashboard.resolve(), sep="\n", flush=True)
        if args.keep:
            print("Demo session on DISPLAY=%s; Ctrl-C stops it." % session.display, flush=True)
            try:
                session.app.popen.wait()
            except KeyboardInterrupt:
                pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
