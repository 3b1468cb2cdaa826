#!/usr/bin/env python3
"""Summarizes llvm-cov exports of the driver code for scripts/coverage.

The driver's sources are compiled into several host images (the delivered image, the debug-output
image, the peer image of the shared libraries), so each function and branch exists once per image.
llvm-cov's own report counts each function by its best image and lists a file's branches once per
image. Here a source line, a branch direction or a function counts as reached when any image
reached it, which is what the HTML report shows line by line.

  coverage-summary.py table ROOT NAME=EXPORT.json...   a Markdown table per directory, per export
  coverage-summary.py unreached ROOT EXPORT.json       the functions no image entered, by file
"""
import collections
import json
import subprocess
import sys

DIRECTORIES = ["driver", "services", "options", "debug", "arch", "interfaces"]


def relative(root, filename):
    return filename[len(root) + 1:] if filename.startswith(root + "/") else filename


def line_counts(segments):
    """Per source line, whether it holds code and whether that code ran (llvm-cov's line rules)."""
    lines = {}
    wrapped = None
    index = 0
    segments = sorted(segments, key=lambda s: (s[0], s[1]))
    if not segments:
        return lines
    for line in range(segments[0][0], segments[-1][0] + 1):
        starting = []
        while index < len(segments) and segments[index][0] == line:
            starting.append(segments[index])
            index += 1
        # A segment is [line, column, count, has count, region entry, gap region].
        entries = [s for s in starting if s[3] and s[4] and not s[5]]
        skipped = bool(starting) and not starting[0][3] and starting[0][4]
        if not skipped and ((wrapped is not None and wrapped[3]) or entries):
            count = wrapped[2] if wrapped is not None else 0
            for s in entries:
                count = max(count, s[2])
            lines[line] = count
        if starting:
            wrapped = starting[-1]
    return lines


class Totals:
    def __init__(self):
        self.lines = [0, 0]
        self.branches = [0, 0]
        self.functions = [0, 0]

    def add(self, other):
        for mine, theirs in ((self.lines, other.lines), (self.branches, other.branches),
                             (self.functions, other.functions)):
            mine[0] += theirs[0]
            mine[1] += theirs[1]


def load(path, root):
    with open(path) as handle:
        data = json.load(handle)["data"][0]
    per_file = collections.defaultdict(Totals)
    for entry in data["files"]:
        name = relative(root, entry["filename"])
        totals = per_file[name]
        lines = line_counts(entry["segments"])
        totals.lines = [sum(1 for c in lines.values() if c > 0), len(lines)]
        # A branch is [line, column, end line, end column, true count, false count, ...].
        directions = {}
        for b in entry["branches"]:
            key = tuple(b[0:4])
            seen = directions.get(key, (False, False))
            directions[key] = (seen[0] or b[4] > 0, seen[1] or b[5] > 0)
        totals.branches = [sum(t + f for t, f in directions.values()), 2 * len(directions)]
    functions = function_groups(data, root)
    for (name, _, _), (count, _) in functions.items():
        if name in per_file:
            per_file[name].functions[0] += 1 if count > 0 else 0
            per_file[name].functions[1] += 1
    return per_file, functions


def function_groups(data, root):
    """Each function by where it starts, with its entries summed over images and one of its names."""
    groups = {}
    for function in data["functions"]:
        code = [r for r in function["regions"] if r[5] == 0]
        if not code:
            continue
        start = min((r[0], r[1]) for r in code)
        key = (relative(root, function["filenames"][0]), start[0], start[1])
        count, name = groups.get(key, (0, function["name"]))
        groups[key] = (count + function["count"], name)
    return groups


def by_directory(per_file):
    rows = collections.OrderedDict((d, Totals()) for d in DIRECTORIES)
    total = Totals()
    for name, totals in per_file.items():
        top = name.split("/")[0]
        if top in rows:
            rows[top].add(totals)
            total.add(totals)
    rows["total"] = total
    return rows


def percent(pair):
    return f"{100.0 * pair[0] / pair[1]:.1f}%" if pair[1] else "-"


def table(root, exports):
    names = [e.split("=", 1)[0] for e in exports]
    loaded = [by_directory(load(e.split("=", 1)[1], root)[0]) for e in exports]
    header = "| code | " + " | ".join(f"{n}: lines | {n}: branches | {n}: functions" for n in names) + " |"
    print(header)
    print("|" + "---|" * (1 + 3 * len(names)))
    for row in loaded[0]:
        cells = []
        for rows in loaded:
            t = rows[row]
            cells += [percent(t.lines), percent(t.branches), percent(t.functions)]
        label = f"{row}/" if row != "total" else "**total**"
        print(f"| {label} | " + " | ".join(cells) + " |")
    print()
    print("Reached / all: " + "; ".join(
        f"{n}: lines {r['total'].lines[0]}/{r['total'].lines[1]}, branches {r['total'].branches[0]}/"
        f"{r['total'].branches[1]}, functions {r['total'].functions[0]}/{r['total'].functions[1]}"
        for n, r in zip(names, loaded)))


def unreached(root, export):
    _, functions = load(export, root)
    missing = sorted((key, name) for key, (count, name) in functions.items()
                     if count == 0 and key[0].split("/")[0] in DIRECTORIES)
    if not missing:
        return
    demangled = subprocess.run(["llvm-cxxfilt"], input="\n".join(n for _, n in missing), text=True,
                               capture_output=True, check=True).stdout.splitlines()
    for ((name, line, _), _), pretty in zip(missing, demangled):
        print(f"{name}:{line}: {pretty}")


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "table":
        table(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 4 and sys.argv[1] == "unreached":
        unreached(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
