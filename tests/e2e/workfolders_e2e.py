#!/usr/bin/env python3
"""zyl-batch's work folders touch only what the run owns: names that stay inside them, a
template copied without writing through its links, one run at a time per work root, each run's
folders in a folder of its own (a failed run's kept and in nobody's way, a resume's found
again), and a program that cannot start is no value."""
import glob
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

batch = sys.argv[1]
failures = []


def check(name, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + name)
    if not condition:
        failures.append(name)
        if detail:
            print(detail)


work = tempfile.mkdtemp(prefix="zyl-workfolders-")
os.chdir(work)
# Adds the number in data.txt, when the folder has one (from the template), to the value.
OBJECTIVE = """#!/bin/sh
[ -n "${SLEEP:-}" ] && sleep "$SLEEP"
read x y < "$1"
k=0
[ -f data.txt ] && read k < data.txt
LC_ALL=C awk -v x="$x" -v y="$y" -v k="$k" 'BEGIN { printf "%.17g\\n", (x - 0.3)^2 + (y + 0.2)^2 + k }' > "$2"
"""


def write(name, text, mode=None):
    with open(name, "w") as f:
        f.write(text)
    if mode is not None:
        os.chmod(name, mode)


def read(name):
    with open(name) as f:
        return f.read()




def fresh():
    """Each case starts from the program as written and no work root."""
    write("obj.sh", OBJECTIVE, 0o755)
    shutil.rmtree("task-runs", ignore_errors=True)


fresh()


def task(extra="", program="./obj.sh", input_name="in.txt"):
    write("task.txt", "[FUNCTION]\nexternal=1\nexternal_name=%s\ninput_name=%s\n"
          "output_name=out.txt\n%s\n[VARIABLES]\nx=real[-1;1]\ny=real[-1;1]\n"
          "[POPULATION]\nsize=8\n[OPTIONS]\nmax_iteration=3\n[SELECTION]\ntournament=1\n"
          "tournament_size=2\n[CROSSOVER]\nprobability=0.7\narithmetical=1\n[MUTATION]\n"
          "probability=0.2\nuniform=1\n" % (program, input_name, extra))


def command(args):
    return [batch, "--seed", "3", "--quiet"] + args + ["task.txt"]


def run(args=(), env=None, timeout=60):
    try:
        return subprocess.run(command(list(args)), capture_output=True, text=True,
                              timeout=timeout, env=dict(os.environ, **(env or {})))
    except subprocess.TimeoutExpired:
        return subprocess.CompletedProcess(args, -1, "", "timed out")


def start(args=(), env=None):
    return subprocess.Popen(command(list(args)), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True,
                            env=dict(os.environ, **(env or {})))


def wait_for(condition, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def work_folders(root="task-runs"):
    """The evaluations' folders, as "run-.../genG-indI"."""
    return sorted(os.path.relpath(d, root) for d in glob.glob(os.path.join(root, "run-*", "gen*")))


# Names that climb out of an evaluation's folder reached the program itself.
task(input_name="../../obj.sh")
done = run(["--workers", "2"])
check("with work folders an input name with .. is refused at load, the program untouched",
      done.returncode == 2 and "inside the evaluation's folder" in done.stderr and
      read("obj.sh") == OBJECTIVE, done.stderr[-800:])

# A template holding the work root copied its copies into itself.
fresh()
task("template_dir=.\n")
done = run(timeout=30)
check("a template that holds the work root is refused at load",
      done.returncode == 2 and "Work root ought to lie outside the template folder" in
      done.stderr and not os.path.exists("task-runs"), done.stderr[-800:])

# Links in the template: the program reads through them, ZYL never writes through them.
fresh()
os.makedirs("outside")
os.makedirs("tpl")
for name in ("in.txt", "out.txt", "zyl-log.txt"):
    write("outside/" + name, "precious\n")
    os.symlink(os.path.join(work, "outside", name), os.path.join("tpl", name))
write("outside/k.txt", "5\n")
os.symlink(os.path.join(work, "outside", "k.txt"), "tpl/data.txt")
task("template_dir=tpl\nworkers=2\n")
done = run()
best = [line for line in done.stdout.splitlines() if line.startswith("Best: ")]
check("links in the template lead ZYL to write nothing outside the work folder",
      done.returncode == 0 and all(read("outside/" + n) == "precious\n"
                                   for n in ("in.txt", "out.txt", "zyl-log.txt")),
      done.stderr[-800:])
check("the program still reads what a link of the template points to",
      best and float(best[0].split()[1]) >= 5, done.stdout[-400:])

# Two runs on one work root.
fresh()
task("workers=4\nfailure_value=1000\n")
first = start(env={"SLEEP": "0.4"})
wait_for(lambda: work_folders())
second = run(env={"SLEEP": "0.4"})
first_out, first_err = first.communicate(timeout=60)
check("a second run on a held work root refuses with exit 2, naming the holder",
      second.returncode == 2 and
      ("in use by another ZYL (process %d on " % first.pid) in second.stderr,
      second.stderr[-800:])
check("the run that holds the root goes on undisturbed",
      first.returncode == 0 and "failed" not in first_err, first_err[-800:])

# Two runs with one program at a time in one folder would share in.txt and out.txt.
fresh()
task()
for name in ("in.txt", "out.txt"):
    if os.path.exists(name):
        os.remove(name)
first = start(env={"SLEEP": "0.3"})
wait_for(lambda: os.path.exists("in.txt"))
second = run(env={"SLEEP": "0.3"})
first_out, first_err = first.communicate(timeout=60)
check("a second run on the files of a running one refuses with exit 2, naming the holder",
      second.returncode == 2 and
      ("is in use by another ZYL (process %d on " % first.pid) in second.stderr and
      first.returncode == 0 and not os.path.exists("zyl-work.lock"),
      second.stderr[-800:] + first_err[-800:])

# Folders left by someone else are never deleted, nor in the way.
fresh()
task("workers=2\n")
os.makedirs("task-runs/gen1-ind3")
write("task-runs/gen1-ind3/thesis.tex", "chapter 1\n")
done = run()
check("a new run beside another run's folders deletes nothing",
      done.returncode == 0 and read("task-runs/gen1-ind3/thesis.tex") == "chapter 1\n",
      done.stderr[-800:])

# A failed run keeps its folders and says where; the next run starts all the same.
fresh()
task("workers=2\n")
write("obj.sh", "#!/bin/sh\necho 'no licence' >&2\nexit 4\n", 0o755)
failed = run(["--report", "json"])
failed_folders = work_folders()
message = json.loads(failed.stdout or "{}").get("message") or ""
write("obj.sh", OBJECTIVE, 0o755)
again = run()
check("a failed run keeps its folders in its own folder and its message says where",
      failed.returncode == 1 and failed_folders and
      message.startswith("A problem with external program.\nEvaluation of individual 0 "
                         "(generation 1) failed: exit code 4. Work folder: " +
                         os.path.join(work, "task-runs", failed_folders[0])) and
      message.endswith("Its log ended with:\n  no licence"), message or failed.stderr[-800:])
check("the next run after a failure starts, and leaves the failed run's folders as they were",
      again.returncode == 0 and work_folders() == failed_folders, again.stderr[-800:])

# A stored run killed with folders in its work root takes them back on resume.
fresh()
killed = start(["--store", "run.zyl"], env={"SLEEP": "1"})
wait_for(lambda: work_folders())
killed.send_signal(signal.SIGKILL)
killed.wait()
left = work_folders()
other = run(["--store", "other.zyl"])
plain = run()
kept = work_folders()
resumed = run(["--resume", "--store", "run.zyl"])
check("after kill -9 another store and a run without one run beside the folders, untouched",
      left and other.returncode == 0 and plain.returncode == 0 and kept == left,
      other.stderr[-500:] + plain.stderr[-500:])
check("the resume takes back its own folders and removes the default root when done",
      resumed.returncode == 0 and not os.path.exists("task-runs"), resumed.stderr[-800:])

# What fails before the program runs is no value of the objective, whatever failure_value says.
fresh()
os.makedirs("deck")
os.mkfifo("deck/pipe")
write("noexec.sh", OBJECTIVE, 0o644)
cases = [
    ("a missing program", "./missing.sh", "workers=2\n", "No such file or directory"),
    ("a program that is not executable", "./noexec.sh", "workers=2\n", "Permission denied"),
    ("a template that cannot be copied", "./obj.sh", "template_dir=deck\n",
     "neither a file, a folder nor a link"),
    ("a missing program in ZYL's folder", "./missing.sh", "", "No such file or directory"),
]
for name, program, extra, reason in cases:
    fresh()
    task(extra + "failure_value=7\nretries=1\n", program=program)
    done = run(["--report", "json"])
    try:
        report = json.loads(done.stdout)
    except ValueError:
        report = {}
    check(name + " stops the run with its reason and a non-zero exit",
          done.returncode == 1 and reason in done.stderr and "takes the value" not in
          done.stderr and report.get("end") != "finished" and report.get("exitStatus") == 1,
          done.stderr[-800:] + done.stdout[-300:])
    if name != cases[-1][0]:
        check(name + " leaves no work root behind", not os.path.exists("task-runs"))

shutil.rmtree(work, ignore_errors=True)
if failures:
    sys.exit(1)
