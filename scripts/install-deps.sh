#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, only those that are missing; packages
# named on the command line are added (the fuzz script's clang and its runtime).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev
  nlohmann-json3-dev
  libpugixml-dev
  libsqlite3-dev
  libcli11-dev
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libudev-dev
  liburing-dev
  # Erase certificates: signed through libcrypto; the tests look at the PDF through pdftoppm.
  libssl-dev poppler-utils
  # The manual pages, and the checks of the install and the Debian package.
  help2man desktop-file-utils appstream libxml2-utils lintian dpkg-dev file
  # promtool checks the metrics and the alerting rules; systemd-analyze the units.
  prometheus systemd
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
