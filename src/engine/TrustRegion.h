#pragma once

#include "engine/Method.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zyl {

/// A trust region of quadratic models, for objectives that allow a few hundred evaluations:
/// around the best design of the search (its centre) it fits quadratics to the objective and
/// to each constraint through the evaluated designs nearest to it, and steps to the model's
/// best design within a box of a radius that grows while the models predict well and shrinks
/// when they fail. The constraints enter the step as their linear parts (corrected once by
/// their curvature), so a search led to a vertex of the feasible region lands on it.
///
/// A generation holds the model's step and, in the other places, what helps the next one
/// most: a step at another radius, the nearest whole values of the integer variables with the real ones
/// fitted to them, and designs that fill the directions the models know least. So a
/// generation's designs are evaluated side by side, and small populations (2 to about 10)
/// spend the fewest evaluations per step.
///
/// Integer and Boolean variables are modelled as reals and rounded; the step is then solved
/// again for the real variables with the whole ones fixed. No design is proposed twice: every
/// design evaluated leaves its fingerprint. A search that can no longer improve starts again
/// from a random design, the best found so far staying the task's best.
///
/// Every decision is a function of the evaluated designs, kept in the state, and of draws
/// from the task's generator, so a restored state continues bit for bit.
class TrustRegion final : public SearchMethod {
public:
    /// `refining`: the first call takes over another method's run, with a radius from the
    /// spread of its population rather than the settings' own.
    explicit TrustRegion(bool refining = false) : m_refining(refining) {}

    Method method() const override { return Method::Trust; }
    bool next(ZYL& zyl, const std::atomic<bool>* stop) override;
    MethodState save() const override;
    void restore(const MethodState& state, const ZYL& zyl) override;

private:
    // The designs kept for the models: a search draws on those near its centre, and older ones
    // leave only their fingerprints.
    static constexpr std::size_t kMostKept = 4000;
    // The largest radius: the whole range of every variable.
    static constexpr double kMostRadius = 1.0;
    // Generations over which a search must gain kLeastProgress of its value, or start again.
    static constexpr std::int64_t kWatch = 20;
    // The widest margin a step keeps inside the constraints, in radii.
    static constexpr double kMostMargin = 0.2;

    /// What a place of the generation holds.
    enum class Role : std::int64_t {
        Known = 0,     // a design evaluated before, with its value: nothing new was left
        Step = 1,      // the model's step at the radius
        Probe = 2,     // the step at another radius
        Neighbour = 3, // a whole variable moved by one, the real ones fitted
        Spread = 4,    // a design where the models know least
        Fresh = 5,     // a new start, or a design around it
    };
    struct Slot {
        Role role = Role::Fresh;
        // The radius the step was taken at, its length (the longest coordinate), and the
        // objective and violation the models predicted.
        double radius = 0, length = 0, value = 0, violation = 0;
    };
    struct Models;
    struct Frame;
    struct Candidate;

    void start(ZYL& zyl);
    void absorb(ZYL& zyl);
    void propose(ZYL& zyl);
    /// The models around the centre; false when there are too few designs.
    bool fitModels(const ZYL& zyl, const Frame& frame, Models& models) const;
    /// The model's step within `radius`, with the whole variables rounded and the real ones
    /// fitted again; `fixed` (one entry per variable, NaN for free) pins variables.
    std::vector<double> step(const ZYL& zyl, const Frame& frame, const Models& models,
                             double radius, const std::vector<double>& fixed) const;
    /// The design of step() placed, with what the models predict there.
    Candidate candidate(const ZYL& zyl, const Frame& frame, const Models& models, double radius,
                        const std::vector<double>& fixed, Role role) const;
    void predict(const ZYL& zyl, const Models& models, const std::vector<double>& s,
                 Slot& slot) const;
    /// Adds up to `wanted` designs at `radius` from the frame's centre, each as far as can be
    /// from the `known` offsets (a row each) and from those chosen before.
    void spread(ZYL& zyl, const Frame& frame, const std::vector<double>& known, double radius,
                std::vector<Candidate>& chosen, std::size_t wanted, Role role) const;
    /// A new search from a random design, with designs around it.
    void restartAt(ZYL& zyl, std::vector<Candidate>& chosen);
    /// Starts measuring the progress of the search from the centre.
    void watchFromCentre();
    bool seen(std::uint64_t print) const;
    void remember(std::uint64_t print);
    double cost(const Indiv& ind) const { return m_maximise ? -ind.value : ind.value; }

    bool m_refining;
    bool m_started = false;
    int m_n = 0;
    int m_popSize = 0;
    bool m_maximise = false;
    // The best design of the current search; none between a restart and its first results.
    bool m_hasCentre = false;
    Indiv m_centre;
    double m_radius = 0;
    // How far a step keeps inside the constraints, in radii.
    double m_margin = 0;
    // The next generation starts a new search.
    bool m_restart = false;
    // The latest models had enough designs near the centre to judge the region by.
    bool m_adequate = false;
    std::int64_t m_restarts = 0;
    // Generations since the centre last improved.
    std::int64_t m_idle = 0;
    // The centre's value and violation some generations ago, and how many.
    std::int64_t m_watched = 0;
    double m_watchValue = 0, m_watchViolation = 0;
    // The second derivatives of the latest models (the objective's, then each constraint's,
    // n x n each), which the next fit departs from as little as its designs allow.
    std::vector<double> m_curvatures;
    // The latest designs evaluated, oldest first, and the fingerprints of every design
    // proposed, in increasing order.
    std::vector<Indiv> m_archive;
    std::vector<std::uint64_t> m_prints;
    // The generation in the population, place by place.
    std::vector<Slot> m_slots;
};

/// Another method for the first part of a run, then the trust region from the best design
/// found, once the generation to breed passes TrustSettings::after of max_iteration.
class Refinement final : public SearchMethod {
public:
    explicit Refinement(std::unique_ptr<SearchMethod> first) : m_first(std::move(first)) {}

    Method method() const override { return m_first->method(); }
    bool refined() const override { return true; }
    bool next(ZYL& zyl, const std::atomic<bool>* stop) override;
    MethodState save() const override;
    void restore(const MethodState& state, const ZYL& zyl) override;

private:
    std::unique_ptr<SearchMethod> m_first;
    std::unique_ptr<TrustRegion> m_local;
};

} // namespace zyl
