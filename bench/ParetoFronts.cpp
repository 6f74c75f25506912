// The multi-objective methods on the standard test problems: the median hypervolume (reference
// point 1.1 in every objective) of the final population's front over 11 seeds, population 100,
// at 25,000 and 50,000 evaluations (the first population counted), beside the targets; the
// disc brake, a constrained problem with a whole-numbered variable, with its front's extremes
// and feasibility; and the methods' own processor time on ZDT1 beside the genetic algorithm's
// breeding of a population of the same size.
//
//   build/release/bench/ParetoFronts                    every problem, both methods
//   build/release/bench/ParetoFronts --methods smsemoa --problems ZDT4,ZDT6 --seeds 5
//   build/release/bench/ParetoFronts --time             the cost of 50,000 evaluations of ZDT1
//
// Operator settings (see ParetoSettings): --crossover P --crossover-index E --mutation-index E
// --mutations N (0: the method's own).
#include "engine/Dominance.h"
#include "engine/Hypervolume.h"
#include "engine/Method.h"
#include "engine/ParetoSearch.h"
#include "engine/Zyl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <time.h>

using namespace zyl;

namespace {

struct Problem {
    const char* name;
    // Per variable: its bounds, and whether it takes whole values.
    std::vector<double> lo, hi;
    std::vector<char> whole;
    int objectives;
    // Writes the objective values and returns the violation.
    std::function<double(const double*, double*)> evaluate;
    double reference;
    // The targets at 25,000 and 50,000 evaluations (none: 0).
    double target25, target50;
};

double tail(const double* x, int from, int to)
{
    double s = 0;
    for (int i = from; i < to; ++i)
        s += x[i];
    return s;
}

/// A problem of n real variables, the first within [firstLo; firstHi], the others within
/// [lo; hi].
Problem reals(const char* name, int n, double firstLo, double firstHi, double lo, double hi,
              int objectives, std::function<double(const double*, double*)> evaluate,
              double target25, double target50)
{
    Problem p{name,
              std::vector<double>(static_cast<std::size_t>(n), lo),
              std::vector<double>(static_cast<std::size_t>(n), hi),
              std::vector<char>(static_cast<std::size_t>(n), 0),
              objectives,
              std::move(evaluate),
              1.1,
              target25,
              target50};
    p.lo[0] = firstLo;
    p.hi[0] = firstHi;
    return p;
}

std::vector<Problem> problems()
{
    auto zdt = [](double f1, double g, double h, double* f) {
        f[0] = f1;
        f[1] = g * h;
        return 0.0;
    };
    std::vector<Problem> all{
        reals(
            "ZDT1", 30, 0, 1, 0, 1, 2,
            [zdt](const double* x, double* f) {
                const double g = 1 + 9 * tail(x, 1, 30) / 29;
                return zdt(x[0], g, 1 - std::sqrt(x[0] / g), f);
            },
            0.8717, 0.8720),
        reals(
            "ZDT2", 30, 0, 1, 0, 1, 2,
            [zdt](const double* x, double* f) {
                const double g = 1 + 9 * tail(x, 1, 30) / 29;
                return zdt(x[0], g, 1 - (x[0] / g) * (x[0] / g), f);
            },
            0.5382, 0.5388),
        reals(
            "ZDT3", 30, 0, 1, 0, 1, 2,
            [zdt](const double* x, double* f) {
                const double g = 1 + 9 * tail(x, 1, 30) / 29;
                const double r = x[0] / g;
                return zdt(x[0], g, 1 - std::sqrt(r) - r * std::sin(10 * M_PI * x[0]), f);
            },
            1.3288, 1.3296),
        reals(
            "ZDT4", 10, 0, 1, -5, 5, 2,
            [zdt](const double* x, double* f) {
                double g = 1 + 10 * 9;
                for (int i = 1; i < 10; ++i)
                    g += x[i] * x[i] - 10 * std::cos(4 * M_PI * x[i]);
                return zdt(x[0], g, 1 - std::sqrt(x[0] / g), f);
            },
            0.8670, 0.8716),
        reals(
            "ZDT6", 10, 0, 1, 0, 1, 2,
            [zdt](const double* x, double* f) {
                const double f1 = 1 - std::exp(-4 * x[0]) * std::pow(std::sin(6 * M_PI * x[0]), 6);
                const double g = 1 + 9 * std::pow(tail(x, 1, 10) / 9, 0.25);
                return zdt(f1, g, 1 - (f1 / g) * (f1 / g), f);
            },
            0.4991, 0.5036),
        reals(
            "DTLZ2", 12, 0, 1, 0, 1, 3,
            [](const double* x, double* f) {
                double g = 0;
                for (int i = 2; i < 12; ++i)
                    g += (x[i] - 0.5) * (x[i] - 0.5);
                const double a = x[0] * M_PI / 2, b = x[1] * M_PI / 2;
                f[0] = (1 + g) * std::cos(a) * std::cos(b);
                f[1] = (1 + g) * std::cos(a) * std::sin(b);
                f[2] = (1 + g) * std::sin(a);
                return 0.0;
            },
            0.7447, 0.7456),
    };
    // The disc brake: inner and outer radius (mm), engaging force (N), and the number of
    // friction surfaces, a whole number; mass (kg) against stopping time (s), five
    // constraints. Its front runs from (0.1274, 16.65) to (2.793, 2.071).
    all.push_back({"DISC",
                   {55, 75, 1000, 2},
                   {80, 110, 3000, 20},
                   {0, 0, 0, 1},
                   2,
                   [](const double* x, double* f) {
                       const double a2 = x[1] * x[1] - x[0] * x[0];
                       const double a3 = x[1] * x[1] * x[1] - x[0] * x[0] * x[0];
                       f[0] = 4.9e-5 * a2 * (x[3] - 1);
                       f[1] = 9.82e6 * a2 / (x[2] * x[3] * a3);
                       // Each constraint as g >= 0; the violation adds up the shortfalls.
                       const double g[5] = {x[1] - x[0] - 20, 30 - 2.5 * (x[3] + 1),
                                            0.4 - x[2] / (3.14 * a2),
                                            1 - 2.22e-3 * x[2] * a3 / (a2 * a2),
                                            2.66e-2 * x[2] * x[3] * a3 / a2 - 900};
                       double violation = 0;
                       for (double v : g)
                           violation += std::max(0.0, -v);
                       return violation;
                   },
                   20,
                   0,
                   0});
    return all;
}

struct Options {
    std::vector<ParetoMethod> methods{ParetoMethod::SmsEmoa, ParetoMethod::Nsga2};
    std::vector<std::string> problems;
    int seeds = 11;
    int size = 100;
    bool time = false;
    ParetoSettings settings;
};

/// The spacing of each variable in coordinates (UnitBox::spacing).
std::vector<double> spacing(const Problem& p)
{
    std::vector<double> s(p.lo.size(), 0.0);
    for (std::size_t j = 0; j < s.size(); ++j)
        if (p.whole[j])
            s[j] = 1 / (p.hi[j] - p.lo[j]);
    return s;
}

/// Evaluates a batch of unit-box designs.
void evaluate(const Problem& p, const std::vector<double>& designs, int size,
              std::vector<double>& values, std::vector<double>& violations)
{
    const std::size_t n = p.lo.size();
    const auto m = static_cast<std::size_t>(p.objectives);
    values.resize(static_cast<std::size_t>(size) * m);
    violations.resize(static_cast<std::size_t>(size));
    std::vector<double> x(n);
    for (std::size_t i = 0; i < static_cast<std::size_t>(size); ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            x[j] = p.lo[j] + designs[i * n + j] * (p.hi[j] - p.lo[j]);
            if (p.whole[j])
                x[j] = std::round(x[j]);
        }
        violations[i] = p.evaluate(x.data(), &values[i * m]);
    }
}

/// The final population's front: its hypervolume against the problem's reference point,
/// how many of its designs are feasible, and its least value of each objective.
struct Front {
    double hypervolume = 0;
    std::size_t size = 0, feasible = 0;
    std::vector<double> least;
};

Front front(const Problem& p, const ParetoSearch& search)
{
    const Evaluations e = search.evaluations();
    Front result;
    std::vector<double> rows;
    result.least.assign(static_cast<std::size_t>(e.objectives), INFINITY);
    for (int i : firstFront(e)) {
        const double* row = e.row(static_cast<std::size_t>(i));
        rows.insert(rows.end(), row, row + e.objectives);
        ++result.size;
        result.feasible += e.violations[static_cast<std::size_t>(i)] == 0;
        for (std::size_t k = 0; k < result.least.size(); ++k)
            result.least[k] = std::min(result.least[k], row[k]);
    }
    const std::vector<double> reference(static_cast<std::size_t>(e.objectives), p.reference);
    result.hypervolume =
        result.feasible == result.size ? hypervolume(rows, e.objectives, reference) : 0;
    return result;
}

/// The thread's processor time in seconds: less disturbed than the wall clock by the other work
/// of a shared machine.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct RunResult {
    Front at25, at50;
    double seconds = 0;
};

RunResult run(const Problem& p, ParetoMethod method, std::uint64_t seed, const Options& o)
{
    LcgRng rng(seed);
    const auto size = static_cast<std::size_t>(o.size);
    const std::vector<double> spacings = spacing(p);
    auto search = makeParetoSearch(method, o.size, p.objectives, spacings, o.settings);
    std::vector<double> designs(size * spacings.size()), next, values, violations;
    for (std::size_t k = 0; k < designs.size(); ++k) {
        const double s = spacings[k % spacings.size()];
        designs[k] = detail::uniformOpen(rng);
        if (s > 0)
            designs[k] = std::min(1.0, std::round(designs[k] / s) * s);
    }
    RunResult result;
    for (int evaluations = o.size; evaluations <= 50000; evaluations += o.size) {
        evaluate(p, designs, o.size, values, violations);
        const double start = cpuSeconds();
        search->next(designs, {values, violations, p.objectives}, rng, next);
        result.seconds += cpuSeconds() - start;
        designs.swap(next);
        if (evaluations == 25000)
            result.at25 = front(p, *search);
        if (evaluations == 50000)
            result.at50 = front(p, *search);
    }
    return result;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}

/// The genetic algorithm's breeding of 500 generations of 100 designs of 30 real variables
/// (its defaults), with values that cost nothing: seconds.
double geneticAlgorithmSeconds(std::uint64_t seed)
{
    LcgRng rng(seed);
    Indiv templateIndiv(30);
    std::vector<std::string> names;
    std::vector<VariableRange> ranges;
    for (int j = 0; j < 30; ++j) {
        templateIndiv.setGene(j, std::make_unique<Floating_>(0.0));
        names.push_back("x" + std::to_string(j + 1));
        VariableRange range;
        range.realHi = 1;
        ranges.push_back(range);
    }
    ZYL zyl(100, std::move(templateIndiv), names, ranges, rng);
    zyl.maxIteration = 500;
    double seconds = 0;
    for (int g = 0; g < 500; ++g) {
        for (Indiv& ind : zyl.population) {
            ind.value = ind.gene(0)->getValue() + ind.gene(1)->getValue();
            ind.evaluated = true;
        }
        const double start = cpuSeconds();
        zyl.nextGeneration();
        seconds += cpuSeconds() - start;
        zyl.generation++;
    }
    return seconds;
}

void timeMethods(const Options& o)
{
    const Problem zdt1 = problems().front();
    std::vector<double> ga;
    for (int s = 1; s <= o.seeds; ++s)
        ga.push_back(geneticAlgorithmSeconds(static_cast<std::uint64_t>(s)));
    std::printf("ga breeding, 500 generations of 100 (30 reals): median %.1f ms, %.1f us a "
                "generation\n",
                median(ga) * 1e3, median(ga) * 1e6 / 500);
    for (ParetoMethod method : o.methods) {
        std::vector<double> seconds;
        for (int s = 1; s <= o.seeds; ++s)
            seconds.push_back(run(zdt1, method, static_cast<std::uint64_t>(s), o).seconds);
        std::printf("%s on ZDT1, 50,000 evaluations: median %.1f ms, %.1f us a generation "
                    "(%.2f times ga)\n",
                    std::string(paretoMethodName(method)).c_str(), median(seconds) * 1e3,
                    median(seconds) * 1e6 / 500, median(seconds) / median(ga));
    }
}

bool parse(int argc, char** argv, Options& o)
{
    auto list = [](const std::string& text) {
        std::vector<std::string> items;
        std::size_t from = 0;
        while (from <= text.size()) {
            const std::size_t comma = std::min(text.find(',', from), text.size());
            items.push_back(text.substr(from, comma - from));
            from = comma + 1;
        }
        return items;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--time") {
            o.time = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        if (arg == "--methods") {
            o.methods.clear();
            for (const std::string& name : list(value)) {
                const auto method = paretoMethodByName(name);
                if (!method)
                    return false;
                o.methods.push_back(*method);
            }
        } else if (arg == "--problems") {
            o.problems = list(value);
        } else if (arg == "--seeds") {
            o.seeds = std::atoi(value.c_str());
        } else if (arg == "--crossover") {
            o.settings.crossover = std::atof(value.c_str());
        } else if (arg == "--crossover-index") {
            o.settings.crossoverIndex = std::atof(value.c_str());
        } else if (arg == "--mutation-index") {
            o.settings.mutationIndex = std::atof(value.c_str());
        } else if (arg == "--mutations") {
            o.settings.mutations = std::atof(value.c_str());
        } else {
            return false;
        }
    }
    return o.seeds > 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: ParetoFronts [--methods nsga2,smsemoa] [--problems ZDT1,...] "
                             "[--seeds N] [--time] [operator settings]\n");
        return 2;
    }
    if (o.time) {
        timeMethods(o);
        return 0;
    }
    std::printf("%-8s %-8s %9s %9s %4s %9s %9s %4s\n", "problem", "method", "25,000", "target",
                "met", "50,000", "target", "met");
    std::vector<std::string> notes;
    for (const Problem& p : problems()) {
        if (!o.problems.empty() &&
            std::find(o.problems.begin(), o.problems.end(), p.name) == o.problems.end())
            continue;
        for (ParetoMethod method : o.methods) {
            std::vector<double> at25, at50;
            std::size_t worstFeasible = o.size;
            std::vector<double> least(static_cast<std::size_t>(p.objectives), INFINITY);
            for (int s = 1; s <= o.seeds; ++s) {
                const RunResult r = run(p, method, static_cast<std::uint64_t>(s), o);
                at25.push_back(r.at25.hypervolume);
                at50.push_back(r.at50.hypervolume);
                worstFeasible = std::min(worstFeasible, r.at50.feasible);
                for (std::size_t k = 0; k < least.size(); ++k)
                    least[k] = std::min(least[k], r.at50.least[k]);
            }
            const double m25 = median(at25), m50 = median(at50);
            const std::string name(paretoMethodName(method));
            auto cell = [](double value, double target) {
                char text[64];
                if (target > 0)
                    std::snprintf(text, sizeof text, "%9.6f %9.4f %4s", value, target,
                                  value >= target ? "yes" : "no");
                else
                    std::snprintf(text, sizeof text, "%9.6f %9s %4s", value, "-", "-");
                return std::string(text);
            };
            std::printf("%-8s %-8s %s %s\n", p.name, name.c_str(), cell(m25, p.target25).c_str(),
                        cell(m50, p.target50).c_str());
            std::fflush(stdout);
            if (p.target25 == 0) {
                char note[256];
                std::snprintf(note, sizeof note,
                              "%s %s: reference point %g; at 50,000 the fewest feasible designs "
                              "in a final front %zu; the least objective values over the seeds "
                              "%.4f, %.4f",
                              p.name, name.c_str(), p.reference, worstFeasible, least[0], least[1]);
                notes.push_back(note);
            }
        }
    }
    for (const std::string& note : notes)
        std::printf("%s\n", note.c_str());
    return 0;
}
