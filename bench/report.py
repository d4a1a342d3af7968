#!/usr/bin/env python3
"""Turns the results of scripts/bench.sh into a Markdown table and plot data.

usage: report.py RESULTS REPORT N...
"""
import json
import os
import re
import sys


def result(path, name):
    with open(path) as f:
        for entry in json.load(f)["results"]:
            if entry["command"] == name:
                return entry
    raise KeyError(name)


def median(path, name):
    return result(path, name)["median"]


def cpu(path, name):
    entry = result(path, name)
    return entry["user"] + entry["system"]


def main():
    results, report, counts = sys.argv[1], sys.argv[2], [int(n) for n in sys.argv[3:]]
    with open(f"{results}/date") as f:
        date = f.read().strip()
    rows, plot = [], []
    per_file = {}
    for n in counts:
        loop = median(f"{results}/{n}-iconv.json", "iconv loop")
        plot_row = [n]
        for cache in ("warm", "cold"):
            path = f"{results}/{n}-{cache}.json"
            if not os.path.exists(path):
                plot_row += ["NaN", "NaN"]
                continue
            tool, cat, synced, python = (median(path, name)
                                         for name in ("m3umerge", "cat", "cat+sync", "python"))
            if cache == "warm":
                per_file[n] = tool / n
            rows.append(f"| {n:,} | {cache} | {tool * 1000:.1f} | {cat * 1000:.1f} | "
                        f"{synced * 1000:.1f} | {python * 1000:.1f} | "
                        f"{loop * 1000:.0f} | **{tool / cat:.2f}** | {tool / synced:.2f} | "
                        f"{python / tool:.1f} | {loop / tool:.0f} | {tool / n * 1e6:.1f} |")
            plot_row += [tool, cat]
        plot.append(" ".join(str(x) for x in plot_row))

    lines = [f"Measured {date}.", "",
             "| playlists | cache | m3umerge (ms) | cat (ms) | cat+sync (ms) | Python (ms) | "
             "iconv loop (ms) | m3umerge / cat | m3umerge / cat+sync | Python / m3umerge | "
             "iconv loop / m3umerge | m3umerge per file (µs) |",
             "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"] + rows + [""]
    if 1000 in per_file and counts[-1] in per_file and counts[-1] > 1000:
        lines.append(f"Time per file at {counts[-1]:,} against 1,000 (warm): "
                     f"{per_file[counts[-1]] / per_file[1000]:.2f} times.")
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
    total = signature = None
    with open(f"{results}/callgrind.txt") as f:
        for line in f:
            match = re.match(r"\s*([\d,]+)\s.*?(PROGRAM TOTALS|has_utf8_signature)", line)
            if match:
                count = int(match.group(1).replace(",", ""))
                if match.group(2) == "PROGRAM TOTALS":
                    total = count
                elif signature is None:
                    signature = count
    if total:
        share = (signature or 0) / total * 100
        lines.append(f"Signature test in the merge profile: {share:.4f}% of instructions.")
    os.makedirs(report, exist_ok=True)
    with open(f"{report}/table.md", "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(f"{report}/plot.dat", "w") as f:
        f.write("\n".join(plot) + "\n")


if __name__ == "__main__":
    main()
