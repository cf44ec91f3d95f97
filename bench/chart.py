#!/usr/bin/env python3
"""Draws the time ratios of bench/run's rows as a horizontal bar chart (PNG).

    bench/chart.py BUILD/bench/results.tsv docs/benchmarks.png

Each row of results.tsv: label, median seconds ours, median seconds of the reference, the
reference's name, peak KiB ours, peak KiB of the reference. Drawn with ImageMagick's convert.
"""

import subprocess
import sys

WIDTH = 1300
LEFT = 370  # bars start here; the labels sit to the left
RIGHT = 460  # room for the figures after the longest bar
TOP = 70
ROW = 54
BAR = 30
FONT = "DejaVu-Sans"


def quoted(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def shown(seconds):
    return f"{seconds * 1000:.0f} ms" if seconds < 1 else f"{seconds:.2f} s"


def sized(size):
    if size < 1e4:
        return f"{size:.0f} bytes"
    return f"{size / 1e3:.1f} kB" if size < 1e6 else f"{size / 1e6:.2f} MB"


def main(source, target):
    rows = []
    with open(source, encoding="utf-8") as lines:
        for line in lines:
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 6:
                rows.append((fields[0], float(fields[1]), float(fields[2]), fields[3]))
    if not rows:
        sys.exit(f"chart.py: no rows in {source}")

    ratios = [ours / reference if reference > 0 else 0 for _, ours, reference, _ in rows]
    # Whole steps of 0.5, and never less than 1.5, so that the 1.0 line is always inside.
    top = max(1.5, (int(max(ratios) * 2) + 1) / 2)
    span = WIDTH - LEFT - RIGHT
    height = TOP + ROW * len(rows) + 60

    def x(ratio):
        return LEFT + round(ratio / top * span)

    draw = []
    # Grid at every 0.5, the reference (1.0) drawn heavier.
    step = 0.5
    value = 0.0
    while value <= top + 1e-9:
        weight, colour = (2, "#202020") if abs(value - 1.0) < 1e-9 else (1, "#c8c8c8")
        draw += ["-stroke", colour, "-strokewidth", str(weight), "-draw",
                 f"line {x(value)},{TOP - 10} {x(value)},{TOP + ROW * len(rows)}",
                 "-stroke", "none", "-fill", "#404040", "-pointsize", "13", "-draw",
                 f"text {x(value) - 10},{TOP + ROW * len(rows) + 20} {quoted(f'{value:.1f}')}"]
        value += step

    for i, ((label, ours, reference, name), ratio) in enumerate(zip(rows, ratios)):
        y = TOP + i * ROW + (ROW - BAR) // 2
        download = name == "curl"
        hashed = name.startswith("larger of")
        paint = not download and not hashed and name not in (
            "unhashed download", "incremental zip", "zip install")
        # Downloads have a goal of 1.0 x curl, a hashed download 1.1 x the larger of the
        # unhashed one and the hashing alone; first paint is judged by its own 150 ms.
        if download or hashed:
            colour = "#3a8a3a" if ratio <= (1.0 if download else 1.1) else "#c0392b"
        else:
            colour = "#2f6db5"
        draw += ["-fill", colour, "-stroke", "none", "-draw",
                 f"rectangle {LEFT},{y} {x(ratio)},{y + BAR}"]
        draw += ["-fill", "#101010", "-pointsize", "14", "-draw",
                 f"text 12,{y + 20} {quoted(label)}"]
        # The delta's size row holds bytes, not seconds.
        figure = sized if name == "incremental zip" else shown
        figures = f"{ratio:.2f}  ({figure(ours)} vs {figure(reference)} {name})"
        if paint:
            figures += "  goal < 150 ms " + ("met" if ours < 0.150 else "missed")
        # On white, so that the grid lines do not run through the figures.
        draw += ["-pointsize", "13", "-undercolor", "white", "-draw",
                 f"text {x(ratio) + 8},{y + 20} {quoted(figures)}", "-undercolor", "none"]

    title = "Time ratio: ours / reference (curl, or a bare QDialog for first paint); lower is better"
    draw += ["-fill", "#101010", "-pointsize", "16", "-draw", f"text 12,30 {quoted(title)}"]
    legend = ("green: download at most 1.0 x curl, hashed at most 1.1 x (goal met)   red: missed   "
              "blue: no ratio goal (first paint, hashing alone)")
    draw += ["-fill", "#404040", "-pointsize", "12", "-draw", f"text 12,{height - 12} {quoted(legend)}"]

    subprocess.run(["convert", "-size", f"{WIDTH}x{height}", "xc:white", "-font", FONT,
                    *draw, target], check=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: bench/chart.py RESULTS.tsv OUTPUT.png")
    main(sys.argv[1], sys.argv[2])
