#!/usr/bin/env python3
"""zyl-batch --store runs killed at random moments and resumed: the final report and the export
file must be those of the uninterrupted seeded run, byte for byte, and no evaluation the store
holds as finished may run again. Also SIGTERM (exit 143, then resumable) and refused stores.
Usage: resume_e2e.py ZYL_BATCH"""
import json
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

# 1b. The same with constraints, whose values ride along in the population, the buffer and the
#     best designs: the violations and the order they make must come back exactly.
constrained = dict(analytical)
constrained["task.txt"] = analytical["task.txt"].replace(
    "[POPULATION]", "[CONSTRAINTS]\nring=0.5-x1^2-x2^2\nedge=x1+x3/4-1\n[POPULATION]").replace(
    "max_iteration=800", "max_iteration=500\nconstraint_tolerance=0.01").replace(
    "min=GlobalMin\n", "min=GlobalMin\nfeasible=Feasible\nworst=MinViolation\nring=ring\n")
reference = reference_run("constrained-ref", constrained, seeded + ["task.txt"])
check("constrained feasible", b"(feasible)" in reference.stdout, reference.stdout[-200:])
cwd = folder("constrained", constrained)
kill_at_random(cwd, command, 6, reference.duration * 1.2)
compare("constrained", reference, resumed_to_end(cwd, command), "out.tsv")

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
command = seeded + ["--resume", "--store", "run.zyl", "task.txt"]
# One program at a time, and three at once in folders of their own (whose values the store
# takes as they end, in any order); the report is the same either way.
for name, workers in [("external", []), ("workers", ["--workers", "3"])]:
    cwd = folder(name, external)
    log = os.path.join(cwd, "starts.log")
    with open(os.path.join(cwd, "objective.sh"), "w") as f:
        f.write(external["objective.sh"].replace("starts.log", log))
    kill_at_random(cwd, workers + command, 10, reference.duration * 1.2)
    compare(name, reference, resumed_to_end(cwd, workers + command), "ext.tsv")
    recorded = finished_evaluations(os.path.join(cwd, "run.zyl"))
    check(name + " recorded once", len(recorded) == len(set(recorded)),
          "%d rows, %d distinct" % (len(recorded), len(set(recorded))))
    check(name + " all recorded", len(set(recorded)) == reference_starts,
          "%d recorded, %d in the uninterrupted run" % (len(set(recorded)), reference_starts))
    starts = read(log).count(b"\n")
    check(name + " starts", starts >= reference_starts, "%d < %d" % (starts, reference_starts))

# 2b. A program that writes two constraint values after its objective, beside a CONSTRAINTS
#     formula; one design in a few writes one value only (a failed evaluation that takes the
#     failure value and is infeasible). Killed and resumed, with one program and with three at
#     once: the report is the uninterrupted one's.
constrained_ext = {
    "objective.sh": "#!/bin/sh\nLC_ALL=C awk '{ s = 0; for (i = 1; i <= NF; i++) s += ($i - i) ^ 2;"
                    " if (($1 * 1000) % 7 < 1) printf \"%.17g 0\\n\", s;"
                    " else printf \"%.17g %.17g %.17g\\n\", s, 1 - $1 - $2, $1 - 4 }' \"$1\" > \"$2\"\n",
    "task.txt": external["task.txt"].replace(
        "output_name=out.txt\n",
        "output_name=out.txt\nexternal_constraints=2\nfailure_value=1e9\n").replace(
        "[POPULATION]", "[CONSTRAINTS]\ntotal=x1+x2-6\n[POPULATION]"),
}
reference = reference_run("constrained-ext-ref", constrained_ext, seeded + ["task.txt"])
check("constrained-ext feasible", b"(feasible)" in reference.stdout, reference.stdout[-300:])
check("constrained-ext failures", b"took the failure value" in reference.stdout,
      reference.stdout[-300:])
for name, workers in [("constrained-ext", []), ("constrained-workers", ["--workers", "3"])]:
    cwd = folder(name, constrained_ext)
    kill_at_random(cwd, workers + command, 5, reference.duration * 1.2)
    compare(name, reference, resumed_to_end(cwd, workers + command), "ext.tsv")

# 3. SIGTERM during a slow program: exit 143 at once (the program is ended), every value
#    given so far is committed, and a resume finishes the run as if nothing had happened.
#    The program notes its evaluation when it has written its value.
slow = dict(external)
slow["objective.sh"] = ("#!/bin/sh\nsleep 0.05\n"
                        "LC_ALL=C awk '{ s = 0; for (i = 1; i <= NF; i++) s += ($i - i) ^ 2;"
                        " printf \"%.17g\\n\", s }' \"$1\" > \"$2\"\ncat \"$1\" >> done.log\n")
slow["task.txt"] = external["task.txt"].replace("max_iteration=6", "max_iteration=3")
reference = reference_run("sigterm-ref", slow, seeded + ["task.txt"])
cwd = folder("sigterm", slow)
process = subprocess.Popen([batch] + command, cwd=cwd, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE)
done_log = os.path.join(cwd, "done.log")
deadline = time.monotonic() + 60
while time.monotonic() < deadline and (not os.path.exists(done_log) or
                                       read(done_log).count(b"\n") < 5):
    time.sleep(0.01)
done_before = read(done_log).count(b"\n")
process.send_signal(signal.SIGTERM)
sent = time.monotonic()
process.communicate(timeout=30)
check("sigterm exit", process.returncode == 143, str(process.returncode))
check("sigterm prompt", time.monotonic() - sent < 1.0, "%.2f s" % (time.monotonic() - sent))
# A program that had noted its value may still have been ended before the run read it.
committed = len(finished_evaluations(os.path.join(cwd, "run.zyl")))
check("sigterm committed", committed >= done_before - 1, "%d < %d" % (committed, done_before))
compare("sigterm", reference, resumed_to_end(cwd, command), "ext.tsv")
done_all = read(done_log).count(b"\n")
done_reference = read(os.path.join(reference.cwd, "done.log")).count(b"\n")
check("sigterm nothing ran again", done_reference <= done_all <= done_reference + 1,
      "%d, uninterrupted %d" % (done_all, done_reference))

# 4. A manual task fed through standard input, killed at a prompt: every value typed before it
#    is in the store and is never asked for again.
def feed(cwd, args, stop_at=None):
    """Answers each prompt with a value of the variables it shows; with `stop_at`, kills the
    program at that prompt instead. Returns the prompts answered and the finished process."""
    process = subprocess.Popen([batch] + args, cwd=cwd, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    text = b""
    seen = b""
    answered = 0
    while True:
        chunk = os.read(process.stderr.fileno(), 4096)
        if not chunk:
            break
        text += chunk
        seen += chunk
        while b"\nf = " in text:
            prompt, text = text.split(b"\nf = ", 1)
            if stop_at is not None and answered == stop_at:
                process.kill()
                process.wait()
                return answered, None
            values = [int(v.split(b"=")[1]) for v in prompt.split(b": ", 1)[1].split(b",")]
            process.stdin.write(b"%d\n" % ((values[0] - 3) ** 2 + (values[1] + 2) ** 2))
            process.stdin.flush()
            answered += 1
    out = process.stdout.read()
    process.wait()
    process.returncode_out = out
    process.stderr_text = seen
    return answered, process


manual = {"task.txt": "[FUNCTION]\nmanual=1\n[VARIABLES]\nx=integer[-20;20]\n"
                      "y=integer[-20;20]\n[POPULATION]\nsize=6\n[OPTIONS]\nmax_iteration=5\n"
                      "[SHOW]\nbuffer_individuals=1\n[EXPORT]\nmin=GlobalMin\n"
                      "[EXPORT_NAMES]\nexport_name=man.tsv\nexport_every_iteration=1\n"}
reference_cwd = folder("manual-ref", manual)
expected, finished = feed(reference_cwd, seeded + ["task.txt"])
cwd = folder("manual", manual)
command = seeded + ["--resume", "--store", "run.zyl", "task.txt"]
answered = 0
for _ in range(5):
    count, _ = feed(cwd, command, rng.randint(0, max(0, expected - answered)))
    answered += count
count, resumed = feed(cwd, command)
answered += count
check("manual exit", resumed.returncode == 0, str(resumed.returncode))
check("manual report", resumed.returncode_out == finished.returncode_out,
      "\n%s---\n%s" % (finished.returncode_out[-300:], resumed.returncode_out[-300:]))
check("manual export", read(os.path.join(reference_cwd, "man.tsv")) ==
      read(os.path.join(cwd, "man.tsv")))

# 4b. The time left after a resume comes from the generations this process computed, not from
#     those the store held: at the first generation after it, all of the time so far went
#     into that one.
cwd = folder("manual-left", manual)
feed(cwd, command, 7)
_, resumed = feed(cwd, ["--progress", "json"] + command[1:])
# Each object follows the prompt that its generation's last value answered.
lines = [json.loads(line[line.index(b'{"generation"'):])
         for line in resumed.stderr_text.splitlines() if b'{"generation"' in line]
first = lines[0] if lines else {"generation": 0}
check("time left after a resume", first["generation"] >= 2 and
      abs(first["estimated"] - first["elapsed"] * (5 - first["generation"])) <=
      1e-9 * first["estimated"], str(lines))
check("manual asked once", answered == expected, "%d answers, %d needed" % (answered, expected))

# 5. Refused stores end with status 2 and are left as they were.
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

# 6. Reuse, with or without a store of its own: the same formula fills the buffer before the
#    first generation; a changed one is refused with what changed.
# The buffer's size is shown with buffered=1, which is no part of the objective.
shown = analytical["task.txt"].replace("[SHOW]\n", "[SHOW]\nbuffered=1\n")
with open(os.path.join(cwd, "shown.txt"), "w") as f:
    f.write(shown)
with open(os.path.join(cwd, "changed.txt"), "w") as f:
    f.write(shown.replace("x3^2/10", "x3^2/11"))
for extra in [[], ["--store", "again.zyl"]]:
    reused = run(cwd, ["--quiet", "--seed", "2", "--report", "json", "--reuse", "run.zyl"] +
                 extra + ["shown.txt"])
    fresh = run(cwd, ["--quiet", "--seed", "2", "--report", "json", "shown.txt"])
    check("reuse runs %s" % extra, reused.returncode == 0, reused.stderr.decode())
    buffered = [int(r.stdout.split(b'"Buffered":')[1].split(b",")[0]) for r in (reused, fresh)]
    check("reuse fills the buffer %s" % extra, buffered[0] > buffered[1], str(buffered))
refused = run(cwd, ["--quiet", "--reuse", "run.zyl", "changed.txt"])
check("reuse refused", refused.returncode == 2 and
      b'Cannot reuse the evaluations of "run.zyl": the formula has changed.' in refused.stderr,
      refused.stderr.decode())

print("%d passed, %d failed" % (passed, failed))
if failed == 0:
    shutil.rmtree(work)
else:
    print("left in " + work)
sys.exit(1 if failed else 0)
