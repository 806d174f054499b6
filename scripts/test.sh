#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Usage: scripts/test.sh [--qt6] [--repeat N]
#   --qt6       against Qt 6, in build-qt6
#   --repeat N  runs the whole suite, two tests at a time, up to N times and
#               stops at the first failure: the check that the suite does not
#               flake, best run on a loaded machine
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "Usage: scripts/test.sh [--qt6] [--repeat N]" >&2; exit 2; }
qt=5
build=build
repeat=()
while [ $# -gt 0 ]; do
  case "$1" in
    --qt6) qt=6; build=build-qt6; shift ;;
    --repeat)
      [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || usage
      repeat=(--repeat "until-fail:$2" -j2); shift 2 ;;
    *) usage ;;
  esac
done
if [ "$qt" = 6 ]; then scripts/setup.sh test qt6; else scripts/setup.sh test; fi
# A unity build compiles the library in batches of files, which parses Qt's
# headers far less often: a clean build takes about half the time.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_QT="$qt" -DORVANE_BUILD_BENCH=ON \
  -DCMAKE_UNITY_BUILD=ON >/dev/null
cmake --build "$build" -j2
if [ ${#repeat[@]} -eq 0 ]; then repeat=(-j2); fi
ctest --test-dir "$build" --output-on-failure "${repeat[@]}"
