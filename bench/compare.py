#!/usr/bin/env python3
"""agmpi and bsplitpi side by side with MPFR, Arb and Debian's pi program.

Runs every program at every digit count, interleaved round-robin for several
rounds, and reports medians: the computation alone (our reports' figures; the
peers time their library call and, apart, its conversion to decimal) and the
whole process with its digits written (wall and CPU time, peak resident
memory, from /usr/bin/time). Every run's printed value is checked against
true pi (tests/data holds 10^6 decimals) and against every other program's;
a disagreement stops the run with one line.

    bench/compare.py [--rounds N] [--programs NAME,...] [COUNT ...]

Writes results/compare.md (tables) and results/compare.png (a log-log plot).
Run it through bench/compare.sh, which installs and builds what it needs.
"""

import argparse
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from digits import check_against_reference, check_pair, mantissa

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REFERENCE = os.path.join(ROOT, "tests", "data", "pi-1000000.txt")
RESULTS = os.path.join(ROOT, "results")
BUILD = os.path.join(ROOT, "build")


class Program:
    """kind: "ours" (a report with phase times), "library" (a peer that times
    its call and its conversion), "process" (timed as a whole only).
    threaded: its computation figure is wall-clock time, else CPU time."""

    def __init__(self, name, kind, command, threaded=False, extra_digits=2):
        self.name, self.kind, self.command, self.threaded = name, kind, command, threaded
        # Significant digits printed beyond the count asked for (trailing
        # zeros may be dropped; the value is read padded back to this length).
        self.extra_digits = extra_digits

    def args(self, digits):
        return [a.format(digits=digits, digits2=digits + 2) for a in self.command]


def programs():
    agmpi = os.path.join(BUILD, "agm", "agmpi")
    bsplitpi = os.path.join(BUILD, "series", "bsplitpi")
    peers = os.path.join(BUILD, "bench")
    return [Program(f"agmpi {v}", "ours", [agmpi, "{digits}", str(v), "1"]) for v in (0, 1, 2)] + [
        Program("agmpi 1 --fast", "ours", [agmpi, "{digits}", "1", "1", "--fast"]),
        Program("agmpi 1 --fast all cores", "ours", [agmpi, "{digits}", "1", "1", "--fast", "--threads=0"],
                threaded=True),
        Program("bsplitpi", "ours", [bsplitpi, "{digits}", "1"]),
        Program("bsplitpi all cores", "ours", [bsplitpi, "{digits}", "1", "0"], threaded=True),
        Program("bsplitpi --fast", "ours", [bsplitpi, "{digits}", "1", "--fast"]),
        Program("bsplitpi --fast all cores", "ours", [bsplitpi, "{digits}", "1", "--fast", "--threads=0"],
                threaded=True),
        Program("MPFR", "library", [os.path.join(peers, "mpfr_pi"), "{digits}"], extra_digits=4),
        Program("Arb 1 thread", "library", [os.path.join(peers, "arb_pi"), "{digits}", "1"],
                extra_digits=4),
        Program("Arb all cores", "library", [os.path.join(peers, "arb_pi"), "{digits}", "0"],
                threaded=True, extra_digits=4),
        Program("pi (CLN)", "process", ["pi", "{digits2}"]),
    ]


def report_figure(out, label):
    m = re.search(label + r" *time=([0-9.]+)", out)
    return float(m.group(1)) if m else None


def computation(program, out):
    """(computation seconds, printing seconds or None) from a run's output;
    bsplitpi's printing is found from the process's times, in run()."""
    if program.kind == "ours":
        if program.name.startswith("agmpi"):
            compute = report_figure(out, "Computation")
            return compute, report_figure(out, "Total") - compute
        return report_figure(out, "Total"), None
    if program.kind == "library":
        column = 2 if program.threaded else 1  # wall-clock, else CPU
        phase = lambda name: float(re.search(name + r" cpu=([0-9.]+) wall=([0-9.]+)", out)
                                   .group(column))
        return phase("compute"), phase("convert")
    return None, None


def value_line(out):
    return next(l for l in out.splitlines() if l.startswith(("0.", "3.")))


def run(program, digits):
    with tempfile.NamedTemporaryFile(mode="r") as timing:
        start = time.monotonic()
        proc = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "-o", timing.name]
                              + program.args(digits), capture_output=True, text=True)
        wall = time.monotonic() - start
        if proc.returncode != 0:
            sys.exit(f"compare: {program.name} at {digits} digits failed: {proc.stderr.strip()}")
        _, user, system, rss_kib = timing.read().split()[-4:]
    compute, convert = computation(program, proc.stdout)
    if program.kind == "ours" and convert is None:
        # Its report times the computation alone: the rest of the process's
        # wall time is the printing, with the start and the end of the
        # process (a few milliseconds).
        convert = max(0.0, wall - compute)
    value = mantissa(value_line(proc.stdout))
    written = len(value)
    return {"compute": compute, "convert": convert, "wall": wall,
            "cpu": float(user) + float(system), "rss": int(rss_kib) / 1024,
            "written": written}, value.ljust(digits + program.extra_digits, "0")


def check_values(digits, values, pi_digits):
    """Every value within one unit of its last digit of pi, and of each other."""
    reference, reference_name = pi_digits, "true pi"
    if len(pi_digits) < digits + 4 and "MPFR" in values:
        # Beyond the known decimals: MPFR's value, with its guard digits, once
        # it agrees with Arb's (two independent libraries) and with true pi as
        # far as that reaches.
        witnesses = {"true pi": pi_digits}
        if "Arb 1 thread" in values:
            witnesses["Arb 1 thread"] = values["Arb 1 thread"]
        for name, other in witnesses.items():
            problem = check_pair(values["MPFR"], other)
            if problem is not None:
                sys.exit(f"compare: MPFR at {digits} digits parts from {name} at decimal {problem}")
        reference, reference_name = values["MPFR"], "MPFR (guard digits)"
    for name, value in values.items():
        problem = check_against_reference(value, reference)
        if problem is not None:
            sys.exit(f"compare: {name} at {digits} digits parts from {reference_name} "
                     f"at decimal {problem}")
    names = list(values)
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            problem = check_pair(values[a], values[b])
            if problem is not None:
                sys.exit(f"compare: {a} at {digits} digits parts from {b} at decimal {problem}")


def median(runs, key):
    figures = [r[key] for r in runs if r[key] is not None]
    return statistics.median(figures) if figures else None


def seconds(x):
    return "–" if x is None else f"{x:.4g}" if x < 1000 else f"{x:.0f}"


def machine():
    model = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo")
                  if l.startswith("model name")), platform.machine())
    mem_kib = next(int(l.split()[1]) for l in open("/proc/meminfo") if l.startswith("MemTotal"))
    versions = subprocess.run(["dpkg-query", "-W", "-f", "${Package} ${Version}, ",
                               "libgmp10", "libmpfr6", "libflint-arb2", "pi"],
                              capture_output=True, text=True).stdout.strip(", ")
    return (f"{model}, {len(os.sched_getaffinity(0))} cores, {mem_kib / 2**20:.0f} GiB; "
            f"{versions or 'package versions unknown'}")


def rounds_text(rounds):
    return ("one round: single runs vary (by up to 30 % on a shared machine), take the figures "
            "as rough" if rounds == 1 else f"medians of {rounds} interleaved rounds")


def tables(results, counts, chosen, rounds):
    lines = [f"Machine: {machine()}. {time.strftime('%Y-%m-%d')}, {rounds_text(rounds)}.", "",
             "Computation: our reports' figure (agmpi's Computation time, bsplitpi's Total) "
             "and the peers' library call alone, in CPU seconds for one-thread programs and "
             "wall-clock seconds for those marked all cores. Conversion: the peers' conversion "
             "to decimal; for ours the printing of the digit line, in the same kind of seconds "
             "(agmpi's Total less its Computation; bsplitpi's process wall time less its Total, "
             "which includes the process's start and end, a few milliseconds). Process: the whole run with its digits written, wall and CPU "
             "seconds, peak resident memory.", "",
             "| digits | program | computation (s) | conversion or printing (s) | process wall (s) "
             "| process CPU (s) | peak RSS (MiB) | digits written |",
             "|---:|---|---:|---:|---:|---:|---:|---:|"]
    for d in counts:
        for p in chosen:
            r = results[d][p.name]
            lines.append(f"| {d:,} | {p.name} | {seconds(median(r, 'compute'))}"
                         f"{' wall' if p.threaded else ''} | {seconds(median(r, 'convert'))} "
                         f"| {seconds(median(r, 'wall'))} | {median(r, 'cpu'):.2f} "
                         f"| {median(r, 'rss'):.1f} | {r[0]['written']:,} |")
    ours = [p for p in chosen if p.kind == "ours"]
    peers = [p for p in chosen if p.kind != "ours"]
    if ours and peers:
        lines += ["", "Ratios, ours / peer (below 1: ours is faster). Between two one-thread "
                  "programs: computation against computation, CPU time. Every pair that involves "
                  "an all-cores run, and every pair with pi (CLN): whole process with digits "
                  "written, wall time against wall time.", "",
                  "| digits | program | " + " | ".join(p.name for p in peers) + " |",
                  "|---:|---|" + "---:|" * len(peers)]
        for d in counts:
            for o in ours:
                cells = [ratio(results[d], o, p) for p in peers]
                lines.append(f"| {d:,} | {o.name} | " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


def ratio_key(ours, peer):
    """What a pair is compared on: the computation (CPU) between one-thread
    library runs, else the whole process's wall time."""
    if peer.kind == "process" or ours.threaded or peer.threaded:
        return "wall"
    return "compute"


def ratio(at, ours, peer):
    key = ratio_key(ours, peer)
    a, b = median(at[ours.name], key), median(at[peer.name], key)
    return "–" if not a or not b else f"{a / b:.2f}"


def plot(results, counts, chosen, rounds):
    data = os.path.join(RESULTS, "compare.dat")
    arb = next((p for p in chosen if p.name == "Arb 1 thread"), None)
    with open(data, "w") as f:
        for p in chosen:
            key = "wall" if p.kind == "process" else "compute"
            f.write(f'"{p.name}" {p.kind}\n')
            for d in counts:
                figure = median(results[d][p.name], key)
                base = median(results[d][arb.name], ratio_key(p, arb)) if arb else None
                mine = median(results[d][p.name], ratio_key(p, arb)) if arb else None
                relative = mine / base if base and mine and p is not arb else (1.0 if p is arb else None)
                f.write(f"{d} {figure} {relative if relative is not None else 'NaN'}\n")
            f.write("\n\n")
    title = f"{machine().split(';')[0]}, {time.strftime('%Y-%m-%d')}, {rounds_text(rounds).split(':')[0]}"
    draw(data, os.path.join(RESULTS, "compare.png"), chosen, title, arb is not None)


def draw(data, png, chosen, title, relative):
    """Upper panel: time against digits, log-log. Lower panel: each program's
    time over Arb's on one thread, against digits. Every series its own colour
    and marker; CPU-time series solid, wall-time series (all cores, and pi's
    whole process) dashed."""
    if not shutil.which("gnuplot"):
        print("compare: gnuplot is missing; no plot", file=sys.stderr)
        return
    colours = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2",
               "#7f7f7f", "#bcbd22", "#17becf", "#000000", "#aec7e8", "#98df8a", "#ff9896"]

    def series(column):
        out = []
        for i, p in enumerate(chosen):
            wall = p.threaded or p.kind == "process"
            label = p.name + (" (wall)" if wall else "")
            out.append(f"'{data}' index {i} using 1:{column} with linespoints lw 2 "
                       f"dt {2 if wall else 1} pt {i % 13 + 1} ps 1.2 lc rgb '{colours[i % len(colours)]}' "
                       f"title '{label}'")
        return ", ".join(out)

    script = f"""
set terminal pngcairo size 1100,{1100 if relative else 600} noenhanced
set output '{png}'
set multiplot layout {2 if relative else 1},1 title '{title}'
set logscale xy
set format x '10^%L'
set xlabel 'decimal digits'
set ylabel 'seconds: computation (dashed: wall clock)'
set key outside right
set grid
plot {series(2)}
"""
    if relative:
        script += f"""
unset logscale y
set format y '%g'
set ylabel 'time / Arb 1 thread (below 1: faster)'
set yrange [0:*]
plot {series(3)}, 1 with lines lc rgb 'black' dt 3 notitle
"""
    script += "unset multiplot\n"
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--programs", help="comma-separated names to run (default: all)")
    parser.add_argument("counts", nargs="*", type=int)
    options = parser.parse_args()
    counts = options.counts or [10**4, 10**5, 10**6, 10**7]
    chosen = programs()
    if options.programs:
        wanted = options.programs.split(",")
        chosen = [p for p in chosen if p.name in wanted]
    with open(REFERENCE) as f:
        pi_digits = mantissa(f.read().strip())

    results = {}
    for d in counts:
        results[d] = {p.name: [] for p in chosen}
        for round_ in range(options.rounds):
            values = {}
            for p in chosen:
                figures, value = run(p, d)
                results[d][p.name].append(figures)
                values[p.name] = value
                print(f"{d:>11,} round {round_ + 1}  {p.name:<20} computation "
                      f"{seconds(figures['compute']):>8}  process {figures['wall']:8.3f} s "
                      f"{figures['rss']:8.1f} MiB", file=sys.stderr)
            check_values(d, values, pi_digits)
            del values
    os.makedirs(RESULTS, exist_ok=True)
    text = tables(results, counts, chosen, options.rounds)
    with open(os.path.join(RESULTS, "compare.md"), "w") as f:
        f.write(text)
    plot(results, counts, chosen, options.rounds)
    print(text)
    print("compare: every run's digits checked; results/compare.md and results/compare.png written",
          file=sys.stderr)


if __name__ == "__main__":
    main()
