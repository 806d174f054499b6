#!/usr/bin/env bash
# Installs what is missing, builds, starts the stand-in for the master module
# in the background and Orvane in the foreground; stops the stand-in when
# Orvane exits. Extra arguments go to orvane-sim (e.g. --scenario FILE).
# ORVANE_DEMO_MQTT=1 also starts a local MQTT broker (mosquitto) on
# 127.0.0.1:${ORVANE_DEMO_MQTT_PORT:-1883} for the "MQTT" dialog to publish to.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target orvane orvane-sim
link="${ORVANE_SIM_LINK:-/tmp/orvane-master}"
build/sim/orvane-sim --link "$link" "$@" &
sim=$!
broker=""
trap 'kill $sim $broker 2>/dev/null || true; wait $sim $broker 2>/dev/null || true; rm -f "${conf:-}"' EXIT
if [ "${ORVANE_DEMO_MQTT:-0}" = "1" ]; then
  port="${ORVANE_DEMO_MQTT_PORT:-1883}"
  mosquitto="$(command -v mosquitto || echo /usr/sbin/mosquitto)"
  if [ ! -x "$mosquitto" ]; then
    echo "mosquitto is not installed: apt-get install mosquitto mosquitto-clients (or scripts/setup.sh test)" >&2
    exit 1
  fi
  conf="$(mktemp --suffix=.conf)"
  printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nlog_type error\n' "$port" >"$conf"
  [ "$(id -u)" -eq 0 ] && echo "user root" >>"$conf"
  "$mosquitto" -c "$conf" &
  broker=$!
  echo "MQTT broker on 127.0.0.1:$port; watch it with: mosquitto_sub -h 127.0.0.1 -p $port -t 'orvane/#' -v"
  echo "In Orvane: \"MQTT-Ausgabe einrichten\", tick \"Positionen per MQTT veröffentlichen\", port $port, \"Übernehmen\"."
fi
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
echo "Stand-in for the master on $link; settings for its room: sim/demo.cfg"
cd build
# Straight to moving tags: the stand-in's room loaded, connected, ranging.
ORVANE_PORTS="$link${ORVANE_PORTS:+:$ORVANE_PORTS}" ./orvane --port "$link" --start-ranging ../sim/demo.cfg
