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
missing=()
for p in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || missing+=("$p")
done
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  # Plasma pulls in udev: at the installed systemd's version, so that systemd stays as it is.
  udev=$(dpkg-query -W -f='${Version}' systemd 2>/dev/null || true)
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" ${udev:+"udev=$udev"}
fi
