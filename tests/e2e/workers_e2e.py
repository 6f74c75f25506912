#!/usr/bin/env python3
"""zyl-batch with several external programs at once: the same report and export file whatever
the worker count, failures under failure_value, and SIGTERM ending every program."""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from slurm_support import slurm_unavailable

batch = sys.argv[1]
desktop = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] != "-" else None
failures = []


def check(name, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + name)
    if not condition:
        failures.append(name)
        if detail:
            print(detail)


work = tempfile.mkdtemp(prefix="zyl-workers-")
os.chdir(work)
# Fails for x above 0.8 when FAIL_HIGH is set; sleeps when SLEEP is set.
with open("objective.sh", "w") as f:
    f.write("""#!/bin/sh
[ -n "${SLEEP:-}" ] && exec sleep "$SLEEP"
[ -n "${NAP:-}" ] && { sleep "$NAP"; exit 0; }
read x y < "$1"
if [ -n "${FAIL_HIGH:-}" ] && awk -v x="$x" 'BEGIN { exit !(x > 0.8) }'; then exit 3; fi
LC_ALL=C awk -v x="$x" -v y="$y" 'BEGIN { printf "%.17g\\n", (x - 0.3)^2 + (y + 0.2)^2 }' > "$2"
""")
os.chmod("objective.sh", 0o755)
# Two objectives for the runs with several.
with open("front.sh", "w") as f:
    f.write("""#!/bin/sh
read x y < "$1"
LC_ALL=C awk -v x="$x" -v y="$y" \\
  'BEGIN { printf "%.17g\\n%.17g\\n", (x - 0.3)^2 + y^2, (x + 0.3)^2 + (y - 0.2)^2 }' > "$2"
""")
os.chmod("front.sh", 0o755)


def script(extra=""):
    return ("[FUNCTION]\nexternal=1\nexternal_name=./objective.sh\ninput_name=in.txt\n"
            "output_name=out.txt\n" + extra +
            "\n[VARIABLES]\nx=real[-1;1]\ny=real[-1;1]\n[POPULATION]\nsize=12\n"
            "[OPTIONS]\nmax_iteration=6\n[SELECTION]\ntournament=1\ntournament_size=2\n"
            "[CROSSOVER]\nprobability=0.7\narithmetical=1\n[MUTATION]\nprobability=0.2\n"
            "uniform=1\n[SHOW]\nbuffer_individuals=1\n[EXPORT]\nbest=GlobalMin\n"
            "[EXPORT_NAMES]\nexport_name=export.tsv\nexport_every_iteration=1\n")


def run(args, text, env=None, timeout=120):
    with open("task.txt", "w") as f:
        f.write(text)
    if os.path.exists("export.tsv"):
        os.remove("export.tsv")  # appended to, row by row
    full = dict(os.environ, **(env or {}))
    return subprocess.run([batch, "--seed", "5"] + args + ["task.txt"], capture_output=True,
                          text=True, timeout=timeout, env=full)


outputs = {}
for workers in ("1", "3", "8"):
    done = run(["--quiet", "--workers", workers], script())
    with open("export.tsv") as f:
        outputs[workers] = (done.returncode, done.stdout, f.read())
check("one, three and eight workers give the same report and export file",
      outputs["1"] == outputs["3"] == outputs["8"] and outputs["1"][0] == 0,
      repr(outputs)[:2000])
check("the default work root is removed when every evaluation succeeded",
      not os.path.exists("task-runs"))

# The design a report gives is the one the program read, to the last digit, in large numbers
# too; and read by name the values are the same.
with open("large.sh", "w") as f:
    f.write("""#!/bin/sh
if [ -n "${BY_NAME:-}" ]; then . "./$1"; else read x y < "$1"; fi
LC_ALL=C awk -v x="$x" -v y="$y" 'BEGIN { printf "%.17g\\n", (x - 1000003.5)^2 + y }' > "$2"
""")
os.chmod("large.sh", 0o755)
large = script().replace("./objective.sh", "./large.sh").replace(
    "x=real[-1;1]\ny=real[-1;1]", "x=real[1000000;1000010]\ny=integer[0;3]").replace(
    "max_iteration=6", "max_iteration=3")
ends = {}
for workers in ("1", "3"):
    for by_name in ("", "1"):
        done = run(["--quiet", "--report", "json", "--workers", workers],
                   large.replace("output_name=out.txt", "output_name=out.txt\ninput_by_name=" +
                                 (by_name or "0")), {"BY_NAME": by_name})
        ends[workers + "/" + by_name] = done.stdout
answer = json.loads(ends["1/"])
x, y = (v["value"] for v in answer["best"]["variables"])
check("the best design reported is the one its program read, to the last digit",
      answer["best"]["value"] == (x - 1000003.5) ** 2 + y and x != round(x, 0), ends["1/"])
check("input by name gives the same run, with one program or three at a time",
      len(set(ends.values())) == 1, repr(ends))

done = run(["--progress", "json", "--workers", "4"], script())
lines = [json.loads(line) for line in done.stderr.splitlines() if line.startswith("{")]
check("JSON progress counts the generation's evaluations",
      lines and all(k in lines[-1] for k in ("running", "queued", "done", "failed"))
      and lines[-1]["running"] == 0 and lines[-1]["done"] > 0, done.stderr[-1000:])

done = run(["--quiet", "--workers", "4"], script("failure_value=100\n"), {"FAIL_HIGH": "1"})
kept = [d for d in os.listdir("task-runs")] if os.path.isdir("task-runs") else []
check("with failure_value a failed program is reported with its folder and the run goes on",
      done.returncode == 0 and "takes the value 100" in done.stderr and "Work folder: " in
      done.stderr and kept, done.stderr[-1500:])

# The kept folders are that run's, in a folder of its own: the next run starts beside them.
done = run(["--quiet", "--workers", "4"], script())
check("a new run starts beside an earlier run's kept folders and leaves them",
      done.returncode == 0 and os.listdir("task-runs") == kept, done.stderr[-800:])
shutil.rmtree("task-runs")
done = run(["--quiet", "--workers", "4"], script(), {"FAIL_HIGH": "1"})
check("without failure_value a failure stops the run with the usual message",
      done.returncode == 1 and "A problem with external program." in done.stderr,
      done.stderr[-1500:])

done = run(["--quiet", "--workers", "0"], script())
check("a worker count out of range is an error in the arguments", done.returncode == 2)


def interrupted(command, marker, name):
    """Starts command with programs that sleep for long, SIGTERMs it once four are running."""
    shutil.rmtree("task-runs", ignore_errors=True)  # an earlier run's folders
    proc = subprocess.Popen(command, env=dict(os.environ, SLEEP=marker, QT_QPA_PLATFORM="offscreen"),
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if subprocess.run(["pgrep", "-f", "sleep " + marker],
                          capture_output=True).stdout.count(b"\n") >= 4:
            break
        time.sleep(0.1)
    proc.send_signal(signal.SIGTERM)
    status = proc.wait(timeout=20)
    time.sleep(0.3)
    left = subprocess.run(["pgrep", "-f", "sleep " + marker], capture_output=True).stdout
    check("SIGTERM ends %s with 143 and every running program" % name,
          status == 143 and not left, "status %s, left %r" % (status, left))


with open("task.txt", "w") as f:
    f.write(script("external_timeout=600\nworkers=4\n"))
interrupted([batch, "--quiet", "task.txt"], "4242.5", "zyl-batch")
if desktop:
    interrupted([desktop, "task.txt"], "4343.5", "the desktop program")


def sleepers(marker):
    return subprocess.run(["pgrep", "-f", "sleep " + marker], capture_output=True).stdout


# kill -9 leaves no time to end anything: the programs, and the processes they started
# themselves (here the shell's sleep), still die with zyl-batch.
for workers, marker in (("4", "4444.5"), ("1", "4445.5")):
    shutil.rmtree("task-runs", ignore_errors=True)
    with open("task.txt", "w") as f:
        f.write(script("external_timeout=600\n"))
    proc = subprocess.Popen([batch, "--quiet", "--workers", workers, "task.txt"],
                            env=dict(os.environ, NAP=marker), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and sleepers(marker).count(b"\n") < int(workers):
        time.sleep(0.1)
    running = sleepers(marker).count(b"\n")
    proc.kill()
    proc.wait()
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and sleepers(marker):
        time.sleep(0.1)
    left = sleepers(marker)
    for pid in left.split():
        os.kill(int(pid), signal.SIGKILL)
    check("kill -9 of zyl-batch with %s worker(s) ends the %d programs and what they started"
          % (workers, running), running == int(workers) and not left, "left %r" % left)


# The same report from a Slurm job array as from the programs run here (the work root must be
# on a file system the node shares: here it is the same machine).
reason = slurm_unavailable()
if reason:
    print("SKIP the Slurm run (%s; start one with scripts/local-slurm.sh start)" % reason)
else:
    short = script().replace("max_iteration=6", "max_iteration=2").replace("size=12", "size=4")
    shutil.rmtree("task-runs", ignore_errors=True)
    local = run(["--quiet", "--workers", "4"], short)
    with open("export.tsv") as f:
        local_export = f.read()
    on_slurm = run(["--quiet"], short.replace("[VARIABLES]", "workers=4\n[CLUSTER]\n"
                                              "scheduler=slurm\ntime_limit=2\n[VARIABLES]"))
    with open("export.tsv") as f:
        slurm_export = f.read()
    # Other tests may share the cluster: only jobs started from this folder count.
    queue = subprocess.run(["squeue", "-h", "-o", "%Z"], capture_output=True, text=True).stdout
    ours = [line for line in queue.splitlines() if line.strip().startswith(work)]
    check("a run on Slurm prints the local run's report and export, leaving nothing queued",
          on_slurm.returncode == 0 and on_slurm.stdout == local.stdout and
          slurm_export == local_export and not ours,
          "status %d, queued %r\n%s" % (on_slurm.returncode, ours, on_slurm.stderr[-1500:]))

    # The trust region, chosen on the command line.
    trust = ["--quiet", "--set", "OPTIONS.method=trust"]
    local = run(trust + ["--workers", "4"], short)
    on_slurm = run(trust, short.replace("[VARIABLES]", "workers=4\n[CLUSTER]\n"
                                        "scheduler=slurm\ntime_limit=2\n[VARIABLES]"))
    check("the trust region on Slurm prints the local run's report",
          local.returncode == 0 and on_slurm.returncode == 0 and on_slurm.stdout == local.stdout,
          "status %d/%d\n%s" % (local.returncode, on_slurm.returncode, on_slurm.stderr[-1500:]))

    # Several objectives, with designs a formula rules out before any job is submitted.
    front = ("[FUNCTION]\nexternal=1\nexternal_name=./front.sh\ninput_name=in.txt\n"
             "output_name=out.txt\nexternal_objectives=2\n[CONSTRAINTS]\nc=x+y-0.5\n"
             "[VARIABLES]\nx=real[-1;1]\ny=real[-1;1]\n[POPULATION]\nsize=6\n"
             "[OPTIONS]\nmax_iteration=3\n")
    local = run(["--quiet", "--workers", "4", "--front", "local.tsv"], front)
    on_slurm = run(["--quiet", "--front", "slurm.tsv"],
                   front.replace("[CONSTRAINTS]", "workers=4\n[CLUSTER]\nscheduler=slurm\n"
                                 "time_limit=2\n[CONSTRAINTS]"))
    fronts = [open(name).read() if os.path.exists(name) else None
              for name in ("local.tsv", "slurm.tsv")]
    check("several objectives with prescreen on Slurm: the local run's report and front",
          local.returncode == 0 and "Front: " in local.stdout and "Screened\t" in local.stdout
          and on_slurm.returncode == 0 and on_slurm.stdout == local.stdout and
          fronts[0] is not None and fronts[0] == fronts[1],
          "status %d/%d\n%s\n%s" % (local.returncode, on_slurm.returncode, local.stdout,
                                   on_slurm.stderr[-1500:]))

if failures:
    sys.exit(1)
