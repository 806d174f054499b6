#!/usr/bin/env bash
# Takes the pictures in docs/ without a display: the stand-in ranges in its
# room and the window is grabbed at 1600 x 1000, at a laptop's 1366 x 740 and
# at its minimum size (each line printed gives the chart's share of the
# window), and in the presentation view (F11, full screen).
# Then the high room: anchors at 2.5 m, the tags' height set, the anchor
# table's Z column shown.
# Then a floor plan of the room behind the chart, calibrated as the settings
# file says (drawn by scripts/floorplan.py), the discovery dialog, and the
# dialogs of "Offsets einmessen" and "Genauigkeit prüfen", the floor plan
# shaded by the anchors' coverage with the tags' ellipses and trails, and the "Verbindungsqualität" window.
# Output: docs/main-window.png, docs/main-window-laptop.png, docs/main-window-small.png,
# docs/presentation.png, docs/tag-height.png, docs/floor-plan.png, docs/discovery.png,
# docs/offsets-dialog.png, docs/accuracy-dialog.png, docs/coverage.png, docs/link-quality.png,
# docs/anchor-survey.png, docs/zones.png (three zones with their occupancy, the "Zonen" tab and the event list).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target orvane orvane-sim
link="$(mktemp -u /tmp/orvane-shot-XXXXXX)"
start_sim() {
  build/sim/orvane-sim --link "$link" "$@" >/dev/null &
  sim=$!
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
}
stop_sim() { kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -f "$link"; }
trap stop_sim EXIT
start_sim
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$(mktemp -d)"
for shot in 1600x1000:main-window 1366x740:main-window-laptop min:main-window-small 1600x1000:presentation; do
  size="${shot%%:*}" out="$PWD/docs/${shot#*:}.png" view=
  [ "${shot#*:}" = presentation ] && view=presentation
  (cd build && ORVANE_SCREENSHOT="$out" ORVANE_SCREENSHOT_SIZE="$size" ORVANE_SCREENSHOT_VIEW="$view" \
     ./orvane --port "$link" --start-ranging ../sim/demo.cfg)
  echo "wrote $out"
done
stop_sim
start_sim --scenario sim/scenarios/room-high.json
{ sed 's/^\(Anchor[0-9]*-Z\)=.*/\1=250/' sim/demo.cfg; echo "TagHeight=100"; } >build/tag-height.cfg
(cd build && ORVANE_SCREENSHOT="$PWD/../docs/tag-height.png" ORVANE_SCREENSHOT_SIZE=1600x1000 ./orvane --port "$link" --start-ranging tag-height.cfg)
echo "wrote docs/tag-height.png"
stop_sim
start_sim
python3 scripts/floorplan.py build/floorplan.png
sed -e "s|^BGImage-File=.*|BGImage-File=$PWD/build/floorplan.png|" -e 's/^BGImage-Factor=.*/BGImage-Factor=2/' \
    -e 's/^BGImage-OffsetX=.*/BGImage-OffsetX=-100/' -e 's/^BGImage-OffsetY=.*/BGImage-OffsetY=900/' \
    -e 's/^DrawBGImage=.*/DrawBGImage=true/' \
    -e 's/^\(Grid-[XY]b*\)=.*/\1=-100/' -e 's/^\(Grid-Wb*\)=.*/\1=1200/' -e 's/^\(Grid-Hb*\)=.*/\1=1000/' \
    sim/demo.cfg >build/floorplan.cfg
(cd build && ORVANE_SCREENSHOT="$PWD/../docs/floor-plan.png" ORVANE_SCREENSHOT_SIZE=1600x1000 ./orvane --port "$link" --start-ranging floorplan.cfg)
echo "wrote docs/floor-plan.png"
# The same with every tag's 95 % ellipse and a 10-second trail.
{ cat build/floorplan.cfg; echo "ShowCoverage=true"; echo "RangeLimit=900"; echo "TrailSeconds=10"
  for t in 0 1; do echo "Tag$t-Uncertainty=true"; echo "Tag$t-Trail=true"; done; } >build/coverage.cfg
(cd build && ORVANE_SCREENSHOT="$PWD/../docs/coverage.png" ORVANE_SCREENSHOT_SIZE=1600x1000 ORVANE_SCREENSHOT_DELAY_MS=8000 \
  ./orvane --port "$link" --start-ranging coverage.cfg)
echo "wrote docs/coverage.png"
(cd build && ORVANE_SCREENSHOT="$PWD/../docs/link-quality.png" ORVANE_SCREENSHOT_DIALOG=links ORVANE_SCREENSHOT_DELAY_MS=6000 \
  ./orvane --port "$link" --start-ranging ../sim/demo.cfg)
echo "wrote docs/link-quality.png"
stop_sim
start_sim
# The discovery dialog: connected, not ranging, discovery started by hand is
# not needed: the dialog lists the modules the master knows.
(cd build && ORVANE_SCREENSHOT="$PWD/../docs/discovery.png" ORVANE_SCREENSHOT_DIALOG=discovery ./orvane --port "$link" --connect ../sim/demo.cfg)
echo "wrote docs/discovery.png"
stop_sim
# The known-point dialogs: the standing tag 2B02 at 300/400, collected for 6 s.
for which in offsets accuracy; do
  start_sim
  (cd build && ORVANE_SCREENSHOT="$PWD/../docs/$which-dialog.png" ORVANE_SCREENSHOT_DIALOG=$which \
    ./orvane --port "$link" --start-ranging ../sim/demo.cfg)
  echo "wrote docs/$which-dialog.png"
  stop_sim
done
# "Anker vermessen" after the stand-in's walk (sim/survey/walk.json, the anchors of sim/survey/rough.cfg):
# the survey's window test shows the result and grabs it.
(cd build && cmake --build . -j2 --target tst_survey >/dev/null && ORVANE_SOURCE_DIR="$PWD/.." ORVANE_BINARY_DIR="$PWD" \
  ORVANE_SURVEY_SCREENSHOT="$PWD/../docs/anchor-survey.png" tests/tst_survey dialogAgainstStandIn >/dev/null)
echo "wrote docs/anchor-survey.png"

# Zones: the walker passes "Lager" and "Tor", "Büro" holds the standing tag.
stop_sim
start_sim
{ cat sim/demo.cfg
  printf '%s\n' 'ZoneCount=3' 'Zone0-Name=Lager' 'Zone0-Color=#2f80ed' 'Zone0-Points="600,100;950,100;950,450;600,450"' \
    'Zone0-Dwell=3' 'Zone1-Name=Tor' 'Zone1-Color=#f2994a' 'Zone1-Points="100,450;400,450;400,550;250,550;250,700;100,700"' \
    'Zone2-Name=Büro' 'Zone2-Color=#27ae60' 'Zone2-Points="250,250;450,250;450,500;250,500"'; } >build/zones.cfg
mkdir -p "$XDG_CONFIG_HOME/Fenwright"
printf '[Seitenleiste]\nSeite=4\n' >"$XDG_CONFIG_HOME/Fenwright/DW1000 HRP Orvane V1.1 Demo.conf"
(cd build && ORVANE_SCREENSHOT="$PWD/../docs/zones.png" ORVANE_SCREENSHOT_SIZE=1600x1000 ORVANE_SCREENSHOT_DELAY_MS=16000 \
   ./orvane --port "$link" --start-ranging zones.cfg)
echo "wrote docs/zones.png"
