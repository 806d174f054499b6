#!/usr/bin/env bash
# Installs what is missing, builds and starts Orvane.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target orvane
cd build
exec ./orvane
