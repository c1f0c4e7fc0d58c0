#!/usr/bin/env python3
"""Times one repair command against a durable copy of the same damaged file, in the same run.

  bench/measure.py [--header] NAME DAMAGED OUTPUT RUNS -- COMMAND...   ({output} in COMMAND is OUTPUT)

Each of RUNS rounds times `cp DAMAGED COPY && sync COPY`, then the repair, each started after a
system-wide sync so that no earlier run's dirty pages are written back inside it, with a warm
cache. The row printed holds the medians: MB of input, repair and copy seconds, their ratio, the
repair's CPU seconds (user + system) per GB of input, MB/s of input, and the peak resident memory
of any run. The last run's output is left at OUTPUT for scoring or comparison.
"""

import os
import re
import statistics
import subprocess
import sys
import time

HEADER = f"{'case':<22} {'MB':>7} {'repair_s':>8} {'cpsync_s':>8} {'x_cpsync':>8} {'cpu_s/GB':>8} {'MB/s':>7} {'RSS_MB':>7}"


def timed(cmd, stdout=subprocess.DEVNULL):
    """Wall seconds, CPU seconds (user + system) and peak RSS (KiB) of one run under /usr/bin/time -v."""
    subprocess.run(["sync"], check=True)  # nothing left from the round before
    start = time.perf_counter()
    r = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=stdout, stderr=subprocess.PIPE, text=True)
    seconds = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit(f"failed ({r.returncode}): {' '.join(cmd)}\n{r.stderr[-2000:]}")

    def field(label):
        m = re.search(re.escape(label) + r": ([0-9.]+)", r.stderr)
        return float(m.group(1)) if m else 0.0

    cpu = field("User time (seconds)") + field("System time (seconds)")
    return seconds, cpu, int(field("Maximum resident set size (kbytes)"))


def measure(name, damaged, runs, command, output, copy):
    """The row for one case, and the medians behind it."""
    size = os.path.getsize(damaged)
    subprocess.run(["cat", damaged], stdout=subprocess.DEVNULL, check=True)  # warm the cache
    repairs, cpus, copies, rss = [], [], [], []
    for _ in range(runs):
        for f in (output, copy):
            if os.path.exists(f):
                os.unlink(f)
        copies.append(timed(["sh", "-c", 'cp "$1" "$2" && sync "$2"', "sh", damaged, copy])[0])
        os.unlink(copy)
        s, c, k = timed([w.replace("{output}", output) for w in command])
        repairs.append(s)
        cpus.append(c)
        rss.append(k)
    r, cs, c = statistics.median(repairs), statistics.median(copies), statistics.median(cpus)
    gb = size / 1e9
    row = (f"{name:<22} {size / 1e6:7.1f} {r:8.2f} {cs:8.2f} {r / cs:8.2f} {c / gb:8.2f} {size / 1e6 / r:7.1f}"
           f" {max(rss) / 1024:7.1f}")
    return row


def main():
    args = sys.argv[1:]
    if args[:1] == ["--header"]:
        print(HEADER)
        args = args[1:]
    if len(args) < 6 or args[4] != "--":
        sys.exit(__doc__)
    name, damaged, output, runs = args[0], args[1], args[2], int(args[3])
    command = args[5:]
    copy = os.path.join(os.path.dirname(os.path.abspath(output)), "copy-" + name)
    print(measure(name, damaged, runs, command, output, copy), flush=True)


if __name__ == "__main__":
    main()
