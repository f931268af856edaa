#!/usr/bin/env bash
# Builds the Debian package with CPack in a scratch directory (nothing is installed) and checks
# what a distribution checks: lintian's verdict, the fields, files and conffiles, hardening; in
# its tree the desktop entries, AppStream metainfo, hicolor icons, and the command line without
# a display.
# Usage: test_package.sh BUILD_DIR AUTOSTART_DIR APP_ID VERSION "SIZE;SIZE;..."
set -euo pipefail
build=$1 autostart_dir=$2 app_id=$3 version=$4
IFS=';' read -r -a sizes <<<"$5"
fail() { echo "FAIL: $*" >&2; exit 1; }

# A missing validator is a failure, never a pass.
for tool in cpack:cmake dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev file:file lintian:lintian \
  hardening-check:devscripts desktop-file-validate:desktop-file-utils appstreamcli:appstream; do
  command -v "${tool%:*}" >/dev/null || fail "'${tool%:*}' is not installed (Debian: ${tool#*:})"
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$scratch/out/korvanta-menubar_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] && [ "$(ls "$scratch"/out/*.deb)" = "$deb" ] ||
  fail "cpack made not just $(basename "$deb"): $(ls "$scratch/out")"

# Errors and anything about hardening fail the test; the rest is listed.
lintian --allow-root -EvIL +pedantic --fail-on error "$deb" | tee "$scratch/lintian.log" ||
  fail "lintian reports errors"
! grep -E "^[EWIPXO]: .*hardening" "$scratch/lintian.log" ||
  fail "lintian finds the program's hardening lacking"

# The file's name above comes from the Package and Version fields.
field() { dpkg-deb --field "$deb" "$1"; }

# has FIELD NAME...: each NAME is a package of the relationship field FIELD.
has() {
  local names
  names=$(field "$1" | tr ',|' '\n\n' | sed 's/^ *//; s/[ (].*//')
  for name in "${@:2}"; do grep -qxF "$name" <<<"$names" || fail "$1 lacks $name: $(field "$1")"; done
}
# Depends comes from dpkg-shlibdeps (every Qt library the program links must be there) and
# names the Wayland platform plugin, which nothing the program links brings.
has Depends qt6-wayland libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libqt6dbus6 libxcb1 \
  libxcb-xinput0 libcanberra0 libstdc++6
# The embedded CJK face covers the program's texts; the full font, for data, is recommended.
# The bell reaches the session's sound server (PulseAudio or PipeWire) through its backend.
has Recommends fonts-noto-cjk libcanberra-pulse

root=$scratch/root
dpkg-deb --extract "$deb" "$root"
for path in /usr/share/man/man1/korvanta-menubar.1.gz /usr/share/doc/korvanta-menubar/copyright \
  /usr/share/doc/korvanta-menubar/changelog.gz; do
  [ -f "$root$path" ] || fail "the package lacks $path"
done

# The value of KEY in the [Desktop Entry] group (untranslated).
desktop_key() {
  awk -v key="$2" '/^\[/ { group = $0; next }
    group == "[Desktop Entry]" && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
  ' "$1"
}
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
    named=$(desktop_key "$entry" "$key" | awk '{ print $1 }')
    [ -x "$root/usr/bin/$named" ] || fail "${entry#"$root"}: $key=$named is not installed"
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

copyright=$(cat "$root/usr/share/doc/korvanta-menubar/copyright")
metainfo_text=$(cat "$metainfo")
# The embedded face is a Modified Version under the SIL OFL, whose text must travel with it.
grep -q "SIL OPEN FONT LICENSE Version 1.1" <<<"$copyright" || fail "the copyright lacks the OFL"
# Files: stanzas name files of the source tree (or made in the build tree), not installed paths.
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
while read -r pattern; do
  compgen -G "$source_dir/$pattern" >/dev/null || compgen -G "$build/$pattern" >/dev/null ||
    fail "the copyright file's Files: $pattern names no file of the source or build tree"
done < <(sed -n 's/^Files: *//p' <<<"$copyright" | tr ' ' '\n' | grep -vx '\*')
# One licence statement: each SPDX id of the metainfo is the License of a Files: stanza.
stanza_licences=$(awk '/^Files:/ { files = 1 } /^$/ { files = 0 }
                       files && /^License:/ { print $2 }' <<<"$copyright")
for id in $(sed -n 's:.*<\(project\|metadata\)_license>\(.*\)</.*:\2:p' <<<"$metainfo_text" |
            tr ' ' '\n' | grep -vx 'AND\|OR\|WITH'); do
  grep -qxF "$id" <<<"$stanza_licences" ||
    fail "the metainfo's licence $id is the License of no Files: stanza of the copyright file"
done
# One homepage: the control file's, the copyright file's Source and the metainfo's.
homepage=$(field Homepage)
[ -n "$homepage" ] || fail "the control file has no Homepage"
grep -qxF "Source: $homepage" <<<"$copyright" || fail "the copyright's Source is not $homepage"
grep -qF "<url type=\"homepage\">$homepage</url>" <<<"$metainfo_text" ||
  fail "the metainfo's homepage is not $homepage"

dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles >"$scratch/conffiles" 2>/dev/null ||
  fail "the package has no conffiles"
grep -qxF "$autostart_dir/$app_id.desktop" "$scratch/conffiles" ||
  fail "the autostart entry is not a conffile: $(cat "$scratch/conffiles")"

program=$root/usr/bin/korvanta-menubar
[[ $(file "$program") == *", stripped"* ]] || fail "the packaged program is not stripped"
# Control flow protection is left out: Debian 12's own start files (Scrt1.o, crti.o, crtn.o)
# carry no IBT/SHSTK note, so no program linked here has one, whatever it was compiled with.
for binary in "$build/KorvantaMenuBar/korvanta-menubar" "$program"; do
  hardening-check --nocfprotection "$binary" || fail "$binary is not hardened"
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
echo "$(basename "$deb"): lintian clean of errors, tree valid; Depends: $(field Depends)"
