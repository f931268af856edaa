#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "$root/build"
# The process benchmarks (label perf) and the long soak (label soak) are run by hand; the
# real desktops (label desktops) by scripts/test-desktops.sh.
ctest --output-on-failure --timeout 300 -j2 -LE 'perf|soak|desktops' "$@"
