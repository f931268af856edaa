#!/usr/bin/env bash
# Installs into a scratch DESTDIR and checks the hicolor icons: a scalable SVG and, at
# every size that is installed, a PNG whose header says that size and has an alpha
# channel (the icon has rounded corners).
# Usage: test_icons.sh BUILD_DIR APP_ID "SIZE;SIZE;..."
set -euo pipefail
source "$(dirname "$0")/common.sh"
build=$1 app_id=$2
IFS=';' read -r -a sizes <<<"$3"

[ ${#sizes[@]} -gt 0 ] || fail "no icon sizes given (is KMB_INSTALL_PNG_ICONS off?)"
make_scratch
root=$scratch/root
stage_install "$build" "$root"
theme=$root/usr/share/icons/hicolor

svg=$theme/scalable/apps/$app_id.svg
[ -f "$svg" ] || fail "no scalable icon at ${svg#"$root"}"
grep -q "<svg" "$svg" || fail "${svg#"$root"} is not an SVG file"

# Big-endian 32-bit integer from N bytes at OFFSET of FILE.
be32() { od -An -tu1 -j"$2" -N4 "$1" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }'; }

for size in "${sizes[@]}"; do
  png=$theme/${size}x${size}/apps/$app_id.png
  [ -f "$png" ] || fail "no ${size}x${size} icon at ${png#"$root"}"
  [ "$(od -An -tx1 -N8 "$png" | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "${png#"$root"} is not a PNG file"
  width=$(be32 "$png" 16) height=$(be32 "$png" 20)
  [ "$width" = "$size" ] && [ "$height" = "$size" ] ||
    fail "${png#"$root"} is ${width}x${height}, not ${size}x${size}"
  colour_type=$(od -An -tu1 -j25 -N1 "$png" | tr -d ' ')
  [ "$colour_type" = 6 ] || [ "$colour_type" = 4 ] ||
    fail "${png#"$root"} has no alpha channel (PNG colour type $colour_type)"
done

echo "scalable icon and ${#sizes[@]} PNG sizes installed: ${sizes[*]}"
