#!/usr/bin/env bash
# Installs everything Fetchora needs to build and to run its test suite on a
# fresh Debian 12 machine (compilers, libraries and the real servers the
# integration tests talk to on 127.0.0.1).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libssl-dev zlib1g-dev libgtest-dev libgmock-dev
  clang-format curl python3 ccache
  nginx-light tinyproxy microsocks dante-server openssl
)

if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"
fi

export DEBIAN_FRONTEND=noninteractive
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
