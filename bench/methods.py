#!/usr/bin/env python3
"""Runs zyl-batch with each search method on six classic test functions in 10 and 30 variables
(population 100, seeds 1 to 11) and prints the median of the best values found, how many runs
reached the target, and whether the methods meet the figures they are held to.

Usage: bench/methods.py [BUILD_DIR] [--seeds N] [--methods ga,ga-tuned,cmaes,de]
                        [--budgets 20000,100000] [--functions sphere,...] [--dims 10,30]
Long: run it with `nice -n 10` on a quiet machine. Each run writes its script in a temporary
folder; nothing is left behind."""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

# name: (lower bound, upper bound, target, formula of n variables x1..xn)
# Powers are written as products: the compiled formulas multiply faster than they raise.
def sphere(n):
    return " + ".join("x%d*x%d" % (i, i) for i in range(1, n + 1))


def rosenbrock(n):
    return " + ".join("100*(x%d - x%d*x%d)*(x%d - x%d*x%d) + (1 - x%d)*(1 - x%d)"
                      % (i + 1, i, i, i + 1, i, i, i, i) for i in range(1, n))


def rastrigin(n):
    return "%d + " % (10 * n) + " + ".join("x%d*x%d - 10*cos(2*pi*x%d)" % (i, i, i)
                                          for i in range(1, n + 1))


def ackley(n):
    squares = " + ".join("x%d*x%d" % (i, i) for i in range(1, n + 1))
    cosines = " + ".join("cos(2*pi*x%d)" % i for i in range(1, n + 1))
    return "-20*exp(-0.2*sqrt((%s)/%d)) - exp((%s)/%d) + 20 + e" % (squares, n, cosines, n)


def griewank(n):
    squares = " + ".join("x%d*x%d" % (i, i) for i in range(1, n + 1))
    product = "*".join("cos(x%d/sqrt(%d))" % (i, i) for i in range(1, n + 1))
    return "1 + (%s)/4000 - %s" % (squares, product)


def schwefel(n):
    return "418.9829*%d - (%s)" % (n, " + ".join("x%d*sin(sqrt(abs(x%d)))" % (i, i)
                                                 for i in range(1, n + 1)))


FUNCTIONS = {
    "sphere": (-5.12, 5.12, 1e-4, sphere),
    "rosenbrock": (-2.048, 2.048, 10, rosenbrock),
    "rastrigin": (-5.12, 5.12, 1, rastrigin),
    "ackley": (-32.768, 32.768, 1e-2, ackley),
    "griewank": (-600, 600, 1e-2, griewank),
    "schwefel": (-500, 500, 1, schwefel),
}

# The genetic algorithm with its defaults, with the four options that matter most, and the
# other methods with theirs: keys of OPTIONS, and further sections.
METHODS = {
    "ga": ("", ""),
    "ga-tuned": ("", "[SELECTION]\ntournament=1\ntournament_size=10\nelite=1\n"
                     "[MUTATION]\nprobability=0.05\nnonuniform=1\nuniformity_coeff=10\n"),
    "cmaes": ("method=cmaes\n", ""),
    "de": ("method=de\n", ""),
}


def script(function, n, method, budget, population):
    lo, hi, _, formula = FUNCTIONS[function]
    options, sections = METHODS[method]
    variables = "".join("x%d=real[%g;%g]\n" % (i, lo, hi) for i in range(1, n + 1))
    return ("[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=%s\n[VARIABLES]\n%s[POPULATION]\nsize=%d\n"
            "[OPTIONS]\nmax_iteration=%d\n%s%s"
            % (formula(n), variables, population, budget // population, options, sections))


def best_value(batch, path, seed):
    r = subprocess.run([batch, "--quiet", "--seed", str(seed), "--report", "json", path],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=3600)
    if r.returncode != 0:
        sys.exit("zyl-batch failed on %s: %s" % (path, r.stderr.decode()[-300:]))
    return json.loads(r.stdout)["best"]["value"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build/release")
    parser.add_argument("--seeds", type=int, default=11)
    parser.add_argument("--methods", default="ga,ga-tuned,cmaes,de")
    parser.add_argument("--budgets", default="20000,100000")
    parser.add_argument("--functions", default=",".join(FUNCTIONS))
    parser.add_argument("--dims", default="10,30")
    parser.add_argument("--population", type=int, default=100)
    args = parser.parse_args()
    batch = os.path.join(args.build, "src", "zyl-batch")
    methods = args.methods.split(",")
    budgets = [int(b) for b in args.budgets.split(",")]
    pairs = [(f, int(d)) for f in args.functions.split(",") for d in args.dims.split(",")]
    results = {}  # (function, n, method, budget) -> list of best values
    work = tempfile.mkdtemp(prefix="zyl-methods-")
    started = time.monotonic()
    try:
        for budget in budgets:
            for function, n in pairs:
                for method in methods:
                    path = os.path.join(work, "task.txt")
                    with open(path, "w") as f:
                        f.write(script(function, n, method, budget, args.population))
                    results[(function, n, method, budget)] = [
                        best_value(batch, path, seed) for seed in range(1, args.seeds + 1)]
    finally:
        for name in os.listdir(work):
            os.remove(os.path.join(work, name))
        os.rmdir(work)

    for budget in budgets:
        print("\n%d evaluations: median best (runs within the target, of %d)" % (budget, args.seeds))
        print("%-14s" % "function" + "".join("%22s" % m for m in methods))
        for function, n in pairs:
            target = FUNCTIONS[function][2]
            cells = []
            for method in methods:
                values = results[(function, n, method, budget)]
                hits = sum(1 for v in values if v is not None and v <= target)
                cells.append("%13.4g (%2d)" % (statistics.median(values), hits))
            print("%-14s" % ("%s-%d" % (function, n)) + "".join("%22s" % c for c in cells))

    def median(function, n, method, budget):
        return statistics.median(results[(function, n, method, budget)])

    print()
    if "cmaes" in methods and "ga-tuned" in methods and 20000 in budgets:
        wins = [(f, n) for f, n in pairs
                if median(f, n, "cmaes", 20000) <= median(f, n, "ga-tuned", 20000)]
        print("cmaes at least as good as ga-tuned at 20000 evaluations on %d of %d pairs "
              "(target 10 of 12); not on: %s" % (len(wins), len(pairs), ", ".join(
                  "%s-%d" % p for p in pairs if p not in wins) or "none"))
        if ("rastrigin", 10) in pairs:
            hits = sum(1 for v in results[("rastrigin", 10, "cmaes", 20000)] if v <= 1)
            print("cmaes reaches 1 on rastrigin-10 in %d of %d runs (target 8 of 11)"
                  % (hits, args.seeds))
    if "de" in methods and 100000 in budgets and ("schwefel", 10) in pairs:
        hits = sum(1 for v in results[("schwefel", 10, "de", 100000)] if v <= 1)
        print("de within 1 of the minimum on schwefel-10 at 100000 evaluations in %d of %d runs "
              "(target 9 of 11)" % (hits, args.seeds))
    print("%.0f s" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
