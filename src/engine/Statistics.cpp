#include "engine/Statistics.h"

#include "common/Exception.h"
#include "common/TextConvert.h"
#include "engine/Objectives.h"
#include "engine/RadixSort.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <utility>

namespace zyl {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// Equal values belong to one group; so do all NaNs.
bool sameGroup(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

/// NaN of either sign becomes the positive quiet NaN, which realToText shows as "nan".
double canonical(double x)
{
    return std::isnan(x) ? kNaN : x;
}

double geneValue(const Indiv& ind, int j)
{
    const Variable_* gene = ind.gene(j);
    return gene ? detail::valueOf(*gene) : 0.0;
}

/// Index of the first individual with the largest (or smallest) value; NaN values (and the
/// screened designs, which have none) take part only when every value is NaN, and then
/// individual 0 is the answer.
int extremeIndex(const std::vector<Indiv>& population, bool largest)
{
    const int n = static_cast<int>(population.size());
    int best = 0;
    while (best < n && std::isnan(population[best].value))
        ++best;
    if (best == n)
        return 0;
    for (int i = best + 1; i < n; ++i) {
        const double x = population[i].value;
        if (largest ? x > population[best].value : x < population[best].value)
            best = i; // strict: of equal extremes the first in population order stays
    }
    return best;
}

/// Index of the first individual that no other one beats in the one order of the task.
int bestIndex(const ZYL& zyl)
{
    const std::vector<Indiv>& population = zyl.population;
    int best = 0;
    for (int i = 1; i < static_cast<int>(population.size()); ++i)
        if (zyl.better(population[i], population[best]))
            best = i;
    return best;
}

/// Makes `number` a real number node with the given value and realToText as its text.
void writeNumber(Tensor& number, double x)
{
    number.re = x;
    number.im = 0.0;
    number.text = realToText(x);
}

bool isVectorOfNumbers(const Tensor& node, int dimension)
{
    if (node.code != op::Number || node.dimension != dimension ||
        node.elements.size() != static_cast<std::size_t>(dimension))
        return false;
    for (const TensorPtr& element : node.elements)
        if (!element || !element->isNumber())
            return false;
    return true;
}

/// Writes the variable values of `ind` into the vector symbol `name`, re-creating the symbol or
/// its definition when it cannot hold them as it is.
void publishVector(SymbolTable& table, const char* name, const Indiv& ind)
{
    const int n = ind.count();
    if (n == 0)
        return; // a vector needs at least one element; the loader never builds such a task
    Funkcja* symbol = table.lookup(name);
    if (!symbol || !symbol->definition || !isVectorOfNumbers(*symbol->definition, n)) {
        auto vector = std::make_unique<Tensor>();
        for (int j = 0; j < n; ++j)
            vector->appendElement(makeNumber(0.0));
        if (symbol) {
            symbol->definition = std::move(vector);
        } else {
            auto created = std::make_unique<Funkcja>();
            created->name = name;
            created->definition = std::move(vector);
            symbol = created.get();
            table.pushBack(std::move(created));
        }
    }
    for (int j = 0; j < n; ++j)
        writeNumber(*symbol->definition->elements[static_cast<std::size_t>(j)], geneValue(ind, j));
}

/// Sorts numbers (no NaN) in ascending order; -0 and 0 in no particular order.
void sortNumbers(std::vector<double>& values, std::vector<std::uint64_t>& keys,
                 std::vector<std::uint64_t>& spare)
{
    const std::size_t n = values.size();
    if (n < 256) {
        std::sort(values.begin(), values.end());
        return;
    }
    keys.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        keys[i] = detail::orderedBits(values[i]);
    detail::radixSort(keys, spare, [](std::uint64_t key) { return key; });
    for (std::size_t i = 0; i < n; ++i)
        values[i] = detail::fromOrderedBits(keys[i]);
}

} // namespace

double quantile(const std::vector<double>& sorted, double p)
{
    const std::size_t n = sorted.size();
    if (n == 0 || std::isnan(p))
        return kNaN;
    p = std::clamp(p, 0.0, 1.0);
    auto k = static_cast<std::int64_t>(static_cast<double>(n) * p); // truncated toward zero
    if (n % 2 == 0)
        --k;
    k = std::clamp<std::int64_t>(k, 0, static_cast<std::int64_t>(n) - 1);
    return sorted[static_cast<std::size_t>(k)];
}

void computeStatistics(ZYL& zyl)
{
    const std::vector<Indiv>& population = zyl.population;
    if (population.empty())
        return; // ZYL guarantees popSize >= 1
    // The screened designs have no objective value: the statistics of the values are of the
    // others.
    zyl.screened = static_cast<std::int32_t>(
        zyl.prescreen ? std::count_if(population.begin(), population.end(),
                                      [](const Indiv& ind) { return ind.screened; })
                      : 0);
    const std::size_t n = population.size() - static_cast<std::size_t>(zyl.screened);
    const double count = static_cast<double>(n);

    // 1. Work array and sum, in population order; the NaNs (all alike once canonical) go last.
    std::vector<double> sorted;
    sorted.reserve(n);
    double sum = 0.0;
    std::size_t nans = 0;
    for (const Indiv& ind : population) {
        if (ind.screened)
            continue;
        if (std::isnan(ind.value))
            ++nans;
        else
            sorted.push_back(ind.value);
        sum += ind.value;
    }
    // Equal values are the same number, except -0 and 0: they keep their population order
    // (as a stable sort would leave them), so that a quartile that is a zero has a repeatable
    // sign.
    {
        thread_local std::vector<std::uint64_t> keys, spare;
        sortNumbers(sorted, keys, spare);
    }
    const auto zeros = std::equal_range(sorted.begin(), sorted.end(), 0.0);
    if (zeros.first != zeros.second) {
        auto zero = zeros.first;
        for (const Indiv& ind : population)
            if (ind.value == 0)
                *zero++ = ind.value;
    }
    sorted.insert(sorted.end(), nans, kNaN);

    // 2. Quartiles.
    zyl.q1 = quantile(sorted, 0.25);
    zyl.q2 = quantile(sorted, 0.5);
    zyl.q3 = quantile(sorted, 0.75);
    zyl.iqr = canonical(zyl.q3 - zyl.q1);

    // 3-4. Average and the deviations (divisor N).
    const double average = sum / count;
    double squares = 0.0, meanDev = 0.0, medianDev = 0.0;
    for (const Indiv& ind : population) {
        if (ind.screened)
            continue;
        const double x = ind.value;
        squares += (x - average) * (x - average);
        meanDev += std::fabs(x - average);
        medianDev += std::fabs(x - zyl.q2);
    }
    zyl.average = canonical(average);
    zyl.stdDev = canonical(std::sqrt(squares / count));
    zyl.meanDev = canonical(meanDev / count);
    zyl.medianDev = canonical(medianDev / count);

    // 5. Current extremes, full copies.
    const int largest = extremeIndex(population, true);
    const int smallest = extremeIndex(population, false);
    if (!zyl.constrained()) {
        zyl.currentMax = population[static_cast<std::size_t>(largest)];
        zyl.currentMin = population[static_cast<std::size_t>(smallest)];
    } else {
        // The extreme on the side of the search is the best design in the task's order, so
        // that it names a feasible design as soon as there is one; the other side stays the
        // plain extreme of the values, feasible or not.
        const int best = bestIndex(zyl);
        zyl.currentMax = population[static_cast<std::size_t>(zyl.maximise ? best : largest)];
        zyl.currentMin = population[static_cast<std::size_t>(zyl.maximise ? smallest : best)];
        std::int32_t feasible = 0;
        double minViolation = std::numeric_limits<double>::infinity();
        for (const Indiv& ind : population) {
            feasible += ind.violation == 0 ? 1 : 0;
            minViolation = std::min(minViolation, ind.violation);
        }
        zyl.feasible = feasible;
        zyl.minViolation = minViolation;
    }
    if (!zyl.constrained()) {
        zyl.feasible = static_cast<std::int32_t>(n);
        zyl.minViolation = 0;
    }

    // 6. Global extremes: only a strictly better current extreme replaces them (a NaN never
    // compares better). With constraints the side of the search compares in the task's order.
    // The starting extremes are no designs: the first designs replace them whatever their
    // values, so that a best reported is always a design with its own values, even when no
    // design ever compares better than the start (every one infinitely infeasible, or NaN).
    // A NaN extreme that came so gives way to the first number.
    auto beyond = [](double current, double global, bool larger) {
        return (larger ? current > global : current < global) ||
               (std::isnan(global) && !std::isnan(current));
    };
    if (!zyl.globalMax.evaluated && zyl.currentMax.evaluated) {
        zyl.globalMax = zyl.currentMax;
    } else if (zyl.constrained() && zyl.maximise) {
        if (zyl.better(zyl.currentMax, zyl.globalMax))
            zyl.globalMax = zyl.currentMax;
    } else if (beyond(zyl.currentMax.value, zyl.globalMax.value, true)) {
        zyl.globalMax = zyl.currentMax;
    }
    if (!zyl.globalMin.evaluated && zyl.currentMin.evaluated) {
        zyl.globalMin = zyl.currentMin;
    } else if (zyl.constrained() && !zyl.maximise) {
        if (zyl.better(zyl.currentMin, zyl.globalMin))
            zyl.globalMin = zyl.currentMin;
    } else if (beyond(zyl.currentMin.value, zyl.globalMin.value, false)) {
        zyl.globalMin = zyl.currentMin;
    }

    // 7. Range: of the values, whatever the constraints make of the extremes.
    const double minValue = population[static_cast<std::size_t>(smallest)].value;
    const double maxValue = population[static_cast<std::size_t>(largest)].value;
    zyl.range = sameGroup(maxValue, minValue) ? 0.0 : canonical(maxValue - minValue);

    // 8-10. Groups of equal values: different, discrepancy, entropy.
    const double ln2 = std::log(2.0);
    int different = 0;
    double discrepancy = 0.0, entropy = 0.0;
    std::size_t cumulative = 0, groupMembers = 0;
    double groupTerm = 0.0;
    for (std::size_t start = 0; start < n;) {
        std::size_t end = start + 1;
        while (end < n && sameGroup(sorted[end], sorted[start]))
            ++end;
        const std::size_t members = end - start;
        cumulative += members;
        ++different;
        if (zyl.range != 0.0 && !std::isnan(discrepancy)) {
            const double term = std::fabs(static_cast<double>(cumulative) / count -
                                          (sorted[start] - minValue) / zyl.range);
            // An explicit NaN test: std::max would keep or drop a NaN depending on the order.
            discrepancy = std::isnan(term) ? kNaN : std::max(discrepancy, term);
        }
        // Groups of one member are the rule when every value differs: their term once.
        if (members != groupMembers) {
            const double p = static_cast<double>(members) / count;
            groupMembers = members;
            groupTerm = p * std::log(p) / ln2;
        }
        entropy -= groupTerm; // starts at +0, so one group gives +0, not -0
        start = end;
    }
    zyl.different = different;
    zyl.discrepancy = canonical(discrepancy);
    zyl.entropy = entropy;
}

void publishStatistics(const ZYL& zyl, SymbolTable& table)
{
    try {
        const std::pair<const char*, double> scalars[] = {
            {"Average", zyl.average},
            {"StdDev", zyl.stdDev},
            {"Generation", static_cast<double>(zyl.generation) + 1.0},
            {"Mutations", static_cast<double>(zyl.mutations)},
            {"Crossovers", static_cast<double>(zyl.crossovers)},
            {"PopSize", zyl.popSize},
            {"Different", zyl.different},
            {"MeanDev", zyl.meanDev},
            {"MedianDev", zyl.medianDev},
            {"Range", zyl.range},
            {"Q1", zyl.q1},
            {"Q2", zyl.q2},
            {"Q3", zyl.q3},
            {"IQR", zyl.iqr},
            {"Entropy", zyl.entropy},
            {"Discrepancy", zyl.discrepancy},
            {"GlobalMax", zyl.globalMax.value},
            {"GlobalMin", zyl.globalMin.value},
            {"CurrentMax", zyl.currentMax.value},
            {"CurrentMin", zyl.currentMin.value},
            {"CrossPoints", zyl.crossPoints},
            {"TourSize", zyl.tourSize},
            {"Buffered", static_cast<double>(zyl.buffer.size())},
            {"CrossUnifProb", zyl.crossUnifProb},
            {"CrossProb", zyl.crossProb},
            {"MutProb", zyl.mutProb},
        };
        for (const auto& [name, value] : scalars) {
            Funkcja* symbol = table.lookup(name);
            if (!symbol || !symbol->definition || !symbol->definition->isNumber()) {
                setSymbolValue(table, name, value); // made a number again
                continue;
            }
            // The printer prints a number by its text: a stale one would make listing
            // "Average" or exporting "{Q1,Q3}" show an old value.
            Tensor& number = *symbol->definition;
            number.re = value;
            number.im = 0.0;
            number.text = formatNumber(value, 0.0);
        }

        if (zyl.constrained()) {
            const Indiv& best = zyl.maximise ? zyl.globalMax : zyl.globalMin;
            setSymbolValue(table, "Feasible", zyl.feasible);
            setSymbolValue(table, "MinViolation", zyl.minViolation);
            setSymbolValue(table, "BestViolation", best.violation);
            for (std::size_t c = 0; c < zyl.constraintNames.size(); ++c)
                setSymbolValue(table, zyl.constraintNames[c],
                               c < best.constraints.size() ? best.constraints[c] : kNaN);
        }
        if (const Objectives* objectives = zyl.objectives.get()) {
            const std::vector<std::string> names = frontStatisticNames(objectives->names);
            setSymbolValue(table, names[0], objectives->frontSize);
            setSymbolValue(table, names[1], objectives->hypervolume);
            for (std::size_t k = 0; k < objectives->count(); ++k) {
                setSymbolValue(table, names[2 + 2 * k],
                               k < objectives->frontMin.size() ? objectives->frontMin[k] : kNaN);
                setSymbolValue(table, names[3 + 2 * k],
                               k < objectives->frontMax.size() ? objectives->frontMax[k] : kNaN);
            }
        }
        if (zyl.prescreen)
            setSymbolValue(table, "Screened", zyl.screened);
        publishVector(table, "GlobalMinIndiv", zyl.globalMin);
        publishVector(table, "GlobalMaxIndiv", zyl.globalMax);
        publishVector(table, "CurrentMinIndiv", zyl.currentMin);
        publishVector(table, "CurrentMaxIndiv", zyl.currentMax);
    } catch (const Exception&) {
        throw;
    } catch (const std::exception& error) {
        throw Exception(std::string("Cannot publish the statistics: ") + error.what());
    }
}

void takeStatisticsSnapshot(const ZYL& zyl, StatisticsSnapshot& snapshot)
{
    const int count = zyl.count();
    snapshot.generation = zyl.generation;
    snapshot.popSize = zyl.popSize;
    snapshot.average = zyl.average;
    snapshot.q2 = zyl.q2;
    snapshot.range = zyl.range;
    snapshot.iqr = zyl.iqr;
    snapshot.stdDev = zyl.stdDev;
    snapshot.meanDev = zyl.meanDev;
    snapshot.medianDev = zyl.medianDev;
    snapshot.entropy = zyl.entropy;
    snapshot.discrepancy = zyl.discrepancy;
    snapshot.different = zyl.different;
    snapshot.buffered = zyl.buffer.size();
    snapshot.mutations = zyl.mutations;
    snapshot.crossovers = zyl.crossovers;
    snapshot.constraintNames = zyl.constraintNames;
    if (zyl.constrained()) {
        const Indiv& best = zyl.maximise ? zyl.globalMax : zyl.globalMin;
        snapshot.feasible = zyl.feasible;
        snapshot.minViolation = zyl.minViolation;
        snapshot.bestViolation = best.violation;
        snapshot.bestConstraints = best.constraints;
        snapshot.bestConstraints.resize(zyl.constraintNames.size(), kNaN);
    }
    if (const Objectives* objectives = zyl.objectives.get()) {
        snapshot.objectiveNames = objectives->names;
        snapshot.frontSize = objectives->frontSize;
        snapshot.hypervolume = objectives->hypervolume;
        snapshot.frontMin = objectives->frontMin;
        snapshot.frontMax = objectives->frontMax;
        snapshot.frontMin.resize(objectives->count(), kNaN);
        snapshot.frontMax.resize(objectives->count(), kNaN);
        snapshot.reference = objectives->reference;
    } else {
        snapshot.objectiveNames.clear();
    }
    snapshot.screened = zyl.prescreen ? std::optional<int>(zyl.screened) : std::nullopt;
    const Indiv* extremes[4] = {&zyl.globalMax, &zyl.globalMin, &zyl.currentMax, &zyl.currentMin};
    for (int e = 0; e < 4; ++e) {
        snapshot.extremes[e] = extremes[e]->value;
        std::vector<double>& values = snapshot.extremeVariables[e];
        values.resize(static_cast<std::size_t>(extremes[e]->count()));
        for (int j = 0; j < extremes[e]->count(); ++j)
            values[static_cast<std::size_t>(j)] = geneValue(*extremes[e], j);
    }
    snapshot.means.assign(static_cast<std::size_t>(count), 0.0);
    for (int j = 0; j < count; ++j) {
        double sum = 0.0;
        for (const Indiv& ind : zyl.population)
            sum += geneValue(ind, j);
        snapshot.means[static_cast<std::size_t>(j)] = sum / static_cast<double>(zyl.popSize);
    }
}

namespace {
/// "= f(" the values by realToText separated by "; " ")", as Indiv::text writes them.
void valuesText(std::string& out, const std::vector<double>& values)
{
    out = "= f(";
    for (std::size_t j = 0; j < values.size(); ++j) {
        if (j > 0)
            out += "; ";
        out += realToText(values[j]);
    }
    out += ')';
}
} // namespace

void forEachStatisticsRow(
    const StatisticsSnapshot& snapshot, bool showBuffered,
    const std::function<void(std::string_view, std::string_view, std::string_view)>& row)
{
    const char* names[4] = {"GlobalMax", "GlobalMin", "CurrentMax", "CurrentMin"};
    std::string info;
    row("Generation", std::to_string(snapshot.generation + 1),
        std::to_string(snapshot.popSize) + " individuals");
    for (int e = 0; e < 4; ++e) {
        valuesText(info, snapshot.extremeVariables[e]);
        row(names[e], realToText(snapshot.extremes[e]), info);
    }
    valuesText(info, snapshot.means);
    row("Average", realToText(snapshot.average), info);
    row("Q2", realToText(snapshot.q2), "Median");
    row("Range", realToText(snapshot.range), "CurrentMax-CurrentMin");
    row("IQR", realToText(snapshot.iqr), "Interquartile range (Q3-Q1)");
    row("StdDev", realToText(snapshot.stdDev), "");
    row("MeanDev", realToText(snapshot.meanDev), "");
    row("MedianDev", realToText(snapshot.medianDev), "");
    row("Entropy", realToText(snapshot.entropy),
        "(bit), 2^Entropy = " + realToText(std::pow(2.0, snapshot.entropy)));
    row("Discrepancy", realToText(snapshot.discrepancy), "function value discrepancy");
    row("Different", std::to_string(snapshot.different), "Number of different function values");
    if (!snapshot.constraintNames.empty()) {
        row("Feasible", std::to_string(snapshot.feasible), "Number of feasible designs");
        row("MinViolation", realToText(snapshot.minViolation), "Smallest violation");
        row("BestViolation", realToText(snapshot.bestViolation),
            snapshot.bestViolation == 0 ? "The best design is feasible"
                                        : "No feasible design found yet");
        for (std::size_t c = 0; c < snapshot.constraintNames.size(); ++c)
            row(snapshot.constraintNames[c], realToText(snapshot.bestConstraints[c]),
                "Constraint at the best design");
    }
    if (!snapshot.objectiveNames.empty()) {
        row("FrontSize", std::to_string(snapshot.frontSize),
            "Number of feasible non-dominated designs");
        std::string against = "No reference point yet";
        if (!snapshot.reference.empty()) {
            against = "Reference point (";
            for (std::size_t k = 0; k < snapshot.reference.size(); ++k)
                against += (k ? "; " : "") + realToText(snapshot.reference[k]);
            against += ")";
        }
        row("Hypervolume", realToText(snapshot.hypervolume), against);
        for (std::size_t k = 0; k < snapshot.objectiveNames.size(); ++k) {
            const std::string& name = snapshot.objectiveNames[k];
            row(name + "_FrontMin", realToText(snapshot.frontMin[k]),
                "Least " + name + " on the front");
            row(name + "_FrontMax", realToText(snapshot.frontMax[k]),
                "Greatest " + name + " on the front");
        }
    }
    if (snapshot.screened)
        row("Screened", std::to_string(*snapshot.screened),
            "Designs ruled out before evaluation");
    if (showBuffered)
        row("Buffered", std::to_string(snapshot.buffered), "");
    row("Mutations", std::to_string(snapshot.mutations), "");
    row("Crossovers", std::to_string(snapshot.crossovers), "");
    row("", "", "");
}

std::vector<StatisticsRow> statisticsRows(const StatisticsSnapshot& snapshot, bool showBuffered)
{
    std::vector<StatisticsRow> rows;
    rows.reserve(19);
    forEachStatisticsRow(snapshot, showBuffered,
                         [&rows](std::string_view what, std::string_view value,
                                 std::string_view info) {
                             rows.push_back({std::string(what), std::string(value),
                                             std::string(info)});
                         });
    return rows;
}

std::vector<StatisticsRow> statisticsRows(const ZYL& zyl, bool showBuffered)
{
    StatisticsSnapshot snapshot;
    takeStatisticsSnapshot(zyl, snapshot);
    return statisticsRows(snapshot, showBuffered);
}

std::vector<std::string> frontStatisticNames(const std::vector<std::string>& objectives)
{
    std::vector<std::string> names{"FrontSize", "Hypervolume"};
    for (const std::string& name : objectives) {
        names.push_back(name + "_FrontMin");
        names.push_back(name + "_FrontMax");
    }
    return names;
}

} // namespace zyl
