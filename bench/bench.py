#!/usr/bin/env python3
"""Times agmpi (each variant) and bsplitpi at several digit counts and checks
their digits.

Each run prints its digits; they must agree with true pi (tests/data holds
10^6 decimals) and with every other run at the same count. Writes a markdown
table of the report's computation time (agmpi's "Computation time",
bsplitpi's "Total"), the wall time (which includes
printing the digits) and the peak resident memory, from /usr/bin/time -v.

    bench/bench.py [COUNT ...]      default 10000 100000 1000000 10000000
"""

import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REFERENCE = os.path.join(ROOT, "tests", "data", "pi-1000000.txt")
RESULTS = os.path.join(ROOT, "results")


def programs():
    agmpi = os.path.join(ROOT, "build", "agm", "agmpi")
    bsplitpi = os.path.join(ROOT, "build", "series", "bsplitpi")
    return [(f"agmpi {v}", [agmpi, "{digits}", str(v), "1"], agm_phases) for v in (0, 1, 2)] + \
        [("bsplitpi", [bsplitpi, "{digits}", "1"], series_phases)]


def agm_phases(report):
    figure = lambda label: float(re.search(label + r"=([0-9.]+)", report).group(1))
    return {"computation": figure("Computation time"),
            "phases": "iterations %.3f, division %.3f"
                      % (figure(r"iterations' time"), figure("Final division time"))}


def series_phases(report):
    figure = lambda label: float(re.search(label + r" +time=([0-9.]+)", report).group(1))
    return {"computation": figure("Total"),
            "phases": "splitting %.3f, to float %.3f, root %.3f, mult %.3f, division %.3f"
                      % tuple(figure(l) for l in ("Binary splitting", "Integer to float",
                                                  "Final square root", "Final multiplication",
                                                  "Final division"))}


def plus_one(digits):
    head = digits.rstrip("9")
    if not head:
        return "1" + "0" * len(digits)
    return head[:-1] + str(int(head[-1]) + 1) + "0" * (len(digits) - len(head))


def minus_one(digits):
    head = digits.rstrip("0")
    return head[:-1] + str(int(head[-1]) - 1) + "9" * (len(digits) - len(head))


def printed_digits(out, digits):
    """The mantissa of the printed "0.<digits>e1", padded to digits + 2."""
    line = next(l for l in out.splitlines() if l.startswith("0."))
    mantissa, exponent = line[2:].split("e")
    if exponent != "1":
        raise ValueError("exponent " + exponent)
    return mantissa.ljust(digits + 2, "0")


def check_against_pi(printed, reference):
    """Empty if printed may be within one unit of its last place from pi."""
    n = min(len(printed), len(reference))
    truth, head = reference[:n], printed[:n]
    ok = head in (truth, plus_one(truth)) if len(printed) <= len(reference) \
        else head in (minus_one(truth), truth, plus_one(truth))
    if ok:
        return ""
    i = next((i for i in range(n) if head[i] != truth[i]), n)
    return f"wrong from decimal {i}"


def differ_by_at_most_one(x, y):
    return x == y or x == plus_one(y) or y == plus_one(x)


def run(command):
    start = time.monotonic()
    proc = subprocess.run(["/usr/bin/time", "-v"] + command, capture_output=True, text=True)
    wall = time.monotonic() - start
    if proc.returncode != 0:
        sys.exit(f"bench: {' '.join(command)} failed:\n{proc.stderr}")
    rss_kib = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", proc.stderr).group(1))
    return proc.stdout, wall, rss_kib


def main():
    counts = [int(a) for a in sys.argv[1:]] or [10**4, 10**5, 10**6, 10**7]
    with open(REFERENCE) as f:
        reference = f.read().strip().replace(".", "", 1)
    rows = []
    for digits in counts:
        first = None
        for name, template, phases in programs():
            command = [a.replace("{digits}", str(digits)) for a in template]
            out, wall, rss = run(command)
            printed = printed_digits(out, digits)
            problem = check_against_pi(printed, reference)
            if problem:
                sys.exit(f"bench: {name} at {digits} digits: {problem}")
            if first is not None and not differ_by_at_most_one(printed, first[1]):
                i = next(i for i in range(len(printed)) if printed[i] != first[1][i])
                sys.exit(f"bench: {name} and {first[0]} differ at {digits} digits from decimal {i}")
            first = first or (name, printed)
            p = phases(out)
            rows.append((name, digits, p["computation"], wall, rss / 1024, p["phases"]))
            print(f"{name:>12} {digits:>10}  {p['computation']:9.3f} s  {wall:9.3f} s  "
                  f"{rss / 1024:8.1f} MiB", file=sys.stderr)
    table = ["| program | digits | computation (s) | wall (s) | peak RSS (MiB) | phases (s) |",
             "|---|---:|---:|---:|---:|---|"]
    table += [f"| {n} | {d:,} | {c:.3f} | {w:.3f} | {m:.1f} | {p} |" for n, d, c, w, m, p in rows]
    text = "\n".join(table) + "\n"
    os.makedirs(RESULTS, exist_ok=True)
    path = os.path.join(RESULTS, "bench.md")
    with open(path, "w") as f:
        f.write(text)
    print(text)
    print(f"(written to {os.path.relpath(path, ROOT)}; every run's digits checked)", file=sys.stderr)


if __name__ == "__main__":
    main()
