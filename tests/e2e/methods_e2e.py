#!/usr/bin/env python3
"""The search methods through zyl-batch: a stored run killed at random moments and resumed ends
with the report and export file of the uninterrupted run, byte for byte (the trust region's also
when the resumed run has more programs at once); an external program's values give the same
report with one program at a time and with several, also with several objectives, whose front,
archive and pictures are checked; `method=ga` is the genetic algorithm of a script without the
key; a manual task refuses another method.
Usage: methods_e2e.py ZYL_BATCH EXAMPLES_DIR"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

batch = os.path.abspath(sys.argv[1])
examples = os.path.abspath(sys.argv[2])
work = tempfile.mkdtemp(prefix="zyl-methods-e2e-")
rng = random.Random(int(os.environ.get("ZYL_METHODS_SEED", "24")))
failed = []


def check(name, condition, detail=""):
    if not condition:
        failed.append(name)
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


def run(cwd, args):
    return subprocess.run([batch] + args, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=300)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def kill_and_resume(cwd, command, times, duration, extra=()):
    """Starts the stored run `times` times, each killed after a random moment within about
    `duration`, then lets it run to its end; returns that last run."""
    for _ in range(times):
        process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0.05, duration))
        process.kill()
        process.wait()
    return run(cwd, command[1:] + list(extra))


# 1. Killed and resumed. Twelve variables in a population of four: an iteration of the
#    covariance method spans several generations, and its restarts (the integers make a
#    converged search flat soon) make them more, so a kill often falls inside an iteration.
variables = "".join("x%d=real[-3;3]\n" % i for i in range(1, 9)) + \
    "".join("k%d=integer[-4;4]\n" % i for i in range(1, 4)) + "b=boolean\n"
formula = " + ".join("x%d*x%d - cos(3*x%d)" % (i, i, i) for i in range(1, 9)) + \
    " + k1*k1 + k2*k2 + k3*k3 + b"
for method in ["cmaes", "de"]:
    task = ("[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=%s\n[VARIABLES]\n%s[POPULATION]\nsize=4\n"
            "[OPTIONS]\nmax_iteration=3000\nmethod=%s\n[SHOW]\nbuffer_individuals=1\n"
            "[EXPORT]\nmin=GlobalMin\navg=Average\n[EXPORT_NAMES]\nexport_name=out.tsv\n"
            "export_every_iteration=1\n" % (formula, variables, method))
    reference_cwd = folder(method + "-ref", {"task.txt": task})
    started = time.monotonic()
    reference = run(reference_cwd, ["--quiet", "--seed", "3", "--report", "json", "task.txt"])
    duration = time.monotonic() - started
    check(method + " runs", reference.returncode == 0, reference.stderr.decode()[-300:])
    cwd = folder(method, {"task.txt": task})
    command = [batch, "--quiet", "--seed", "3", "--report", "json", "--resume", "--store",
               "run.zyl", "task.txt"]
    resumed = kill_and_resume(cwd, command, 6, duration * 1.5 + 0.1)
    check(method + " resumed", resumed.returncode == 0, resumed.stderr.decode()[-300:])
    check(method + " report", resumed.stdout == reference.stdout,
          "\n%s\n---\n%s" % (reference.stdout[-400:], resumed.stdout[-400:]))
    check(method + " export", read(os.path.join(cwd, "out.tsv")) ==
          read(os.path.join(reference_cwd, "out.tsv")))

# 2. An external program, one at a time and three at once: the same report.
external = {
    "objective.sh": "#!/bin/sh\nLC_ALL=C awk '{ s = 0; for (i = 1; i <= NF; i++)"
                    " s += ($i - i) ^ 2; printf \"%.17g\\n\", s }' \"$1\" > \"$2\"\n",
    "task.txt": "[FUNCTION]\nexternal=1\nexternal_name=./objective.sh\ninput_name=in.txt\n"
                "output_name=out.txt\n[VARIABLES]\nx1=real[-5;5]\nx2=integer[-5;5]\n"
                "x3=real[0;4]\n[POPULATION]\nsize=6\n[OPTIONS]\nmax_iteration=5\nmethod=%s\n",
}
for method in ["cmaes", "de", "trust"]:
    files = dict(external)
    files["task.txt"] = external["task.txt"] % method
    reports = []
    for workers in ["1", "3"]:
        cwd = folder("%s-workers-%s" % (method, workers), files)
        result = run(cwd, ["--quiet", "--seed", "4", "--workers", workers, "--report", "json",
                           "task.txt"])
        check("%s workers %s" % (method, workers), result.returncode == 0,
              result.stderr.decode()[-300:])
        reports.append(result.stdout)
    check(method + " workers agree", reports[0] == reports[1],
          "\n%s\n---\n%s" % (reports[0][-300:], reports[1][-300:]))

# 3. The trust region on an external program with a constraint of its own: killed and resumed
#    with three programs at once, it ends as one program at a time did without a break.
constrained = dict(external)
constrained["objective.sh"] = (
    "#!/bin/sh\nLC_ALL=C awk '{ s = 0; for (i = 1; i <= NF; i++) s += ($i - i) ^ 2;"
    " printf \"%.17g\\n%.17g\\n\", s, $1 + $3 - 3 }' \"$1\" > \"$2\"\n")
constrained["task.txt"] = (external["task.txt"] % "trust").replace(
    "output_name=out.txt\n", "output_name=out.txt\nexternal_constraints=1\n").replace(
    "max_iteration=5", "max_iteration=16") + "[EXPORT]\nmin=GlobalMin\n[EXPORT_NAMES]\n" \
    "export_name=best.tsv\nexport_every_iteration=1\n"
reference_cwd = folder("trust-ref", constrained)
started = time.monotonic()
reference = run(reference_cwd, ["--quiet", "--seed", "5", "--report", "json", "task.txt"])
duration = time.monotonic() - started
check("trust runs", reference.returncode == 0, reference.stderr.decode()[-300:])
cwd = folder("trust-resumed", constrained)
command = [batch, "--quiet", "--seed", "5", "--workers", "3", "--report", "json", "--resume",
           "--store", "run.zyl", "task.txt"]
resumed = kill_and_resume(cwd, command, 3, duration)
check("trust resumed", resumed.returncode == 0, resumed.stderr.decode()[-300:])
check("trust report", resumed.stdout == reference.stdout,
      "\n%s\n---\n%s" % (reference.stdout[-400:], resumed.stdout[-400:]))
check("trust export", read(os.path.join(cwd, "best.tsv")) ==
      read(os.path.join(reference_cwd, "best.tsv")))

# 4. Several objectives from an external program (two objectives and a constraint, an integer
#    variable): the same report, front and archive with one program at a time and with three;
#    killed and resumed with three at once, the same as the uninterrupted run; and the front
#    drawn by --plots.
front = {
    "objectives.sh": "#!/bin/sh\nLC_ALL=C awk '{ printf \"%.17g %.17g %.17g\\n\", $1 * $1 + $2,"
                     " ($1 - 2) ^ 2 + $3, 1 - $1 - $3 }' \"$1\" > \"$2\"\n",
    "task.txt": "[FUNCTION]\nexternal=1\nexternal_name=./objectives.sh\ninput_name=in.txt\n"
                "output_name=out.txt\nexternal_objectives=2\nexternal_constraints=1\n"
                "[VARIABLES]\nx=real[-1;3]\nk=integer[0;4]\ny=real[0;2]\n[POPULATION]\nsize=8\n"
                "[OPTIONS]\nmax_iteration=12\n[SHOW]\nbuffer_individuals=1\n",
}
outputs = []
for workers in ["1", "3"]:
    cwd = folder("front-workers-" + workers, front)
    result = run(cwd, ["--quiet", "--seed", "6", "--workers", workers, "--report", "json",
                       "--front", "front.tsv", "task.txt"])
    check("front workers " + workers, result.returncode == 0, result.stderr.decode()[-300:])
    outputs.append((result.stdout, read(os.path.join(cwd, "front.tsv"))))
check("front workers agree", outputs[0] == outputs[1])
report = json.loads(outputs[0][0])
designs = report["front"]
check("front feasible", designs and all(d["feasible"] and d["violation"] == 0 for d in designs),
      str(designs)[:300])
for d in designs:
    x, k, y = (v["value"] for v in d["variables"])
    check("front values", d["objectives"] == {"Objective1": x * x + k,
                                              "Objective2": (x - 2) ** 2 + y}, str(d))
archive = outputs[0][1].decode().splitlines()
check("archive header", archive[0] == "x\tk\ty\tObjective1\tObjective2\tviolation", archive[0])
rows = [[float(c) for c in line.split("\t")] for line in archive[1:]]
check("archive holds the front",
      all([v["value"] for v in d["variables"]] + list(d["objectives"].values()) + [0.0] in rows
          for d in designs))
check("archive not dominated", not any(
    a != b and a[3] <= b[3] and a[4] <= b[4] and (a[3] < b[3] or a[4] < b[4])
    for a in rows for b in rows))
reference_cwd = os.path.join(work, "front-workers-1")
started = time.monotonic()
unarchived = run(reference_cwd, ["--quiet", "--seed", "6", "--report", "json", "task.txt"])
duration = time.monotonic() - started
# Without --front and --store no archive is kept: the search and its report are the same.
check("front without the archive", unarchived.stdout == outputs[0][0])
cwd = folder("front-resumed", front)
command = [batch, "--quiet", "--seed", "6", "--workers", "3", "--report", "json", "--front",
           "front.tsv", "--resume", "--store", "run.zyl", "task.txt"]
resumed = kill_and_resume(cwd, command, 3, duration, ["--plots", "plots"])
check("front resumed", resumed.returncode == 0, resumed.stderr.decode()[-300:])
check("front report", resumed.stdout == outputs[0][0],
      "\n%s\n---\n%s" % (outputs[0][0][-400:], resumed.stdout[-400:]))
check("front archive", read(os.path.join(cwd, "front.tsv")) == outputs[0][1])
check("front pictures", all(os.path.getsize(os.path.join(cwd, "plots", "Front_Objective1_"
                                                         "Objective2." + kind)) > 0
                            for kind in ["png", "svg"]))

# 5. method=ga is the script without the key; a manual task refuses another method.
with open(os.path.join(examples, "rastrigin.txt")) as f:
    rastrigin = f.read()
cwd = folder("ga", {"plain.txt": rastrigin,
                    "ga.txt": rastrigin.replace("[OPTIONS]\n", "[OPTIONS]\nmethod=ga\n"),
                    "manual.txt": "[FUNCTION]\nmanual=1\n[VARIABLES]\nx=integer[0;9]\n"
                                  "[POPULATION]\nsize=4\n[OPTIONS]\nmethod=cmaes\n"})
plain = run(cwd, ["--seed", "1", "--quiet", "plain.txt"])
ga = run(cwd, ["--seed", "1", "--quiet", "ga.txt"])
check("ga", plain.returncode == 0 and plain.stdout == ga.stdout, ga.stderr.decode())
manual = run(cwd, ["--quiet", "manual.txt"])
check("manual refused", manual.returncode == 2 and
      b"A manual task runs with method ga only" in manual.stderr, manual.stderr.decode())

print("%d failed" % len(failed))
if not failed:
    shutil.rmtree(work)
else:
    print("left in " + work)
sys.exit(1 if failed else 0)
