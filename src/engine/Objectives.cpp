#include "engine/Objectives.h"

#include "common/TextConvert.h"
#include "engine/Dominance.h"
#include "engine/Hypervolume.h"
#include "engine/Zyl.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zyl {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The reference point lies this share of the first generation's range beyond its worst value.
constexpr double kReferenceMargin = 0.1;

/// Whether the design has a value for every objective: one without (a failure, a value that
/// is not a number) is no result to keep or to measure by.
bool complete(const Indiv& ind, std::size_t count)
{
    return ind.evaluated && ind.objectives.size() == count &&
           std::none_of(ind.objectives.begin(), ind.objectives.end(),
                        [](double x) { return std::isnan(x); });
}

} // namespace

Objectives::Objectives(std::vector<std::string> names, std::vector<char> maximised, int variables)
    : names(std::move(names)), maximised(std::move(maximised)),
      archive(static_cast<int>(this->names.size()), variables)
{
    this->maximised.resize(this->names.size(), 0);
}

double Objectives::key(std::size_t k, double value) const
{
    return orderKey(maximised[k] ? -value : value);
}

void Objectives::keys(const Indiv& ind, double* out) const
{
    for (std::size_t k = 0; k < count(); ++k)
        out[k] = k < ind.objectives.size() ? key(k, ind.objectives[k]) : INFINITY;
}

void Objectives::offer(const std::vector<Indiv>& population, std::span<const int> fronts)
{
    if (!keepArchive) {
        if (reference.empty())
            chooseReference(population);
        return;
    }
    const std::size_t m = count();
    m_offered.clear();
    // Rooms that only grow: filling them anew each generation would cost as much as the rest.
    if (m_violations.size() < population.size()) {
        m_values.resize(population.size() * m);
        m_violations.resize(population.size());
    }
    for (std::size_t i = 0; i < population.size(); ++i) {
        const Indiv& ind = population[i];
        if ((i < fronts.size() && fronts[i] != 0) || !complete(ind, m))
            continue;
        keys(ind, &m_values[m_offered.size() * m]);
        m_violations[m_offered.size()] = ind.violation;
        m_offered.push_back(&ind);
    }
    const std::size_t offered = m_offered.size();
    const Evaluations designs{std::span<const double>(m_values).first(offered * m),
                              std::span<const double>(m_violations).first(offered),
                              static_cast<int>(m)};
    // The variables only of the designs that enter.
    const auto payloadOf = [this](std::size_t row, double* out) {
        const Indiv& ind = *m_offered[row];
        for (int j = 0; j < archive.payloadSize(); ++j)
            out[j] = j < ind.count() && ind.gene(j) ? detail::valueOf(*ind.gene(j)) : 0.0;
    };
    // The designs of front 0 form a front among themselves too.
    if (fronts.size() == population.size()) {
        archive.offerFront(designs, payloadOf);
    } else {
        std::vector<double> payloads(offered * static_cast<std::size_t>(archive.payloadSize()));
        for (std::size_t row = 0; row < offered; ++row)
            payloadOf(row, &payloads[row * static_cast<std::size_t>(archive.payloadSize())]);
        archive.offerAll(designs, payloads);
    }
    if (reference.empty())
        chooseReference(population);
}

void Objectives::chooseReference(const std::vector<Indiv>& population)
{
    const bool anyFeasible = std::any_of(population.begin(), population.end(), [&](const Indiv& i) {
        return complete(i, count()) && i.violation == 0;
    });
    std::vector<double> lo(count(), INFINITY), hi(count(), -INFINITY);
    bool any = false;
    for (const Indiv& ind : population) {
        if (!complete(ind, count()) || (anyFeasible && ind.violation != 0))
            continue;
        // An infinite value would put the reference at infinity, where every volume is.
        bool finite = true;
        for (std::size_t k = 0; k < count(); ++k)
            finite = finite && std::isfinite(ind.objectives[k]);
        if (!finite)
            continue;
        any = true;
        for (std::size_t k = 0; k < count(); ++k) {
            const double x = key(k, ind.objectives[k]);
            lo[k] = std::min(lo[k], x);
            hi[k] = std::max(hi[k], x);
        }
    }
    if (!any)
        return;
    reference.resize(count());
    for (std::size_t k = 0; k < count(); ++k) {
        const double range = hi[k] - lo[k];
        const double r = hi[k] + (range > 0 ? kReferenceMargin * range : 1.0);
        // Back to the objective's own direction.
        reference[k] = maximised[k] ? -r : r;
    }
}

void Objectives::computeStatistics()
{
    const std::size_t m = count();
    std::vector<double> points;
    frontMin.assign(m, kNaN);
    frontMax.assign(m, kNaN);
    frontSize = 0;
    for (std::size_t i : front()) {
        const Indiv& ind = kept[i];
        if (ind.violation != 0 || ind.objectives.size() != m)
            continue;
        ++frontSize;
        for (std::size_t k = 0; k < m; ++k) {
            const double x = ind.objectives[k];
            points.push_back(key(k, x));
            if (std::isnan(x))
                continue;
            if (!(frontMin[k] <= x))
                frontMin[k] = x;
            if (!(frontMax[k] >= x))
                frontMax[k] = x;
        }
    }
    hypervolume = 0;
    if (frontSize > 0 && reference.size() == m) {
        std::vector<double> ref(m);
        for (std::size_t k = 0; k < m; ++k)
            ref[k] = key(k, reference[k]);
        hypervolume = zyl::hypervolume(points, static_cast<int>(m), ref);
    }
}

std::vector<std::size_t> Objectives::front() const
{
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < onFront.size() && i < kept.size(); ++i)
        if (onFront[i])
            members.push_back(i);
    return members;
}

FrontSnapshot frontSnapshot(const ZYL& zyl)
{
    FrontSnapshot snapshot;
    snapshot.generation = zyl.generation;
    snapshot.variableNames = zyl.names;
    const Objectives* objectives = zyl.objectives.get();
    if (!objectives)
        return snapshot;
    snapshot.objectiveNames = objectives->names;
    snapshot.maximised.assign(objectives->maximised.begin(), objectives->maximised.end());
    snapshot.points.reserve(objectives->kept.size());
    for (std::size_t i = 0; i < objectives->kept.size(); ++i) {
        const Indiv& ind = objectives->kept[i];
        FrontPoint point;
        point.objectives = ind.objectives;
        point.objectives.resize(objectives->count(), kNaN);
        for (int j = 0; j < ind.count(); ++j)
            point.variables.push_back(ind.gene(j) ? ind.gene(j)->getValue() : kNaN);
        point.violation = ind.violation;
        point.onFront = i < objectives->onFront.size() && objectives->onFront[i];
        snapshot.points.push_back(std::move(point));
    }
    return snapshot;
}

std::string archiveTable(const ZYL& zyl)
{
    std::string text;
    auto cell = [&text](const std::string& item) {
        if (!text.empty() && text.back() != '\n')
            text += '\t';
        text += item;
    };
    for (const std::string& name : zyl.names)
        cell(name);
    const Objectives* objectives = zyl.objectives.get();
    if (objectives)
        for (const std::string& name : objectives->names)
            cell(name);
    cell("violation");
    text += '\n';
    if (!objectives)
        return text;
    const ParetoArchive& archive = objectives->archive;
    for (std::size_t i = 0; i < archive.size(); ++i) {
        for (int j = 0; j < archive.payloadSize(); ++j)
            cell(realToExactText(archive.payload(i)[j]));
        // The archive orders by minimised values: a maximised one comes back by negation, which
        // is exact.
        for (std::size_t k = 0; k < objectives->count(); ++k)
            cell(realToExactText(objectives->maximised[k] ? -archive.values(i)[k]
                                                          : archive.values(i)[k]));
        cell(realToExactText(archive.violation()));
        text += '\n';
    }
    return text;
}

} // namespace zyl
