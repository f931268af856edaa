#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo session need.
# Only what is missing is installed; uses sudo when not run as root.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 libxcb1-dev libxcb-xinput-dev qt6-wayland
  libcanberra-dev
  qt6-tools-dev qt6-l10n-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth trayer xdotool x11-utils imagemagick
  dbus dbus-x11 at-spi2-core python3 python3-pyatspi
  haskell-status-notifier-item-utils haskell-gtk-sni-tray-utils libatk-adaptor
  fonts-noto-cjk python3-fonttools locales
  desktop-file-utils appstream lintian devscripts librsvg2-bin dpkg-dev file
  clang-14 libclang-rt-14-dev
)

"$(dirname "$0")/install-missing.sh" "${packages[@]}"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The history tests also run under a locale with a decimal comma; the language tests start
# the utility under an English and a Chinese locale.
for wanted in de_DE en_US zh_CN; do
  if ! locale -a 2>/dev/null | grep -qi "^${wanted}\.utf-\?8$"; then
    as_root sed -i "s/^# *\(${wanted}.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${wanted}.UTF-8 UTF-8" /etc/locale.gen ||
      echo "${wanted}.UTF-8 UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
  fi
done
