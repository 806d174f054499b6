#!/usr/bin/env bash
# Zone events against the truth, run by scripts/accuracy.sh (or alone):
#  - the real moving run data/realdata/dynamic-mid, tags 2E00 and 2E01, with
#    six zones of ours (four quadrants, a diamond in the middle, an L);
#  - the stand-in's doorway (sim/scenarios/doorway.json): back and forth over
#    the boundary, along it 15 cm outside, standing 20 cm inside.
# scripts/zonefigures.py matches the batch mode's --events with the truth.
# Usage: scripts/zoneaccuracy.sh [seconds of the doorway]   (ORVANE_BUILD=dir picks a built tree)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-300}"
build="${ORVANE_BUILD:-build}"
if [ -z "${ORVANE_BUILD:-}" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target orvane orvane-sim >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0

real=data/realdata/dynamic-mid
cp "$real/room.cfg" "$work/real.cfg"
cat >>"$work/real.cfg" <<'EOF2'
ZoneCount=6
Zone0-Name=Nordost
Zone0-Points="0,0;400,0;400,350;0,350"
Zone1-Name=Nordwest
Zone1-Points="-400,0;0,0;0,350;-400,350"
Zone2-Name=Suedwest
Zone2-Points="-400,-350;0,-350;0,0;-400,0"
Zone3-Name=Suedost
Zone3-Points="0,-350;400,-350;400,0;0,0"
Zone4-Name=Raute
Zone4-Points="100,0;0,100;-100,0;0,-100"
Zone5-Name=L
Zone5-Points="-300,-250;100,-250;100,-120;-150,-120;-150,100;-300,100"
EOF2
for filter in average kalman; do
  "$build/orvane" --replay "$real/rec.orec" --settings "$work/real.cfg" --filter "$filter" \
    --events "$work/real.$filter.events.csv" 2>/dev/null
  echo "Zone events, real ranges ($(basename "$real"), $filter, offsets 0):"
  python3 scripts/zonefigures.py crossings "$work/real.cfg" "$real/truth.csv" "$work/real.$filter.events.csv" 2E00 2E01 \
    || status=1
done

scenario=sim/scenarios/doorway.json
"$build/sim/orvane-sim" --scenario "$scenario" --offline "$seconds" \
  --truth "$work/door.truth.csv" --record "$work/door.orec" 2>/dev/null
cat >"$work/door.cfg" <<'EOF2'
[General]
AnchorCount=4
Anchor0-ID=0D01
Anchor0-X=-400
Anchor0-Y=-300
Anchor0-Master=true
Anchor1-ID=0D02
Anchor1-X=400
Anchor1-Y=-300
Anchor2-ID=0D03
Anchor2-X=400
Anchor2-Y=300
Anchor3-ID=0D04
Anchor3-X=-400
Anchor3-Y=300
TagCount=3
Tag0-ID=2D01
Tag0-Name=hin und her
Tag1-ID=2D02
Tag1-Name=entlang
Tag2-ID=2D03
Tag2-Name=steht
Average=10
ZoneCount=1
Zone0-Name=Tuer
Zone0-Points="0,-300;400,-300;400,300;0,300"
EOF2
for filter in average kalman; do
  "$build/orvane" --replay "$work/door.orec" --settings "$work/door.cfg" --filter "$filter" \
    --events "$work/door.$filter.events.csv" 2>/dev/null
  echo "Zone events, stand-in doorway ($seconds s, $filter):"
  python3 scripts/zonefigures.py doorway "$work/door.cfg" "$work/door.truth.csv" "$work/door.$filter.events.csv" \
    2D01 2D02 2D03 || status=1
done
exit $status
