#!/usr/bin/env python3
"""zyl-batch when the external programs fail or are interrupted: the same end however the
programs run, failure values that never pass for results, SIGTERM with a grace, and the
signs of life of --progress json.
Usage: failures_e2e.py ZYL_BATCH"""
import json
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

from slurm_support import slurm_unavailable

batch = os.path.abspath(sys.argv[1])
work = tempfile.mkdtemp(prefix="zyl-failures-e2e-")
os.chdir(work)
failures = []


def check(name, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + name)
    if not condition:
        failures.append(name)
        if detail:
            print(str(detail)[-2500:])


# Every start is logged with its input line. FAIL=all fails every evaluation, FAIL=high those
# with x above 0.3; SLEEP pauses first; HANG=1 never ends.
with open("objective.sh", "w") as f:
    f.write("""#!/bin/sh
read x y < "$1"
echo "$x $y" >> "%s/starts.log"
[ -n "${SLEEP:-}" ] && sleep "$SLEEP"
[ -n "${HANG:-}" ] && exec sleep 600
[ "${FAIL:-}" = all ] && exit 3
if [ "${FAIL:-}" = high ] && awk -v x="$x" 'BEGIN { exit !(x > 0.3) }'; then exit 3; fi
LC_ALL=C awk -v x="$x" -v y="$y" 'BEGIN { printf "%%.17g\\n", (x - 0.3)^2 + (y + 0.2)^2 }' > "$2"
""" % work)
os.chmod("objective.sh", 0o755)


def script(extra="", size=8, generations=4):
    return ("[FUNCTION]\nexternal=1\nexternal_name=./objective.sh\ninput_name=in.txt\n"
            "output_name=out.txt\n" + extra +
            "\n[VARIABLES]\nx=real[-1;1]\ny=real[-1;1]\n[POPULATION]\nsize=%d\n"
            "[OPTIONS]\nmax_iteration=%d\n[SELECTION]\ntournament=1\ntournament_size=2\n"
            "[CROSSOVER]\nprobability=0.7\narithmetical=1\n[MUTATION]\nprobability=0.2\n"
            "uniform=1\n[SHOW]\nbuffer_individuals=1\n" % (size, generations))


def starts():
    if not os.path.exists("starts.log"):
        return []
    with open("starts.log") as f:
        return f.read().splitlines()


def run(args, text, env=None, timeout=120):
    with open("task.txt", "w") as f:
        f.write(text)
    if os.path.exists("starts.log"):
        os.remove("starts.log")
    # A failed evaluation's folder is kept for a look, and a new run refuses a root holding
    # another run's folders: each run here starts from empty roots.
    for root in ("task-runs", "folders"):
        shutil.rmtree(root, ignore_errors=True)
    return subprocess.run([batch, "--seed", "3"] + args + ["task.txt"], capture_output=True,
                          text=True, timeout=timeout, env=dict(os.environ, **(env or {})))


def report(args, text, env):
    """The text and the JSON report of the same run, with the exit statuses, and how many
    failures the text run said on its way (each says "... failed: why")."""
    plain = run(["--quiet"] + args, text, env)
    as_json = run(["--quiet", "--report", "json"] + args, text, env)
    return plain.returncode, plain.stdout, as_json.returncode, as_json.stdout, \
        plain.stderr.count(" failed: ")


def reported_failures(end):
    answer = json.loads(end[3])
    counted = re.search(r"^Failed evaluations: (\d+),", end[1], re.M)
    return answer["failedEvaluations"], int(counted.group(1)) if counted else 0


def same_end(end):
    """A run's end without what depends on how the programs ran: how many failed beside the
    first, and where their folders are."""
    answer = json.loads(end[3])
    message = answer.pop("message") or ""
    answer.pop("failedEvaluations")
    return (end[0], re.sub(r"^Failed evaluations: \d+,", "", end[1], flags=re.M), end[2],
            answer, message.split("\n")[0])


# --- The same failing tasks through one program at a time and through the batch evaluator.
# Eight workers start the whole generation at once, as a Slurm job array does.
ways = {"one at a time": ([], ""), "eight workers": (["--workers", "8"], ""),
        "work folders": ([], "work_root=folders\n")}
for fail, extra, what in ((
        "all", "", "a program that always fails"),
        ("high", "", "a program that fails for some individuals"),
        ("all", "failure_value=1e9\n", "always failing with failure_value")):
    ends = {name: report(args, script(extra + more), {"FAIL": fail})
            for name, (args, more) in ways.items()}
    first = same_end(ends["one at a time"])
    check("%s ends alike with one program at a time, eight workers and work folders" % what,
          all(same_end(end) == first for end in ends.values()) and first[0] == 1 and
          first[2] == 1, json.dumps(ends, indent=1))
    check("%s: each way the reports count every failure said on the way" % what,
          all(reported_failures(end) == (end[4], end[4]) for end in ends.values()),
          json.dumps(ends, indent=1))


# A job array of the whole generation, where a cluster answers (the work folders are on a file
# system the node shares: here it is the same machine).
reason = slurm_unavailable()
if reason:
    print("SKIP the job array (%s)" % reason)
else:
    on_slurm = report([], script("[CLUSTER]\nscheduler=slurm\ntime_limit=2\n"), {"FAIL": "all"})
    local = report([], script(), {"FAIL": "all"})
    check("a program that always fails ends alike in a Slurm job array",
          same_end(on_slurm) == same_end(local), json.dumps([on_slurm, local], indent=1))

status, text, _, as_json, _ = ends["one at a time"]
answer = json.loads(as_json)
check("every evaluation of a generation taking the failure value stops the run",
      text.startswith("No generation was computed.\n") and
      "Failed evaluations: 8, of which 8 took the failure value\n" in text and
      text.endswith("Stopped: every evaluation of generation 1 failed\n") and
      answer["end"] == "failed" and answer["failedEvaluations"] == 8 and
      answer["failureValues"] == 8 and answer["best"] is None and
      answer["message"] == "Stopped: every evaluation of generation 1 failed", text + as_json)

_, text, _, as_json, _ = report([], script(), {"FAIL": "all"})
answer = json.loads(as_json)
check("a failure without failure_value stops at the first individual and is counted, its "
      "message saying why", text == "No generation was computed.\nFailed evaluations: 1, of "
      "which 0 took the failure value\n" and answer["failedEvaluations"] == 1 and
      answer["failureValues"] == 0 and answer["message"] == "A problem with external program."
      "\nEvaluation of individual 0 (generation 1) failed: exit code 3.", text + as_json)

_, text, _, as_json, _ = report([], script(), {})
check("a run without failures reads as before, and its JSON says none failed",
      "Failed evaluations" not in text and json.loads(as_json)["failedEvaluations"] == 0, text)


# --- Failure values in the store: their own status, never reused, never buffered.
def rows(store, query):
    db = sqlite3.connect(store)
    try:
        return db.execute(query).fetchall()
    finally:
        db.close()


for name in ("values.zyl", "again.zyl"):
    if os.path.exists(name):
        os.remove(name)
done = run(["--quiet", "--report", "json", "--store", "values.zyl"],
           script("failure_value=1e9\nexternal_timeout=2\n", generations=3),
           {"FAIL": "high"})
answer = json.loads(done.stdout)
statuses = dict(rows("values.zyl", "select status, count(*) from evaluations group by status"))
big_ok = rows("values.zyl", "select count(*) from evaluations where status = 'ok' and value >= 1e9")
check("failure values are stored as such, and the report counts them",
      done.returncode == 0 and statuses.get("failure_value", 0) > 0 and big_ok == [(0,)] and
      answer["failureValues"] == statuses["failure_value"] ==
      answer["failedEvaluations"], (done.stderr, statuses, answer))
# The elite of a maximisation is an individual with the failure value: its copy in the next
# generation is run again, where a buffered value would have been taken.
first_generation = [line for line in starts()[:8] if float(line.split()[0]) > 0.3]
done = run(["--quiet"], script("failure_value=1e9\n", size=4, generations=3).replace(
    "[SELECTION]", "maximisation=1\n[SELECTION]\nelite=1"), {"FAIL": "high"})
twice = {line for line in starts() if starts().count(line) > 1}
check("an individual that took the failure value is run again rather than taken from the "
      "buffer", done.returncode == 0 and twice and
      all(float(line.split()[0]) > 0.3 for line in twice), (starts(), done.stderr))

# The first generation is the same in both runs (the same seed); only its failure values are
# missing from the other run's buffer.
done = run(["--quiet", "--store", "again.zyl", "--reuse", "values.zyl"],
           script("failure_value=1e9\n", generations=1), {})
check("--reuse runs the individuals that had the failure value, and only them",
      done.returncode == 0 and first_generation and sorted(starts()) == sorted(first_generation),
      (starts(), first_generation, done.stderr))

# Killed and resumed, the run counts the same failures as the uninterrupted one: the counts
# of the earlier sessions come from the store.
text = script("failure_value=1e9\n", generations=3)
whole = run(["--quiet"], text, {"FAIL": "high"})
for name in ("killed.zyl", "starts.log"):
    if os.path.exists(name):
        os.remove(name)
killed = subprocess.Popen([batch, "--seed", "3", "--quiet", "--store", "killed.zyl", "task.txt"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          env=dict(os.environ, FAIL="high", SLEEP="0.05"))
deadline = time.monotonic() + 20
while len(starts()) < 12 and time.monotonic() < deadline:
    time.sleep(0.01)
killed.kill()
killed.wait()
resumed = run(["--quiet", "--resume", "--store", "killed.zyl"], text, {"FAIL": "high"})
check("a killed and resumed run reports the failures of the uninterrupted one",
      resumed.returncode == 0 and resumed.stdout == whole.stdout and
      "took the failure value" in whole.stdout, (whole.stdout, resumed.stdout, resumed.stderr))

if os.path.exists("timeout.zyl"):
    os.remove("timeout.zyl")
done = run(["--quiet", "--store", "timeout.zyl"],
           script("failure_value=5\nexternal_timeout=0.3\n", size=2, generations=1),
           {"SLEEP": "5"})
timeouts = rows("timeout.zyl", "select distinct status from evaluations")
os.remove("timeout.zyl")
alone = run(["--quiet", "--store", "timeout.zyl"],
            script("external_timeout=0.3\n", size=2, generations=1), {"SLEEP": "5"})
check("a program past external_timeout is stored as a timeout, with or without failure_value",
      timeouts == [("timeout",)] and alone.returncode == 1 and
      rows("timeout.zyl", "select status from evaluations") == [("timeout",)] and
      "Stopped: every evaluation of generation 1 failed" in done.stdout, (done.stdout, timeouts))


# --- SIGTERM with a grace: the running programs finish and are kept, nothing new starts.
def terminate_when_running(args, text, env, running, signal_sent=signal.SIGTERM):
    with open("task.txt", "w") as f:
        f.write(text)
    if os.path.exists("starts.log"):
        os.remove("starts.log")
    process = subprocess.Popen([batch, "--seed", "3", "--quiet"] + args + ["task.txt"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               env=dict(os.environ, **env))
    deadline = time.monotonic() + 20
    while len(starts()) < running and time.monotonic() < deadline:
        time.sleep(0.02)
    sent = time.monotonic()
    process.send_signal(signal_sent)
    out, err = process.communicate(timeout=60)
    return process.returncode, time.monotonic() - sent, out, err


for name in ("grace.zyl",):
    if os.path.exists(name):
        os.remove(name)
text = script("workers=2\nterm_grace=30\n", size=6, generations=2)
status, took, out, err = terminate_when_running(["--store", "grace.zyl"], text, {"SLEEP": "1"}, 2)
kept = rows("grace.zyl", "select individual from evaluations where status = 'ok'")
check("SIGTERM within term_grace lets the running programs finish, keeps their values and "
      "starts no other", status == 143 and took < 20 and len(starts()) == 2 and
      sorted(kept) == [(0,), (1,)], (status, took, starts(), kept, err))
first_starts = starts()
done = run(["--quiet", "--resume", "--store", "grace.zyl"], text, {})
resumed_starts = starts()
uninterrupted = run(["--quiet"], text, {})
check("the resume does not run the kept values again and ends like an uninterrupted run",
      done.returncode == 0 and resumed_starts and not set(first_starts) & set(resumed_starts)
      and done.stdout == uninterrupted.stdout, (first_starts, resumed_starts, done.stdout,
                                                uninterrupted.stdout))

# A closed terminal or ssh session is no reason to lose the programs' work.
if os.path.exists("hup.zyl"):
    os.remove("hup.zyl")
status, took, out, err = terminate_when_running(["--store", "hup.zyl"], text, {"SLEEP": "1"}, 2,
                                                signal.SIGHUP)
kept = rows("hup.zyl", "select individual from evaluations where status = 'ok'")
check("SIGHUP is taken as SIGTERM: the grace, the values kept, the report, exit status 129",
      status == 129 and len(starts()) == 2 and sorted(kept) == [(0,), (1,)] and
      out.startswith("No generation was computed."), (status, starts(), kept, out, err))

status, took, out, err = terminate_when_running(
    [], script("term_grace=0.5\n", size=4, generations=1), {"HANG": "1"}, 1)
check("a program still running when the grace has passed is ended",
      status == 143 and 0.4 < took < 10, (status, took, err))


# --- Signs of life, and the two counts of the progress.
for args, name in (([], "one at a time"), (["--workers", "2"], "two workers")):
    done = run(["--progress", "json"] + args, script(size=4, generations=2), {"SLEEP": "0.4"})
    lines = [json.loads(line) for line in done.stderr.splitlines() if line.startswith("{")]
    alive = [line for line in lines if "evaluating" in line]
    apart = all(b["elapsed"] - a["elapsed"] >= 0.9 for a, b in zip(alive, alive[1:]))
    check("--progress json shows programs starting and ending, at most once a second (%s)"
          % name, len(alive) >= 2 and apart and
          all(k in alive[0] for k in ("running", "queued", "done", "failed", "evaluations")),
          done.stderr)

done = run(["--progress", "json"], script(generations=6), {})
lines = [json.loads(line) for line in done.stderr.splitlines() if line.startswith("{")
         and "generation" in line]
check("computed values and values from the buffer add up to every individual",
      lines and all(line["evaluations"] + line["fromBuffer"] == 8 * line["generation"]
                    for line in lines) and lines[-1]["fromBuffer"] > 0, done.stderr)

if failures:
    sys.exit(1)
