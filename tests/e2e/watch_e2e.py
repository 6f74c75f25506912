#!/usr/bin/env python3
"""zyl-batch --follow on a store that a real zyl-batch writes: every generation once, in
order, with the writer's own figures, in both forms; a writer killed with -9; a resume that
follows; files that are no stores.
Usage: watch_e2e.py ZYL_BATCH"""
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

batch = os.path.abspath(sys.argv[1])
work = tempfile.mkdtemp(prefix="zyl-watch-e2e-")
checks = []


def check(name, condition, detail=""):
    checks.append(bool(condition))
    if not condition:
        print("FAIL %s %s" % (name, detail))


# Each program takes a twentieth of a second, so that the writer commits while it is followed.
program = ("#!/bin/sh\nsleep 0.05\n"
           "LC_ALL=C awk '{ printf \"%.17g\\n\", ($1 - 1) ^ 2 + ($2 + 2) ^ 2 }' \"$1\" > \"$2\"\n")
task = ("[FUNCTION]\nexternal=1\nexternal_name=./obj.sh\ninput_name=in.txt\n"
        "output_name=out.txt\nworkers=2\n[VARIABLES]\nx1=real[-5;5]\nx2=real[-5;5]\n"
        "[POPULATION]\nsize=4\n[OPTIONS]\nmax_iteration=%d\n")


def folder(name, generations):
    path = os.path.join(work, name)
    os.makedirs(path)
    with open(os.path.join(path, "task.txt"), "w") as f:
        f.write(task % generations)
    with open(os.path.join(path, "obj.sh"), "w") as f:
        f.write(program)
    os.chmod(os.path.join(path, "obj.sh"), 0o755)
    return path


def owner(cwd):
    try:
        db = sqlite3.connect("file:%s?mode=ro" % os.path.join(cwd, "run.zyl"), uri=True)
        try:
            return db.execute("SELECT owner_pid FROM run").fetchone()[0]
        finally:
            db.close()
    except sqlite3.Error:
        return None


def start_writer(cwd, extra=()):
    """A writer, once it owns its store (a follower started sooner finds nobody writing)."""
    writer = subprocess.Popen([batch, "--seed", "3", "--store", "run.zyl", "--progress", "json"]
                              + list(extra) + ["task.txt"], cwd=cwd, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
    # A loaded machine (the sanitizer suite beside other tests) can take seconds to start it.
    deadline = time.time() + 60
    while owner(cwd) != writer.pid and writer.poll() is None and time.time() < deadline:
        time.sleep(0.01)
    return writer


def follow(cwd, form):
    return subprocess.Popen([batch, "--follow", "run.zyl", "--progress", form], cwd=cwd,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def objects(text):
    return [json.loads(line) for line in text.decode().splitlines() if line.startswith("{")]


def figures(line):
    return (line["generation"], line["evaluations"], line["CurrentMin"], line["GlobalMin"])


# 1. A run followed from its start to its end, in JSON and in text at once.
cwd = folder("whole", 6)
writer = start_writer(cwd)
as_json, as_text = follow(cwd, "json"), follow(cwd, "text")
written = writer.communicate(timeout=60)
seen_json = as_json.communicate(timeout=20)
seen_text = as_text.communicate(timeout=20)
check("writer", writer.returncode == 0, written[1].decode())
check("json ends with the run", as_json.returncode == 0, seen_json[1].decode())
check("text ends with the run", as_text.returncode == 0, seen_text[1].decode())
mine = [figures(o) for o in objects(written[1]) if "generation" in o]
theirs = [figures(o) for o in objects(seen_json[1]) if "generation" in o]
check("every generation once, in order, as the writer saw it", theirs == mine,
      "%s != %s" % (theirs, mine))
check("six generations", [g[0] for g in theirs] == list(range(1, 7)), theirs)
lines = seen_text[1].decode().splitlines()
check("one text line a generation",
      [line.split()[1] for line in lines] == [str(g) for g in range(1, 7)] and
      all(line.startswith("generation ") and " of 6  CurrentMin " in line for line in lines),
      lines)
check("nothing on standard output", seen_json[0] == b"" and seen_text[0] == b"")
# A followed run ends as an unfollowed one: the same report.
alone = folder("alone", 6)
unfollowed = subprocess.run([batch, "--seed", "3", "--store", "run.zyl", "--quiet", "task.txt"],
                            cwd=alone, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=60)
check("the writer's result does not depend on the follower", unfollowed.stdout == written[0],
      unfollowed.stdout.decode() + written[0].decode())

# 2. A writer killed with -9: the follower says it stopped; a resume is followed again from
# where the store stands, to the end.
cwd = folder("killed", 10)
writer = start_writer(cwd)
follower = follow(cwd, "json")
time.sleep(0.5)
writer.send_signal(signal.SIGKILL)
writer.communicate(timeout=20)
seen = follower.communicate(timeout=20)
check("a killed writer ends the following", follower.returncode == 1, seen[1].decode())
last = seen[1].decode().splitlines()[-1]
check("the follower says it stopped",
      last.startswith('The run of the run store "run.zyl" stopped without finishing in '
                      'generation ') and "(process %d on " % writer.pid in last and
      last.endswith(" no longer exists)."), last)
before = [o["generation"] for o in objects(seen[1]) if "generation" in o]
check("some generations before the kill", 0 < len(before) < 10, before)
resumed = start_writer(cwd, ["--resume"])
again = follow(cwd, "json")
resumed_output = resumed.communicate(timeout=60)
seen = again.communicate(timeout=20)
check("the resumed run is followed to its end", again.returncode == 0 and resumed.returncode == 0,
      "resume: %d %s\nfollower: %d %s" % (resumed.returncode, resumed_output[1].decode()[-600:],
                                         again.returncode, seen[1].decode()))
after = [o["generation"] for o in objects(seen[1]) if "generation" in o]
check("every stored generation once, the resumed ones after", after == list(range(1, 11)),
      after)

# 3. What is no store to follow: a message, exit status 2, nothing made beside it.
cwd = os.path.join(work, "bad")
os.makedirs(cwd)
with open(os.path.join(cwd, "notes.zyl"), "w") as f:
    f.write("not a store\n")
bad = subprocess.run([batch, "--follow", "notes.zyl"], cwd=cwd, stdout=subprocess.PIPE,
                     stderr=subprocess.PIPE, timeout=20)
check("not a store", bad.returncode == 2 and
      bad.stderr.decode() == 'The file "notes.zyl" is not a ZYL run store.\n', bad.stderr)
check("nothing beside it", sorted(os.listdir(cwd)) == ["notes.zyl"], os.listdir(cwd))
usage = subprocess.run([batch, "--follow", "notes.zyl", "task.txt"], cwd=cwd,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
check("--follow runs nothing", usage.returncode == 2, usage.stderr)

shutil.rmtree(work, ignore_errors=True)
print("%d passed, %d failed" % (checks.count(True), checks.count(False)))
sys.exit(0 if all(checks) else 1)
