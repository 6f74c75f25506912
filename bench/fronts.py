#!/usr/bin/env python3
"""The multi-objective methods through zyl-batch on the standard test problems ZDT1, ZDT2, ZDT3
(30 variables), ZDT4, ZDT6 (10 variables) and DTLZ2 (3 objectives, 12 variables): population
100, seeds 1 to 11, the hypervolume of the front that zyl-batch reports (--report json) against
the reference point 1.1 in every objective, median over the seeds, at 25,000 and 50,000
evaluations (the first population counted), beside the targets. With --time, the CPU time of
whole runs of 50,000 evaluations of ZDT1 against the genetic algorithm on one objective of the
same shape, as bench/time-methods.py measures (the median of the rounds' ratios).

Usage: bench/fronts.py [BUILD_DIR] [--methods smsemoa,nsga2] [--problems ZDT1,...]
                       [--seeds N] [--jobs N] [--time [ROUNDS]]"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REFERENCE = 1.1
# The hypervolumes to reach at 25,000 and 50,000 evaluations.
TARGETS = {"ZDT1": (0.8717, 0.8720), "ZDT2": (0.5382, 0.5388), "ZDT3": (1.3288, 1.3296),
           "ZDT4": (0.8670, 0.8716), "ZDT6": (0.4991, 0.5036), "DTLZ2": (0.7447, 0.7456)}


def zdt(n, lo, hi, g, f1, f2):
    variables = ["x1=real[0;1]"] + ["x%d=real[%g;%g]" % (i, lo, hi) for i in range(2, n + 1)]
    return variables, ["g=" + g], ["f1=" + f1, "f2=" + f2]


def problems():
    rest = lambda n: "+".join("x%d" % i for i in range(2, n + 1))
    linear = "1+9*(%s)/29" % rest(30)
    return {
        "ZDT1": zdt(30, 0, 1, linear, "x1", "g*(1-sqrt(x1/g))"),
        "ZDT2": zdt(30, 0, 1, linear, "x1", "g*(1-(x1/g)^2)"),
        "ZDT3": zdt(30, 0, 1, linear, "x1", "g*(1-sqrt(x1/g)-x1/g*sin(10*pi*x1))"),
        "ZDT4": zdt(10, -5, 5,
                    "91+" + "+".join("x%d^2-10*cos(4*pi*x%d)" % (i, i) for i in range(2, 11)),
                    "x1", "g*(1-sqrt(x1/g))"),
        "ZDT6": (["x%d=real[0;1]" % i for i in range(1, 11)],
                 ["g=1+9*((%s)/9)^0.25" % rest(10), "h=1-exp(-4*x1)*sin(6*pi*x1)^6"],
                 ["f1=h", "f2=g*(1-(h/g)^2)"]),
        "DTLZ2": (["x%d=real[0;1]" % i for i in range(1, 13)],
                  ["g=1+" + "+".join("(x%d-0.5)^2" % i for i in range(3, 13))],
                  ["f1=g*cos(x1*pi/2)*cos(x2*pi/2)", "f2=g*cos(x1*pi/2)*sin(x2*pi/2)",
                   "f3=g*sin(x1*pi/2)"]),
    }


def script(problem, method, generations):
    variables, equations, objectives = problems()[problem]
    return "\n".join(["[FUNCTION]", "analytical=1", "[EQUATIONS]"] + equations +
                     ["[OBJECTIVES]"] + objectives + ["[VARIABLES]"] + variables +
                     ["[POPULATION]", "size=100", "[OPTIONS]",
                      "max_iteration=%d" % generations, "method=" + method,
                      "hv_reference=" + ";".join(["%g" % REFERENCE] * len(objectives))]) + "\n"


def hypervolume(points, reference):
    """Exact: two objectives by a sweep, three by slices along the third."""
    points = [p for p in points if all(x < r for x, r in zip(p, reference))]
    if len(reference) == 2:
        volume, height = 0.0, reference[1]
        for x, y in sorted(points):
            if y < height:
                volume += (reference[0] - x) * (height - y)
                height = y
        return volume
    points.sort(key=lambda p: p[2])
    volume = 0.0
    for i, p in enumerate(points):
        top = points[i + 1][2] if i + 1 < len(points) else reference[2]
        if top > p[2]:
            volume += (top - p[2]) * hypervolume([q[:2] for q in points[:i + 1]], reference[:2])
    return volume


def front_volume(batch, path, seed):
    r = subprocess.run([batch, "--quiet", "--seed", str(seed), "--report", "json", path],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
    report = json.loads(r.stdout)
    points = [list(d["objectives"].values()) for d in report["front"] if d["feasible"]]
    return hypervolume(points, [REFERENCE] * len(points[0]))


def cpu(batch, path):
    p = subprocess.Popen([batch, path, "--quiet", "--seed", "1"], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    if status != 0:
        sys.exit("zyl-batch failed on " + path)
    return usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--methods", default="smsemoa,nsga2")
    parser.add_argument("--problems", default=",".join(TARGETS))
    parser.add_argument("--seeds", type=int, default=11)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--time", type=int, nargs="?", const=21, default=0)
    args = parser.parse_args()
    batch = os.path.join(args.build, "src", "zyl-batch")
    with tempfile.TemporaryDirectory() as work:
        if args.time:
            # The same variables and the same formula g*(1-sqrt(x1/g)) as one objective.
            variables, equations, objectives = problems()["ZDT1"]
            ga = "\n".join(["[FUNCTION]", "analytical=1", "[EQUATIONS]"] + equations +
                           ["f=" + objectives[1].split("=", 1)[1], "[VARIABLES]"] + variables +
                           ["[POPULATION]", "size=100", "[OPTIONS]", "max_iteration=500"]) + "\n"
            paths = {"ga": os.path.join(work, "ga.txt")}
            open(paths["ga"], "w").write(ga)
            methods = args.methods.split(",")
            for m in methods:
                paths[m] = os.path.join(work, m + ".txt")
                open(paths[m], "w").write(script("ZDT1", m, 500))
            times = {m: [] for m in paths}
            for _ in range(args.time):
                for m in paths:
                    times[m].append(cpu(batch, paths[m]))
            for m in methods:
                ratio = statistics.median(t / g for t, g in zip(times[m], times["ga"]))
                print("ZDT1, 50,000 evaluations: %s best %.3f s, ga best %.3f s; median ratio %.2f"
                      % (m, min(times[m]), min(times["ga"]), ratio))
            return
        jobs = []
        for method in args.methods.split(","):
            for problem in args.problems.split(","):
                for generations in (250, 500):
                    path = os.path.join(work, "%s-%s-%d.txt" % (problem, method, generations))
                    open(path, "w").write(script(problem, method, generations))
                    jobs += [(method, problem, generations, path, s)
                             for s in range(1, args.seeds + 1)]
        with ThreadPoolExecutor(args.jobs) as pool:
            volumes = list(pool.map(lambda j: front_volume(batch, j[3], j[4]), jobs))
        results = {}
        for (method, problem, generations, _, _), v in zip(jobs, volumes):
            results.setdefault((method, problem, generations), []).append(v)
        print("| method | problem | 25,000 | target | 50,000 | target |")
        print("|---|---|---|---|---|---|")
        for method in args.methods.split(","):
            for problem in args.problems.split(","):
                cells = []
                for k, generations in enumerate((250, 500)):
                    median = statistics.median(results[(method, problem, generations)])
                    target = TARGETS[problem][k]
                    cells += ["%.5f" % median, "%.4f %s" % (target, "met" if median >= target
                                                             else "NOT met")]
                print("| %s | %s | %s |" % (method, problem, " | ".join(cells)))


if __name__ == "__main__":
    main()
