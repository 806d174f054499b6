#!/usr/bin/env bash
# Positioning accuracy against the stand-in's truth. For every scenario in
# sim/scenarios/: orvane-sim ranges for a fixed simulated time (--offline) and
# writes a recording and the true positions; the batch mode replays the
# recording once per smoothing; the positions are joined with the truth by the
# recording's clock. Prints one table row per scenario, tag and setting.
# Scenarios whose tags are not at the anchors' height are replayed a second
# time with the tags' height set (TagHeight), rows marked "with tag height".
# Each averaged or filtered position's 95 % ellipse (from the export's sigma
# and rho columns) is checked against the truth: the share inside, and the
# median r95 over the median error. Then the real DW1000 recordings in data/realdata/: per set and tag the RMS,
# p95 and max of the raw fix, the average over 10 and the Kalman filter
# against the motion-capture truth, with every offset 0 and again with the
# offsets that --calibrate-at proposes from static-pose5-heading0; the moving
# run also made 2, 4 and 6 times faster (scripts/speedup.py), each dynamic run
# with a line whether the filter beats the raw fix for every tag; last, the
# calibration cross-check between the two static poses (scripts/crosscheck.py).
# Usage: scripts/accuracy.sh [seconds]   (default 300; ORVANE_BUILD=dir picks the build;
#        ORVANE_ACCURACY=sim, real, zones or survey runs only the stand-in's, the real sets',
#        the zone events' or the anchor survey's part)
# Then scripts/zoneaccuracy.sh: zone events against the truth on the real moving run and the stand-in's doorway.
# Last, the anchor survey (scripts/lib/survey-accuracy.py): anchors solved from
# the walk of dynamic-mid and of the stand-in's sim/survey/walk.json.
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

parts="${ORVANE_ACCURACY:-all}"
if [ "$parts" = zones ]; then
  ORVANE_BUILD="$build" exec scripts/zoneaccuracy.sh "$seconds"
fi
if [ "$parts" = survey ]; then
  python3 scripts/lib/survey-accuracy.py "$build" "$work"
  exit 0
fi
scenarios=(sim/scenarios/*.json)
[ "$parts" = real ] && scenarios=()
for scenario in "${scenarios[@]}"; do
  name="$(basename "$scenario" .json)"
  "$build/sim/orvane-sim" --scenario "$scenario" --offline "$seconds" \
    --truth "$work/$name.truth.csv" --record "$work/$name.orec" 2>/dev/null
  # Settings for the scenario's configured modules, every position shown; with
  # the tags off the anchors' height also "$name.height.cfg" with TagHeight.
  python3 - "$scenario" "$work/$name.cfg" "$work/$name.height.cfg" <<'EOF'
import json, sys
sc = json.load(open(sys.argv[1], encoding="utf-8"))
anchors = [a for a in sc["anchors"] if a.get("configured", True)]
tags = [t for t in sc.get("tags", []) if t.get("configured", True)]
def xyz(m):
    p = m.get("position") or (m["waypoints"][0] if "waypoints" in m else [m["x"], m["y"]])
    return p[0], p[1], p[2] if len(p) > 2 else m.get("z", 0)
lines = ["[General]", "AnchorCount=%d" % len(anchors)]
for i, a in enumerate(anchors):
    x, y, z = xyz(a)
    lines += ["Anchor%d-ID=%s" % (i, a["id"]), "Anchor%d-Name=%s" % (i, a["id"]), "Anchor%d-X=%d" % (i, x),
              "Anchor%d-Y=%d" % (i, y), "Anchor%d-Z=%d" % (i, z), "Anchor%d-Offset=0" % i,
              "Anchor%d-Master=%s" % (i, "true" if i == 0 else "false"), "Anchor%d-Color=#ff0000" % i]
lines.append("TagCount=%d" % len(tags))
for i, t in enumerate(tags):
    lines += ["Tag%d-ID=%s" % (i, t["id"]), "Tag%d-Name=%s" % (i, t["id"]), "Tag%d-Color=#2299ff" % i]
    lines += ["Tag%d-%s=true" % (i, k) for k in ("PosRaw", "PosAvg", "Speed", "Rate", "Coordinates")]
    lines += ["Tag%d-%s=false" % (i, k) for k in ("DistRaw", "DistAvg")]
lines += ["Average=10", "Grid-X=-100", "Grid-Y=-100", "Grid-W=1000", "Grid-H=1000"]
open(sys.argv[2], "w").write("\n".join(lines) + "\n")
if tags and {xyz(t)[2] for t in tags} != {xyz(a)[2] for a in anchors}:
    lines.append("TagHeight=%d" % xyz(tags[0])[2])   # one height for all tags
    open(sys.argv[3], "w").write("\n".join(lines) + "\n")
EOF
  for run in "$name" "$name.height"; do
    [ -f "$work/$run.cfg" ] || continue
    for filter in average kalman; do
      "$build/orvane" --replay "$work/$name.orec" --settings "$work/$run.cfg" \
        --export "$work/$run.$filter.csv" --filter "$filter" 2>/dev/null
    done
  done
done

[ "$parts" = real ] || python3 - "$work" sim/scenarios/*.json <<'EOF'
import csv, json, math, os, sys
work, files = sys.argv[1], sys.argv[2:]

def path_position(path, speed, ms, stop=0.0):
    # As the stand-in walks it: along the closed polyline at constant speed,
    # standing `stop` seconds at every waypoint it reaches.
    if len(path) == 1 or speed <= 0:
        return path[0]
    segs = [(path[i], path[(i + 1) % len(path)]) for i in range(len(path))]
    loop = sum(math.dist(a, b) for a, b in segs) / speed + stop * len(segs)
    if loop <= 0:
        return path[0]
    t = math.fmod(ms / 1000.0, loop)
    for i, (a, b) in enumerate(segs):
        leg = math.dist(a, b) / speed
        if t <= leg + stop or i == len(segs) - 1:
            f = min(1.0, t / leg) if leg > 0 else 1.0
            return (a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f)
        t -= leg + stop
    return path[0]

def pct(v, p):
    v = sorted(v)
    return v[min(len(v) - 1, int(p * len(v)))] if v else float("nan")

def stats(e):
    return (math.sqrt(sum(x * x for x in e) / len(e)), pct(e, 0.5), pct(e, 0.95), max(e)) if e else None

def inside95(r, tx, ty):
    # The exported ellipse: sigmas and correlation; chi-square(2) at 95 % is 5.991.
    if r.get("sigma_x_cm", "") == "":
        return None
    sx, sy, rho = float(r["sigma_x_cm"]), float(r["sigma_y_cm"]), float(r["rho_xy"])
    dx, dy = float(r["avg_x_cm"]) - tx, float(r["avg_y_cm"]) - ty
    det = sx * sx * sy * sy * (1 - rho * rho)
    if det <= 0:
        return False
    cxy = rho * sx * sy
    return (dx * dx * sy * sy - 2 * dx * dy * cxy + dy * dy * sx * sx) / det <= 5.991

coverage = []

def plan(sc):
    # The scenario seen from above: what a flat twin shares with it.
    def flat(m):
        p = m.get("waypoints") or [m.get("position") or [m["x"], m["y"]]]
        return [m["id"], [q[:2] for q in p], m.get("speed"), m.get("configured", True)]
    return json.dumps([[flat(m) for m in sc["anchors"]], [flat(m) for m in sc.get("tags", [])]])

print("| Scenario | Tag | Setting | RMS | median | p95 | max after 1 s | speed error median |")
print("|---|---|---|---|---|---|---|---|")
summary = []
flat_rms = {}   # plan -> tag -> setting -> RMS of the scenarios without heights
height_rms = []
for f in files:
    name = os.path.basename(f)[:-5]
    sc = json.load(open(f, encoding="utf-8"))
    tags = {t["id"]: t for t in sc.get("tags", []) if t.get("configured", True)}
    def truth(tag, ms):
        t = tags[tag]
        path = t.get("waypoints") or [t.get("position") or [t["x"], t["y"]]]
        return path_position([tuple(p[:2]) for p in path], t.get("speed", 100), ms, t.get("stop", 0))
    for run, label in ((name, ""), (name + ".height", ", with tag height")):
        if not os.path.exists(os.path.join(work, run + ".average.csv")):
            continue
        rows = {}
        for filter in ("average", "kalman"):
            with open(os.path.join(work, "%s.%s.csv" % (run, filter)), newline="", encoding="utf-8") as fh:
                rows[filter] = list(csv.DictReader(fh))
        for tag, t in tags.items():
            moving = len(t.get("waypoints") or []) > 1 and t.get("speed", 100) > 0
            true_speed = t.get("speed", 100) / 100.0 if moving else 0.0
            motion = "%.1f m/s" % true_speed if moving else "standing"
            if moving and t.get("stop", 0):
                motion += ", %g s stops" % t["stop"]
            results = {}
            for setting, filter, kind in (("raw fix", "average", "raw"), ("average 10", "average", "avg"),
                                          ("Kalman filter", "kalman", "avg")):
                err, late, speed = [], [], []
                cover, half, cover_err = [], [], []
                for r in rows[filter]:
                    if r["tag_id"] != tag or r[kind + "_x_cm"] == "":
                        continue
                    ms = int(r["rec_ms"])
                    tx, ty = truth(tag, ms)
                    e = math.hypot(float(r[kind + "_x_cm"]) - tx, float(r[kind + "_y_cm"]) - ty)
                    err.append(e)
                    if ms >= 1000:
                        late.append(e)
                    if kind == "avg":
                        # The true speed there and then (0 while it stands at a waypoint).
                        ax, ay = truth(tag, ms - 50)
                        bx, by = truth(tag, ms + 50)
                        now_speed = math.hypot(bx - ax, by - ay) / 100.0 / 0.1 if moving else 0.0
                        speed.append(abs(float(r["speed_mps"]) - now_speed))
                        inside = inside95(r, tx, ty)
                        if inside is not None:
                            cover.append(inside)
                            half.append(float(r["r95_cm"]))
                            cover_err.append(e)
                if kind == "avg":
                    coverage.append((sc.get("name", name), tag, setting + label, cover, half, cover_err))
                s = stats(err)
                results[setting] = s
                sp = "%.2f m/s" % pct(speed, 0.5) if speed else "–"
                print("| %s | %s (%s) | %s%s | %.1f cm | %.1f cm | %.1f cm | %.1f cm | %s |"
                      % (sc.get("name", name), tag, motion, setting, label, s[0], s[1], s[2], max(late), sp))
            if moving and results.get("Kalman filter"):
                # How far the filtered track leaves the path (turns: overshoot).
                path = [tuple(p[:2]) for p in t["waypoints"]]
                segs = list(zip(path, path[1:] + path[:1]))
                def off_path(x, y):
                    best = float("inf")
                    for (ax, ay), (bx, by) in segs:
                        l2 = (bx - ax) ** 2 + (by - ay) ** 2
                        f = max(0.0, min(1.0, ((x - ax) * (bx - ax) + (y - ay) * (by - ay)) / l2)) if l2 else 0.0
                        best = min(best, math.hypot(x - ax - f * (bx - ax), y - ay - f * (by - ay)))
                    return best
                off = [off_path(float(r["avg_x_cm"]), float(r["avg_y_cm"])) for r in rows["kalman"]
                       if r["tag_id"] == tag and r["avg_x_cm"] != "" and int(r["rec_ms"]) >= 1000]
                summary.append("%s%s %s: Kalman off the path by at most %.1f cm (after 1 s)"
                               % (name, label, tag, max(off) if off else float("nan")))
            raw_median = results["raw fix"][1]
            summary.append("%s%s %s: Kalman RMS %.1f cm = %.2f x raw median %.1f cm"
                           % (name, label, tag, results["Kalman filter"][0], results["Kalman filter"][0] / raw_median,
                              raw_median))
            heights = [m.get("z", 0) for m in sc["anchors"] + list(tags.values())] + \
                [p[2] for m in sc["anchors"] + list(tags.values())
                 for p in (m.get("waypoints") or [m.get("position") or []]) if len(p) > 2]
            if not any(heights):
                flat_rms.setdefault(plan(sc), {})[tag] = (name, results)
            elif label:
                height_rms.append((plan(sc), name, tag, results))
print()
print("Uncertainty: share of fixes whose true position lies inside the 95 % ellipse, and the median larger")
print("half-axis (r95) over the median error of the same fixes")
print()
print("| Scenario | Tag | Setting | inside | median r95 | median error | ratio |")
print("|---|---|---|---|---|---|---|")
for sc_name, tag, setting, cover, half, cover_err in coverage:
    if cover:
        print("| %s | %s | %s | %.1f %% | %.1f cm | %.1f cm | %.2f |" % (sc_name, tag, setting, 100.0 * sum(cover) / len(cover),
              pct(half, 0.5), pct(cover_err, 0.5), pct(half, 0.5) / max(pct(cover_err, 0.5), 1e-9)))
print()
for line in summary:
    print(line)
# Tags off the anchors' height, with the height set, against the same room flat.
for key, name, tag, results in height_rms:
    if tag not in flat_rms.get(key, {}):
        continue
    flat_name, flat = flat_rms[key][tag]
    print("%s %s with tag height: RMS %s x %s" % (name, tag, ", ".join(
        "%s %.1f cm = %.2f" % (s, results[s][0], results[s][0] / flat[s][0]) for s in results), flat_name))
EOF

# Real ranges: offsets 0, then calibrated at one static set (its tags at their
# true positions) and those offsets applied to every other set.
[ "$parts" = sim ] && exit 0
# The sets as recorded, and the moving run made 2, 4 and 6 times faster
# (0.46, 0.9 and 1.4 m/s) by scripts/speedup.py.
real="$work/sets"
mkdir -p "$real"
for dir in data/realdata/*/; do ln -s "$PWD/$dir" "$real/$(basename "$dir")"; done
for k in 2 4 6; do scripts/speedup.py data/realdata/dynamic-mid "$k" "$real/dynamic-mid-x$k"; done
calib_set=static-pose5-heading0
points=()
while IFS= read -r p; do points+=(--calibrate-at "$p"); done < <(python3 - "$real/$calib_set/truth.csv" <<'EOF'
import csv, statistics, sys
rows = list(csv.DictReader(open(sys.argv[1], encoding="utf-8")))
for tag in sorted({r["tag_id"] for r in rows}):
    xs = [float(r["x_cm"]) for r in rows if r["tag_id"] == tag]
    ys = [float(r["y_cm"]) for r in rows if r["tag_id"] == tag]
    print("%s=%.0f,%.0f" % (tag, statistics.median(xs), statistics.median(ys)))
EOF
)
"$build/orvane" --replay "$real/$calib_set/rec.orec" --settings "$real/$calib_set/room.cfg" "${points[@]}" \
  --write-settings "$work/real.calibrated.cfg" >"$work/real.offsets.txt" 2>/dev/null
for dir in "$real"/*/; do
  set_name="$(basename "$dir")"
  for filter in average kalman; do
    "$build/orvane" --replay "$dir/rec.orec" --settings "$dir/room.cfg" \
      --export "$work/real.$set_name.zero.$filter.csv" --filter "$filter" 2>/dev/null
    if [ "$set_name" != "$calib_set" ]; then
      "$build/orvane" --replay "$dir/rec.orec" --settings "$work/real.calibrated.cfg" \
        --export "$work/real.$set_name.calibrated.$filter.csv" --filter "$filter" 2>/dev/null
    fi
  done
done
echo
echo "Offsets proposed at $calib_set (--calibrate-at):"
sed 's/^/    /' "$work/real.offsets.txt"
python3 - "$work" "$real" <<'EOF'
import bisect, csv, math, os, sys
work, real = sys.argv[1], sys.argv[2]

def truth_of(path):
    t = {}
    for r in csv.DictReader(open(path, encoding="utf-8")):
        t.setdefault(r["tag_id"], []).append((int(r["time_ms"]), float(r["x_cm"]), float(r["y_cm"])))
    return t

def at(track, ms):
    # Linear between the truth's samples, held at its ends.
    times = [p[0] for p in track]
    i = bisect.bisect_left(times, ms)
    if i <= 0:
        return track[0][1:]
    if i >= len(track):
        return track[-1][1:]
    (t0, x0, y0), (t1, x1, y1) = track[i - 1], track[i]
    f = (ms - t0) / (t1 - t0) if t1 > t0 else 0.0
    return x0 + f * (x1 - x0), y0 + f * (y1 - y0)

def pct(v, p):
    v = sorted(v)
    return v[min(len(v) - 1, int(p * len(v)))] if v else float("nan")

def errors(path, track, tag, kind):
    e = []
    for r in csv.DictReader(open(path, encoding="utf-8")):
        if r["tag_id"] != tag or r[kind + "_x_cm"] == "":
            continue
        tx, ty = at(track, int(r["rec_ms"]))
        e.append(math.hypot(float(r[kind + "_x_cm"]) - tx, float(r[kind + "_y_cm"]) - ty))
    return e

def coverage(path, track, tag):
    inside, half, err = [], [], []
    for r in csv.DictReader(open(path, encoding="utf-8")):
        if r["tag_id"] != tag or r["avg_x_cm"] == "" or r.get("sigma_x_cm", "") == "":
            continue
        tx, ty = at(track, int(r["rec_ms"]))
        sx, sy, rho = float(r["sigma_x_cm"]), float(r["sigma_y_cm"]), float(r["rho_xy"])
        dx, dy = float(r["avg_x_cm"]) - tx, float(r["avg_y_cm"]) - ty
        det = sx * sx * sy * sy * (1 - rho * rho)
        cxy = rho * sx * sy
        inside.append(det > 0 and (dx * dx * sy * sy - 2 * dx * dy * cxy + dy * dy * sx * sx) / det <= 5.991)
        half.append(float(r["r95_cm"]))
        err.append(math.hypot(dx, dy))
    return inside, half, err

def rms(e):
    return math.sqrt(sum(x * x for x in e) / len(e)) if e else float("nan")

sets = sorted(d for d in os.listdir(real) if os.path.isdir(os.path.join(real, d)))
for offsets, title in (("zero", "offsets 0"), ("calibrated", "offsets from --calibrate-at static-pose5-heading0")):
    print()
    print("Real ranges, %s: RMS / p95 / max (cm)" % title)
    print()
    print("| Set | Tag | Kalman filter | Average 10 | Raw fix |")
    print("|---|---|---|---|---|")
    means = {}
    for s in sets:
        if not os.path.exists(os.path.join(work, "real.%s.%s.kalman.csv" % (s, offsets))):
            continue
        truth = truth_of(os.path.join(real, s, "truth.csv"))
        for tag in sorted(truth):
            cells = []
            for setting, filter, kind in (("kalman", "kalman", "avg"), ("average", "average", "avg"),
                                          ("raw", "average", "raw")):
                e = errors(os.path.join(work, "real.%s.%s.%s.csv" % (s, offsets, filter)), truth[tag], tag, kind)
                cells.append("%.1f / %.1f / %.1f" % (rms(e), pct(e, 0.95), max(e) if e else float("nan")))
                group = "dynamic" if s.startswith("dynamic") else "static"
                means.setdefault((group, setting), []).append(rms(e))
            print("| %s | %s | %s |" % (s, tag, " | ".join(cells)))
    print()
    print("Uncertainty, %s: inside the 95 %% ellipse / median r95 over median error" % title)
    print()
    print("| Set | Tag | Kalman filter | Average 10 |")
    print("|---|---|---|---|")
    pooled = {}
    for s in sets:
        if not os.path.exists(os.path.join(work, "real.%s.%s.kalman.csv" % (s, offsets))):
            continue
        truth = truth_of(os.path.join(real, s, "truth.csv"))
        for tag in sorted(truth):
            cells = []
            for filter in ("kalman", "average"):
                inside, half, err = coverage(os.path.join(work, "real.%s.%s.%s.csv" % (s, offsets, filter)), truth[tag], tag)
                p = pooled.setdefault(filter, ([], [], []))
                p[0].extend(inside)
                p[1].extend(half)
                p[2].extend(err)
                cells.append("%.1f %% / %.2f" % (100.0 * sum(inside) / len(inside), pct(half, 0.5) / max(pct(err, 0.5), 1e-9))
                             if inside else "–")
            print("| %s | %s | %s |" % (s, tag, " | ".join(cells)))
    for filter, (inside, half, err) in sorted(pooled.items()):
        if inside:
            print("all sets, %s, %s: %.1f %% inside, median r95 %.1f cm = %.2f x median error %.1f cm"
                  % (title, filter, 100.0 * sum(inside) / len(inside), pct(half, 0.5), pct(half, 0.5) / max(pct(err, 0.5), 1e-9),
                     pct(err, 0.5)))
    print()
    for s in sets:
        if s.startswith("dynamic") and os.path.exists(os.path.join(work, "real.%s.%s.kalman.csv" % (s, offsets))):
            truth = truth_of(os.path.join(real, s, "truth.csv"))
            verdict = []
            for tag in sorted(truth):
                k, r = (rms(errors(os.path.join(work, "real.%s.%s.%s.csv" % (s, offsets, f)), truth[tag], tag, kind))
                        for f, kind in (("kalman", "avg"), ("average", "raw")))
                verdict.append("%s %.1f / %.1f cm%s" % (tag, k, r, "" if k <= r else " WORSE"))
            print("%s, %s, Kalman / raw fix: %s" % (s, title, ", ".join(verdict)))
    for group in ("dynamic", "static"):
        if (group, "kalman") in means:
            print("%s sets, %s, mean RMS over the tags: Kalman %.1f cm, average %.1f cm, raw fix %.1f cm"
                  % (group, title, *(sum(v) / len(v) for v in (means[(group, k)] for k in ("kalman", "average", "raw")))))
EOF

if [ "$parts" != sim ]; then
  echo
  echo "Calibration carried over (scripts/crosscheck.py): offsets from one pose, scored on the other"
  echo
  python3 scripts/crosscheck.py "$build/orvane" data/realdata "$work"
fi
if [ "$parts" = all ]; then
  echo
  ORVANE_BUILD="$build" scripts/zoneaccuracy.sh "$seconds"
  python3 scripts/lib/survey-accuracy.py "$build" "$work"
fi
exit 0
