#pragma once

#include "common/Rng.h"
#include "engine/Dominance.h"
#include "engine/Method.h"

#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zyl {

/// The multi-objective methods. The numbers are kept in run stores: never renumber.
enum class ParetoMethod : std::uint8_t { Nsga2 = 1, SmsEmoa = 2 };

/// "nsga2", "smsemoa".
std::string_view paretoMethodName(ParetoMethod method);
std::optional<ParetoMethod> paretoMethodByName(std::string_view name);

/// The variation operators of the multi-objective methods: simulated binary crossover (a
/// child that leaves the box is put on the bound it crossed) and polynomial mutation (in the
/// form whose steps shrink toward a near bound).
struct ParetoSettings {
    /// The probability that a pair of parents is crossed; an uncrossed pair's children start
    /// as copies of their parents.
    double crossover = 0.9;
    /// The crossover's distribution index: the larger, the nearer the children to their
    /// parents.
    double crossoverIndex = 15;
    /// The mutation's distribution index.
    double mutationIndex = 20;
    /// The expected number of variables a child mutates; 0 lets the method choose: 1 for
    /// NSGA-II, as usual; 0.5 for the S-metric selection, whose children from differential
    /// evolution move every variable already, so that fewer children near the front are
    /// spoilt by a mutation.
    double mutations = 0;

    bool operator==(const ParetoSettings&) const = default;
};

/// A multi-objective search over the unit cube of the variables (see detail::UnitBox): a
/// population of `size` designs, each a row of coordinates in [0; 1] with its objective values
/// (every objective minimised) and violation, from which each call breeds `size` new designs.
/// The new designs and the population compete for the places of the next population (a
/// (mu + lambda) selection) by constrained domination first (sortFronts), then by the
/// method's own measure of spread within the last front that fits.
///
/// Whole-numbered variables take the coordinates of whole values (multiples of their spacing),
/// and a mutation of one always moves it: a step smaller than the spacing would round back.
/// Each call draws one seed from the task's generator and takes the rest of its draws from a
/// generator of its own seeded with it, so a call costs the task's generator the same whatever
/// the population; ties are broken by index, so a seed gives one run.
class ParetoSearch {
public:
    /// `spacing` has one entry per variable: the distance between neighbouring whole values in
    /// coordinates (UnitBox::spacing), 0 for a real variable. \pre size >= 1, objectives >= 1
    ParetoSearch(int size, int objectives, std::vector<double> spacing, ParetoSettings settings);
    virtual ~ParetoSearch() = default;

    virtual ParetoMethod method() const = 0;

    int size() const { return m_size; }
    int variables() const { return static_cast<int>(m_spacing.size()); }
    int objectives() const { return m_objectives; }

    /// Takes an evaluated batch of size() designs (row by row). The first batch becomes the
    /// population (the task's random one, or another method's latest); each later one, the
    /// batch propose() wrote (any designs will do), competes with the population for its
    /// places. A value or violation that is not a number counts as +inf. Draws nothing.
    /// \throws Exception when a size does not fit; the method is then unchanged.
    void take(std::span<const double> designs, const Evaluations& batch);
    /// Writes the next batch of size() designs into `next`, bred from the population.
    /// \pre a batch was taken
    void propose(Rng& rng, std::vector<double>& next);
    /// take(), then propose().
    void next(std::span<const double> designs, const Evaluations& batch, Rng& rng,
              std::vector<double>& next)
    {
        take(designs, batch);
        propose(rng, next);
    }

    /// Whether a batch was taken: the population exists.
    bool started() const { return m_taken > 0; }
    /// Where each member of the population came from after the latest take(): its index among
    /// the population before that batch (size() of them, none for the first batch) followed by
    /// the batch, in increasing order.
    std::span<const int> kept() const { return m_kept; }
    /// The front (sortFronts) of each member of the population: 0 for its non-dominated ones.
    std::span<const int> fronts() const { return m_populationFront; }
    /// The front of each design of the latest batch among the population before and the
    /// batch: 0 for those that none of either dominates.
    std::span<const int> batchFronts() const
    {
        return m_taken > 1 ? std::span<const int>(m_front).last(static_cast<std::size_t>(m_size))
                           : std::span<const int>(m_populationFront);
    }

    /// The population (row by row): its front is the task's; empty before the first batch.
    std::span<const double> designs() const { return m_designs; }
    Evaluations evaluations() const { return {m_values, m_violations, m_objectives}; }

    /// The state after a batch was taken: the population and whatever else the method keeps.
    MethodState save() const;
    /// Takes a state that save() gave for a method of the same kind and shape, so that the
    /// method continues exactly as it would have. \throws Exception naming what does not fit;
    /// the method is then as new.
    void restore(const MethodState& state);

protected:
    /// Chooses `need` of `members` (a front of the merged population `merged`, in index order)
    /// to keep, into `chosen`.
    virtual void truncate(const Evaluations& merged, std::vector<int>& members, std::size_t need,
                          std::vector<int>& chosen) = 0;
    /// Readies the parent selection for the population just kept, whose fronts (sortFronts)
    /// frontOf() gives.
    virtual void rankPopulation() = 0;
    /// Writes size() children into `next`.
    virtual void breed(LcgRng& rng, std::vector<double>& next) = 0;
    /// The expected number of variables a child mutates when the settings leave it open.
    virtual double defaultMutations() const { return 1; }

    const double* design(std::size_t i) const { return &m_designs[i * m_spacing.size()]; }
    /// The front of each member of the population.
    const std::vector<int>& frontOf() const { return m_populationFront; }
    /// Two children of parents p and q, into a and b: crossed with probability `crossover`,
    /// then mutated.
    void makePair(LcgRng& rng, std::size_t p, std::size_t q, double* a, double* b) const;
    /// Mutates each variable of a child with probability mutations / variables (the method's
    /// own when `mutations` is 0), and puts the whole-numbered ones on whole values.
    void mutate(LcgRng& rng, double* child) const;

    const ParetoSettings m_settings;

private:
    void survive(std::span<const double> designs, const Evaluations& batch);
    /// Puts a whole-numbered variable's coordinate on its nearest whole value.
    double onGrid(std::size_t j, double u) const;

    int m_size;
    int m_objectives;
    std::vector<double> m_spacing;
    // The whole-numbered variables.
    std::vector<std::size_t> m_whole;
    // The batches taken.
    std::int64_t m_taken = 0;
    // The population, row by row.
    std::vector<double> m_designs, m_values, m_violations;
    // The merged population's room, kept so as not to be allocated every call.
    std::vector<double> m_mergedDesigns, m_mergedValues, m_mergedViolations;
    std::vector<int> m_front, m_chosen, m_members;
    std::vector<int> m_kept;
    // The population's fronts: those of the merged population, which the fronts kept whole
    // (and the members of the one cut) have in the population alone as well.
    std::vector<int> m_populationFront;
};

/// NSGA-II: the last front is cut by crowding distance, and parents are chosen by binary
/// tournaments on the front, then the crowding distance.
class Nsga2 final : public ParetoSearch {
public:
    using ParetoSearch::ParetoSearch;
    ParetoMethod method() const override { return ParetoMethod::Nsga2; }

protected:
    void truncate(const Evaluations& merged, std::vector<int>& members, std::size_t need,
                  std::vector<int>& chosen) override;
    void rankPopulation() override;
    void breed(LcgRng& rng, std::vector<double>& next) override;

private:
    int pickParent(LcgRng& rng) const;

    std::vector<double> m_crowding;
};

/// S-metric selection: the last front that fits is cut to the members whose hypervolume
/// together is the largest, against a reference point just beyond the front's worst values
/// (each objective scaled to the front's range) — exactly with two objectives, by taking the
/// least contributor away one at a time with more. That spreads the front as the hypervolume
/// measures it.
///
/// Parents are chosen by binary tournament on the front. A fifth of the children come from
/// differential evolution (a parent's variables crossed with a random member plus half the
/// difference of two others, put back on the bounds they cross), which moves all variables
/// together and lands on bounds where optima often lie; the rest from the crossover, a third
/// of them with the first parent's nearest neighbour on the front, which refines the spread.
class SmsEmoa final : public ParetoSearch {
public:
    using ParetoSearch::ParetoSearch;
    ParetoMethod method() const override { return ParetoMethod::SmsEmoa; }

protected:
    void truncate(const Evaluations& merged, std::vector<int>& members, std::size_t need,
                  std::vector<int>& chosen) override;
    void rankPopulation() override;
    void breed(LcgRng& rng, std::vector<double>& next) override;
    double defaultMutations() const override { return 0.5; }

private:
    int pickParent(LcgRng& rng) const;
    void differentialChild(LcgRng& rng, double* child) const;

    std::vector<int> m_neighbour;
    std::vector<double> m_scaled, m_reference;
};

/// A method of the kind asked for, as new.
std::unique_ptr<ParetoSearch> makeParetoSearch(ParetoMethod method, int size, int objectives,
                                               std::vector<double> spacing,
                                               ParetoSettings settings = {});

} // namespace zyl
