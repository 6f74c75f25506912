// The multi-objective methods on the standard test problems: the median hypervolume (reference
// point 1.1 in every objective) of the final population's front over 11 seeds, at 25,000 and
// 50,000 evaluations, beside the targets; and the methods' own time on ZDT1 beside the
// genetic algorithm's breeding of a population of the same size.
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
    int variables;
    int objectives;
    // Bounds of the first variable and of the others.
    double firstLo, firstHi, restLo, restHi;
    std::function<void(const double*, double*)> evaluate;
    // The targets at 25,000 and 50,000 evaluations.
    double target25, target50;
};

double tail(const double* x, int from, int to)
{
    double s = 0;
    for (int i = from; i < to; ++i)
        s += x[i];
    return s;
}

std::vector<Problem> problems()
{
    auto zdt = [](double f1, double g, double h, double* f) {
        f[0] = f1;
        f[1] = g * h;
    };
    return {
        {"ZDT1", 30, 2, 0, 1, 0, 1,
         [zdt](const double* x, double* f) {
             const double g = 1 + 9 * tail(x, 1, 30) / 29;
             zdt(x[0], g, 1 - std::sqrt(x[0] / g), f);
         },
         0.8717, 0.8720},
        {"ZDT2", 30, 2, 0, 1, 0, 1,
         [zdt](const double* x, double* f) {
             const double g = 1 + 9 * tail(x, 1, 30) / 29;
             zdt(x[0], g, 1 - (x[0] / g) * (x[0] / g), f);
         },
         0.5382, 0.5388},
        {"ZDT3", 30, 2, 0, 1, 0, 1,
         [zdt](const double* x, double* f) {
             const double g = 1 + 9 * tail(x, 1, 30) / 29;
             const double r = x[0] / g;
             zdt(x[0], g, 1 - std::sqrt(r) - r * std::sin(10 * M_PI * x[0]), f);
         },
         1.3288, 1.3296},
        {"ZDT4", 10, 2, 0, 1, -5, 5,
         [zdt](const double* x, double* f) {
             double g = 1 + 10 * 9;
             for (int i = 1; i < 10; ++i)
                 g += x[i] * x[i] - 10 * std::cos(4 * M_PI * x[i]);
             zdt(x[0], g, 1 - std::sqrt(x[0] / g), f);
         },
         0.8670, 0.8716},
        {"ZDT6", 10, 2, 0, 1, 0, 1,
         [zdt](const double* x, double* f) {
             const double f1 = 1 - std::exp(-4 * x[0]) * std::pow(std::sin(6 * M_PI * x[0]), 6);
             const double g = 1 + 9 * std::pow(tail(x, 1, 10) / 9, 0.25);
             zdt(f1, g, 1 - (f1 / g) * (f1 / g), f);
         },
         0.4991, 0.5036},
        {"DTLZ2", 12, 3, 0, 1, 0, 1,
         [](const double* x, double* f) {
             double g = 0;
             for (int i = 2; i < 12; ++i)
                 g += (x[i] - 0.5) * (x[i] - 0.5);
             const double a = x[0] * M_PI / 2, b = x[1] * M_PI / 2;
             f[0] = (1 + g) * std::cos(a) * std::cos(b);
             f[1] = (1 + g) * std::cos(a) * std::sin(b);
             f[2] = (1 + g) * std::sin(a);
         },
         0.7447, 0.7456},
    };
}

struct Options {
    std::vector<ParetoMethod> methods{ParetoMethod::SmsEmoa, ParetoMethod::Nsga2};
    std::vector<std::string> problems;
    int seeds = 11;
    int size = 100;
    bool time = false;
    ParetoSettings settings;
};

/// Evaluates a batch of unit-box designs.
void evaluate(const Problem& p, const std::vector<double>& designs, int size,
              std::vector<double>& values)
{
    const auto n = static_cast<std::size_t>(p.variables);
    const auto m = static_cast<std::size_t>(p.objectives);
    values.resize(static_cast<std::size_t>(size) * m);
    std::vector<double> x(n);
    for (std::size_t i = 0; i < static_cast<std::size_t>(size); ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const double lo = j == 0 ? p.firstLo : p.restLo, hi = j == 0 ? p.firstHi : p.restHi;
            x[j] = lo + designs[i * n + j] * (hi - lo);
        }
        p.evaluate(x.data(), &values[i * m]);
    }
}

double frontHypervolume(const ParetoSearch& search)
{
    const Evaluations e = search.evaluations();
    std::vector<double> rows;
    for (int i : firstFront(e))
        rows.insert(rows.end(), e.row(static_cast<std::size_t>(i)),
                    e.row(static_cast<std::size_t>(i)) + e.objectives);
    const std::vector<double> reference(static_cast<std::size_t>(e.objectives), 1.1);
    return hypervolume(rows, e.objectives, reference);
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
    double at25 = 0, at50 = 0;
    double seconds = 0;
};

RunResult run(const Problem& p, ParetoMethod method, std::uint64_t seed, const Options& o)
{
    LcgRng rng(seed);
    const auto size = static_cast<std::size_t>(o.size);
    auto search = makeParetoSearch(method, o.size, p.objectives,
                                   std::vector<double>(static_cast<std::size_t>(p.variables), 0.0),
                                   o.settings);
    std::vector<double> designs(size * static_cast<std::size_t>(p.variables)), next, values;
    for (double& u : designs)
        u = detail::uniformOpen(rng);
    const std::vector<double> violations(size, 0.0);
    RunResult result;
    for (int evaluations = o.size; evaluations <= 50000; evaluations += o.size) {
        evaluate(p, designs, o.size, values);
        const double start = cpuSeconds();
        search->next(designs, {values, violations, p.objectives}, rng, next);
        result.seconds += cpuSeconds() - start;
        designs.swap(next);
        if (evaluations == 25000)
            result.at25 = frontHypervolume(*search);
        if (evaluations == 50000)
            result.at50 = frontHypervolume(*search);
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
    const Problem zdt1 = problems()[0];
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
    int missed = 0;
    std::printf("%-8s %-8s %9s %9s %4s %9s %9s %4s\n", "problem", "method", "25,000", "target",
                "met", "50,000", "target", "met");
    for (const Problem& p : problems()) {
        if (!o.problems.empty() &&
            std::find(o.problems.begin(), o.problems.end(), p.name) == o.problems.end())
            continue;
        for (ParetoMethod method : o.methods) {
            std::vector<double> at25, at50;
            for (int s = 1; s <= o.seeds; ++s) {
                const RunResult r = run(p, method, static_cast<std::uint64_t>(s), o);
                at25.push_back(r.at25);
                at50.push_back(r.at50);
            }
            const double m25 = median(at25), m50 = median(at50);
            const bool met25 = m25 >= p.target25, met50 = m50 >= p.target50;
            missed += !met25 + !met50;
            std::printf("%-8s %-8s %9.6f %9.4f %4s %9.6f %9.4f %4s\n", p.name,
                        std::string(paretoMethodName(method)).c_str(), m25, p.target25,
                        met25 ? "yes" : "no", m50, p.target50, met50 ? "yes" : "no");
            std::fflush(stdout);
        }
    }
    return missed == 0 ? 0 : 1;
}
