#!/usr/bin/env python3
"""End-to-end tests of zyl-batch: examples with fixed seeds, failing scripts, failing and
hanging external programs, signals, and a manual task fed through standard input.
Usage: batch_e2e.py ZYL_BATCH EXAMPLES_DIR"""
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

batch = os.path.abspath(sys.argv[1])
examples = os.path.abspath(sys.argv[2])
work = tempfile.mkdtemp(prefix="zyl-batch-e2e-")
passed = 0
failed = 0


def check(name, condition, detail=""):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL %s %s" % (name, detail))


def run(args, stdin=None, timeout=300, cwd=None):
    return subprocess.run([batch] + args, input=stdin, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, cwd=cwd or work)


def write(name, text):
    path = os.path.join(work, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def script_for_external(program, extra=""):
    return ("[FUNCTION]\nexternal=1\nexternal_name=%s\ninput_name=in.txt\noutput_name=out.txt\n%s"
            "[VARIABLES]\nx=real[0;1]\ny=real[0;1]\n[POPULATION]\nsize=4\n"
            "[OPTIONS]\nmax_iteration=3\n" % (program, extra))


# 1. The default task with a seed: a report with the best individual; repeatable byte for byte.
default = os.path.join(examples, "default.txt")
first = run(["--seed", "42", "--quiet", default])
second = run(["--seed", "42", "--quiet", default])
out = first.stdout.decode()
check("default exit", first.returncode == 0, first.stderr.decode())
check("default report", out.startswith("What?\tValue\tInfo\nGeneration\t100\t20 individuals\n"), out[:200])
check("default best", "\nBest: " in out and "= f(" in out, out[-200:])
check("seeded repeat", first.stdout == second.stdout)
best = float(out.split("\nBest: ")[1].split()[0])
check("default converges", best < -5.5, str(best))
check("quiet", first.stderr == b"")
third = run(["--seed", "43", "--quiet", default])
check("another seed differs", third.stdout != first.stdout)

# 2. Progress lines when standard error is not a terminal: one per generation.
progress = run(["--seed", "1", default])
lines = progress.stderr.decode().splitlines()
check("progress lines", len(lines) == 100 and lines[0].startswith("generation 1 of 100"), str(lines[:2]))

# 3. Every analytical example runs to its end and finds its known minimum roughly.
for name, limit in [("rastrigin.txt", 0.5), ("rosenbrock.txt", 0.5), ("ackley.txt", 0.5),
                    ("schwefel.txt", 150), ("mixed.txt", 0.01)]:
    r = run(["--seed", "7", "--quiet", os.path.join(examples, name)])
    text = r.stdout.decode()
    ok = r.returncode == 0 and "\nBest: " in text
    check("example " + name, ok, r.stderr.decode()[:300])
    if ok:
        value = float(text.split("\nBest: ")[1].split()[0])
        check("example minimum " + name, value < limit, "%s: %g" % (name, value))
export = os.path.join(work, "mixed-export.txt")
check("export written", os.path.exists(export))
if os.path.exists(export):
    rows = open(export).read().split("\n")
    check("export header", rows[0] == "Generation\tBest\tSpread\tBestIndiv\t", repr(rows[0]))
    check("export rows", len(rows) == 62 and rows[1].startswith("1\t"), str(len(rows)))

# 4. Missing file and load failures: exit 2 with the message on standard error.
r = run(["nothing-here.txt"])
check("missing file", r.returncode == 2 and r.stderr.decode() ==
      "File:\n%s\ndoes not exist.\n" % os.path.join(work, "nothing-here.txt"), r.stderr.decode())
bad = write("bad.txt", "[FUNCTION]\nanalytical=1\n[EQUATIONS]\na=1\n")
r = run([bad])
check("load failure", r.returncode == 2 and r.stderr.decode() == "Cannot find function f\n", r.stderr.decode())
r = run([write("bad2.txt", "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x+\n[VARIABLES]\nx=real[0;1]\n")])
check("syntax failure", r.returncode == 2 and r.stderr.decode() == "Syntax error!\n")
check("usage", run([]).returncode == 2 and run(["--help"]).returncode == 0)
# Hostile scripts end in a message at load time instead of exhausting memory or never ending.
doubling = "\n".join(["s1=x+y"] + ["s%d=s%d+s%d" % (k, k - 1, k - 1) for k in range(2, 17)])
r = run([write("doubling.txt", "[FUNCTION]\nanalytical=1\n[EQUATIONS]\n%s\nf=%s\n"
                "[VARIABLES]\nx=real[0;1]\ny=real[0;1]\n[POPULATION]\nsize=2\n"
                % (doubling, "+".join(["s16"] * 100)))], timeout=60)
check("doubling definitions", r.returncode == 2 and r.stderr.decode() == "Expression too large\n",
      r.stderr.decode())
for name, section in [("tournament", "[SELECTION]\ntournament=1\ntournament_size=2000000000\n"),
                      ("points", "[CROSSOVER]\nmultipoint=1\npoints=2000000000\n")]:
    r = run([write(name + ".txt", "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x\n[VARIABLES]\n"
                   "x=real[0;1]\n[POPULATION]\nsize=2\n" + section)], timeout=20)
    check("bounded " + name, r.returncode == 2 and "ought to be a number from [" in r.stderr.decode(),
          r.stderr.decode())

# 5. A step that fails: its message with line breaks kept, exit 1 after the final report.
r = run(["--quiet", write("fails.txt", "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x/y\n"
                          "[VARIABLES]\nx=real[0;1]\n[POPULATION]\nsize=4\n")])
check("analytical failure", r.returncode == 1 and
      r.stderr.decode() == "Analytical function\nUnknown variable: y\n", r.stderr.decode())
check("report after failure", r.stdout.decode() == "No generation was computed.\n"
      "Failed evaluations: 1, of which 0 took the failure value\n", r.stdout.decode())
r = run(["--quiet", write("plotfail.txt", "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x\n"
                          "[VARIABLES]\nx=real[0;1]\n[POPULATION]\nsize=4\n[PLOTS]\nP=Average;zz\n")])
check("plot failure", r.returncode == 1 and r.stderr.decode() == "User Plots\nUnknown variable: zz\n"
      and "Generation\t1\t" in r.stdout.decode(), r.stderr.decode())

# 6. External programs: a working one, a failing one, a missing one, a hanging one.
objective = os.path.join(examples, "external", "objective.sh")
if os.path.exists(objective):
    r = run(["--seed", "5", "--quiet", write("ext.txt", script_for_external(objective))])
    check("external runs", r.returncode == 0 and "Generation\t3\t" in r.stdout.decode(), r.stderr.decode())
failing = write("fail.sh", "#!/bin/sh\necho 2.5 > \"$2\"\nexit 1\n")
os.chmod(failing, 0o755)
r = run(["--quiet", write("extfail.txt", script_for_external(failing))])
check("external failure", r.returncode == 1 and
      r.stderr.decode() == "A problem with external program.\nEvaluation of individual 0 "
      "(generation 1) failed: exit code 1.\n", r.stderr.decode())
r = run(["--quiet", write("extmissing.txt", script_for_external(os.path.join(work, "none.sh")))])
check("external missing", r.returncode == 1 and "A problem with external program." in r.stderr.decode())
hanging = write("hang.sh", "#!/bin/sh\nsleep 1000\n")
os.chmod(hanging, 0o755)
r = run(["--quiet", write("exttimeout.txt", script_for_external(hanging, "external_timeout=0.5\n"))],
        timeout=60)
check("external timeout", r.returncode == 1 and "A problem with external program." in r.stderr.decode())
for sig, status in [(signal.SIGTERM, 143), (signal.SIGINT, 130)]:
    p = subprocess.Popen([batch, "--quiet", write("exthang.txt", script_for_external(hanging))],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=work)
    time.sleep(1.0)
    started = time.time()
    p.send_signal(sig)
    try:
        p.communicate(timeout=20)
        check("signal %d ends a hanging program" % sig, p.returncode == status and
              time.time() - started < 10, str(p.returncode))
    except subprocess.TimeoutExpired:
        p.kill()
        check("signal %d ends a hanging program" % sig, False, "hung")

# 7. A manual task fed through standard input, with one line that is not a number.
manual = os.path.join(examples, "manual-task.txt")
values = "abc\n" + "\n".join(str(i) for i in range(1, 13)) + "\n"
r = run(["--seed", "3", "--quiet", manual], stdin=values.encode())
err = r.stderr.decode()
check("manual run", r.returncode == 0 and "Generation\t3\t4 individuals" in r.stdout.decode(), err[-300:])
check("manual conversion message", "'abc' is not a valid floating point value" in err)
check("manual prompt", "generation 1, individual 0: speed = " in err, err[:200])
r = run(["--quiet", manual], stdin=b"1\n2\n")
check("manual end of input", r.returncode == 1 and
      "The input ended before every value was given" in r.stderr.decode())

# 8. Plots drawn at the end, when the program was built with the chart code.
plots = os.path.join(work, "plots")
r = run(["--seed", "4", "--quiet", "--plots", plots, os.path.join(examples, "rastrigin.txt")])
if r.returncode == 2 and b"cannot draw plots" in r.stderr:
    pass
else:
    check("plots exit", r.returncode == 0, r.stderr.decode()[-300:])
    for ext in ("png", "svg"):
        path = os.path.join(plots, "Convergence." + ext)
        check("plot " + ext, os.path.exists(path) and os.path.getsize(path) > 1000)
    if os.path.exists(os.path.join(plots, "Convergence.png")):
        with open(os.path.join(plots, "Convergence.png"), "rb") as f:
            check("png signature", f.read(8) == b"\x89PNG\r\n\x1a\n")
        with open(os.path.join(plots, "Convergence.svg"), "rb") as f:
            check("svg document", b"<svg" in f.read())

    # On a full disk (a limit on the size of files) the pictures drawn before stay whole, and
    # each picture that could not be written is named.
    def full_disk():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))

    earlier = {ext: open(os.path.join(plots, "Convergence." + ext), "rb").read()
               for ext in ("png", "svg")}
    r = subprocess.run([batch, "--seed", "5", "--quiet", "--plots", plots,
                        os.path.join(examples, "rastrigin.txt")], stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=300, cwd=work, preexec_fn=full_disk)
    err = r.stderr.decode()
    check("plots on a full disk", r.returncode == 1 and all(
        "Cannot write the picture to %s: " % os.path.join(plots, "Convergence." + ext) in err and
        open(os.path.join(plots, "Convergence." + ext), "rb").read() == earlier[ext]
        for ext in ("png", "svg")), err[-500:])

shutil.rmtree(work, ignore_errors=True)
print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
