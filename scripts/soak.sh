#!/usr/bin/env bash
# Builds the program's library, the stand-in for the master and the soak, then
# runs the soak: the main window against the stand-in at the full link rate
# with malformed lines mixed in, reconnecting every 5 s, recording every
# connection and replaying the recordings at the end.
# Usage: scripts/soak.sh [seconds]   (default 60; extra arguments go to orvane-soak)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target orvane-sim orvane-soak
QT_QPA_PLATFORM=offscreen build/tools/orvane-soak --seconds "$seconds" --sim build/sim/orvane-sim --record "$@"
