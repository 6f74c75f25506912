#pragma once

#include "common/Rng.h"
#include "engine/Buffer.h"
#include "engine/Indiv.h"
#include "engine/Method.h"
#include "engine/Variable.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zyl {

class ConstraintFormulas;
struct Objectives;

/// The engine object of one optimisation task: every genetic-algorithm parameter, the
/// counters, the statistics of the latest generation, the population, the remembered extremes
/// and the buffer. The loader constructs it and then overwrites the parameters from the script.
///
/// Every random draw comes from the generator given at construction, which the object does not
/// own; the order of draws is part of the behaviour (a seeded run repeats exactly).
class ZYL {
public:
    // ---- Parameters (construction values are the defaults of a task) ----
    /// Probability that a pair of children is crossed.
    double crossProb = 0.7;
    /// Probability that one variable of one child is mutated.
    double mutProb = 0.15;
    /// Per-variable exchange probability of uniform crossover.
    double crossUnifProb = 0.5;
    /// Generations completed.
    std::int32_t generation = 0;
    /// Generation limit of the whole task.
    std::int32_t maxIteration = 100;
    bool maximise = false;
    /// Always false in a run: the loader rejects a variable population size.
    bool variablePopSize = false;
    bool bufferIndividuals = false;
    bool elite = false;
    /// Variables mutated and pairs crossed so far in the task. 64-bit: a long task with a large
    /// population and many variables passes 2^31 mutations.
    std::int64_t mutations = 0;
    std::int64_t crossovers = 0;
    /// Fixed at construction; population.size() always equals it.
    const std::int32_t popSize;
    /// 0 roulette (not available; breed refuses it), 1 tournament.
    std::int32_t selection = 1;
    /// 0 uniform, any other value nonuniform.
    std::int32_t mutationType = 1;
    /// 0 multipoint, 2 uniform, any other value arithmetical.
    std::int32_t crossoverType = 1;
    std::int32_t tourSize = 3;
    std::int32_t crossPoints = 1;
    /// The search method and the parameters of the methods other than the genetic algorithm.
    /// Changing the method between generations starts the new one from the population at hand.
    MethodSettings methodSettings;

    // ---- Statistics of the latest generation, filled by the statistics pass ----
    std::int32_t different = 0;
    double average = 0, stdDev = 0, meanDev = 0, medianDev = 0, range = 0;
    double q1 = 0, q2 = 0, q3 = 0, iqr = 0, entropy = 0, discrepancy = 0;

    // ---- Individuals ----
    /// The individual the loader built, with randomly initialised values.
    Indiv templateIndiv;
    /// The current generation, popSize individuals.
    std::vector<Indiv> population;
    /// Largest and smallest individual seen in the task; their values start at -DBL_MAX and
    /// +DBL_MAX so that the first statistics pass replaces them.
    Indiv globalMax, globalMin;
    /// Largest and smallest individual of the latest evaluated generation.
    Indiv currentMax, currentMin;
    /// One record per variable, in the order of the VARIABLES section.
    std::vector<VariableRange> ranges;
    /// The variable names (the keys of VARIABLES).
    std::vector<std::string> names;
    Buffer buffer;

    // ---- Constraints (none unless setConstraints) ----
    /// One name per constraint: the CONSTRAINTS keys, then those of the external program's
    /// values.
    std::vector<std::string> constraintNames;
    /// A constraint value up to this counts as met.
    double constraintTolerance = 0;
    /// Of the latest evaluated generation: how many designs are feasible, and the smallest
    /// violation. Without constraints every design is feasible and the violation 0.
    std::int32_t feasible = 0;
    double minViolation = 0;
    /// The CONSTRAINTS formulas of an analytical or manual task (the first of
    /// constraintNames); null when the section is empty.
    std::shared_ptr<ConstraintFormulas> constraintFormulas;
    /// An external task checks the CONSTRAINTS formulas before its program runs, and sends it
    /// no design that breaks one (FUNCTION prescreen); never without the formulas.
    bool prescreen = false;
    /// Of the latest evaluated generation, with prescreen: how many designs were ruled out
    /// before evaluation.
    std::int32_t screened = 0;

    // ---- Several objectives (none unless the task has two or more) ----
    /// Their names, directions and formulas, and the front the run has found.
    std::unique_ptr<Objectives> objectives;
    bool multiObjective() const { return objectives != nullptr; }

    /// Builds the population from copies of `templateIndiv` and gives each variable a random
    /// starting value, individual by individual, variable by variable.
    /// \throws std::invalid_argument when popSize < 1, when `names` or `ranges` do not have one
    /// entry per variable of the template, or when the template has an empty entry.
    ZYL(int popSize, Indiv templateIndiv, std::vector<std::string> names,
        std::vector<VariableRange> ranges, Rng& rng);
    ZYL(const ZYL&) = delete;
    ZYL& operator=(const ZYL&) = delete;

    ~ZYL();

    /// Number of decision variables.
    int count() const { return templateIndiv.count(); }

    bool constrained() const { return !constraintNames.empty(); }
    /// Makes the task a constrained one. The remembered best designs start as the worst
    /// possible (an infinite violation), so that the first generation's best replaces them
    /// even when it is infeasible.
    void setConstraints(std::vector<std::string> names, double tolerance);
    /// Gives `ind` these constraint values (one per constraint name) and its violation.
    void setConstraintValues(Indiv& ind, const double* values) const;
    /// Rules `ind` out before evaluation with the values of the CONSTRAINTS formulas (the first
    /// `constraintFormulas->count()` constraints): it becomes an evaluated, screened design
    /// without an objective value, whose program constraints are unknown (NaN) and whose
    /// violation is that of the formulas' values alone, by which it ranks among its kind.
    void screen(Indiv& ind, const double* sectionValues) const;
    /// The names of the CONSTRAINTS formulas that ruled a screened design out (a value above
    /// the tolerance, or not a number), separated by ", ".
    std::string ruledOutBy(const Indiv& ind) const;
    /// A new tolerance between generations: every remembered design (the population, the
    /// extremes, the buffer) has its violation computed again from its constraint values.
    void changeConstraintTolerance(double tolerance);
    /// The violation of these constraint values (see Indiv::violation).
    double violationOf(const double* values, std::size_t count) const;
    Rng& rng() const { return *m_rng; }
    /// Replaces the generator (for example with a seeded one before a repeatable run).
    void setRng(Rng& rng)
    {
        m_rng = &rng;
        m_lcg = dynamic_cast<LcgRng*>(&rng);
    }

    /// The one order of individuals that every method, selection, the elite and the
    /// statistics rank by: true when `a` is strictly better than `b`. A feasible design beats
    /// an infeasible one and two infeasible ones rank by the smaller violation (equal
    /// violations rank alike); two feasible ones rank by value (the smaller, or the larger
    /// when maximising), where a value that is not a number ranks after every number, and two
    /// of them rank alike. A screened design ranks after every design that was evaluated,
    /// whatever its violation: its own is only part of one (the program's constraints are
    /// unknown). Two screened ones rank by their violations.
    bool better(const Indiv& a, const Indiv& b) const
    {
        if (a.screened != b.screened) [[unlikely]]
            return b.screened;
        return better(a.value, a.violation, b.value, b.violation);
    }
    /// The same order on a design's value and violation alone.
    bool better(double x, double xViolation, double y, double yViolation) const
    {
        return better(maximise, x, xViolation, y, yViolation);
    }
    /// The same order for a task that maximises or not, for those that keep rankings apart
    /// from the task.
    static bool better(bool maximise, double x, double xViolation, double y, double yViolation)
    {
        // Without constraints both violations are 0: one test more, nothing else.
        if (xViolation != 0 || yViolation != 0)
            return xViolation < yViolation;
        if (maximise ? x > y : x < y)
            return true;
        return std::isnan(y) && !std::isnan(x);
    }

    /// One tournament of max(1, tourSize) contestants drawn with replacement; returns the
    /// index of the winner in `population`. Strict comparisons: on equal values the earlier
    /// contestant stays the winner.
    int tournamentSelect();

    /// Crosses two individuals in place with probability crossProb and counts the pair in
    /// `crossovers`. Exchanging moves variable objects, so every position keeps its class.
    /// `value` and `evaluated` are not touched.
    void crossPair(Indiv& a, Indiv& b);

    /// The mutation pass over one individual: each variable j in order, with probability
    /// mutProb, is mutated with ranges[j] at t = generation, T = maxIteration and counted.
    void mutate(Indiv& ind);

    /// Copies globalMax (maximising) or globalMin over the member at randomIndex(popSize).
    void insertElite();

    /// bufferLookup: on a hit the buffered copy (variables, value, evaluated flag) replaces
    /// `ind`.
    bool bufferLookup(Indiv& ind) const { return buffer.lookup(ind); }

    /// After an evaluation: when the buffer is on and holds an equal individual, `ind` takes
    /// the buffered copy; otherwise a copy of `ind` becomes the newest entry, which is returned
    /// so that the caller can show it. Returns nullptr when nothing was added.
    const Indiv* recordInBuffer(Indiv& ind);

    /// Replaces the population, every member evaluated, by the next generation of the method of
    /// `methodSettings`: breed() for the genetic algorithm. Does not advance `generation`.
    bool nextGeneration(const std::atomic<bool>* stop = nullptr);
    /// In a task with several objectives, the first step once a generation is evaluated: the
    /// archive and the reference point take its designs, the method keeps its population (its
    /// selection, which the next generation is then bred from) and the front statistics are
    /// computed. Nothing in a task with one objective; a generation is taken once.
    /// \throws Exception when the method is not one for several objectives.
    void takeGeneration();

    /// The genetic algorithm's next generation: selection, crossover of the pairs
    /// (0, 1), (2, 3), ..., mutation, elite, then prepareForEvaluation().
    /// `stop` is looked at about once per million steps (contestants, cut points, variables):
    /// when it is set, the breeding is abandoned, the population stays as it was and false is
    /// returned. A breeding shorter than that never looks, so its draws cannot depend on it.
    /// \throws Exception "Roulette selection. Not implemented yet." when selection is 0; the
    /// population is then unchanged.
    bool breed(const std::atomic<bool>* stop = nullptr);

    /// Marks every member unevaluated (and not screened) and, with the buffer on, gives each
    /// the buffered value when there is one.
    void prepareForEvaluation();

    /// The state of the method between two generations, for a run store: empty while the
    /// method of `methodSettings` has not bred a generation yet.
    MethodState methodState() const;
    /// Makes the method of `methodSettings` continue from `state` (empty: as new).
    /// \throws Exception when the state does not fit; the method is then as new.
    void restoreMethod(const MethodState& state);

private:
    /// Counts the steps of a breeding and looks at the stop flag now and then.
    class StopPoll {
    public:
        explicit StopPoll(const std::atomic<bool>* stop) : m_stop(stop) {}
        /// True when a stop was requested; reads the flag once per `interval` steps.
        bool step(std::uint64_t steps = 1)
        {
            m_steps += steps;
            if (!m_stop || m_steps < m_nextLook)
                return false;
            m_nextLook = m_steps + interval;
            return m_stop->load(std::memory_order_relaxed);
        }

    private:
        static constexpr std::uint64_t interval = 1u << 20;
        const std::atomic<bool>* m_stop;
        std::uint64_t m_steps = 0;
        std::uint64_t m_nextLook = interval;
    };

    /// tournamentSelect, or -1 when `poll` reports a stop.
    int tournamentSelect(StopPoll& poll);
    /// crossPair; false when `poll` reports a stop (the pair is then partly crossed).
    bool crossPair(Indiv& a, Indiv& b, StopPoll& poll);
    // The same with the generator's own type: the program's generator (LcgRng, a final
    // class) then has its draws inlined, which breeding does a few thousand times a
    // generation. The draws are the same as through Rng.
    template <class G> int tournamentWith(G& rng, StopPoll& poll);
    template <class G> bool crossPairWith(G& rng, Indiv& a, Indiv& b, StopPoll& poll);
    template <class G> void mutateWith(G& rng, Indiv& ind);

    Rng* m_rng;
    LcgRng* m_lcg;
    std::unique_ptr<SearchMethod> m_method;
    // The generation being bred; kept between generations so that breeding reuses the
    // individuals' storage instead of allocating anew.
    std::vector<Indiv> m_next;
};

} // namespace zyl
