#pragma once

#include "engine/Indiv.h"
#include "engine/ParetoArchive.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zyl {

class ConstraintFormulas;
class ZYL;

/// The objectives of a task with several, and what the run knows of their front. Values are
/// kept as computed; the methods, the archive and the hypervolume see every objective
/// minimised, a maximised one through its negation (key()).
struct Objectives {
    /// One name per objective: the OBJECTIVES keys, then Objective1 .. ObjectiveN for the
    /// values an external program writes.
    std::vector<std::string> names;
    /// Per objective: 1 when it is maximised.
    std::vector<char> maximised;
    /// The OBJECTIVES formulas (the first names); null when the section is empty.
    std::shared_ptr<ConstraintFormulas> formulas;
    /// The hypervolume's reference point, in the objectives' own directions (a lower bound
    /// for a maximised one); empty until it is chosen. Fixed for the whole task once chosen.
    std::vector<double> reference;

    /// The population the method kept at the latest generation (its selection over the
    /// population before and the generation just evaluated), and which of them lie on its
    /// front: the feasible non-dominated ones, or when none is feasible those of the least
    /// violation that no other of them dominates.
    std::vector<Indiv> kept;
    std::vector<char> onFront;
    /// Every design of the task that no other dominates (constrained domination), its
    /// variables as the payload.
    ParetoArchive archive;
    /// Whether offer() keeps the archive: a run that neither stores it nor writes it (zyl-batch
    /// without --front and --store) spares its cost, a large part of the method's own.
    bool keepArchive = true;

    /// The statistics of the latest generation: the feasible members of the front, their
    /// hypervolume against `reference`, and each objective's least and greatest value over
    /// them (NaN without a feasible member).
    std::int32_t frontSize = 0;
    double hypervolume = 0;
    std::vector<double> frontMin, frontMax;

    Objectives(std::vector<std::string> names, std::vector<char> maximised, int variables);

    std::size_t count() const { return names.size(); }
    /// Objective k's value as the methods order it: minimised, not a number as +inf.
    double key(std::size_t k, double value) const;
    /// The keys of a design's objectives into out[0 .. count()-1] (all +inf when it has none).
    void keys(const Indiv& ind, double* out) const;

    /// A step of a generation once its designs are evaluated: each design with every objective
    /// value is offered to the archive, and a reference point not chosen yet is chosen from
    /// them (chooseReference). `fronts`, when given, is each design's front among the
    /// population before and the generation: a design that a member of that population
    /// dominates is dominated in the archive too, so only those of front 0 are offered.
    void offer(const std::vector<Indiv>& population, std::span<const int> fronts = {});
    /// Per objective the worst value of the designs (the feasible ones when there are any)
    /// plus a tenth of their range (1 when the range is 0): just beyond where the front
    /// starts, so that its extremes count. Nothing when no design has every value.
    void chooseReference(const std::vector<Indiv>& population);
    /// The statistics above from `kept` and `onFront`.
    void computeStatistics();
    /// The indices of the front's members in `kept`, in order.
    std::vector<std::size_t> front() const;

private:
    // offer's rooms, kept from one generation to the next.
    std::vector<double> m_values, m_violations;
    std::vector<const Indiv*> m_offered;
};

/// One design for the Pareto window: its objective values as computed, its variables, its
/// violation (0: feasible) and whether it lies on the front of the population.
struct FrontPoint {
    std::vector<double> objectives;
    std::vector<double> variables;
    double violation = 0;
    bool onFront = false;
};

/// What the Pareto window shows of a task with several objectives: the population the method
/// kept at the latest generation.
struct FrontSnapshot {
    std::vector<std::string> objectiveNames, variableNames;
    std::vector<bool> maximised;
    std::vector<FrontPoint> points;
    /// Generations completed.
    int generation = 0;
};

/// The snapshot of `zyl`; without several objectives, or before the first generation, one
/// without points.
FrontSnapshot frontSnapshot(const ZYL& zyl);

/// The archive of `zyl` as tab-separated text: a header line of the variables' names, the
/// objectives' names and "violation", then one line per member in the archive's order, each
/// number with every digit it has. Only the header without several objectives.
std::string archiveTable(const ZYL& zyl);

} // namespace zyl
