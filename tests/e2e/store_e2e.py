#!/usr/bin/env python3
"""zyl-batch and the run store in the mishaps of a long run: a resume started from another
folder, a folder that is gone, an export file that is not the run's, an older store, a store
cut short, deleted during the run, or in a read-only folder, moved or renamed after a kill, a
full file system, a crafted store that asks for tens of gigabytes, an export file that is the
store, the script or the program.
Usage: store_e2e.py ZYL_BATCH SOURCE_DIR"""
import os
import resource
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

batch = os.path.abspath(sys.argv[1])
source = os.path.abspath(sys.argv[2])
work = tempfile.mkdtemp(prefix="zyl-store-e2e-")
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


def run(cwd, args, **extra):
    return subprocess.run([batch] + args, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120, **extra)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def beside(path):
    """The files SQLite would make beside a store."""
    return [s for s in ("-wal", "-shm", "-journal") if os.path.exists(path + s)]


# The program counts its starts; at the start named in kill-at it kills zyl-batch (its
# parent: without workers the program is started directly) once it has written its value.
program = ("#!/bin/sh\nn=$(cat calls 2>/dev/null || echo 0); n=$((n + 1)); echo $n > calls\n"
           "LC_ALL=C awk '{ printf \"%.17g\\n\", ($1 - 1) ^ 2 + ($2 + 2) ^ 2 }' \"$1\" > \"$2\"\n"
           "if [ -f kill-at ] && [ \"$n\" = \"$(cat kill-at)\" ]; then kill -9 $PPID; fi\n")
task = ("[FUNCTION]\nexternal=1\nexternal_name=./obj.sh\ninput_name=in.txt\n"
        "output_name=out.txt\n[VARIABLES]\nx1=real[-5;5]\nx2=real[-5;5]\n[POPULATION]\nsize=8\n"
        "[OPTIONS]\nmax_iteration=3\n[EXPORT]\nmin=GlobalMin\n"
        "[EXPORT_NAMES]\nexport_name=progress.tsv\nexport_every_iteration=1\n")
seeded = ["--quiet", "--seed", "5"]
stranger = "#!/bin/sh\ntouch ran-the-wrong-program\necho 0 > \"$2\"\n"

reference_dir = folder("reference", {"task.txt": task, "obj.sh": program})
reference = run(reference_dir, seeded + ["task.txt"])
check("reference", reference.returncode == 0, reference.stderr.decode())


def killed_run(name):
    """A stored run killed with SIGKILL in its second generation."""
    cwd = folder(name, {"task.txt": task, "obj.sh": program, "kill-at": "12\n"})
    result = run(cwd, seeded + ["--store", "run.zyl", "task.txt"])
    check(name + " killed", result.returncode == -signal.SIGKILL, str(result.returncode))
    return cwd


# 1. A resume from another folder works in the run's folder: its export file and program are
#    the ones there, and the other folder's own files stay as they are.
run_a = killed_run("runA")
run_b = folder("runB", {"progress.tsv": "my thesis\n", "obj.sh": stranger})
resumed = run(run_b, ["--quiet", "--resume", "--store", "../runA/run.zyl"])
check("elsewhere exit", resumed.returncode == 0, resumed.stderr.decode())
check("elsewhere report", resumed.stdout == reference.stdout,
      "\n%s---\n%s" % (reference.stdout.decode(), resumed.stdout.decode()))
check("elsewhere export", read(os.path.join(run_a, "progress.tsv")) ==
      read(os.path.join(reference_dir, "progress.tsv")))
check("elsewhere leaves B's file", read(os.path.join(run_b, "progress.tsv")) == b"my thesis\n")
check("elsewhere runs A's program",
      not os.path.exists(os.path.join(run_b, "ran-the-wrong-program")))

# The run's folder is gone: refused, naming both folders.
shutil.move(run_a, run_a + "-moved")
gone = run(run_b, ["--quiet", "--resume", "--store", "../runA-moved/run.zyl"])
message = gone.stderr.decode()
check("gone refused", gone.returncode == 2 and run_a + '"' in message and
      run_b + '"' in message, "%d %s" % (gone.returncode, message))

# 2. An older store does not know its folder: resumed from another folder it finds an export
#    file that is not its own, and leaves it alone; in its own folder it resumes as before.
run_d = killed_run("runD")
db = sqlite3.connect(os.path.join(run_d, "run.zyl"))
db.execute("ALTER TABLE run DROP COLUMN folder")
db.execute("PRAGMA user_version = 2")
db.commit()
db.close()
foreign = run(run_b, ["--quiet", "--resume", "--store", "../runD/run.zyl"])
check("older store, foreign export", foreign.returncode == 2 and
      b"holds something else than what the run store" in foreign.stderr,
      "%d %s" % (foreign.returncode, foreign.stderr.decode()))
check("older store, foreign export kept", read(os.path.join(run_b, "progress.tsv")) ==
      b"my thesis\n")
own = run(run_d, ["--quiet", "--resume", "--store", "run.zyl"])
check("older store, own folder", own.returncode == 0 and own.stdout == reference.stdout and
      read(os.path.join(run_d, "progress.tsv")) ==
      read(os.path.join(reference_dir, "progress.tsv")), own.stderr.decode())

# An older store resumed from a folder where its program is missing: the run fails, and the
# store is not bound to that folder; from its own folder it resumes as before.
run_e = killed_run("runE")
db = sqlite3.connect(os.path.join(run_e, "run.zyl"))
for column in ("folder", "run_id"):
    if any(row[1] == column for row in db.execute("PRAGMA table_info(run)")):
        db.execute("ALTER TABLE run DROP COLUMN " + column)
db.execute("PRAGMA user_version = 2")
db.commit()
db.close()
wrong = folder("wrong", {})
failing = run(wrong, ["--quiet", "--resume", "--store", "../runE/run.zyl"])
db = sqlite3.connect(os.path.join(run_e, "run.zyl"))
bound = db.execute("SELECT folder FROM run").fetchone()[0]
db.close()
check("older store, wrong folder fails unbound", failing.returncode == 1 and bound is None,
      "%d %s %s" % (failing.returncode, bound, failing.stderr.decode()))
own = run(run_e, ["--quiet", "--resume", "--store", "run.zyl"])
check("older store, then its own folder", own.returncode == 0 and own.stdout == reference.stdout
      and read(os.path.join(run_e, "progress.tsv")) ==
      read(os.path.join(reference_dir, "progress.tsv")), own.stderr.decode())

# 3. A store cut short is refused, and nothing is made beside it.
cut = os.path.join(run_d, "cut.zyl")
check("finished store closed", beside(os.path.join(run_d, "run.zyl")) == [])
shutil.copy(os.path.join(run_d, "run.zyl"), cut)
os.truncate(cut, 10000)
refused = run(run_d, ["--quiet", "--resume", "--store", "cut.zyl"])
check("cut short refused", refused.returncode == 2 and b"is damaged" in refused.stderr,
      refused.stderr.decode())
check("cut short, nothing beside", beside(cut) == [], str(beside(cut)))

# 4. A store whose population claims 1119412321 individuals of 4119738483 variables in 9
#    bytes (the product wraps to 1 in 64 bits): refused as damaged, nothing allocated. Crafted
#    here from a store of this test, so that the folder it records is one that exists.
crafted = os.path.join(run_d, "crafted.zyl")
shutil.copy(os.path.join(run_d, "run.zyl"), crafted)
db = sqlite3.connect(crafted)
db.execute("UPDATE state SET population = x'61e0b84273388ef500'")
db.commit()
db.close()
for args in [["--store", "crafted.zyl", "task.txt"], ["--resume", "--store", "crafted.zyl"]]:
    result = run(run_d, ["--quiet"] + args)
    check("crafted %s" % args, result.returncode == 2 and
          b'"crafted.zyl" is damaged: the population is cut short' in result.stderr,
          "%d %s" % (result.returncode, result.stderr.decode()))

# 5. The store deleted during the run: the next commit sees it, and the run stops (exit 1).
deleter = program.replace("if [ -f kill-at ]", "if [ \"$n\" = 10 ]; then rm run.zyl; fi\n"
                                                "if [ -f kill-at ]")
cwd = folder("deleted", {"task.txt": task, "obj.sh": deleter})
result = run(cwd, seeded + ["--store", "run.zyl", "task.txt"])
check("deleted store stops the run", result.returncode == 1 and
      b"is no longer the file this run opened" in result.stderr and
      int(read(os.path.join(cwd, "calls"))) < 24,
      "%d %s" % (result.returncode, result.stderr.decode()))

# 5b. A store moved and renamed with its WAL and index after a kill: the work folders its
#     programs left are still its run's, and it resumes.
slow = program.replace("LC_ALL=C awk", "sleep 0.05\nLC_ALL=C awk")
cwd = folder("moved", {"task.txt": task.replace("output_name=out.txt\n",
                                                "output_name=out.txt\nworkers=2\n"),
                       "obj.sh": slow})
killed = subprocess.Popen([batch] + seeded + ["--store", "run.zyl", "task.txt"], cwd=cwd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
roots = os.path.join(cwd, "task-runs")


def evaluation_folders():
    """The evaluations' folders under the run's own folder in the work root."""
    return [name for _, folders, _ in os.walk(roots) for name in folders
            if name.startswith("gen")]


for _ in range(1000):
    if any(name.startswith("gen2") for name in evaluation_folders()):
        break
    time.sleep(0.01)
killed.kill()
killed.wait()
left = evaluation_folders()
os.makedirs(os.path.join(cwd, "elsewhere"))
for suffix in ["", "-wal", "-shm"]:
    if os.path.exists(os.path.join(cwd, "run.zyl" + suffix)):
        os.rename(os.path.join(cwd, "run.zyl" + suffix),
                  os.path.join(cwd, "elsewhere", "renamed.zyl" + suffix))
moved = run(cwd, ["--quiet", "--resume", "--store", "elsewhere/renamed.zyl"])
check("moved store resumes", left and moved.returncode == 0 and moved.stdout == reference.stdout,
      "%s %d %s" % (left, moved.returncode, moved.stderr.decode()))

# 5c. An export file that is the store, the script or the program is refused before anything
#     is written.
for name, target in [("store", "run.zyl"), ("script", "task.txt"), ("program", "obj.sh")]:
    cwd = folder("export-" + name, {"task.txt": task.replace("export_name=progress.tsv",
                                                             "export_name=./" + target),
                                    "obj.sh": program})
    before = {f: read(os.path.join(cwd, f)) for f in os.listdir(cwd)}
    result = run(cwd, seeded + ["--store", "run.zyl", "task.txt"])
    after = {f: read(os.path.join(cwd, f)) for f in os.listdir(cwd)}
    check("export onto the " + name, result.returncode == 2 and after == before and
          ('is the %s "' % ("run store" if name == "store" else name)).encode() in result.stderr,
          "%d %s" % (result.returncode, result.stderr.decode()))

# 6. A store in a folder that cannot be written: reused as an archive (read as it is, nothing
#    made beside it); a resume says that it cannot be written, not that it is damaged. Root
#    writes anywhere, so as root the two run as nobody.
analytical = ("[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x1^2+x2^2\n[VARIABLES]\nx1=real[-1;1]\n"
              "x2=real[-1;1]\n[POPULATION]\nsize=10\n[OPTIONS]\nmax_iteration=5\n")
archive = folder("archive", {"task.txt": analytical})
run(archive, seeded + ["--store", "run.zyl", "task.txt"])
user = folder("user", {"task.txt": analytical})
os.chmod(work, 0o755)
for path in [archive, user]:
    os.chmod(path, 0o777 if path == user else 0o555)
os.chmod(os.path.join(archive, "run.zyl"), 0o444)
as_user = {}
if os.geteuid() == 0:
    # A copy of the program that nobody can reach whatever the folders above the build allow.
    shutil.copy2(batch, os.path.join(work, "zyl-batch"))
    batch = os.path.join(work, "zyl-batch")
    as_user["preexec_fn"] = lambda: (os.setgid(65534), os.setuid(65534))
reuse = run(user, ["--quiet", "--reuse", os.path.join(archive, "run.zyl"), "task.txt"], **as_user)
check("read-only reuse", reuse.returncode == 0, reuse.stderr.decode())
check("read-only reuse, nothing beside", beside(os.path.join(archive, "run.zyl")) == [])
resume = run(user, ["--quiet", "--resume", "--store", os.path.join(archive, "run.zyl")],
             **as_user)
check("read-only resume", resume.returncode == 2 and b"cannot be written" in resume.stderr and
      b"damaged" not in resume.stderr, "%d %s" % (resume.returncode, resume.stderr.decode()))
os.chmod(archive, 0o755)

# 7. A full file system (here: a limit on the size of files) refuses every commit the same
#    way: the message is said once.
big = analytical.replace("size=10", "size=1000").replace("max_iteration=5", "max_iteration=100")
big = big.replace("x2=real[-1;1]\n",
                  "x2=real[-1;1]\n" + "".join("y%d=real[0;1]\n" % j for j in range(40)))
cwd = folder("full", {"task.txt": big})


def small_files():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))


full = run(cwd, seeded + ["--store", "run.zyl", "task.txt"], preexec_fn=small_files)
lines = [line for line in full.stderr.decode().splitlines() if line]
check("full exit", full.returncode == 1, str(full.returncode))
check("full said once", len(lines) == len(set(lines)) and
      any("cannot be written: " in line for line in lines), "\n".join(lines))

# 8. The export file fills the disk in the middle of a run: the row that did not fit is cut
#    back, the store records no part of it, and a resume writes the rest as the uninterrupted
#    run did.
exported = (analytical.replace("max_iteration=5", "max_iteration=30") +
            "[EXPORT]\nmin=GlobalMin\navg=Average\n"
            "[EXPORT_NAMES]\nexport_name=progress.tsv\nexport_every_iteration=1\n")
earlier = "x" * ((1 << 20) - 300) + "\n"
whole_dir = folder("export-whole", {"task.txt": exported, "progress.tsv": earlier})
whole = run(whole_dir, seeded + ["task.txt"])
cwd = folder("export-full", {"task.txt": exported, "progress.tsv": earlier})
full = run(cwd, seeded + ["--store", "run.zyl", "task.txt"], preexec_fn=small_files)
cut = read(os.path.join(cwd, "progress.tsv"))
expected = read(os.path.join(whole_dir, "progress.tsv"))
check("export full, whole rows", full.returncode == 1 and b"File too large" in full.stderr and
      cut.endswith(b"\n") and expected.startswith(cut) and len(cut) < len(expected),
      "%d %s" % (full.returncode, full.stderr.decode()))
resumed = run(cwd, ["--quiet", "--resume", "--store", "run.zyl"])
check("export full, resumed", resumed.returncode == 0 and resumed.stdout == whole.stdout and
      read(os.path.join(cwd, "progress.tsv")) == expected, resumed.stderr.decode())

print("%d passed, %d failed" % (passed, failed))
if failed == 0:
    for root, dirs, _ in os.walk(work):
        for d in dirs:
            os.chmod(os.path.join(root, d), 0o755)
    shutil.rmtree(work)
else:
    print("left in " + work)
sys.exit(1 if failed else 0)
