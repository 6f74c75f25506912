#!/usr/bin/env python3
"""Times whole runs of the 1000 x 1000 default task with each search method, in rounds that run
ga, cmaes and de one after the other, and prints the best CPU times and the median of each
round's ratio to ga. The same task shape with the objective x1 + x2 shows the methods' own cost:
the default objective's sines take longer on a spread-out population than on a converged one
(the same instructions, less predictable), which is the objective's cost, not the method's.

Usage: bench/time-methods.py [BUILD_DIR] [ROUNDS]      (defaults: build/release 21)
CPU time (user + system) of each process, less disturbed than wall time on a shared machine."""
import os
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 21
batch = os.path.join(build, "src", "zyl-batch")
task = open(os.path.join(ROOT, "bench", "tasks", "default-1000x1000.txt")).read()
METHODS = ("ga", "cmaes", "de")


def cpu(script):
    p = subprocess.Popen([batch, script, "--quiet", "--seed", "1"], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    if status != 0:
        sys.exit("zyl-batch failed on " + script)
    return usage.ru_utime + usage.ru_stime


with tempfile.TemporaryDirectory() as work:
    for label, objective in (("default objective", None), ("objective x1 + x2", "f=x1 + x2")):
        scripts = {}
        for m in METHODS:
            text = task.replace("[OPTIONS]\n", "[OPTIONS]\nmethod=%s\n" % m)
            if objective:
                text = "\n".join(objective if l.startswith("f=") else l for l in text.split("\n"))
            scripts[m] = os.path.join(work, m + ".txt")
            open(scripts[m], "w").write(text)
        times = {m: [] for m in METHODS}
        for _ in range(rounds):
            for m in METHODS:
                times[m].append(cpu(scripts[m]))
        ratio = {m: statistics.median(t / g for t, g in zip(times[m], times["ga"]))
                 for m in METHODS}
        print("%s: best CPU time %s; median ratio to ga: cmaes %.2f, de %.2f"
              % (label, ", ".join("%s %.3f s" % (m, min(times[m])) for m in METHODS),
                 ratio["cmaes"], ratio["de"]))
