#!/usr/bin/env python3
"""The show's camera path, written as the text sources of the tracks camx, camy, camz, xrot, yrot
and zrot (data/science/src/<name>.txt).

The path is a list of waypoints in orbit terms around a look-at target: distance, azimuth and
elevation of the eye, plus a roll. Between waypoints the values follow a smooth curve; the eye
position and the rotations that aim the camera at the target are sampled every STEP rows and
written as linear keys (keys that a straight line between their neighbours already gives are
dropped). The aim is exact at every key and off by a fraction of a degree in between.

Run it from the repository root after editing WAYPOINTS, then rebuild the track files:

    python3 tools/show/camera.py && tools/show/build-tracks.sh build-show

How the program turns the tracks into a camera: orientation = Rz(zrot) * Ry(yrot) * Rx(xrot),
forward = orientation * (0, 0, 1), eye = (camx, camy, camz), looking at eye + forward. With all
rotations 0 the camera looks along +z. Angles are converted with pi taken as 3.141, so the
degrees written here are scaled by 3.141 / pi to turn the camera by the intended angle.
"""

import math
import os
import sys

STEP = 8  # rows between samples (1/3 s)

# Azimuth 0: the eye on the -z side looking at the front of the heart; 90: the eye on +x (the
# screen's left from the front view, where the fetus's back is); elevation > 0: the eye above.
# Roll turns the picture about the world z axis (a true roll while looking along z).
# `leave` says how the values move on to the next waypoint:
#   spline  a smooth curve through the neighbouring waypoints (no stop at this one)
#   ease    starts and arrives at rest (smoothstep)
#   linear  straight, at constant speed
# `cut` on a waypoint makes the camera jump to it instead of travelling there.
WAYPOINTS = [
    # row   dist   azim   elev   roll  target            leave     cut
    # Intro: from far outside the dust ball, drifting in through it.
    (0,     80.0,  -50.0,  18.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    (256,   42.0,  -32.0,  10.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    (512,   14.0,  -12.0,   6.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    # Heartbeat: the heart appears; a slow orbit in front of it.
    (768,    9.5,    5.0,   8.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    (1024,   8.5,   30.0,  12.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    (1280,   8.0,    0.0,   4.0,   0.0, (1.4, 0.3, 0.0), "spline", False),
    (1536,   7.5,  -40.0,  -4.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    # Build: closer, sweeping back across, rolling; a push in while the heart holds its breath.
    (1792,   6.8,    0.0,   8.0,   8.0, (0.0, 0.0, 0.0), "spline", False),
    (1984,   6.8,   45.0,  12.0,  15.0, (0.0, 0.0, 0.0), "ease", False),
    (2047,   6.2,   55.0,  10.0,  20.0, (0.0, 0.0, 0.0), "spline", False),
    # Climax: cut to a high view from behind on the downbeat, round the heart and into it for
    # the kaleidoscope (rows 2304-2560).
    (2048,   8.0,  150.0,  20.0,   0.0, (0.0, 0.0, 0.0), "spline", True),
    (2240,   7.5,  200.0,   8.0,  -8.0, (0.0, 0.0, 0.0), "spline", False),
    (2304,   4.6,  215.0,   6.0, -12.0, (0.0, 0.0, 0.0), "spline", False),
    (2559,   4.2,  290.0,  -8.0,  10.0, (0.0, 0.0, 0.0), "spline", False),
    # Second chorus: cut back out on its downbeat, round to the front.
    (2560,   9.0,  300.0,  -6.0,  10.0, (0.0, 0.0, 0.0), "spline", True),
    (2816,   7.5,  360.0,  10.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    (2944,   7.0,  385.0,  14.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    (3071,   6.5,  400.0,   6.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    # Breakdown: cut on the impact; the fetus in profile, turning slowly towards its face.
    (3072,  11.0,   20.0,   3.0,   0.0, (0.0, 0.0, 0.0), "spline", True),
    (3328,   9.0,  -15.0,   9.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    # Return: the heartbeat comes back; closer to the fetus's face.
    (3584,   7.8,  -45.0,   5.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    (3712,   7.2,  -70.0,  12.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    # Outro: the heart again, the camera pulling far back out of the dust.
    (3840,   8.5,  -40.0,   8.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    (4096,  16.0,   30.0,  18.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
    (4352,  40.0,   90.0,  30.0,   0.0, (0.0, 0.0, 0.0), "spline", False),
]

# The program converts degrees with this value of pi.
SHOW_PI = 3.141


def smoothstep(t):
    return t * t * (3.0 - 2.0 * t)


def hermite(p0, p1, m0, m1, t, span):
    """Cubic Hermite from p0 to p1 over `span` rows with slopes m0, m1 (per row)."""
    t2, t3 = t * t, t * t * t
    return ((2 * t3 - 3 * t2 + 1) * p0 + (t3 - 2 * t2 + t) * span * m0 + (-2 * t3 + 3 * t2) * p1 +
            (t3 - t2) * span * m1)


def params(w):
    """The interpolated quantities of a waypoint."""
    row, dist, azim, elev, roll, target, _, _ = w
    return [dist, azim, elev, roll, target[0], target[1], target[2]]


def slope(i, k):
    """Slope (per row) of quantity k at waypoint i: a central difference between the neighbours
    when the curve passes through smoothly, 0 where it starts, stops or is cut."""
    w = WAYPOINTS
    if i == 0 or i == len(w) - 1:
        return 0.0
    if w[i][7] or w[i + 1][7]:  # cut into or out of this waypoint
        return 0.0
    if w[i - 1][6] != "spline" or w[i][6] != "spline":
        return 0.0
    return (params(w[i + 1])[k] - params(w[i - 1])[k]) / (w[i + 1][0] - w[i - 1][0])


def state_at(row):
    """Interpolated waypoint quantities at a row."""
    w = WAYPOINTS
    if row <= w[0][0]:
        return params(w[0])
    for i in range(len(w) - 1):
        a, b = w[i], w[i + 1]
        if a[0] <= row < b[0]:
            t = (row - a[0]) / (b[0] - a[0])
            pa, pb = params(a), params(b)
            if b[7]:  # cut: travel as if the next waypoint were this one
                return pa
            if a[6] == "linear":
                return [x + (y - x) * t for x, y in zip(pa, pb)]
            if a[6] == "ease":
                s = smoothstep(t)
                return [x + (y - x) * s for x, y in zip(pa, pb)]
            return [hermite(pa[k], pb[k], slope(i, k), slope(i + 1, k), t, b[0] - a[0])
                    for k in range(len(pa))]
    return params(w[-1])


def camera_at(row):
    """(camx, camy, camz, xrot, yrot, zrot) at a row; angles in the program's degrees."""
    dist, azim, elev, roll, tx, ty, tz = state_at(row)
    az, el = math.radians(azim), math.radians(elev)
    eye = (tx + dist * math.cos(el) * math.sin(az), ty + dist * math.sin(el),
           tz - dist * math.cos(el) * math.cos(az))
    d = [tx - eye[0], ty - eye[1], tz - eye[2]]
    n = math.sqrt(sum(c * c for c in d))
    d = [c / n for c in d]
    # forward = Rz(roll) * Ry(yaw) * Rx(pitch) * z must equal d: undo the roll first.
    g = math.radians(roll)
    f = (math.cos(g) * d[0] + math.sin(g) * d[1], -math.sin(g) * d[0] + math.cos(g) * d[1], d[2])
    pitch = math.asin(max(-1.0, min(1.0, -f[1])))
    yaw = math.atan2(f[0], f[2])
    to_show = 180.0 / SHOW_PI
    return [eye[0], eye[1], eye[2], pitch * to_show, yaw * to_show, g * to_show]


def sample_rows():
    rows = set()
    w = WAYPOINTS
    for i in range(len(w) - 1):
        a, b = w[i][0], w[i + 1][0]
        rows.update(range(a, b, STEP))
        if w[i + 1][7]:
            rows.add(b - 1)  # the cut: arrive, then jump within one row
    rows.add(w[-1][0])
    return sorted(rows)


def simplify(keys, tolerance):
    """Drops keys that the straight line between the kept neighbours reproduces within tolerance."""
    if len(keys) <= 2:
        return keys
    kept = [keys[0]]
    i = 0
    while i < len(keys) - 1:
        j = i + 1
        # extend the line from keys[i] as far as every skipped key stays on it
        while j + 1 < len(keys):
            r0, v0 = keys[i]
            r1, v1 = keys[j + 1]
            if all(abs(v0 + (v1 - v0) * (keys[k][0] - r0) / (r1 - r0) - keys[k][1]) <= tolerance
                   for k in range(i + 1, j + 1)):
                j += 1
            else:
                break
        kept.append(keys[j])
        i = j
    return kept


def unwrap(values):
    out = [values[0]]
    for v in values[1:]:
        while v - out[-1] > 180.0:
            v -= 360.0
        while v - out[-1] < -180.0:
            v += 360.0
        out.append(v)
    return out


HEADER = """# {name}: {what}
# Generated by tools/show/camera.py from its waypoint table: edit the table there and rerun it
# (python3 tools/show/camera.py), then tools/show/build-tracks.sh BUILD_DIR.
# Linear keys every {step} rows or fewer, exact at every key.
"""

TRACKS = [
    ("camx", "camera eye x (world units)", 0.01),
    ("camy", "camera eye y (world units)", 0.01),
    ("camz", "camera eye z (world units)", 0.01),
    ("xrot", "camera pitch in degrees, aimed at the look-at target (> 0 looks down)", 0.05),
    ("yrot", "camera yaw in degrees, aimed at the look-at target (0 looks along +z)", 0.05),
    ("zrot", "camera roll about the world z axis in degrees", 0.05),
]

SECTIONS = [(0, "intro"), (512, "heartbeat"), (1536, "build"), (2048, "climax"),
            (3072, "breakdown"), (3584, "return"), (3840, "outro")]


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    rows = sample_rows()
    samples = [camera_at(r) for r in rows]
    columns = list(zip(*samples))
    columns[3] = unwrap(list(columns[3]))
    columns[4] = unwrap(list(columns[4]))
    columns[5] = unwrap(list(columns[5]))
    for index, (name, what, tolerance) in enumerate(TRACKS):
        keys = simplify(list(zip(rows, columns[index])), tolerance)
        lines = [HEADER.format(name=name, what=what, step=STEP)]
        section = 0
        for row, value in keys:
            while section < len(SECTIONS) and row >= SECTIONS[section][0]:
                lines.append("\n# %s (row %d)\n" % (SECTIONS[section][1], SECTIONS[section][0]))
                section += 1
            value = 0.0 if abs(value) < 0.0005 else value
            lines.append("%-5d %9.3f  linear\n" % (row, value))
        path = os.path.join(root, "data", "science", "src", name + ".txt")
        with open(path, "w") as out:
            out.write("".join(lines))
        print("%s: %d keys" % (path, len(keys)))


if __name__ == "__main__":
    main()
