#!/usr/bin/env bash
# Installs what is missing, builds, and starts the utility in your desktop session.
# Without a display it starts a headless demo session instead and leaves screenshots.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
binary="$root/build/KorvantaMenuBar/korvanta-menubar"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$binary"
fi
echo "No display found: starting a headless demo session."
exec "$root/scripts/demo-session.sh" "$binary"
