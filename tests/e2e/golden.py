#!/usr/bin/env python3
"""Seeded runs of zyl-batch compared byte for byte with the outputs kept in tests/data/golden:
the report on standard output and, where the script writes one, the export file. Every
example runs in a fresh copy of the examples folder, so relative names resolve as they do
from the top of the repository.
Usage: golden.py ZYL_BATCH REPO_DIR [--record] [extra zyl-batch arguments...]"""
import os
import shutil
import subprocess
import sys
import tempfile

batch = os.path.abspath(sys.argv[1])
repo = os.path.abspath(sys.argv[2])
record = "--record" in sys.argv[3:]
extra = [a for a in sys.argv[3:] if a != "--record"]
golden = os.path.join(repo, "tests", "data", "golden")

# name, script (relative to the copied tree), standard input, export file written by the script
CASES = [
    ("default", "examples/default.txt", None, None),
    ("ackley", "examples/ackley.txt", None, None),
    ("rastrigin", "examples/rastrigin.txt", None, None),
    ("rosenbrock", "examples/rosenbrock.txt", None, None),
    ("schwefel", "examples/schwefel.txt", None, None),
    ("mixed", "examples/mixed.txt", None, "mixed-export.txt"),
    ("external-task", "examples/external-task.txt", None, None),
    # Values that depend only on their position, so that the run is fixed by the seed alone.
    ("manual-task", "examples/manual-task.txt",
     "".join("%d\n" % ((7 * k) % 11 - 5) for k in range(12)), None),
    ("default-1000x1000", "bench/tasks/default-1000x1000.txt", None, None),
    # Two objectives, five constraints and a whole-numbered variable: the front in the report.
    ("disc-brake", "examples/disc-brake.txt", None, None),
]

failures = 0
for name, script, stdin, export in CASES:
    work = tempfile.mkdtemp(prefix="zyl-golden-")
    try:
        shutil.copytree(os.path.join(repo, "examples"), os.path.join(work, "examples"))
        shutil.copytree(os.path.join(repo, "bench", "tasks"), os.path.join(work, "bench", "tasks"))
        r = subprocess.run([batch, "--seed", "1", "--quiet"] + extra + [script],
                           input=(stdin or "").encode(), cwd=work,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
        outputs = {name + ".out": r.stdout}
        if export:
            with open(os.path.join(work, export), "rb") as f:
                outputs[name + ".export"] = f.read()
        if r.returncode != 0:
            print("FAIL %s: exit status %d\n%s" % (name, r.returncode, r.stderr.decode()[-500:]))
            failures += 1
            continue
        for file, data in outputs.items():
            path = os.path.join(golden, file)
            if record:
                with open(path, "wb") as f:
                    f.write(data)
                continue
            with open(path, "rb") as f:
                expected = f.read()
            if data != expected:
                print("FAIL %s differs from %s" % (name, path))
                print("--- expected\n%s\n--- got\n%s" % (expected.decode()[:800], data.decode()[:800]))
                failures += 1
    finally:
        shutil.rmtree(work, ignore_errors=True)

print("%s: %d case(s), %d failure(s)" % ("recorded" if record else "compared", len(CASES), failures))
sys.exit(1 if failures else 0)
