#!/usr/bin/env bash
# Installs into a scratch DESTDIR and checks the desktop integration files there: both
# desktop entries pass desktop-file-validate without a message, the AppStream metainfo
# passes appstreamcli (file and installed tree), and the names they refer to (program,
# icon, desktop id) exist in the same install.
# Usage: test_desktop_integration.sh BUILD_DIR AUTOSTART_DIR APP_ID
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$1 autostart_dir=$2 app_id=$3

require_tool desktop-file-validate desktop-file-utils
require_tool appstreamcli appstream
make_scratch
root=$scratch/root
stage_install "$build" "$root"

menu_entry=$root/usr/share/applications/$app_id.desktop
autostart_entry=$root$autostart_dir/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
for f in "$menu_entry" "$autostart_entry" "$metainfo"; do
  [ -f "$f" ] || fail "not installed: ${f#"$root"}"
done

for entry in "$menu_entry" "$autostart_entry"; do
  # desktop-file-validate exits 0 on warnings and hints: any output counts as a failure.
  if ! out=$(desktop-file-validate "$entry" 2>&1) || [ -n "$out" ]; then
    fail "desktop-file-validate ${entry#"$root"}:"$'\n'"$out"
  fi
  for key in Exec TryExec; do
    program=$(desktop_key "$entry" "$key" | awk '{ print $1 }')
    [ -n "$program" ] || fail "${entry#"$root"} has no $key"
    [ -x "$root/usr/bin/$program" ] ||
      fail "${entry#"$root"}: $key=$program is not a program installed in /usr/bin"
  done
  icon=$(desktop_key "$entry" Icon)
  [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "${entry#"$root"}: Icon=$icon has no icon in the hicolor theme"
done

# A tray utility must be findable in the menu, and must start at login.
for key in NoDisplay Hidden; do
  [ "$(desktop_key "$menu_entry" "$key")" != true ] || fail "the menu entry has $key=true"
done
[ "$(desktop_key "$autostart_entry" X-GNOME-Autostart-enabled)" = true ] ||
  fail "the autostart entry lacks X-GNOME-Autostart-enabled=true"
[ "$(desktop_key "$autostart_entry" Hidden)" != true ] || fail "the autostart entry is Hidden"

# --strict: warnings fail too; pedantic hints (the upper-case letters of the
# reverse-DNS id) do not.
appstreamcli validate --no-net --strict "$metainfo" ||
  fail "appstreamcli validate rejects the metainfo"
# The tree check also resolves the launchable desktop id against share/applications.
appstreamcli validate-tree --no-net --strict "$root" ||
  fail "appstreamcli validate-tree rejects the installed tree"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo does not launch $app_id.desktop"

echo "desktop entries and metainfo are valid"
