#pragma once

#include "engine/Method.h"
#include "engine/Zyl.h"

#include <optional>

namespace zyl {

/// The evolution strategy with covariance matrix adaptation: each iteration samples a normal
/// distribution, and the best half of the samples moves its mean and reshapes its covariance
/// and step size. A search that has converged (or can no longer progress) starts again from a
/// random point with `growth` times as many samples, up to `restarts` times: larger
/// populations see past the local minima of rugged objectives.
///
/// An iteration's samples are evaluated a generation (the task's population size) at a time:
/// all the samples of a generation must be known before any is evaluated, so that they can be
/// evaluated together, and an iteration takes a whole number of generations. The first
/// iteration has at least 4 + 3 ln n samples; a restart's population is a multiple of that.
///
/// The distribution lives in the unit cube of the variables (detail::UnitBox) without bounds;
/// a sample is reflected at the cube's faces into the box, so every value lies within its
/// range and the search still sees a continuous objective.
class Cmaes final : public SearchMethod {
public:
    Method method() const override { return Method::Cmaes; }
    bool next(ZYL& zyl, const std::atomic<bool>* stop) override;
    MethodState save() const override;
    void restore(const MethodState& state, const ZYL& zyl) override;

private:
    /// A sample among the best of the iteration so far: its value and violation (by which it
    /// ranks), its number in the iteration, and where it is: a slot of m_pool (a sample of an
    /// earlier generation) or, with slot -1, an index of the population.
    struct Kept {
        double value, violation;
        std::int64_t sample;
        int slot, index;
        // Ruled out before evaluation: after every evaluated sample (ZYL::better).
        bool screened;
    };
    /// A sample of the iteration in rank order.
    struct Ranked {
        const Indiv* individual;
        std::int64_t sample;
    };

    /// orderKept's room: the candidates' values as sort keys with their positions, and room
    /// for a sort's passes.
    struct KeyIndex {
        std::uint64_t key;
        std::uint32_t index;
    };
    struct OrderRoom {
        std::vector<KeyIndex> keys, spareKeys;
        std::vector<Kept> spareKept;
    };

    std::int64_t lambda(const ZYL& zyl) const;
    void start(const ZYL& zyl);
    void resetDistribution(const ZYL& zyl, double step);
    void beginIteration(ZYL& zyl);
    void install(ZYL& zyl);
    /// Every sample of the iteration from its seed: z standard normal, y = B D z.
    void drawSamples(const ZYL& zyl);
    /// Whether `a` ranks before `b` in the iteration: by ZYL::better, then by sample number,
    /// an order without ties, as if the whole iteration were ranked at once.
    bool before(const Kept& a, const Kept& b) const
    {
        if (outranks(a, b))
            return true;
        return a.sample < b.sample && !outranks(b, a);
    }
    bool outranks(const Kept& a, const Kept& b) const
    {
        if (a.screened != b.screened)
            return b.screened;
        return ZYL::better(m_maximise, a.value, a.violation, b.value, b.violation);
    }
    /// Offers the evaluated population to the best half of the iteration so far; `copy`
    /// copies an entrant into the pool, needed unless the iteration ends with this generation.
    void admit(const ZYL& zyl, bool copy);
    /// The best half of the iteration, best first, once its last generation is admitted.
    const std::vector<Ranked>& rankIteration(const ZYL& zyl);
    /// Puts candidates in rank order; among equal values they must be in sample order.
    void orderKept(std::vector<Kept>& kept, OrderRoom& room) const;
    /// Puts the candidates in rank order and cuts them back to the best `keep`.
    void cutKept(std::size_t keep);
    void update(const ZYL& zyl, const std::vector<Ranked>& ranked);
    bool worthRestarting(const ZYL& zyl, const Indiv& best, const Indiv& lastChosen) const;
    void restart(ZYL& zyl);
    void decompose();

    int m_n = 0;
    int m_popSize = 0;
    bool m_maximise = false;
    // Generations per iteration, restarts made, iterations since the latest (re)start and the
    // iteration of the latest decomposition of the covariance.
    std::int64_t m_factor = 1;
    std::int64_t m_restarts = 0;
    std::int64_t m_iteration = 0;
    std::int64_t m_decomposed = 0;
    // The iteration in progress: the seed its samples are drawn from and the generation of
    // it now in the population.
    std::uint64_t m_seed = 0;
    std::int64_t m_slice = 0;

    double m_sigma = 0;
    std::vector<double> m_mean, m_ps, m_pc;
    // n x n, row by row: the covariance, its eigenvectors (columns) and the square roots of
    // its eigenvalues.
    std::vector<double> m_C, m_B, m_D;
    // The candidates for the best half of the iteration so far, unordered; the individuals of
    // earlier generations among them are copied into pool slots, which are reused (m_free
    // holds those not in use).
    std::vector<Kept> m_kept;
    // The worst of the best half after the latest cut: no later sample ranking after it can
    // be among the best half.
    std::optional<Kept> m_bar;
    // orderKept's room, kept by the run so as not to be allocated anew.
    OrderRoom m_room;
    std::vector<Indiv> m_pool;
    std::vector<int> m_free;
    // The best value of each of the latest iterations, oldest first.
    std::vector<double> m_history;
    // The iteration's samples, a row each.
    std::vector<double> m_z, m_y;
    // Kept from one iteration to the next so as not to be allocated anew: the ranking of the
    // iteration and the recombination weights.
    std::vector<Ranked> m_ranked;
    std::vector<double> m_weights;
    // A sample's coordinates in the unit cube, as install() writes it into an individual.
    std::vector<double> m_u;
};

} // namespace zyl
