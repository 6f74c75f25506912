#include "engine/TrustRegion.h"

#include "common/Exception.h"
#include "engine/Zyl.h"

#include <algorithm>
#include <cmath>

namespace zyl {

namespace {

constexpr std::int64_t kStateFormat = 1;
constexpr std::int64_t kRefinementFormat = 1;

} // namespace

MethodState TrustRegion::save() const
{
    MethodState state;
    if (!m_started)
        return state;
    state.counts = {kStateFormat,
                    m_n,
                    m_popSize,
                    m_hasCentre ? 1 : 0,
                    m_restart ? 1 : 0,
                    m_adequate ? 1 : 0,
                    m_restarts,
                    m_idle,
                    m_watched,
                    static_cast<std::int64_t>(m_archive.size()),
                    static_cast<std::int64_t>(m_slots.size()),
                    static_cast<std::int64_t>(m_prints.size())};
    for (const Slot& slot : m_slots)
        state.counts.push_back(static_cast<std::int64_t>(slot.role));
    for (std::uint64_t print : m_prints)
        state.counts.push_back(static_cast<std::int64_t>(print));
    state.reals.insert(state.reals.end(), {m_radius, m_margin, m_watchValue, m_watchViolation});
    for (const Slot& slot : m_slots)
        state.reals.insert(state.reals.end(), {slot.radius, slot.length, slot.value, slot.violation});
    state.reals.insert(state.reals.end(), m_curvatures.begin(), m_curvatures.end());
    if (m_hasCentre)
        state.individuals.push_back(m_centre);
    state.individuals.insert(state.individuals.end(), m_archive.begin(), m_archive.end());
    return state;
}

void TrustRegion::restore(const MethodState& state, const ZYL& zyl)
{
    *this = TrustRegion();
    auto refuse = [](const char* what) {
        throw Exception(std::string("the state of the trust region ") + what);
    };
    const auto& c = state.counts;
    constexpr std::size_t fixed = 12;
    if (c.size() < fixed || c[0] != kStateFormat || c[1] != zyl.count() || c[2] != zyl.popSize)
        refuse("is not of this task");
    const std::int64_t kept = c[9], slots = c[10], prints = c[11];
    if (c[3] < 0 || c[3] > 1 || c[4] < 0 || c[4] > 1 || c[5] < 0 || c[5] > 1 || c[6] < 0 ||
        c[7] < 0 || c[8] < 0 || c[8] >= kWatch || kept < 0 ||
        kept > static_cast<std::int64_t>(kMostKept) || kept > prints || slots != zyl.popSize ||
        prints < 0 ||
        c.size() != fixed + static_cast<std::size_t>(slots) + static_cast<std::size_t>(prints))
        refuse("holds impossible counts");
    const auto slotCount = static_cast<std::size_t>(slots);
    const auto un = static_cast<std::size_t>(zyl.count());
    const std::size_t curvatures = (1 + zyl.constraintNames.size()) * un * un;
    constexpr std::size_t numbers = 4;
    if (state.reals.size() != numbers + 4 * slotCount &&
        state.reals.size() != numbers + 4 * slotCount + curvatures)
        refuse("has the wrong size");
    for (double x : state.reals)
        if (!std::isfinite(x))
            refuse("holds a number that is not finite");
    if (!(state.reals[0] > 0) || state.reals[0] > kMostRadius || state.reals[1] < 0 ||
        state.reals[1] > kMostMargin)
        refuse("holds a radius out of its range");
    const std::size_t centres = c[3] == 1 ? 1 : 0;
    if (state.individuals.size() != centres + static_cast<std::size_t>(kept))
        refuse("has the wrong size");
    for (const Indiv& ind : state.individuals) {
        if (ind.count() != zyl.count())
            refuse("has the wrong size");
        for (int j = 0; j < ind.count(); ++j)
            if (!ind.gene(j) || !std::isfinite(ind.gene(j)->getValue()))
                refuse("holds a design that is not a number");
    }

    TrustRegion restored;
    restored.m_started = true;
    restored.m_n = zyl.count();
    restored.m_popSize = zyl.popSize;
    restored.m_maximise = zyl.maximise;
    restored.m_hasCentre = centres == 1;
    restored.m_restart = c[4] == 1;
    restored.m_adequate = c[5] == 1;
    restored.m_restarts = c[6];
    restored.m_idle = c[7];
    restored.m_watched = c[8];
    restored.m_radius = state.reals[0];
    restored.m_margin = state.reals[1];
    restored.m_watchValue = state.reals[2];
    restored.m_watchViolation = state.reals[3];
    restored.m_slots.resize(slotCount);
    for (std::size_t i = 0; i < slotCount; ++i) {
        const std::int64_t role = c[fixed + i];
        if (role < static_cast<std::int64_t>(Role::Known) ||
            role > static_cast<std::int64_t>(Role::Fresh))
            refuse("holds impossible counts");
        Slot& slot = restored.m_slots[i];
        slot.role = static_cast<Role>(role);
        const double* place = &state.reals[numbers + 4 * i];
        slot.radius = place[0];
        slot.length = place[1];
        slot.value = place[2];
        slot.violation = place[3];
    }
    restored.m_curvatures.assign(state.reals.begin() +
                                     static_cast<std::ptrdiff_t>(numbers + 4 * slotCount),
                                 state.reals.end());
    for (std::size_t k = 0; k < static_cast<std::size_t>(prints); ++k)
        restored.m_prints.push_back(static_cast<std::uint64_t>(c[fixed + slotCount + k]));
    if (!std::is_sorted(restored.m_prints.begin(), restored.m_prints.end()))
        refuse("holds impossible counts");
    if (centres == 1)
        restored.m_centre = state.individuals.front();
    restored.m_archive.assign(state.individuals.begin() + static_cast<std::ptrdiff_t>(centres),
                              state.individuals.end());
    *this = std::move(restored);
}

bool Refinement::next(ZYL& zyl, const std::atomic<bool>* stop)
{
    // The generation bred now is the run's (generation + 2)th: the first one, and the one
    // just evaluated, came before.
    if (!m_local && zyl.generation + 2 > zyl.methodSettings.trust.after * zyl.maxIteration + 1e-9)
        m_local = std::make_unique<TrustRegion>(true);
    return m_local ? m_local->next(zyl, stop) : m_first->next(zyl, stop);
}

MethodState Refinement::save() const
{
    MethodState state = m_local ? m_local->save() : m_first->save();
    if (!m_local && state.empty())
        return state;
    state.counts.insert(state.counts.begin(), {kRefinementFormat, m_local ? 1 : 0});
    return state;
}

void Refinement::restore(const MethodState& state, const ZYL& zyl)
{
    m_local.reset();
    m_first = makeSearchMethod(m_first->method());
    const auto& c = state.counts;
    if (c.size() < 2 || c[0] != kRefinementFormat || (c[1] != 0 && c[1] != 1))
        throw Exception("the state of the refinement is not of this task");
    MethodState inner = state;
    inner.counts.erase(inner.counts.begin(), inner.counts.begin() + 2);
    if (c[1] == 0) {
        m_first->restore(inner, zyl);
        return;
    }
    auto local = std::make_unique<TrustRegion>(true);
    local->restore(inner, zyl);
    m_local = std::move(local);
}

} // namespace zyl
