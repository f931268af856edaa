#!/usr/bin/env bash
# The installed program answers --version and --help on a machine without a display (a
# package check, an ssh session), and the toolkit's own options do not get in the way.
# Usage: test_command_line.sh BUILD_DIR VERSION
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$1 version=$2

make_scratch
root=$scratch/root
stage_install "$build" "$root"
program=$root/usr/bin/korvanta-menubar
[ -x "$program" ] || fail "no /usr/bin/korvanta-menubar installed"

# run ARGS...: runs the program with no display at all; sets $out and $status. A
# program that tries to open its window here aborts (or hangs until the timeout).
run() {
  status=0
  out=$(cd "$scratch" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        timeout 20 "$program" "$@" 2>&1) || status=$?
}

for option in --version -v; do
  run "$option"
  [ "$status" = 0 ] || fail "$option exited with $status:"$'\n'"$out"
  [ "$out" = "KorvantaMenuBar $version" ] ||
    fail "$option printed '$out', expected 'KorvantaMenuBar $version'"
done

# -platformtheme contains an 'h': read as bundled short options it would be -h.
run -platformtheme gtk3 --version
[ "$status" = 0 ] && [ "$out" = "KorvantaMenuBar $version" ] ||
  fail "-platformtheme gtk3 --version gave status $status:"$'\n'"$out"

run --help
[ "$status" = 0 ] || fail "--help exited with $status:"$'\n'"$out"
for expected in "Usage: " "Tray dashboard for Korvanta" "--version" "--help"; do
  grep -qF -- "$expected" <<<"$out" || fail "--help lacks '$expected':"$'\n'"$out"
done

echo "--version and --help work without a display"
