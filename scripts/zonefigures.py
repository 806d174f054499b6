#!/usr/bin/env python3
"""Zone events against the truth's crossings.

zonefigures.py crossings SETTINGS.cfg TRUTH.csv EVENTS.csv TAG...
    For each tag and zone of the settings file: the truth's crossings (its
    position's inside/outside changes, visits inside or outside shorter than
    2 s left out) matched with the batch mode's enter and exit events of the
    same kind within 1.5 s. Prints per tag the crossings, those reported in
    time, the spurious events (matched to no crossing), and the timing.
    A zone the truth starts in counts no crossing; the engine's first enter
    into it, before the truth's first crossing there, is no event either.
zonefigures.py doorway SETTINGS.cfg TRUTH.csv EVENTS.csv CROSSING OUTSIDE INSIDE
    The stand-in's doorway: CROSSING walks back and forth over the boundary
    (one event per truth crossing, nothing more), OUTSIDE walks along it 15 cm
    outside (no event), INSIDE stands 20 cm inside (one enter, nothing more).
Exit status 1 when a goal misses.
"""
import configparser, csv, sys

MIN_VISIT_MS = 2000
WINDOW_MS = 1500


def zones_of(path):
    text = open(path, encoding="utf-8").read()
    cfg = configparser.ConfigParser(interpolation=None, strict=False)
    cfg.optionxform = str
    cfg.read_string(text)
    sec = cfg["General"]
    zones = []
    for i in range(int(sec.get("ZoneCount", "0"))):
        pts = sec["Zone%d-Points" % i].strip().strip('"')
        poly = [tuple(float(v) for v in p.split(",")) for p in pts.split(";") if p.strip()]
        zones.append((sec["Zone%d-Name" % i].strip('"'), poly))
    return zones


def inside(poly, x, y):
    c = False
    n = len(poly)
    for i in range(n):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % n]
        if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1:
            c = not c
    return c


def truth_of(path, tag):
    rows = [r for r in csv.DictReader(open(path)) if r["tag_id"].upper() == tag.upper()]
    return [(int(float(r["time_ms"])), float(r["x_cm"]), float(r["y_cm"])) for r in rows]


def crossings(track, poly):
    """Runs of one state [state, first_ms, last_ms]; short inner runs merged away."""
    runs = []
    for t, x, y in track:
        s = inside(poly, x, y)
        if runs and runs[-1][0] == s:
            runs[-1][2] = t
        else:
            runs.append([s, t, t])
    while True:
        inner = [(r[2] - r[1], i) for i, r in enumerate(runs) if 0 < i < len(runs) - 1 and r[2] - r[1] < MIN_VISIT_MS]
        if not inner:
            break
        _, i = min(inner)
        runs[i - 1][2] = runs[i + 1][2]
        del runs[i:i + 2]
    # A last run shorter than a visit is no crossing either.
    if len(runs) > 1 and runs[-1][2] - runs[-1][1] < MIN_VISIT_MS:
        runs.pop()
    result = []
    for a, b in zip(runs, runs[1:]):
        result.append(("enter" if b[0] else "exit", (a[2] + b[1]) / 2.0))
    return runs[0][0] if runs else False, result


def events_of(path):
    return list(csv.DictReader(open(path, encoding="utf-8")))


def match(truth, events):
    """Greedy, closest first: (matched dts, unmatched events)."""
    pairs = sorted((abs(e[1] - t[1]), ti, ei) for ti, t in enumerate(truth) for ei, e in enumerate(events)
                   if t[0] == e[0] and abs(e[1] - t[1]) <= WINDOW_MS)
    used_t, used_e, dts = set(), set(), []
    for d, ti, ei in pairs:
        if ti in used_t or ei in used_e:
            continue
        used_t.add(ti)
        used_e.add(ei)
        dts.append(events[ei][1] - truth[ti][1])
    return dts, [e for i, e in enumerate(events) if i not in used_e]


def per_zone(zones, track, events, tag):
    out = []
    for name, poly in zones:
        start_inside, truth = crossings(track, poly)
        evs = [(e["event"], int(e["rec_ms"])) for e in events
               if e["tag_id"].upper() == tag.upper() and e["zone"] == name and e["event"] in ("enter", "exit")]
        evs.sort(key=lambda e: e[1])
        first_truth = truth[0][1] if truth else float("inf")
        if start_inside and evs and evs[0][0] == "enter" and evs[0][1] < first_truth:
            evs = evs[1:]
        dts, spurious = match(truth, evs)
        out.append((name, truth, evs, dts, spurious))
    return out


def main():
    mode, cfg, truth_path, events_path = sys.argv[1:5]
    zones = zones_of(cfg)
    events = events_of(events_path)
    ok = True
    if mode == "crossings":
        total_t = total_hit = total_spur = 0
        all_dts = []
        for tag in sys.argv[5:]:
            rows = per_zone(zones, truth_of(truth_path, tag), events, tag)
            t = sum(len(r[1]) for r in rows)
            hit = sum(len(r[3]) for r in rows)
            spur = sum(len(r[4]) for r in rows)
            dts = sorted(abs(d) for r in rows for d in r[3])
            all_dts += dts
            total_t, total_hit, total_spur = total_t + t, total_hit + hit, total_spur + spur
            detail = ", ".join("%s %d/%d%s" % (r[0], len(r[3]), len(r[1]), " +%d" % len(r[4]) if r[4] else "") for r in rows)
            print("  %s: %d crossings, %d reported within 1.5 s, %d spurious  (%s)" % (tag, t, hit, spur, detail))
        all_dts.sort()
        recall = 100.0 * total_hit / total_t if total_t else 100.0
        spurious = 100.0 * total_spur / total_t if total_t else 0.0
        med = all_dts[len(all_dts) // 2] / 1000.0 if all_dts else 0.0
        worst = all_dts[-1] / 1000.0 if all_dts else 0.0
        print("  all: recall %.1f %% (goal >= 95), spurious %.1f %% (goal <= 5), |dt| median %.2f s, max %.2f s"
              % (recall, spurious, med, worst))
        ok = recall >= 95.0 and spurious <= 5.0
    else:
        crossing, outside, standing = sys.argv[5:8]
        for name, poly in zones:
            rows = per_zone([(name, poly)], truth_of(truth_path, crossing), events, crossing)
            _, truth, evs, dts, spur = rows[0]
            print("  %s back and forth: %d crossings, %d events, %d matched within 1.5 s"
                  % (crossing, len(truth), len(evs), len(dts)))
            ok &= len(evs) == len(truth) == len(dts)
            n_out = sum(1 for e in events if e["tag_id"].upper() == outside.upper() and e["zone"] == name)
            print("  %s along the boundary 15 cm outside: %d events (goal 0)" % (outside, n_out))
            ok &= n_out == 0
            kinds = [e["event"] for e in events if e["tag_id"].upper() == standing.upper() and e["zone"] == name]
            print("  %s standing 20 cm inside: %s (goal: one enter)" % (standing, ", ".join(kinds) or "none"))
            ok &= kinds == ["enter"]
    print("  goals %s" % ("met" if ok else "MISSED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
