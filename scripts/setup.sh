#!/usr/bin/env bash
# Installs the Debian packages Orvane needs that are not installed yet.
# Usage: scripts/setup.sh [test|mutants]   ("test" adds what the tests, benchmarks
# and fuzzers need, "mutants" what scripts/mutants.sh needs)
set -euo pipefail
packages=(cmake g++ make pkg-config qtbase5-dev libqt5serialport5-dev libeigen3-dev qttranslations5-l10n libmosquitto-dev)
case "${1:-}" in
  test) packages+=(libbenchmark-dev clang libclang-rt-14-dev mosquitto mosquitto-clients openssl) ;;
  mutants) packages+=(libbenchmark-dev mosquitto mosquitto-clients openssl rsync perl) ;;
esac
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
