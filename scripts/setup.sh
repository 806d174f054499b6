#!/usr/bin/env bash
# Installs the Debian packages Orvane needs that are not installed yet.
# Usage: scripts/setup.sh [test]   ("test" adds what the tests and benchmarks need)
set -euo pipefail
packages=(cmake g++ make pkg-config qtbase5-dev libqt5serialport5-dev libeigen3-dev qttranslations5-l10n libmosquitto-dev)
if [ "${1:-}" = "test" ]; then
  packages+=(libbenchmark-dev python3 desktop-file-utils clang libclang-rt-14-dev mosquitto mosquitto-clients openssl)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
