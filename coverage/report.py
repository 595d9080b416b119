#!/usr/bin/env python3
"""Merges gcovr JSON reports, one per test layer, into one table per file
(lines and branches run by any layer, and by each layer alone), then lists
every line that no layer runs with its text.

    python3 coverage/report.py host=build/coverage/host.json wine=build/coverage/wine.json
"""
import json
import sys
from collections import defaultdict


def load(path):
    """file -> line -> (times run, [times each branch was taken])"""
    counts = {}
    for entry in json.load(open(path))["files"]:
        counts[entry["file"]] = {
            line["line_number"]: (line["count"], [b["count"] for b in line["branches"]])
            for line in entry["lines"] if not line.get("gcovr/noncode")
        }
    return counts


def figures(lines):
    run = sum(1 for count, _ in lines.values() if count > 0)
    branches = [taken for _, taken in lines.values() for taken in taken]
    return run, len(lines), sum(1 for t in branches if t > 0), len(branches)


def merge(layers):
    merged = defaultdict(dict)
    for counts in layers.values():
        for name, lines in counts.items():
            for number, (count, branches) in lines.items():
                old_count, old_branches = merged[name].get(number, (0, []))
                width = max(len(old_branches), len(branches))
                pad = lambda b: b + [0] * (width - len(b))
                merged[name][number] = (old_count + count, [x + y for x, y in zip(pad(old_branches), pad(branches))])
    return merged


def percent(part, whole):
    return f"{100 * part / whole:5.1f}%" if whole else "    -"


def main(args):
    layers = {name: load(path) for name, path in (arg.split("=", 1) for arg in args)}
    merged = merge(layers)
    header = f"{'file':38} {'lines':>14} {'branches':>16}" + "".join(f" {n + ' lines':>12}" for n in layers)
    print(header)
    totals = [0, 0, 0, 0]
    for name in sorted(merged):
        run, lines, taken, branches = figures(merged[name])
        totals = [a + b for a, b in zip(totals, (run, lines, taken, branches))]
        alone = "".join(f" {percent(*figures(c[name])[:2]) if name in c else '     -':>12}" for c in layers.values())
        print(f"{name:38} {run:4}/{lines:4} {percent(run, lines)} {taken:5}/{branches:4} {percent(taken, branches)}{alone}")
    run, lines, taken, branches = totals
    print(f"{'merged':38} {run:4}/{lines:4} {percent(run, lines)} {taken:5}/{branches:4} {percent(taken, branches)}")
    for layer, counts in layers.items():
        r, l, t, b = (sum(x) for x in zip(*(figures(lines) for lines in counts.values())))
        only = sum(1 for name, lines in counts.items() for number, (count, _) in lines.items()
                   if count > 0 and all(c.get(name, {}).get(number, (0,))[0] == 0 for n, c in layers.items() if n != layer))
        print(f"{layer + ' alone':38} {r:4}/{l:4} {percent(r, l)} {t:5}/{b:4} {percent(t, b)}   {only} lines no other layer runs")
    print("\nlines that no layer runs:")
    for name in sorted(merged):
        missed = sorted(number for number, (count, _) in merged[name].items() if count == 0)
        source = open(name, encoding="utf-8").read().splitlines() if missed else []
        for number in missed:
            print(f"  {name}:{number}  {source[number - 1].strip()}")
    print(f"{lines - run} in all")


if __name__ == "__main__":
    main(sys.argv[1:])
