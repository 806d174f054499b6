#!/usr/bin/env bash
# Installs what is missing, builds, starts the stand-in for the master module
# in the background and Orvane in the foreground; stops the stand-in when
# Orvane exits. Extra arguments go to orvane-sim (e.g. --scenario FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target orvane orvane-sim
link="${ORVANE_SIM_LINK:-/tmp/orvane-master}"
build/sim/orvane-sim --link "$link" "$@" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
echo "Stand-in for the master on $link; settings for its room: sim/demo.cfg"
cd build
ORVANE_PORTS="$link${ORVANE_PORTS:+:$ORVANE_PORTS}" ./orvane
