#!/usr/bin/env python3
"""The cantilever of examples/cantilever: its program, which logs every design it is given,
must never see a design that breaks the slenderness limit h <= 20 b, whether one program runs
at a time, several side by side, or a stored run is killed and resumed; and each of these
runs prints the report of the uninterrupted one, byte for byte. Keys are set with --set.
Usage: prescreen_e2e.py ZYL_BATCH REPO_DIR"""
import os
import random
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

batch = os.path.abspath(sys.argv[1])
repo = os.path.abspath(sys.argv[2])
work = tempfile.mkdtemp(prefix="zyl-prescreen-e2e-")
rng = random.Random(7)
failed = 0
TASK = "examples/cantilever/task.txt"
SHORT = ["--quiet", "--seed", "3", "--set", "OPTIONS.max_iteration=6"]


def check(name, condition, detail=""):
    global failed
    if not condition:
        failed += 1
        print("FAIL %s %s" % (name, detail))


def tree(name):
    path = os.path.join(work, name)
    shutil.copytree(os.path.join(repo, "examples", "cantilever"),
                    os.path.join(path, "examples", "cantilever"))
    return path


def run(cwd, args, timeout=120):
    env = dict(os.environ, CANTILEVER_CALLS=os.path.join(cwd, "calls.log"))
    return subprocess.run([batch] + args, cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)


def calls(cwd):
    """The designs the program was given, as (b, h)."""
    path = os.path.join(cwd, "calls.log")
    if not os.path.exists(path):
        return []
    designs = []
    for line in open(path):
        values = dict(item.split("=") for item in line.split())
        designs.append((float(values["b"]), float(values["h"])))
    return designs


def statuses(store):
    db = sqlite3.connect("file:%s?mode=ro" % store, uri=True)
    try:
        return dict(db.execute("select status, count(*) from evaluations group by status"))
    finally:
        db.close()


def slender(designs):
    return all(h <= 20 * b for b, h in designs)


# 1. One program at a time, with a store: no call for a ruled-out design, and the store counts
#    them; every design of the run is either a call or a screened row.
one = tree("one")
reference = run(one, SHORT + ["--store", "run.zyl", TASK])
check("one runs", reference.returncode == 0, reference.stderr.decode()[-300:])
stored = statuses(os.path.join(one, "run.zyl"))
check("one slender", slender(calls(one)) and len(calls(one)) == stored.get("ok"), str(stored))
check("one screened", stored.get("screened", 0) > 0 and
      stored.get("ok", 0) + stored.get("screened", 0) == 60, str(stored))

# 2. Three programs at once: the same report, and the same designs sent.
three = tree("three")
r = run(three, SHORT + ["--workers", "3", "--store", "run.zyl", TASK])
check("three report", r.returncode == 0 and r.stdout == reference.stdout, r.stderr.decode()[-300:])
check("three calls", sorted(calls(three)) == sorted(calls(one)))
check("three store", statuses(os.path.join(three, "run.zyl")) == stored)

# 3. Killed with SIGKILL at random moments (each program takes a little longer, so that kills
#    fall inside generations) and resumed with two workers: the same report, nothing
#    ruled out ever sent, and each screened design recorded once.
killed = tree("killed")
slow = os.path.join(killed, "slow.sh")
with open(slow, "w") as f:
    f.write("#!/bin/sh\nsleep 0.02\nexec %s \"$@\"\n" %
            os.path.join(killed, "examples", "cantilever", "beam.sh"))
os.chmod(slow, 0o755)
command = SHORT + ["--workers", "2", "--set", "FUNCTION.external_name=slow.sh",
                   "--resume", "--store", "run.zyl", TASK]
env = dict(os.environ, CANTILEVER_CALLS=os.path.join(killed, "calls.log"))
for _ in range(3):
    p = subprocess.Popen([batch] + command, cwd=killed, env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    time.sleep(rng.uniform(0.1, 0.6))
    p.kill()
    p.wait()
r = run(killed, command)
check("killed report", r.returncode == 0 and r.stdout == reference.stdout,
      r.stderr.decode()[-300:] + r.stdout.decode()[-200:])
check("killed slender", slender(calls(killed)))
check("killed store", statuses(os.path.join(killed, "run.zyl")).get("screened") ==
      stored.get("screened"), str(statuses(os.path.join(killed, "run.zyl"))))
# The resume gave no --set of its own and runs the recorded ones; others are refused.
again = run(killed, ["--quiet", "--resume", "--store", "run.zyl"])
check("resume without --set", again.returncode == 0 and again.stdout == reference.stdout)
other = run(killed, ["--quiet", "--resume", "--store", "run.zyl", "--set",
                     "OPTIONS.max_iteration=11"])
check("resume with other --set", other.returncode == 2 and
      b"cannot take --set OPTIONS.max_iteration=11." in other.stderr, other.stderr.decode())

shutil.rmtree(work, ignore_errors=True)
print("prescreen: %d failure(s)" % failed)
sys.exit(1 if failed else 0)
