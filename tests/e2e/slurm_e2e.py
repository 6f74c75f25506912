#!/usr/bin/env python3
"""zyl-batch on the one-node Slurm cluster when the cluster misbehaves: the controller stopped
and started again during a run, an outage longer than scheduler_timeout, sbatch refusing every
submission, a backslash in work_root, and zyl-batch killed with kill -9 during a job array and
resumed. Each part reports itself skipped where the cluster cannot be used.
Usage: slurm_e2e.py ZYL_BATCH"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from slurm_support import slurm_unavailable

batch = os.path.abspath(sys.argv[1])
failures = []


def check(name, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + name)
    if not condition:
        failures.append(name)
        if detail:
            print(detail)


reason = slurm_unavailable()
if reason:
    print("SKIP every Slurm part (%s; start one with scripts/local-slurm.sh start)" % reason)
    sys.exit(0)

conf = os.environ["SLURM_CONF"]
with open(conf) as f:
    settings = dict(re.findall(r"^(\w+)=(\S+)", f.read(), re.M))
ctld_pid_file = settings.get("SlurmctldPidFile", "")


def controller_pid():
    try:
        with open(ctld_pid_file) as f:
            pid = int(f.read().strip())
        os.kill(pid, 0)
        return pid
    except (OSError, ValueError):
        return None


def stop_controller():
    pid = controller_pid()
    os.kill(pid, signal.SIGTERM)
    for _ in range(100):
        try:
            os.kill(pid, 0)
        except OSError:
            return
        time.sleep(0.1)


def start_controller():
    # Without -c: the controller takes back the jobs it saved, as after any restart.
    subprocess.run(["slurmctld", "-f", conf], check=True)
    for _ in range(100):
        ping = subprocess.run(["scontrol", "ping"], capture_output=True, text=True)
        if "UP" in ping.stdout:
            return
        time.sleep(0.2)


work = tempfile.mkdtemp(prefix="zyl-slurm-e2e-")
os.chdir(work)
# Sleeps $SLEEP seconds, then writes (x - 0.3)^2 + (y + 0.2)^2. Each start and end is logged in
# runs.log with the work folder; a second program in a folder that is still in use is logged as
# OVERLAP. A cancelled program logs its end too (Slurm sends SIGTERM first).
with open("objective.sh", "w") as f:
    f.write("""#!/bin/sh
here=$(basename "$PWD")
log=%s/runs.log
mkdir %s/active-$here 2>/dev/null || echo "OVERLAP $here" >> "$log"
echo "start $here" >> "$log"
trap 'echo "end-term $here" >> "$log"; rmdir %s/active-$here; exit 143' TERM
echo "the objective of $here"
sleep "${SLEEP:-0}" &
wait $!
read x y < "$1"
LC_ALL=C awk -v x="$x" -v y="$y" 'BEGIN { printf "%%.17g\\n", (x - 0.3)^2 + (y + 0.2)^2 }' > "$2"
echo "end-ok $here" >> "$log"
rmdir %s/active-$here
""" % ((work,) * 4))
os.chmod("objective.sh", 0o755)


def script(name, cluster="", function="", size=4, generations=2, workers=4, slurm=True):
    text = ("[FUNCTION]\nexternal=1\nexternal_name=./objective.sh\ninput_name=in.txt\n"
            "output_name=out.txt\nworkers=%d\n" % workers + function +
            ("\n[CLUSTER]\nscheduler=slurm\ntime_limit=5\n" + cluster if slurm else "") +
            "\n[VARIABLES]\nx=real[-1;1]\ny=real[-1;1]\n[POPULATION]\nsize=%d\n"
            "[OPTIONS]\nmax_iteration=%d\n[SELECTION]\ntournament=1\ntournament_size=2\n"
            "[CROSSOVER]\nprobability=0.7\narithmetical=1\n[MUTATION]\nprobability=0.2\n"
            "uniform=1\n" % (size, generations))
    with open(name, "w") as f:
        f.write(text)
    return name


# The clients give up on a controller that does not answer after MessageTimeout seconds of
# tries of their own (20 on the test cluster, and 40 under load): ZYL's clients get a copy of
# the configuration that gives up after 3, so that an outage of half a minute is one to them.
with open("client.conf", "w") as f:
    f.write(re.sub(r"^MessageTimeout=\S+$", "MessageTimeout=3", open(conf).read(), flags=re.M))


def start(args, sleep, stdout=subprocess.PIPE):
    env = dict(os.environ, SLEEP=str(sleep), SLURM_CONF=os.path.abspath("client.conf"))
    return subprocess.Popen([batch, "--seed", "7"] + args, stdout=stdout,
                            stderr=subprocess.PIPE, text=True, env=env)


def run(args, sleep=0, timeout=240):
    proc = start(args, sleep)
    out, err = proc.communicate(timeout=timeout)
    return proc.returncode, out, err


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.2)
    return False


def runs_log():
    try:
        with open("runs.log") as f:
            return f.read().splitlines()
    except OSError:
        return []


def ours_in_queue():
    queue = subprocess.run(["squeue", "-h", "-o", "%i %Z"], capture_output=True, text=True).stdout
    return [line for line in queue.splitlines() if work in line]


# The report every backend gives for these scripts: the seeded result of programs run here.
reference = run(["--quiet", script("local.txt", slurm=False)])
expected_after_kill = run(["--quiet", script("killed-local.txt", size=6, workers=2, slurm=False)])
os.remove("runs.log")

# 1. The controller stops while the tasks run, and comes back 25 s later: the run waits and
# ends as an undisturbed one, the tasks that ended meanwhile included. A second run started
# during the outage, with a scheduler_timeout shorter than it, gives up with a clear message
# and a failure exit; failure_value applies to neither.
if controller_pid() is None:
    print("SKIP the controller's outage (its process id is not in %r)" % ctld_pid_file)
else:
    script("outage.txt", "scheduler_timeout=3\n", "failure_value=1e9\n")
    script("short.txt", "scheduler_timeout=0.2\n", "failure_value=1e9\n", generations=1)
    long_run = start(["--progress", "json", "outage.txt"], 6)
    started = wait_for(lambda: sum(l.startswith("start") for l in runs_log()) >= 4, 60)
    stop_controller()
    stopped_at = time.monotonic()
    short_run = start(["short.txt"], 0)
    time.sleep(25)
    start_controller()
    short_out, short_err = short_run.communicate(timeout=120)
    out, err = long_run.communicate(timeout=240)
    outage = time.monotonic() - stopped_at
    objects = [json.loads(l) for l in err.splitlines() if l.startswith("{")]
    states = [o.get("scheduler") for o in objects if "scheduler" in o]
    check("a run whose controller was stopped for 25 s waits for it and ends as an undisturbed "
          "one (%.0f s from the stop to its end)" % outage, started and long_run.returncode == 0
          and out == reference[1] + "Failed evaluations: 0, of which 0 took the failure value\n"
          and "takes the value" not in err, "status %s\n%s\n%s" % (long_run.returncode, out,
                                                                   err[-2500:]))
    check("the outage and its end are told on standard error and in the JSON progress",
          "Slurm cannot be reached" in err and "Slurm answers again" in err
          and states[:1] == ["unreachable"] and "answering" in states, err[-2500:])
    check("past scheduler_timeout the run gives up with a clear message, not a failure value",
          short_run.returncode == 1 and "Slurm could not be reached for 0.2 minutes" in short_err
          and "takes the value" not in short_err and "1e+09" not in short_out,
          "status %s\n%s\n%s" % (short_run.returncode, short_out, short_err[-2000:]))
    check("nothing of either run is left in the queue", wait_for(lambda: not ours_in_queue(), 30),
          repr(ours_in_queue()))

# 2. sbatch refuses every submission: the run cannot be set up, whatever failure_value says.
status, out, err = run([script("refused.txt", "partition=no-such-partition\n",
                               "failure_value=1e9\n")])
check("a refused submission stops the run with Slurm's reason and no failure value",
      status == 1 and "Slurm refused the job array of generation 1" in err
      and "invalid partition" in err.lower() and "takes the value" not in err,
      "status %s\n%s" % (status, err[-1500:]))

# 3. A backslash in work_root: sbatch would read it as "no patterns" in the log's name.
status, out, err = run([script("backslash.txt", "", "work_root=runs\\a%b\nkeep_work_dirs=1\n",
                               generations=1)])
logs = []
for root, _, files in os.walk(work):
    logs += [os.path.join(root, name) for name in files if name == "zyl-log.txt"]
log_text = open(logs[0]).read() if logs else ""
check("a work root with a backslash and a percent sign runs, each task with its log",
      status == 0 and len(logs) == 4 and "the objective of gen1-ind" in log_text,
      "status %s, logs %r\n%s" % (status, logs, err[-1500:]))

# 3b. Constraint values a program writes after its objective come back from the array's
# tasks as from programs run here.
with open("constrained.sh", "w") as f:
    f.write("#!/bin/sh\nread x y < \"$1\"\nLC_ALL=C awk -v x=\"$x\" -v y=\"$y\" 'BEGIN { printf "
            "\"%.17g %.17g\\n\", (x-0.3)^2+(y+0.2)^2, 0.1-x-y }' > \"$2\"\n")
os.chmod("constrained.sh", 0o755)
constrained = ("[FUNCTION]\nexternal=1\nexternal_name=./constrained.sh\ninput_name=in.txt\n"
               "output_name=out.txt\nexternal_constraints=1\nworkers=4\n%s\n[VARIABLES]\n"
               "x=real[-1;1]\ny=real[-1;1]\n[POPULATION]\nsize=4\n[OPTIONS]\nmax_iteration=2\n")
for name, cluster in (("constrained-local.txt", ""),
                      ("constrained-slurm.txt", "[CLUSTER]\nscheduler=slurm\ntime_limit=2")):
    with open(name, "w") as f:
        f.write(constrained % cluster)
local_status, local_out, _ = run(["--quiet", "constrained-local.txt"])
status, out, err = run(["--quiet", "constrained-slurm.txt"])
check("a job array carries the programs' constraint values as programs run here do",
      status == 0 and local_status == 0 and out == local_out and "(feasible)" in out,
      "status %s\n%s\n%s\n%s" % (status, out, local_out, err[-1500:]))

# 4. kill -9 of zyl-batch during an array, then a resume from the store: the interrupted
# process's jobs are ended or taken over before anything new is submitted, so no individual
# runs twice at once in its folder and none that finished runs again.
os.remove("runs.log") if os.path.exists("runs.log") else None
script("killed.txt", size=6, workers=2)
killed = start(["--quiet", "--store", "killed.zyl", "killed.txt"], 5, stdout=subprocess.DEVNULL)
started = wait_for(lambda: sum(l.startswith("end-ok") for l in runs_log()) >= 2
                   and sum(l.startswith("start") for l in runs_log()) >= 4, 90)
killed.send_signal(signal.SIGKILL)
killed.wait()
left_running = bool(ours_in_queue())
# The two tasks running at the kill end meanwhile, and the next two start: the resume must
# take over the first two and cancel the others.
wait_for(lambda: sum(l.startswith("end-ok") for l in runs_log()) >= 4, 30)
status, out, err = run(["--quiet", "--resume", "--store", "killed.zyl"], sleep=5)
log = runs_log()
finished_before = set()
again = []
for line in log:
    kind, folder = line.split(" ", 1)
    if kind == "start" and folder in finished_before:
        again.append(folder)
    if kind == "end-ok":
        finished_before.add(folder)
check("after kill -9 the array ran on, and the resume ended or took it over first",
      started and left_running and status == 0 and "of the interrupted run have ended" in err
      and re.search(r"; [1-9] evaluations? they finished are taken", err),
      "status %s, queued before %s\n%s" % (status, left_running, err[-2000:]))
check("no individual ran twice at once in its folder, none that finished ran again, and the "
      "report is the uninterrupted one's",
      not [l for l in log if l.startswith("OVERLAP")] and not again
      and out == expected_after_kill[1],
      "again %r\n%s\n%s\n%s" % (again, "\n".join(log), out, expected_after_kill[1]))
check("nothing of the resumed run is left in the queue", wait_for(lambda: not ours_in_queue(), 30),
      repr(ours_in_queue()))

if failures:
    print("the runs' files are kept in " + work)
    sys.exit(1)
os.chdir("/")
shutil.rmtree(work, ignore_errors=True)
