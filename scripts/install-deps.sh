#!/usr/bin/env bash
# Installs everything Fetchora needs to build and to run its test suite on a
# fresh Debian 12 machine (compilers, libraries and the real servers the
# integration tests talk to on 127.0.0.1).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libssl-dev zlib1g-dev libgtest-dev libgmock-dev libsystemd-dev nlohmann-json3-dev libinih-dev qt6-translations-l10n
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev xvfb xauth fonts-dejavu-core
  qt6-gtk-platformtheme  # QT_QPA_PLATFORMTHEME=gtk3: the desktop's palette, dark ones too (docs/developer-aids.md)
  clang-format curl python3 ccache
  clang libclang-rt-14-dev  # the libFuzzer programs of fuzz/
  nginx-light tinyproxy microsocks dante-server openssl
  python3-pyftpdlib vsftpd dbus-daemon
  desktop-file-utils appstream shared-mime-info xdg-utils libfile-mimeinfo-perl file man-db
  chromium firefox-esr python3-websocket
  ffmpeg
)

# Packages whose install would start a system-wide server (vsftpd on port 21
# of every interface); the tests run their own instances on loopback ports.
system_services=(vsftpd)

if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"
fi

export DEBIAN_FRONTEND=noninteractive
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  # Without a policy, the package scripts start every service they install.
  # A temporary one that denies all starts covers the install and no longer.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy"
    chmod 755 "$policy"
    trap 'rm -f "$policy"' EXIT
  fi
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Keep those services from starting at boot (and stop them under systemd).
for service in "${system_services[@]}"; do
  if command -v systemctl >/dev/null; then
    systemctl disable --now "$service" >/dev/null 2>&1 || systemctl disable "$service" >/dev/null 2>&1 || true
  fi
  if command -v update-rc.d >/dev/null && [ -e "/etc/init.d/$service" ]; then
    update-rc.d "$service" disable >/dev/null 2>&1 || true
  fi
done
