#!/usr/bin/env python3
"""zyl-batch --store runs killed at random moments and resumed: the final report and the export
file must be those of the uninterrupted seeded run, byte for byte, and no evaluation the store
holds as finished may run again. Also SIGTERM (exit 143, then resumable) and refused stores.
Usage: resume_e2e.py ZYL_BATCH"""
import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

batch = os.path.abspath(sys.argv[1])
work = tempfile.mkdtemp(prefix="zyl-resume-e2e-")
rng = random.Random(int(os.environ.get("ZYL_RESUME_SEED", "14")))
passed = 0
failed = 0


def check(name, condition, detail=""):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL %s %s" % (name, detail))


def folder(name, files):
    path = os.path.join(work, name)
    os.makedirs(path)
    for file_name, text in files.items():
        with open(os.path.join(path, file_name), "w") as f:
            f.write(text)
        if file_name.endswith(".sh"):
            os.chmod(os.path.join(path, file_name), 0o755)
    return path


def run(cwd, args, timeout=120):
    return subprocess.run([batch] + args, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def kill_at_random(cwd, args, kills, longest):
    """Starts the same command again and again, each killed with SIGKILL after a random time of
    at most `longest` seconds; returns how many had ended by themselves first."""
    ended = 0
    for _ in range(kills):
        process = subprocess.Popen([batch] + args, cwd=cwd, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, longest))
        if process.poll() is not None:
            ended += 1
        process.kill()
        process.wait()
    return ended


def finished_evaluations(store):
    db = sqlite3.connect("file:%s?mode=ro" % store, uri=True)
    try:
        return db.execute("select generation, individual from evaluations "
                          "where status = 'ok'").fetchall()
    finally:
        db.close()


def compare(name, reference, resumed, export):
    check(name + " exit", resumed.returncode == 0, resumed.stderr.decode()[-300:])
    check(name + " report", resumed.stdout == reference.stdout,
          "\n%s---\n%s" % (reference.stdout.decode()[-300:], resumed.stdout.decode()[-300:]))
    check(name + " export", read(os.path.join(reference.cwd, export)) ==
          read(os.path.join(resumed.cwd, export)))


def resumed_to_end(cwd, args):
    result = run(cwd, args)
    result.cwd = cwd
    return result


def reference_run(name, files, args):
    """The uninterrupted run, and how long it took."""
    cwd = folder(name, files)
    started = time.monotonic()
    result = run(cwd, args)
    result.duration = time.monotonic() - started
    result.cwd = cwd
    check(name + " runs", result.returncode == 0, result.stderr.decode()[-300:])
    return result


# 1. A formula: a run of about a third of a second, with plots and an export file in append
#    mode that held something before the run. Killed a dozen times, then resumed to its end.
analytical = {
    "task.txt": "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=sin(x1)*cos(x2)+x3^2/10+b\n"
                "[VARIABLES]\nx1=real[-3;3]\nx2=real[-3;3]\nx3=integer[-9;9]\nb=boolean\n"
                "[POPULATION]\nsize=100\n[OPTIONS]\nmax_iteration=800\n"
                "[SELECTION]\nelite=1\n[SHOW]\nbuffer_individuals=1\n"
                "[PLOTS]\nP=Average;CurrentMin\n[EXPORT]\navg=Average\nmin=GlobalMin\n"
                "[EXPORT_NAMES]\nexport_name=out.tsv\nexport_every_iteration=1\n",
    "out.tsv": "before the run\n",
}
seeded = ["--quiet", "--seed", "5"]
reference = reference_run("analytical-ref", analytical, seeded + ["task.txt"])
cwd = folder("analytical", analytical)
command = seeded + ["--resume", "--store", "run.zyl", "task.txt"]
kill_at_random(cwd, command, 10, reference.duration * 1.2)
compare("analytical", reference, resumed_to_end(cwd, command), "out.tsv")
# Resumed once more, the finished run computes nothing and reports the same.
again = resumed_to_end(cwd, ["--quiet", "--resume", "--store", "run.zyl"])
compare("analytical finished", reference, again, "out.tsv")
json_reference = run(folder("analytical-json", analytical),
                     seeded + ["--report", "json", "task.txt"])
json_again = run(cwd, ["--quiet", "--resume", "--store", "run.zyl", "--report", "json"])
check("analytical json", json_again.stdout == json_reference.stdout,
      "\n%s\n%s" % (json_reference.stdout[-300:], json_again.stdout[-300:]))

# 2. An external program that notes every start. Each finished evaluation is in the store at
#    most once (one that ran again would be recorded again), and every evaluation of the
#    uninterrupted run is there.
external = {
    "objective.sh": "#!/bin/sh\ncat \"$1\" >> starts.log\n"
                    "LC_ALL=C awk '{ s = 0; for (i = 1; i <= NF; i++) s += ($i - i) ^ 2;"
                    " printf \"%.17g\\n\", s }' \"$1\" > \"$2\"\n",
    "task.txt": "[FUNCTION]\nexternal=1\nexternal_name=./objective.sh\ninput_name=in.txt\n"
                "output_name=out.txt\n[VARIABLES]\nx1=real[-5;5]\nx2=integer[-5;5]\n"
                "[POPULATION]\nsize=8\n[OPTIONS]\nmax_iteration=6\n[SHOW]\nbuffer_individuals=1\n"
                "[EXPORT]\nmin=GlobalMin\n[EXPORT_NAMES]\nexport_name=ext.tsv\n"
                "export_every_iteration=1\n",
}
reference = reference_run("external-ref", external, seeded + ["task.txt"])
reference_starts = read(os.path.join(reference.cwd, "starts.log")).count(b"\n")
cwd = folder("external", external)
command = seeded + ["--resume", "--store", "run.zyl", "task.txt"]
kill_at_random(cwd, command, 10, reference.duration * 1.2)
compare("external", reference, resumed_to_end(cwd, command), "ext.tsv")
recorded = finished_evaluations(os.path.join(cwd, "run.zyl"))
check("external recorded once", len(recorded) == len(set(recorded)),
      "%d rows, %d distinct" % (len(recorded), len(set(recorded))))
check("external all recorded", len(set(recorded)) == reference_starts,
      "%d recorded, %d in the uninterrupted run" % (len(set(recorded)), reference_starts))
starts = read(os.path.join(cwd, "starts.log")).count(b"\n")
check("external starts", starts >= reference_starts, "%d < %d" % (starts, reference_starts))

# 3. SIGTERM during a slow program: exit 143 at once (the program is ended), the store is
#    committed, and a resume finishes the run as if nothing had happened.
slow = dict(external)
slow["objective.sh"] = external["objective.sh"].replace("cat", "sleep 0.05; cat", 1)
slow["task.txt"] = external["task.txt"].replace("max_iteration=6", "max_iteration=3")
reference = reference_run("sigterm-ref", slow, seeded + ["task.txt"])
cwd = folder("sigterm", slow)
process = subprocess.Popen([batch] + command, cwd=cwd, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE)
time.sleep(0.5)
process.send_signal(signal.SIGTERM)
sent = time.monotonic()
process.communicate(timeout=30)
check("sigterm exit", process.returncode == 143, str(process.returncode))
check("sigterm prompt", time.monotonic() - sent < 1.0, "%.2f s" % (time.monotonic() - sent))
check("sigterm committed", len(finished_evaluations(os.path.join(cwd, "run.zyl"))) >= 5)
compare("sigterm", reference, resumed_to_end(cwd, command), "ext.tsv")

# 4. Refused stores end with status 2 and are left as they were.
cwd = folder("refused", {"task.txt": analytical["task.txt"], "other.txt":
                         analytical["task.txt"].replace("size=100", "size=20"),
                         "junk.zyl": "not a store\n"})
run(cwd, ["--quiet", "--seed", "1", "--store", "run.zyl", "task.txt"])
before = read(os.path.join(cwd, "run.zyl"))
for name, args, message in [
        ("holds a run", ["--store", "run.zyl", "task.txt"], "already holds a run"),
        ("other script", ["--resume", "--store", "run.zyl", "other.txt"], "differs from"),
        ("not a store", ["--resume", "--store", "junk.zyl", "task.txt"], "not a ZYL run store")]:
    result = run(cwd, ["--quiet"] + args)
    check("refused " + name, result.returncode == 2 and message in result.stderr.decode(),
          "%d %s" % (result.returncode, result.stderr.decode()))
check("refused store unchanged", read(os.path.join(cwd, "run.zyl")) == before)
check("refused junk unchanged", read(os.path.join(cwd, "junk.zyl")) == b"not a store\n")

print("%d passed, %d failed" % (passed, failed))
if failed == 0:
    shutil.rmtree(work)
else:
    print("left in " + work)
sys.exit(1 if failed else 0)
