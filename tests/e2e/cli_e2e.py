#!/usr/bin/env python3
"""The programs' command lines (--version, --help, argument errors) and zyl-batch's JSON
report and progress, parsed as JSON.
Usage: cli_e2e.py VERSION ZYL_BATCH ZYL_CONSOLE ZYL|- EXAMPLES_DIR"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

version = sys.argv[1]
batch, console, examples = (os.path.abspath(a) for a in (sys.argv[2], sys.argv[3], sys.argv[5]))
desktop = sys.argv[4] if sys.argv[4] == "-" else os.path.abspath(sys.argv[4])
work = tempfile.mkdtemp(prefix="zyl-cli-e2e-")
env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
failed = 0


def check(name, condition, detail=""):
    global failed
    if not condition:
        failed += 1
        print("FAIL %s %s" % (name, detail))


def run(program, args, timeout=120):
    return subprocess.run([program] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, timeout=timeout, cwd=work, env=env)


def strict_json(text):
    """JSON as the standard has it: Python would also take NaN and Infinity."""
    def refuse(token):
        raise ValueError("not JSON: " + token)
    return json.loads(text, parse_constant=refuse)


def write(name, text, mode=0o644):
    path = os.path.join(work, name)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)
    return path


programs = [("zyl-batch", batch), ("zyl-console", console)]
if desktop != "-":
    programs.append(("zyl", desktop))

# 1. --version and --help answer on standard output with status 0, also without a display.
for name, program in programs:
    r = subprocess.run([program, "--version"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       env={k: v for k, v in os.environ.items() if k not in ("DISPLAY", "QT_QPA_PLATFORM")})
    check(name + " --version", r.returncode == 0 and r.stdout.decode() == "%s %s\n" % (name, version),
          repr(r.stdout))
    r = run(program, ["--help"])
    check(name + " --help", r.returncode == 0 and "Usage: " + name in r.stdout.decode(), r.stdout.decode()[:200])

# 2. Errors in the arguments: one line on standard error, nothing on standard output, status 2.
default = os.path.join(examples, "default.txt")
wrong = [(batch, ["--bogus", default]), (batch, []), (batch, ["--seed", "-1", default]),
         (batch, ["--seed", "12abc", default]), (batch, ["--report", "xml", default]),
         (batch, ["--quiet", "--progress", "json", default]), (batch, [default, default]),
         (batch, ["--store", "", default]), (batch, ["--resume", "--store", ""]),
         (batch, ["--reuse", "", default]), (batch, ["--workers", "0x10", default]),
         (batch, ["--workers", "1025", default]),
         (batch, ["--set", "method=de", default]), (batch, ["--set", "OPTIONS.method", default]),
         (batch, ["--set", "OPTIONS.seed=2", "--seed", "1", default]),
         (batch, ["--set", "OPTIONS.method=de", "--set", "options.Method=ga", default]),
         (console, ["extra"]), (console, ["--bogus"])]
if desktop != "-":
    wrong += [(desktop, ["--bogus"]), (desktop, ["--set", "x", default]),
              (desktop, ["--set", "OPTIONS.close=1"]), (desktop, [default, "--set"])]
for program, args in wrong:
    r = run(program, args)
    name = os.path.basename(program)
    err = r.stderr.decode().splitlines()
    # The offscreen platform may add its own notes; ours is the line that names the program.
    ours = [line for line in err if line.startswith(name + ": ")]
    check("%s %s" % (name, args), r.returncode == 2 and len(ours) == 1 and r.stdout == b"",
          "%d %r" % (r.returncode, err))

# The seed is decimal, as it always was: 010 is ten, not eight.
seeded = [run(batch, ["--seed", s, "--quiet", default]).stdout for s in ("010", "10", "8")]
check("decimal seed", seeded[0] == seeded[1] and seeded[0] != seeded[2])

# A misspelt key or section is named on standard error, with the nearest known one; the run
# goes on as before.
r = run(batch, ["--quiet", "--workers", "010", write("typo.txt", open(default).read() +
                "\n[OPTIONS]\nstop_wen=1\n[OPTIONS]\nseed=3\n[MUTATON]\nuniform=1\n")])
check("notices", r.returncode == 0 and r.stderr.decode().splitlines() == [
    'Unknown key "stop_wen" in [OPTIONS] is ignored; the nearest known key is "stop_when".',
    "Section [OPTIONS] is written twice: only its first occurrence is read.",
    "Unknown section [MUTATON] is ignored; the nearest known one is [MUTATION]."],
      r.stderr.decode())

# 3. The JSON report of a seeded run agrees with the table of the same run.
table = run(batch, ["--seed", "5", "--quiet", default]).stdout.decode().splitlines()
r = run(batch, ["--seed", "5", "--report", "json", "--progress", "json", default])
check("json run", r.returncode == 0, r.stderr.decode()[-300:])
lines = r.stdout.decode().splitlines()
check("json report is one line", len(lines) == 1, str(len(lines)))
report = strict_json(lines[0])
rows = {row.split("\t")[0]: row.split("\t")[1] for row in table[1:-1]}
check("json statistics rows", list(report["statistics"]) == list(rows), str(list(report["statistics"])))
for what, text in rows.items():
    value = report["statistics"].get(what)
    check("json value " + what, value is not None and abs(value - float(text)) <= 1e-5 * max(1, abs(value)),
          "%s: %r vs %s" % (what, value, text))
check("json run end", report["generation"] == 100 and report["end"] == "finished"
      and report["exitStatus"] == 0 and report["message"] is None, str(report)[:300])
best = report["best"]
check("json best", [v["name"] for v in best["variables"]] == ["x1", "x2"]
      and best["value"] == report["statistics"]["GlobalMin"]
      and table[-1].startswith("Best: %s " % rows["GlobalMin"]), str(best))

progress = [strict_json(line) for line in r.stderr.decode().splitlines()]
check("json progress lines", [p["generation"] for p in progress] == list(range(1, 101)))
check("json progress fields", all(set(p) == {"generation", "maxIteration", "evaluations", "fromBuffer",
                                             "CurrentMin", "GlobalMin", "elapsed", "estimated"}
                                  for p in progress))
check("json progress counts", all(a["evaluations"] <= b["evaluations"] and a["GlobalMin"] >= b["GlobalMin"]
                                  for a, b in zip(progress, progress[1:])) and progress[-1]["estimated"] == 0)

# 4. Runs that do not finish still give one object, with the reason and the exit status.
r = run(batch, ["--report", "json", os.path.join(work, "missing.txt")])
report = strict_json(r.stdout.decode())
check("json missing script", r.returncode == 2 and report["end"] == "load-failed"
      and report["exitStatus"] == 2 and report["statistics"] is None, r.stdout.decode())
r = run(batch, ["--quiet", "--report", "json", write("fails.txt", "[FUNCTION]\nanalytical=1\n[EQUATIONS]\n"
                "f=x/y\n[VARIABLES]\nx=real[0;1]\n[POPULATION]\nsize=4\n")])
report = strict_json(r.stdout.decode())
check("json failed step", r.returncode == 1 and report["end"] == "failed" and report["exitStatus"] == 1
      and report["message"] == "Analytical function\nUnknown variable: y" and report["best"] is None, r.stdout.decode())

external = ("[FUNCTION]\nexternal=1\nexternal_name=%s\ninput_name=in.txt\noutput_name=out.txt\n"
            "[VARIABLES]\nx=real[0;1]\n[POPULATION]\nsize=4\n[OPTIONS]\nmax_iteration=2\n")
# An objective that answers "inf" (a NaN is a failed evaluation): JSON has no infinity, so the
# affected numbers are null.
inf = write("inf.sh", "#!/bin/sh\necho inf > \"$2\"\n", 0o755)
r = run(batch, ["--report", "json", "--progress", "json", write("inf.txt", external % inf)])
report = strict_json(r.stdout.decode())
progress = [strict_json(line) for line in r.stderr.decode().splitlines()]
check("json non-finite", r.returncode == 0 and report["statistics"]["Average"] is None
      and report["statistics"]["CurrentMin"] is None and progress[-1]["CurrentMin"] is None, r.stdout.decode())

hang = write("hang.sh", "#!/bin/sh\nsleep 1000\n", 0o755)
if os.path.exists(os.path.join(work, "in.txt")):
    os.remove(os.path.join(work, "in.txt"))
p = subprocess.Popen([batch, "--report", "json", write("hang.txt", external % hang)],
                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=work)
# The input file is written once the run is under way, its signal handlers in place: a signal
# sent sooner, on a loaded machine, would find the program still loading.
deadline = time.time() + 30
while not os.path.exists(os.path.join(work, "in.txt")) and time.time() < deadline:
    time.sleep(0.05)
p.send_signal(signal.SIGTERM)
out, _ = p.communicate(timeout=30)
report = strict_json(out.decode())
check("json interrupted", p.returncode == 143 and report["end"] == "interrupted"
      and report["exitStatus"] == 143, out.decode())

# 5. The desktop program with two arguments says so on standard error; without a display to
# answer its error box it ends at once, with status 2. Keys set on its command line are the
# project's: close=1 ends it after a run of three generations, the last one exported.
if desktop != "-":
    r = run(desktop, ["--set", "OPTIONS.close=1", "--set=OPTIONS.loop_counter=3",
                      "--set", "EXPORT.g=Generation", "--set", "EXPORT_NAMES.export_name=set.tsv",
                      default], timeout=60)
    exported = os.path.join(work, "set.tsv")
    check("zyl --set", r.returncode == 0 and os.path.exists(exported) and
          open(exported).read().split()[-1] == "3", r.stderr.decode()[-300:])
    try:
        r = run(desktop, ["a.txt", "b.txt"], timeout=30)
        check("zyl two arguments", r.returncode == 2 and
              b"zyl: One parameter allowed only! Aplication terminated.\n" in r.stderr, repr(r.stderr))
    except subprocess.TimeoutExpired:
        check("zyl two arguments", False, "waits for an answer nobody can give")

shutil.rmtree(work, ignore_errors=True)
print("cli: %d failure(s)" % failed)
sys.exit(1 if failed else 0)
