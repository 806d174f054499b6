#!/usr/bin/env bash
# Builds the program's library, the stand-in for the master and the soak, then
# runs the soak: the main window against the stand-in at the full link rate
# with malformed lines mixed in, reconnecting every 5 s, recording every
# connection and replaying the recordings at the end.
# Usage: scripts/soak.sh [seconds] [--mqtt] [orvane-soak options]   (default 60 s)
# --mqtt also publishes every position to a mosquitto of its own, which is
# stopped and started again every MQTT_RESTART_EVERY seconds (default 300;
# down for 5 s each time), with a QoS 1 subscriber counting what arrives.
# It fails when a position published while the broker was up never arrived,
# or when the status topic did not say "online" after a restart. Whether it
# said "offline" within the keep-alive (5 s) of a stop is counted, not
# required: a stopped broker delivers no last will (mosquitto 2.0 does not).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
mqtt=0
if [ "${1:-}" = "--mqtt" ]; then
  mqtt=1
  shift
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target orvane-sim orvane-soak
soak=(env QT_QPA_PLATFORM=offscreen build/tools/orvane-soak --seconds "$seconds" --sim build/sim/orvane-sim --record)
if [ "$mqtt" = 0 ]; then
  exec "${soak[@]}" "$@"
fi

work="$(mktemp -d)"
sub_pid="" cycle_pid=""
cleanup() {
  for p in $cycle_pid $sub_pid $(cat "$work/broker.pid" 2>/dev/null); do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
# Persistent, so that the subscriber's session and what is queued for it
# outlive a restart; a stop publishes the wills of connected clients.
cat >"$work/broker.conf" <<EOF
listener $port 127.0.0.1
allow_anonymous true
persistence true
persistence_location $work/
max_queued_messages 100000
EOF
start_broker() {
  mosquitto -c "$work/broker.conf" >>"$work/broker.log" 2>&1 &
  echo $! >"$work/broker.pid"
  echo "start $(date +%s.%N)" >>"$work/events"
}
start_broker
sleep 1
mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -c -i orvane-soak-counter -t '#' -F '%U %t %p' >"$work/received" 2>/dev/null &
sub_pid=$!
every="${MQTT_RESTART_EVERY:-300}"
(
  nap=""
  trap 'kill $nap 2>/dev/null; exit 0' TERM
  while :; do
    sleep "$every" & nap=$!
    wait "$nap"
    echo "stop $(date +%s.%N)" >>"$work/events"
    broker="$(cat "$work/broker.pid")"
    kill -TERM "$broker"
    while kill -0 "$broker" 2>/dev/null; do sleep 0.1; done
    sleep 5 & nap=$!
    wait "$nap"
    start_broker
  done
) &
cycle_pid=$!
status=0
"${soak[@]}" --mqtt "127.0.0.1:$port" "$@" 2> >(tee "$work/soak.err" >&2) || status=$?
date +%s.%N >"$work/ended"
sleep 3   # the last acknowledgements
kill "$cycle_pid" 2>/dev/null || true
wait "$cycle_pid" 2>/dev/null || true
cycle_pid=""
python3 - "$work" <<'EOF' || status=1
import re, sys
work = sys.argv[1]
events = [l.split() for l in open(f"{work}/events")]
starts = [float(t) for e, t in events if e == "start"]
stops = [float(t) for e, t in events if e == "stop"]
positions, status = set(), []
for line in open(f"{work}/received", errors="replace"):
    parts = line.rstrip("\n").split(" ", 2)
    if len(parts) < 3:
        continue
    if parts[1].endswith("/position"):
        positions.add((parts[1], parts[2]))
    elif parts[1].endswith("/status"):
        status.append((float(parts[0]), parts[2]))
ended = float(open(f"{work}/ended").read())
m = re.search(r"MQTT positions published (\d+), dropped (\d+)", open(f"{work}/soak.err").read())
published, dropped = (int(m.group(1)), int(m.group(2))) if m else (-1, -1)
faults = []
offline_after = []
for t in stops:
    said = [s for s, p in status if p == "offline" and t - 0.5 <= s <= t + 5.5]
    offline_after.append(said[0] - t if said else None)
online_after = []
for t in [t for t in starts[1:] if t < ended - 15]:   # restarts long enough before the end
    said = [s for s, p in status if p == "online" and s >= t]
    online_after.append(said[0] - t if said else None)
    if not said:
        faults.append(f"no 'online' after the restart at {t:.0f}")
if len(positions) < published:
    faults.append(f"{published - len(positions)} published positions never arrived")
worst_off = max([d for d in offline_after if d is not None], default=0)
worst_on = max([d for d in online_after if d is not None], default=0)
said_off = len([d for d in offline_after if d is not None])
print(f"mqtt: broker restarts {len(stops)}, positions published {published}, dropped while down {dropped}, "
      f"received {len(positions)} distinct; 'offline' within 5 s of {said_off} of {len(stops)} stops, "
      f"'online' at most {worst_on:.1f} s after a restart")
for f in faults:
    print("mqtt: " + f)
sys.exit(1 if faults else 0)
EOF
exit "$status"
