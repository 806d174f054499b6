#!/usr/bin/env bash
# The picture of docs/site-view.md without a display: a mosquitto of its own on
# 127.0.0.1, three kits from orvane-siteload (the third stops after a third of
# the run and says "offline", the first one's clock runs 3.2 s ahead), and the
# site view's window grabbed. Output: docs/site-view.png.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target orvane orvane-siteload
work="$(mktemp -d)"
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nmax_queued_messages 0\n' "$port" >"$work/broker.conf"
mosquitto -c "$work/broker.conf" 2>/dev/null &
broker=$!
gen=
trap 'kill $broker $gen 2>/dev/null || true; rm -rf "$work"' EXIT
sleep 0.5
build/tools/orvane-siteload --broker "127.0.0.1:$port" --kits 3 --offline 1 --duration 40 --clock-ahead-ms 3200 >/dev/null &
gen=$!
sleep 16   # the third kit has gone by then
cat >"$work/site.cfg" <<CFG
[General]
Site-Name=Werk Süd
Site-KitCount=3
Site-Kit0-ID=K001
Site-Kit0-X=0
Site-Kit0-Y=0
Site-Kit0-Rotation=0
Site-Kit1-ID=K002
Site-Kit1-X=1300
Site-Kit1-Y=0
Site-Kit1-Rotation=0
Site-Kit2-ID=K003
Site-Kit2-X=3300
Site-Kit2-Y=-200
Site-Kit2-Rotation=90
DrawGrid=true
CFG
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work" ORVANE_SCREENSHOT="$PWD/docs/site-view.png" ORVANE_SCREENSHOT_DELAY_MS=7000 \
  build/orvane --site "127.0.0.1:$port" --site-settings "$work/site.cfg"
echo "wrote docs/site-view.png"
