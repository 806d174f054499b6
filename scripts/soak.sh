#!/usr/bin/env bash
# Builds the program's library, the stand-in for the master and the soak, then
# runs the soak: the main window against the stand-in at the full link rate
# with malformed lines mixed in, reconnecting every 5 s, recording every
# connection and replaying the recordings at the end.
# Usage: scripts/soak.sh [seconds] [--mqtt] [orvane-soak options]   (default 60 s)
# --mqtt also publishes every position to a mosquitto of its own, which is
# stopped and started again every MQTT_RESTART_EVERY seconds (default 300;
# down for MQTT_DOWN seconds each time, default 5), with a persistent QoS 1
# subscriber counting what arrives. The stop is an orderly one (SIGTERM, as a service manager stops
# it): the broker sends the last wills of its clients and saves its sessions
# and queues on the way down. (A SIGKILL'd broker loses what it acknowledged
# since its last save; no client can make up for that.)
# At the end the soak waits until the publisher is back and the broker has
# acknowledged everything: quitting while the broker is down would lose what
# it had not acknowledged, and that is not what this soak asks about.
# It fails when a position published while the broker was up never arrived,
# when a stop was not followed by "offline" before the next "online" (the
# will the stopping broker sends: to the subscriber at once, or kept in its
# session and delivered once the broker is back), when a client asking right
# after a restart is told the retained "online" of a publisher not yet
# reconnected, or when the status topic did not say "online" after a restart.
# How often "offline" came within the keep-alive (5 s) of the stop is
# counted: a broker that dies outright tells nobody, it is the one gone.
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
  if [ -n "${SOAK_KEEP:-}" ]; then echo "soak: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
# Persistent, so that the subscriber's session and what is queued for it
# outlive a restart; a stop publishes the wills of connected clients.
# Run as root, mosquitto would switch to its own user and could not save into
# this folder: then nothing outlives a restart.
cat >"$work/broker.conf" <<EOF
listener $port 127.0.0.1
allow_anonymous true
user $(id -un)
persistence true
persistence_location $work/
max_queued_messages 100000
EOF
start_broker() {
  mosquitto -c "$work/broker.conf" >>"$work/broker.log" 2>&1 &
  echo $! >"$work/broker.pid"
  echo "start $(date +%s.%N)" >>"$work/events"
}
# What a client connecting right after a restart is told: the retained status.
probe_status() {
  python3 - "$port" <<'PY'
import socket, sys, time
for _ in range(100):   # until the listener is open
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 0.1).close()
        break
    except OSError:
        time.sleep(0.02)
PY
  local said
  said="$(mosquitto_sub -h 127.0.0.1 -p "$port" -t '+/+/status' --retained-only -C 1 -W 1 -F '%p' 2>/dev/null || true)"
  echo "probe $(date +%s.%N) ${said:-none}" >>"$work/events"
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
    sleep "${MQTT_DOWN:-5}" & nap=$!
    wait "$nap"
    start_broker
    probe_status
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
starts = [float(e[1]) for e in events if e[0] == "start"]
stops = [float(e[1]) for e in events if e[0] == "stop"]
probes = [(float(e[1]), e[2]) for e in events if e[0] == "probe"]
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
    # The first status the subscriber hears after the stop must be "offline".
    said = [(s, p) for s, p in status if s >= t - 0.5]
    if said and said[0][1] == "offline":
        offline_after.append(said[0][0] - t)
    elif said or t < ended - 15:
        offline_after.append(None)
        faults.append(f"no 'offline' before the next 'online' after the stop at {t:.0f}")
online_after = []
for t in [t for t in starts[1:] if t < ended - 15]:   # restarts long enough before the end
    said = [s for s, p in status if p == "online" and s >= t]
    online_after.append(said[0] - t if said else None)
    if not said:
        faults.append(f"no 'online' after the restart at {t:.0f}")
stale = 0
for t, p in probes:
    # "online" is right only once the publisher has said so to the new broker.
    if p == "online" and not [s for s, q in status if q == "online" and s <= t and s >= max(x for x in starts if x <= t)]:
        stale += 1
        faults.append(f"retained 'online' right after the restart before {t:.0f}, publisher not yet back")
if len(positions) < published:
    faults.append(f"{published - len(positions)} published positions never arrived")
said_off = [d for d in offline_after if d is not None]
worst_on = max([d for d in online_after if d is not None], default=0)
probe_says = " ".join(sorted(set(p for _, p in probes))) or "-"
print(f"mqtt: broker restarts {len(stops)}, positions published {published}, dropped while down {dropped}, "
      f"received {len(positions)} distinct; 'offline' first after {len(said_off)} of {len(stops)} stops, "
      f"within the keep-alive (5 s) after {len([d for d in said_off if d <= 5])} "
      f"(at most {max(said_off, default=0):.1f} s after the stop), "
      f"'online' at most {worst_on:.1f} s after a restart; retained status right after a restart: {probe_says}"
      f" ({stale} stale)")
for f in faults:
    print("mqtt: " + f)
sys.exit(1 if faults else 0)
EOF
exit "$status"
