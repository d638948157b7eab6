#!/usr/bin/env python3
"""Runs build/bench/mul_bench and writes results/mul.md (a table of medians
and ratios) and results/mul.png (time per limb and the ratio to GMP against
the size, log-log). See bench/mul.sh."""

import argparse
import datetime
import os
import platform
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RESULTS = os.path.join(ROOT, "results")
BENCH = os.path.join(ROOT, "build", "bench", "mul_bench")


def machine():
    model = platform.processor() or "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("limbs", nargs="*",
                        default=["1000", "2000", "5000", "10000", "100000", "1000000", "10000000"],
                        help="operand lengths; a trailing b times the balanced product and the square alone")
    args = parser.parse_args()
    threads = os.cpu_count() or 1
    run = subprocess.run([BENCH, str(args.rounds), str(threads)] + list(args.limbs),
                         capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(run.stderr.strip() or "mul_bench failed")
    instructions, rows = "", []
    for line in run.stdout.splitlines():
        if line.startswith("# instructions"):
            instructions = line.split()[-1]
            continue
        shape, an, bn, gmp, one, every, engine = line.split()
        rows.append((shape, int(an), int(bn), float(gmp), float(one), float(every), engine == "1"))
    os.makedirs(RESULTS, exist_ok=True)
    date = datetime.date.today().isoformat()
    rounds = "one round (single runs vary: take it as a rough figure)" if args.rounds == 1 \
        else f"medians of {args.rounds} interleaved rounds"
    with open(os.path.join(RESULTS, "mul.md"), "w") as out:
        out.write(f"Engine against GMP, {date}, {machine()}, {instructions} kernels, {rounds}; "
                  f"seconds per product, wall clock; ratio = GMP / engine (above 1: the engine is faster); "
                  f"below the threshold the engine calls GMP.\n\n")
        out.write(f"| shape | limbs | GMP (s) | engine, 1 thread (s) | ratio | engine, {threads} threads (s) "
                  f"| ratio | {threads} threads / 1 |\n|---|---:|---:|---:|---:|---:|---:|---:|\n")
        for shape, an, bn, gmp, one, every, engine in rows:
            size = f"{an:,} x {bn:,}" if shape != "square" else f"{an:,}²"
            mark = "" if engine else " (GMP)"
            out.write(f"| {shape} | {size}{mark} | {gmp:.4g} | {one:.4g} | {gmp / one:.2f} | {every:.4g} "
                      f"| {gmp / every:.2f} | {every / one:.2f} |\n")
    print(open(os.path.join(RESULTS, "mul.md")).read())
    if not shutil.which("gnuplot"):
        return
    data = os.path.join(RESULTS, "mul.dat")
    with open(data, "w") as out:
        for shape in ("balanced", "1:4", "square"):
            out.write(f"# {shape}\n")
            for s, an, bn, gmp, one, every, _ in rows:
                if s == shape:
                    limbs = an + bn
                    out.write(f"{an} {gmp / limbs * 1e9} {one / limbs * 1e9} {every / limbs * 1e9} "
                              f"{gmp / one} {gmp / every}\n")
            out.write("\n\n")
    script = f"""
set terminal pngcairo size 1100,900 font ",10" noenhanced
set output "{os.path.join(RESULTS, 'mul.png')}"
set multiplot layout 2,1 title "Engine against GMP's mpn_mul and mpn_sqr, {machine()}, {date}, {rounds.split(' (')[0]}"
set logscale xy
set grid
set key outside right
set xlabel "limbs of the longer operand"
set ylabel "nanoseconds per limb of the product"
plot for [i=0:2] "{data}" index i using 1:2 with linespoints lw 2 dt 2 pt 4+2*i title "GMP, ".word("balanced 1:4 square", i+1), \\
     for [i=0:2] "{data}" index i using 1:3 with linespoints lw 2 pt 5+2*i title "engine 1 thread, ".word("balanced 1:4 square", i+1), \\
     for [i=0:2] "{data}" index i using 1:4 with linespoints lw 2 dt 3 pt 6+2*i title "engine {threads} threads, ".word("balanced 1:4 square", i+1)
set ylabel "GMP time / engine time"
unset logscale y
set yrange [0:*]
plot for [i=0:2] "{data}" index i using 1:5 with linespoints lw 2 pt 5+2*i title "1 thread, ".word("balanced 1:4 square", i+1), \\
     for [i=0:2] "{data}" index i using 1:6 with linespoints lw 2 dt 3 pt 6+2*i title "{threads} threads, ".word("balanced 1:4 square", i+1), \\
     1 with lines lc rgb "black" notitle, 2 with lines lc rgb "gray" dt 2 title "2x"
unset multiplot
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


if __name__ == "__main__":
    main()
