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
    rows, plot = [], []
    per_file = {}
    for n in counts:
        tool = median(f"{results}/{n}-main.json", "m3umerge")
        cat = median(f"{results}/{n}-main.json", "cat")
        loop = median(f"{results}/{n}-iconv.json", "iconv loop")
        unflushed = median(f"{results}/{n}-main.json", "unflushed")
        tool_cpu = cpu(f"{results}/{n}-main.json", "m3umerge")
        cat_cpu = cpu(f"{results}/{n}-main.json", "cat")
        per_file[n] = tool / n
        rows.append(f"| {n:,} | {tool * 1000:.1f} | {cat * 1000:.1f} | {loop * 1000:.0f} | "
                    f"{tool / cat:.2f} | {loop / tool:.0f} | {tool / n * 1e6:.1f} | "
                    f"{unflushed / cat:.2f} | {tool_cpu * 1000:.0f} / {cat_cpu * 1000:.0f} |")
        plot.append(f"{n} {tool} {cat} {loop}")

    lines = ["| playlists | m3umerge (ms) | cat (ms) | iconv loop (ms) | m3umerge / cat | "
             "iconv loop / m3umerge | m3umerge per file (µs) | unflushed / cat | "
             "CPU ms, m3umerge / cat |",
             "|---:|---:|---:|---:|---:|---:|---:|---:|---:|"] + rows + [""]
    if 1000 in per_file and 50000 in per_file:
        lines.append(f"Time per file at 50,000 against 1,000: "
                     f"{per_file[50000] / per_file[1000]:.2f} times.")
    with open(f"{results}/memory.txt") as f:
        peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", f.read())
    if peak:
        lines.append(f"Peak resident memory at {counts[-1]:,} playlists: "
                     f"{int(peak.group(1)) / 1024:.2f} MiB.")
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
