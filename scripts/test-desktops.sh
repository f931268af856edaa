#!/usr/bin/env bash
# Installs what is missing (the desktops too), builds, and runs the tests on real desktops
# started headless: GNOME Shell and Plasma on Wayland, xfce4-panel under Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/install-desktops.sh"
"$root/scripts/build.sh"
cd "$root/build"
ctest --output-on-failure -L desktops "$@"
