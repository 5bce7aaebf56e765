#!/usr/bin/python3
"""Draws the benchmark lines as throughput in MiB/s per job: quorlix, the tool
people use for the job, and cat (reading the input and writing it out again).
Reads the lines the bench_*.sh scripts print, from files or standard input;
lines of another shape are passed over.
Usage: bench/plot_bench.py [-o docs/bench.png] [RESULTS...]"""
import argparse
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

# <job> <size>MiB  quorlix <t>s  <tool> <t>s  speedup <r>x  cat <t>s  vs-cat <c>x ...
LINE = re.compile(
    r"^(?P<job>\S+) (?P<label>.*?)\s+quorlix (?P<ours>[\d.]+)s\s+(?P<tool>\S+) (?P<theirs>[\d.]+)s"
    r"\s+speedup \S+\s+cat (?P<cat>[\d.]+)s")
SIZE = re.compile(r"([\d.]+) ?MiB")


def parse(lines):
    jobs = []
    for line in lines:
        match = LINE.match(line.strip())
        size = SIZE.search(match.group("label")) if match else None
        if not size:
            continue
        mib = float(size.group(1))
        rate = lambda seconds: mib / float(seconds) if float(seconds) > 0 else 0.0
        jobs.append({
            "name": "%s %s\n(vs %s)" % (match.group("job"), match.group("label").split()[0], match.group("tool")),
            "tool": match.group("tool"),
            "quorlix": rate(match.group("ours")),
            "theirs": rate(match.group("theirs")),
            "cat": rate(match.group("cat")),
        })
    return jobs


def draw(jobs, path):
    fig, ax = plt.subplots(figsize=(max(6, 1.6 * len(jobs)), 4.5))
    width = 0.27
    for k, (key, label, colour) in enumerate([("quorlix", "quorlix", "#1f77b4"), ("theirs", "the usual tool", "#ff7f0e"),
                                              ("cat", "cat IN > OUT", "#7f7f7f")]):
        xs = [i + (k - 1) * width for i in range(len(jobs))]
        ax.bar(xs, [job[key] for job in jobs], width, label=label, color=colour)
    ax.set_xticks(range(len(jobs)))
    ax.set_xticklabels([job["name"] for job in jobs], fontsize=8)
    ax.set_ylabel("MiB/s (higher is better)")
    ax.set_yscale("log")
    ax.set_title("Throughput per job, files in memory, median of runs")
    ax.set_ylim(top=ax.get_ylim()[1] * 6)  # room for the legend above the bars
    ax.legend(fontsize=8, ncol=3, loc="upper center")
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-o", "--output", default="docs/bench.png")
    parser.add_argument("results", nargs="*")
    args = parser.parse_args()
    lines = []
    for name in args.results or ["-"]:
        lines += (sys.stdin if name == "-" else open(name, encoding="utf-8")).read().splitlines()
    jobs = parse(lines)
    if not jobs:
        sys.exit("no benchmark lines found")
    draw(jobs, args.output)
    print("%d jobs drawn in %s" % (len(jobs), args.output))


if __name__ == "__main__":
    main()
