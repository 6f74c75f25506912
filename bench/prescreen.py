#!/usr/bin/env python3
"""The cantilever of examples/cantilever (an external program, a slenderness limit h <= 20 b
that needs no program): the program's runs, counted from its log, with and without prescreen,
and what each search method reaches with them.

1. At equal generations (300 designs: 30 generations of 10, or 150 of 2 for the trust region):
   the median number of program runs with prescreen and without, and the median best mass.
2. At equal budgets of program runs (max_evaluations 300 and 1,000; max_iteration twice the
   budget over the population, so that the budget ends the run): the median best mass with
   prescreen and without, seeds 1 to 11. Every reported best is checked from its variables by
   the beam's own formulas (feasible within 1e-9).

Every variant is the example's script with keys set on the command line (--set).
Usage: bench/prescreen.py [BUILD_DIR] [--seeds N] [--jobs N] [--methods ga,cmaes,de,trust]"""
import argparse
import concurrent.futures
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
OPTIMUM = 47.745285665  # b = 12.331 mm, h = 246.62 mm: the stress and slenderness limits meet
# name: population and the keys that choose the method
METHODS = {
    "ga": (10, ["OPTIONS.method=ga"]),
    "cmaes": (10, ["OPTIONS.method=cmaes"]),
    "de": (10, ["OPTIONS.method=de"]),
    "trust": (2, ["OPTIONS.method=trust"]),
}


def checked_best(report):
    """The best mass, recomputed from the reported variables, or None when it breaks a limit."""
    values = {v["name"]: v["value"] for v in report["best"]["variables"]}
    b, h = values["b"], values["h"]
    P, L, E = 10000.0, 2000.0, 210000.0
    mass = 7850e-9 * b * h * L
    stress = 6 * P * L / (b * h * h) / 160 - 1
    deflection = 4 * P * L ** 3 / (E * b * h ** 3) / 10 - 1
    feasible = max(stress, deflection, h - 20 * b) <= 1e-9
    return mass if feasible else None


def run(batch, method, seed, prescreen, generations=None, budget=None):
    population, keys = METHODS[method]
    work = tempfile.mkdtemp(prefix="zyl-prescreen-bench-")
    try:
        shutil.copytree(os.path.join(REPO, "examples", "cantilever"),
                        os.path.join(work, "examples", "cantilever"))
        sets = keys + ["POPULATION.size=%d" % population, "FUNCTION.prescreen=%d" % prescreen]
        if budget:
            sets += ["OPTIONS.max_evaluations=%d" % budget,
                     "OPTIONS.max_iteration=%d" % (2 * budget // population)]
        else:
            sets += ["OPTIONS.max_iteration=%d" % generations]
        args = [batch, "--quiet", "--report", "json", "--seed", str(seed)]
        for s in sets:
            args += ["--set", s]
        log = os.path.join(work, "calls.log")
        r = subprocess.run(args + ["examples/cantilever/task.txt"], cwd=work,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           env=dict(os.environ, CANTILEVER_CALLS=log), timeout=3600)
        if r.returncode != 0:
            raise RuntimeError(r.stderr.decode()[-500:])
        report = json.loads(r.stdout)
        with open(log) as f:
            calls = sum(1 for _ in f)
        return calls, checked_best(report)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def median(values):
    known = [v for v in values if v is not None]
    return statistics.median(known) if known else float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(REPO, "build", "release"))
    parser.add_argument("--seeds", type=int, default=11)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--methods", default=",".join(METHODS))
    a = parser.parse_args()
    batch = os.path.join(os.path.abspath(a.build), "src", "zyl-batch")
    methods = a.methods.split(",")
    seeds = range(1, a.seeds + 1)
    jobs = {}
    with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
        for m in methods:
            for p in (1, 0):
                for s in seeds:
                    jobs[("designs", m, p, s)] = pool.submit(
                        run, batch, m, s, p, generations=300 // METHODS[m][0])
                    for budget in (300, 1000):
                        jobs[(budget, m, p, s)] = pool.submit(run, batch, m, s, p, budget=budget)
        results = {key: job.result() for key, job in jobs.items()}

    def cell(kind, m, p):
        got = [results[(kind, m, p, s)] for s in seeds]
        return median([c for c, _ in got]), median([b for _, b in got]), \
            sum(1 for _, b in got if b is None)

    print("Cantilever (optimum %.3f kg), seeds 1 to %d, medians" % (OPTIMUM, a.seeds))
    print("\n300 designs (equal generations): program runs and best mass")
    print("| method | runs, prescreen | runs, without | best, prescreen | best, without |")
    print("|---|---|---|---|---|")
    for m in methods:
        on, off = cell("designs", m, 1), cell("designs", m, 0)
        print("| %s | %.0f | %.0f | %.3f | %.3f |" % (m, on[0], off[0], on[1], off[1]))
    print("\nEqual budgets of program runs: best mass (runs actually spent)")
    print("| method | 300, prescreen | 300, without | 1,000, prescreen | 1,000, without |")
    print("|---|---|---|---|---|")
    for m in methods:
        row = []
        for budget in (300, 1000):
            for p in (1, 0):
                runs, best, infeasible = cell(budget, m, p)
                row.append("%.3f (%.0f)%s" % (best, runs,
                                              " [%d infeasible]" % infeasible if infeasible else ""))
        print("| %s | %s |" % (m, " | ".join(row)))


if __name__ == "__main__":
    main()
