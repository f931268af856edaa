#!/usr/bin/env bash
# Builds the Debian package with CPack in a scratch directory (nothing is installed) and
# checks lintian's verdict, the fields, files and conffiles, hardening, and that it runs.
# Usage: test_debian_package.sh BUILD_DIR AUTOSTART_DIR APP_ID VERSION
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$1 autostart_dir=$2 app_id=$3 version=$4

for tool in cpack:cmake dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev file:file lintian:lintian \
  hardening-check:devscripts; do require_tool "${tool%:*}" "${tool#*:}"; done
make_scratch

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
for path in /usr/bin/korvanta-menubar "/usr/share/applications/$app_id.desktop" \
  "$autostart_dir/$app_id.desktop" "/usr/share/metainfo/$app_id.metainfo.xml" \
  "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" /usr/share/man/man1/korvanta-menubar.1.gz \
  /usr/share/doc/korvanta-menubar/copyright /usr/share/doc/korvanta-menubar/changelog.gz; do
  [ -f "$root$path" ] || fail "the package lacks $path"
done

copyright=$(cat "$root/usr/share/doc/korvanta-menubar/copyright")
metainfo=$(cat "$root/usr/share/metainfo/$app_id.metainfo.xml")
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
for id in $(sed -n 's:.*<\(project\|metadata\)_license>\(.*\)</.*:\2:p' <<<"$metainfo" |
            tr ' ' '\n' | grep -vx 'AND\|OR\|WITH'); do
  grep -qxF "$id" <<<"$stanza_licences" ||
    fail "the metainfo's licence $id is the License of no Files: stanza of the copyright file"
done
# One homepage: the control file's, the copyright file's Source and the metainfo's.
homepage=$(field Homepage)
[ -n "$homepage" ] || fail "the control file has no Homepage"
grep -qxF "Source: $homepage" <<<"$copyright" || fail "the copyright's Source is not $homepage"
grep -qF "<url type=\"homepage\">$homepage</url>" <<<"$metainfo" ||
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
out=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 "$program" --version 2>&1) ||
  fail "the packaged program's --version failed: $out"
[ "$out" = "KorvantaMenuBar $version" ] || fail "the packaged program printed '$out'"

echo "$(basename "$deb"): lintian clean of errors; Depends: $(field Depends)"
