#!/usr/bin/env bash
# Installs those of the given Debian packages that are not installed, through sudo when not
# run as root. Words after "--" go to apt-get as they are, and only when it runs.
# Usage: install-missing.sh PACKAGE... [-- APT-GET-WORD...]
set -euo pipefail
missing=() extra=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ] || missing+=("$1")
  shift
done
[ $# -gt 0 ] && shift && extra=("$@")
[ ${#missing[@]} -gt 0 ] || exit 0
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
echo "Installing: ${missing[*]}"
as_root apt-get update -qq
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" ${extra[@]+"${extra[@]}"}
