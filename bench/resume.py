"""A run stopped at five random moments and resumed each time, against the
same run uninterrupted.

    python3 bench/resume.py build/series/bsplitpi 100000000 DIR SEED...

For each seed: the uninterrupted run `bsplitpi DIGITS 1 --fast
--threads=0`; five moments drawn uniformly over its wall time, sorted; a
run with --checkpoint=DIR killed (SIGKILL) at the first, then runs with
--resume=DIR each killed at the gap to the next moment, then one to the
end. Prints the kills, all runs' wall time over the uninterrupted run's,
and whether the last run's digit line is the uninterrupted run's.
"""

import hashlib
import random
import shutil
import subprocess
import sys
import time


def timed(command, kill_after=None):
    start = time.time()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, _ = process.communicate(timeout=kill_after)
    except subprocess.TimeoutExpired:
        process.kill()
        out, _ = process.communicate()
    return time.time() - start, process.returncode, out


def digit_line(out):
    lines = out.split(b"\n")
    return hashlib.sha256(lines[1]).hexdigest() if len(lines) > 2 else None


def main():
    program, digits, directory = sys.argv[1:4]
    command = [program, digits, "1", "--fast", "--threads=0"]
    for seed in map(int, sys.argv[4:]):
        random.seed(seed)
        shutil.rmtree(directory, ignore_errors=True)
        alone, _, reference = timed(command)
        moments = sorted(random.uniform(0, alone) for _ in range(5))
        gaps = [b - a for a, b in zip([0] + moments, moments)]
        total, kills, option = 0.0, [], "--checkpoint=" + directory
        for gap in gaps:
            seconds, status, out = timed(command + [option], kill_after=gap)
            total += seconds
            option = "--resume=" + directory
            if status == 0:
                break
            kills.append(f"{gap:.1f}")
        else:
            seconds, status, out = timed(command + [option])
            total += seconds
        print(f"seed {seed}: alone {alone:.1f} s; killed after {', '.join(kills)} s; "
              f"all runs {total:.1f} s = {total / alone:.2f}x; "
              f"same digit line: {digit_line(out) == digit_line(reference)}", flush=True)


if __name__ == "__main__":
    main()
