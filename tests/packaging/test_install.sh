#!/usr/bin/env bash
# Installs into a scratch DESTDIR (prefix /usr) and checks what a distribution checks there:
# desktop entries, AppStream metainfo, hicolor icons, and the command line without a display.
# Usage: test_install.sh BUILD_DIR AUTOSTART_DIR APP_ID VERSION "SIZE;SIZE;..."
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$1 autostart_dir=$2 app_id=$3 version=$4
IFS=';' read -r -a sizes <<<"$5"

for tool in desktop-file-validate:desktop-file-utils appstreamcli:appstream file:file; do
  require_tool "${tool%:*}" "${tool#*:}"; done
make_scratch
# The value of KEY in the [Desktop Entry] group (untranslated).
desktop_key() {
  awk -v key="$2" '/^\[/ { group = $0; next }
    group == "[Desktop Entry]" && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
  ' "$1"
}
root=$scratch/root
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }

menu_entry=$root/usr/share/applications/$app_id.desktop
autostart_entry=$root$autostart_dir/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
theme=$root/usr/share/icons/hicolor
for entry in "$menu_entry" "$autostart_entry"; do
  [ -f "$entry" ] || fail "not installed: ${entry#"$root"}"
  # desktop-file-validate exits 0 on warnings and hints: any output counts as a failure.
  if ! out=$(desktop-file-validate "$entry" 2>&1) || [ -n "$out" ]; then
    fail "desktop-file-validate ${entry#"$root"}:"$'\n'"$out"
  fi
  for key in Exec TryExec; do
    program=$(desktop_key "$entry" "$key" | awk '{ print $1 }')
    [ -x "$root/usr/bin/$program" ] || fail "${entry#"$root"}: $key=$program is not installed"
  done
  [ -f "$theme/scalable/apps/$(desktop_key "$entry" Icon).svg" ] ||
    fail "${entry#"$root"}: its Icon has no icon in the hicolor theme"
done
# A tray utility must be findable in the menu, and must start at login.
[ "$(desktop_key "$menu_entry" NoDisplay)" != true ] || fail "the menu entry has NoDisplay=true"
[ "$(desktop_key "$autostart_entry" X-GNOME-Autostart-enabled)" = true ] ||
  fail "the autostart entry lacks X-GNOME-Autostart-enabled=true"
[ "$(desktop_key "$autostart_entry" Hidden)" != true ] || fail "the autostart entry is Hidden"
appstreamcli validate --no-net --strict "$metainfo" || fail "appstreamcli rejects the metainfo"
appstreamcli validate-tree --no-net --strict "$root" || fail "appstreamcli rejects the tree"

grep -q "<svg" "$theme/scalable/apps/$app_id.svg" || fail "no scalable SVG icon"
[ ${#sizes[@]} -gt 0 ] || fail "no icon sizes given"
for size in "${sizes[@]}"; do
  png=$theme/${size}x${size}/apps/$app_id.png
  [[ $(file -b "$png") =~ ^"PNG image data, $size x $size, "[0-9]+-bit.?(color RGBA|gray\+alpha) ]] ||
    fail "$png is no ${size}x$size PNG with alpha: $(file -b "$png")"
done

# No display at all: a program that tried to open its window would abort or hang.
run() { out=$(cd "$scratch" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        timeout 20 "$root/usr/bin/korvanta-menubar" "$@" 2>&1); }
# -platformtheme contains an 'h': read as bundled short options it would be -h.
for args in --version -v "-platformtheme gtk3 --version"; do
  # shellcheck disable=SC2086
  run $args || fail "$args failed: $out"
  [ "$out" = "KorvantaMenuBar $version" ] || fail "$args printed '$out'"
done
run --help || fail "--help failed: $out"
for expected in "Usage: " "Tray dashboard for Korvanta" "--version" "--help"; do
  grep -qF -- "$expected" <<<"$out" || fail "--help lacks '$expected'"
done
echo "installed tree valid: desktop entries, metainfo, ${#sizes[@]} icon sizes, command line"
