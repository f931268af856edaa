#!/usr/bin/env bash
# Headless demo of korvanta-menubar: a private X server (Xvfb) with a tray host (trayer),
# the utility in it, one click on its tray icon, and two screenshots:
#   build/demo-tray.png       the tray with the icon (3x enlarged)
#   build/demo-dashboard.png  the open dashboard under the icon
# Their paths are printed. Everything started is stopped before the script returns;
# with --keep the session stays up (its DISPLAY is printed) until Ctrl-C.
#
# Usage: scripts/demo-session.sh [--keep] [path/to/korvanta-menubar]
#   default binary: build/KorvantaMenuBar/korvanta-menubar
#
# The session never uses the caller's display or session bus: it runs the same with or
# without a desktop, over ssh and as root in CI. The work is done by demo_session.py with
# the end-to-end harness (tests/e2e/harness.py), which starts and stops every process.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
keep=()
binary=""

usage() {
    sed -n '2,14p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
}

for arg in "$@"; do
    case "$arg" in
        --keep) keep=(--keep) ;;
        -h|--help) usage; exit 0 ;;
        -*) echo "demo-session.sh: unknown option $arg" >&2; usage >&2; exit 2 ;;
        *)
            if [[ -n "$binary" ]]; then
                echo "demo-session.sh: one binary only" >&2; exit 2
            fi
            binary=$arg ;;
    esac
done
binary=${binary:-$repo/build/KorvantaMenuBar/korvanta-menubar}
if [[ ! -x "$binary" ]]; then
    echo "demo-session.sh: no executable at $binary" >&2
    echo "  build it: cmake -S . -B build -G Ninja && cmake --build build --target korvanta-menubar" >&2
    exit 1
fi
binary=$(realpath "$binary")

missing=()
for tool in Xvfb trayer xdotool xwininfo dbus-daemon dbus-send /usr/libexec/at-spi-bus-launcher \
            /usr/bin/import /usr/bin/convert /usr/bin/python3; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ! /usr/bin/python3 -c 'import pyatspi' >/dev/null 2>&1; then
    missing+=("pyatspi")
fi
if (( ${#missing[@]} )); then
    echo "demo-session.sh: missing: ${missing[*]}" >&2
    echo "  apt-get install xvfb trayer xdotool x11-utils dbus at-spi2-core python3-pyatspi imagemagick fonts-noto-cjk" >&2
    exit 1
fi

mkdir -p "$repo/build"
exec /usr/bin/python3 "$repo/scripts/demo_session.py" --binary "$binary" --out "$repo/build" "${keep[@]}"
