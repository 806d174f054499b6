#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Usage: scripts/test.sh [--qt6]   (--qt6: against Qt 6, in build-qt6)
set -euo pipefail
cd "$(dirname "$0")/.."
qt=5
build=build
case "${1:-}" in
  "") ;;
  --qt6) qt=6; build=build-qt6 ;;
  *) echo "Usage: scripts/test.sh [--qt6]" >&2; exit 2 ;;
esac
if [ "$qt" = 6 ]; then scripts/setup.sh test qt6; else scripts/setup.sh test; fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_QT="$qt" -DORVANE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure
