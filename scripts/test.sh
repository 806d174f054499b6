#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Usage: scripts/test.sh [--repeat N]   (--repeat runs the whole suite, two
# tests at a time, up to N times and stops at the first failure: the check
# that the suite does not flake, best run on a loaded machine)
set -euo pipefail
cd "$(dirname "$0")/.."
repeat=()
if [ "${1:-}" = "--repeat" ]; then
  [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || { echo "usage: scripts/test.sh [--repeat N]" >&2; exit 2; }
  repeat=(--repeat "until-fail:$2" -j2)
fi
scripts/setup.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_BUILD_BENCH=ON >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure "${repeat[@]}"
