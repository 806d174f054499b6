#!/usr/bin/env bash
# Installs the Debian packages Orvane needs that are not installed yet.
# Usage: scripts/setup.sh [test|mutants|package]... [qt6]
#   "test" adds what the tests, benchmarks and fuzzers need, "mutants" what
#   scripts/mutants.sh needs, "package" what scripts/package.sh needs to build
#   and check the Debian package; "qt6" adds Qt 6 (for -DORVANE_QT=6).
set -euo pipefail
packages=(cmake g++ make pkg-config git qtbase5-dev libqt5serialport5-dev libeigen3-dev libboost-dev qttranslations5-l10n libmosquitto-dev)
for what in "$@"; do
  case "$what" in
    test) packages+=(libbenchmark-dev clang libclang-rt-14-dev mosquitto mosquitto-clients openssl python3) ;;
    mutants) packages+=(libbenchmark-dev mosquitto mosquitto-clients openssl rsync perl) ;;
    package) packages+=(dpkg-dev file lintian appstream desktop-file-utils) ;;
    qt6) packages+=(qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-translations-l10n) ;;
    *) echo "scripts/setup.sh: unknown set '$what' (test, mutants, package, qt6)" >&2; exit 2 ;;
  esac
done
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
