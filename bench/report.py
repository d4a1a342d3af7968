#!/usr/bin/env python3
"""Turns the paired results of scripts/bench.sh into a Markdown table.

usage: report.py RESULTS REPORT N...
"""
import json
import os
import re
import sys


def paired(path):
    with open(path) as f:
        return json.load(f)


def row(n, cache, result):
    return (f"| {n:,} | {cache} | {result['b']} | {result['runs']} | "
            f"{result['a_median'] * 1000:.1f} | {result['b_median'] * 1000:.1f} | "
            f"**{result['median_ratio']:.2f}** | {result['min_ratio']:.2f} to "
            f"{result['max_ratio']:.2f} |")


# What m3umerge is compared with, by the names of the result files.
OTHERS = ("cat", "catflush", "merge_floor", "base")


def ratio(result):
    return (f"**{result['median_ratio']:.2f}** ({result['min_ratio']:.2f} to "
            f"{result['max_ratio']:.2f})")


def summary(results, counts):
    """One line per size and cache: the median ratio against each other
    command, with the range, as README quotes them."""
    lines = ["| playlists | cache | / cat | / cat + flush | / merge_floor |",
             "|---:|---|---|---|---|"]
    for n in counts:
        for cache in ("warm", "cold"):
            cells = []
            for other in OTHERS[:3]:
                path = f"{results}/{n}-{cache}-{other}.json"
                cells.append(ratio(paired(path)) if os.path.exists(path) else "")
            if any(cells):
                lines.append(f"| {n:,} | {cache} | " + " | ".join(cells) + " |")
    return lines


def main():
    results, report, counts = sys.argv[1], sys.argv[2], [int(n) for n in sys.argv[3:]]
    with open(f"{results}/date") as f:
        date = f.read().strip()
    rows = []
    for n in counts:
        for other in OTHERS:
            for cache in ("warm", "cold"):
                path = f"{results}/{n}-{cache}-{other}.json"
                if os.path.exists(path):
                    rows.append(row(n, cache, paired(path)))
    lines = [f"Measured {date}, by pairs of runs in turn.", "",
             "| playlists | cache | against | pairs | m3umerge (ms, median) | "
             "other (ms, median) | median of the ratios | range of the ratios |",
             "|---:|---|---|---:|---:|---:|---:|---|"] + rows + [""]
    lines += ["m3umerge's time over the other's, median of the pairs (range):", ""]
    lines += summary(results, counts) + [""]
    with open(f"{results}/memory.txt") as f:
        peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", f.read())
    if peak:
        # /usr/bin/time reports KiB.
        lines.append(f"Peak resident memory at {counts[-1]:,} playlists: "
                     f"{int(peak.group(1)) / 1024:.2f} MiB ({int(peak.group(1)):,} KiB).")
    with open(f"{results}/micro.json") as f:
        for bench in json.load(f)["benchmarks"]:
            if "bytes_per_second" in bench:
                lines.append(f"{bench['name']}: {bench['bytes_per_second'] / 1e9:.2f} GB/s "
                             f"of input (32 KiB buffer).")
    os.makedirs(report, exist_ok=True)
    with open(f"{report}/table.md", "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
