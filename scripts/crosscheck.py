#!/usr/bin/env python3
"""Does a calibration carry over to where it was not made?

Usage: scripts/crosscheck.py ORVANE REALDATA WORKDIR

For each static pose of the real sets: the offsets --calibrate-at proposes at
each of its six headings (every tag at its true place), combined per anchor by
the median as the offsets dialog combines several measurements; those offsets
are then scored on the six sets of the other pose. For comparison the same with
the offsets of one heading alone (each in turn, the mean of the six scores),
and with the median over both poses' twelve sets (scored on all of them, so
seen sets). Prints the mean RMS over the tags and sets, Kalman filter and raw
fix, in cm.
"""
import bisect
import csv
import math
import os
import re
import statistics
import subprocess
import sys

orvane, real, work = sys.argv[1:4]
sets = sorted(d for d in os.listdir(real) if d.startswith("static-pose"))
poses = sorted({re.match(r"static-(pose\d+)-", d).group(1) for d in sets})


def truth_of(s):
    t = {}
    for r in csv.DictReader(open(os.path.join(real, s, "truth.csv"), encoding="utf-8")):
        t.setdefault(r["tag_id"], []).append((int(r["time_ms"]), float(r["x_cm"]), float(r["y_cm"])))
    return t


truths = {s: truth_of(s) for s in sets}


def offsets_at(s):
    # The offsets one set proposes, read back from the settings file written.
    points = []
    for tag, track in sorted(truths[s].items()):
        points += ["--calibrate-at", "%s=%.0f,%.0f" % (tag, statistics.median(p[1] for p in track),
                                                       statistics.median(p[2] for p in track))]
    out = os.path.join(work, "cc.%s.cfg" % s)
    subprocess.run([orvane, "--replay", os.path.join(real, s, "rec.orec"), "--settings",
                    os.path.join(real, s, "room.cfg")] + points + ["--write-settings", out],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return {m.group(1): int(m.group(2)) for m in re.finditer(r"^Anchor(\d+)-Offset=(-?\d+)", open(out).read(), re.M)}


def settings_with(offsets, name):
    text = open(os.path.join(real, sets[0], "room.cfg"), encoding="utf-8").read()
    for a, v in offsets.items():
        text = re.sub(r"^Anchor%s-Offset=.*$" % a, "Anchor%s-Offset=%d" % (a, v), text, flags=re.M)
    path = os.path.join(work, "cc.%s.cfg" % name)
    open(path, "w", encoding="utf-8").write(text)
    return path


def at(track, ms):
    times = [p[0] for p in track]
    i = min(max(bisect.bisect_left(times, ms), 1), len(track) - 1)
    (t0, x0, y0), (t1, x1, y1) = track[i - 1], track[i]
    f = min(1.0, max(0.0, (ms - t0) / (t1 - t0))) if t1 > t0 else 0.0
    return x0 + f * (x1 - x0), y0 + f * (y1 - y0)


def inside95(r, tx, ty):
    # The exported ellipse: sigmas and correlation; chi-square(2) at 95 % is 5.991.
    sx, sy, rho = float(r["sigma_x_cm"]), float(r["sigma_y_cm"]), float(r["rho_xy"])
    dx, dy = float(r["avg_x_cm"]) - tx, float(r["avg_y_cm"]) - ty
    det = sx * sx * sy * sy * (1 - rho * rho)
    cxy = rho * sx * sy
    return det > 0 and (dx * dx * sy * sy - 2 * dx * dy * cxy + dy * dy * sx * sx) / det <= 5.991


def score(cfg, scored, coverage=None):
    # Mean RMS over the sets' tags: Kalman filter, raw fix. With `coverage`, per
    # set the share of filtered fixes inside their 95 % ellipse, their r95 and errors.
    out = {"kalman": [], "raw": []}
    for s in scored:
        csv_path = os.path.join(work, "cc.score.csv")
        subprocess.run([orvane, "--replay", os.path.join(real, s, "rec.orec"), "--settings", cfg, "--export", csv_path,
                        "--filter", "kalman"], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rows = list(csv.DictReader(open(csv_path, encoding="utf-8")))
        for tag, track in truths[s].items():
            for key, kind in (("kalman", "avg"), ("raw", "raw")):
                e = [math.hypot(float(r[kind + "_x_cm"]) - at(track, int(r["rec_ms"]))[0],
                                float(r[kind + "_y_cm"]) - at(track, int(r["rec_ms"]))[1])
                     for r in rows if r["tag_id"] == tag and r[kind + "_x_cm"] != ""]
                out[key].append(math.sqrt(sum(x * x for x in e) / len(e)))
        if coverage is not None:
            inside, half, err = [], [], []
            for r in rows:
                if r["avg_x_cm"] == "" or r.get("sigma_x_cm", "") == "":
                    continue
                tx, ty = at(truths[s][r["tag_id"]], int(r["rec_ms"]))
                inside.append(inside95(r, tx, ty))
                half.append(float(r["r95_cm"]))
                err.append(math.hypot(float(r["avg_x_cm"]) - tx, float(r["avg_y_cm"]) - ty))
            coverage[s] = (inside, half, err)
    return tuple(sum(v) / len(v) for v in (out["kalman"], out["raw"]))


def median_offsets(group):
    each = [offsets_at(s) for s in group]
    return {a: int(round(statistics.median(o[a] for o in each))) for a in each[0]}, each


print("| Calibrated at | Scored on | Offsets (cm) | Kalman filter | Raw fix |")
print("|---|---|---|---|---|")
results = {}
coverage = {}
for pose in poses:
    own = [s for s in sets if s.startswith("static-%s-" % pose)]
    other = [s for s in sets if s not in own]
    others = ", ".join(sorted({re.match(r"static-(pose\d+)-", s).group(1) for s in other}))
    med, each = median_offsets(own)
    k, r = score(settings_with(med, pose), other, coverage)
    results[pose] = k
    print("| %s, %d headings, median per anchor | %s, %d sets | %s | %.1f cm | %.1f cm |"
          % (pose, len(own), others, len(other), " / ".join(str(med[a]) for a in sorted(med)), k, r))
    single = [score(settings_with(o, "%s.single" % pose), other) for o in each]
    print("| %s, one heading (mean over the %d, worst) | %s, %d sets | – | %.1f cm, %.1f cm | %.1f cm, %.1f cm |"
          % (pose, len(each), others, len(other), sum(x[0] for x in single) / len(single), max(x[0] for x in single),
             sum(x[1] for x in single) / len(single), max(x[1] for x in single)))
both, _ = median_offsets(sets)
k, r = score(settings_with(both, "both"), sets)
print("| both poses, %d sets, median per anchor | the same %d sets (seen) | %s | %.1f cm | %.1f cm |"
      % (len(sets), len(sets), " / ".join(str(both[a]) for a in sorted(both)), k, r))
k, r = score(os.path.join(real, sets[0], "room.cfg"), sets)
print("| none (offsets 0) | all %d sets | 0 | %.1f cm | %.1f cm |" % (len(sets), k, r))
print()
print("Cross-check, Kalman filter: " + ", ".join("calibrated at %s %.1f cm" % (p, results[p]) for p in poses)
      + " (goal: at most 7 cm both ways)")

print()
print("Ellipses after the cross-check's calibration (median of six headings at the other pose): share of")
print("filtered fixes, all tags, inside the 95 % ellipse per set; median r95 over median error of all of them")
print()
print("| Set | inside | median r95 / median error |")
print("|---|---|---|")
for s in sorted(coverage):
    inside, half, err = coverage[s]
    print("| %s | %.1f %% | %.2f |" % (s, 100.0 * sum(inside) / len(inside), statistics.median(half) / statistics.median(err)))
every_half = [h for v in coverage.values() for h in v[1]]
every_err = [e for v in coverage.values() for e in v[2]]
print("| all %d sets | %.1f %% | %.2f |" % (len(coverage), 100.0 * sum(sum(v[0]) for v in coverage.values())
      / sum(len(v[0]) for v in coverage.values()), statistics.median(every_half) / statistics.median(every_err)))
