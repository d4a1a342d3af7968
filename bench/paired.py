#!/usr/bin/env python3
"""Times two shell commands in turn, A B A B ..., on the same data, and
reports the median of the pair-by-pair ratios A/B with their range.

Runs taken at different times on a shared machine differ by more than most
changes gain; within a pair the machine is the same, so the ratios are
what can be compared.

usage: paired.py [--cold] [--runs N] [--warmup N] [--prepare CMD] OUT.json NAME_A CMD_A NAME_B CMD_B

--cold drops the page cache before every run (root only); --prepare runs a
command before every run, untimed. The times are wall-clock, taken around
`sh -c CMD`, so both commands pay the same shell start.
"""
import argparse
import json
import statistics
import subprocess
import sys
import time


def drop_caches():
    subprocess.run(["sync"], check=True)
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def timed(command, cold, prepare):
    if prepare:
        subprocess.run(["sh", "-c", prepare], check=True)
    if cold:
        drop_caches()
    start = time.perf_counter()
    subprocess.run(["sh", "-c", command], check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cold", action="store_true")
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--warmup", type=int, default=2)
    parser.add_argument("--prepare", default="")
    parser.add_argument("out")
    parser.add_argument("name_a")
    parser.add_argument("command_a")
    parser.add_argument("name_b")
    parser.add_argument("command_b")
    args = parser.parse_args()

    if not args.cold:
        for _ in range(args.warmup):
            timed(args.command_a, False, args.prepare)
            timed(args.command_b, False, args.prepare)
    a, b = [], []
    for _ in range(args.runs):
        a.append(timed(args.command_a, args.cold, args.prepare))
        b.append(timed(args.command_b, args.cold, args.prepare))
    ratios = [x / y for x, y in zip(a, b)]
    result = {
        "a": args.name_a, "b": args.name_b, "cold": args.cold, "runs": args.runs,
        "a_seconds": a, "b_seconds": b, "ratios": ratios,
        "median_ratio": statistics.median(ratios),
        "min_ratio": min(ratios), "max_ratio": max(ratios),
        "a_median": statistics.median(a), "b_median": statistics.median(b),
    }
    with open(args.out, "w") as f:
        json.dump(result, f, indent=1)
    cache = "cold" if args.cold else "warm"
    print(f"{args.name_a} / {args.name_b}, {cache}, {args.runs} pairs: median ratio "
          f"{result['median_ratio']:.3f} (range {result['min_ratio']:.3f} to "
          f"{result['max_ratio']:.3f}); medians {result['a_median'] * 1000:.1f} ms and "
          f"{result['b_median'] * 1000:.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
