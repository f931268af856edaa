#!/usr/bin/python3
"""Keeps one of the test desktops (tests/desktops) up for experiments, with the utility when
--binary is given; prints how to run a command inside it. Ctrl-C stops it.

    /usr/bin/python3 scripts/desktop_shell.py gnome|plasma|xfce [--binary B] [--platform P]
"""

import argparse
import os
import shlex
import signal
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "desktops"))
import test_desktops as desktops  # noqa: E402

parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
parser.add_argument("desktop", choices=sorted(desktops.DESKTOPS))
parser.add_argument("--binary", type=Path)
parser.add_argument("--platform", choices=["xcb", "wayland"])
options = parser.parse_args()
desktops.enter_namespaces()
with desktops.DESKTOPS[options.desktop](options.binary or "/bin/true", None,
                                        options.platform) as up:
    if options.binary:
        up.start_app()
    inside = "$(cat /proc/%s/task/*/children)" % os.environ[desktops.NAMESPACED]
    env = " ".join("%s=%s" % (k, shlex.quote(v)) for k, v in sorted(up.base_env().items()))
    print("Up. A command in it:\n  nsenter -t %s -a env %s COMMAND\nLogs: /proc/%s/root%s\n"
          "Ctrl-C stops it." % (inside, env, inside, up.artifacts), flush=True)
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
    signal.sigwait({signal.SIGINT, signal.SIGTERM})
