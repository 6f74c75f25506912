#!/usr/bin/env python3
"""Times whole zyl-batch runs of Rastrigin's function in 30 variables (population 100, 1000
generations), both forms of bench/tasks (x^2 and x*x), with loop_counter=1000 (one run of 1000
generations) and with loop_counter=1 (a run per generation, as the desktop program's default
makes it), in rounds, and prints the best CPU times, the median of each round's ratio, and
whether both reported the same best. A batch run ought to cost the same whatever loop_counter
says: what a run builds is kept for the next one.

Usage: bench/time-loop-counter.py [BUILD_DIR] [ROUNDS]      (defaults: build/release 21)
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


def run(script):
    """CPU time and the report's best line."""
    p = subprocess.Popen([batch, script, "--quiet", "--seed", "1"], stdout=subprocess.PIPE)
    out = p.stdout.read().decode()
    _, status, usage = os.wait4(p.pid, 0)
    if status != 0:
        sys.exit("zyl-batch failed on " + script)
    best = [l for l in out.split("\n") if l.startswith("Best:")]
    return usage.ru_utime + usage.ru_stime, best


with tempfile.TemporaryDirectory() as work:
    for form in ("power", "product"):
        task = open(os.path.join(ROOT, "bench", "tasks", "rastrigin30-%s.txt" % form)).read()
        assert "loop_counter=1000\n" in task
        scripts = {}
        for loops in (1000, 1):
            scripts[loops] = os.path.join(work, "%s-%d.txt" % (form, loops))
            open(scripts[loops], "w").write(task.replace("loop_counter=1000\n",
                                                         "loop_counter=%d\n" % loops))
        times = {1000: [], 1: []}
        bests = {}
        for _ in range(rounds):
            for loops in (1000, 1):
                seconds, bests[loops] = run(scripts[loops])
                times[loops].append(seconds)
        ratio = statistics.median(a / b for a, b in zip(times[1], times[1000]))
        print("%s form: best CPU time loop_counter=1000 %.3f s, loop_counter=1 %.3f s; median "
              "ratio %.3f; best %s" % (form, min(times[1000]), min(times[1]), ratio,
                                       "the same" if bests[1] == bests[1000] else "DIFFERS"))
