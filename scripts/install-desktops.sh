#!/usr/bin/env bash
# Installs the Debian 12 packages of the desktops that the desktops tests start headless:
# GNOME Shell with the AppIndicator extension, Plasma on Wayland, xfce4-panel with xfwm4.
# Only what is missing is installed; uses sudo when not run as root.
set -euo pipefail
packages=(
  gnome-shell gnome-shell-extension-appindicator xwayland
  kwin-wayland plasma-workspace plasma-desktop plasma-desktop-data qtwayland5 qt6-wayland
  xfce4-panel xfwm4 dbus-x11 x11-utils xdotool imagemagick python3-gi util-linux
)
# Plasma pulls in udev: at the installed systemd's version, so that systemd stays as it is.
udev=$(dpkg-query -W -f='${Version}' systemd 2>/dev/null || true)
"$(dirname "$0")/install-missing.sh" "${packages[@]}" -- ${udev:+"udev=$udev"}
