#pragma once

#include "engine/Method.h"

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
    /// A sample of the iteration in rank order: one kept from an earlier generation (its slot
    /// in m_pool) or one of the population (slot -1, and its index there).
    struct Ranked {
        const Indiv* individual;
        std::int64_t sample;
        int slot;
        int index;
    };

    std::int64_t lambda(const ZYL& zyl) const;
    void start(const ZYL& zyl);
    void resetDistribution(const ZYL& zyl, double step);
    void beginIteration(ZYL& zyl);
    void install(ZYL& zyl) const;
    /// Every sample of the iteration from its seed: z standard normal, y = B D z.
    void drawSamples(const ZYL& zyl);
    /// The samples kept so far and the evaluated population, best first.
    const std::vector<Ranked>& rankIteration(const ZYL& zyl);
    /// Keeps the best half of the iteration so far.
    void keepBest(const ZYL& zyl, const std::vector<Ranked>& ranked);
    void update(const ZYL& zyl, const std::vector<Ranked>& ranked);
    bool worthRestarting(const ZYL& zyl, const Indiv& best, const Indiv& lastChosen) const;
    void restart(ZYL& zyl);
    void decompose();

    int m_n = 0;
    int m_popSize = 0;
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
    // The best samples of the iteration so far, when it spans several generations: a pool
    // whose slots are reused (a generation copies only the samples that enter it), their
    // sample numbers, and the slots best first.
    std::vector<Indiv> m_pool;
    std::vector<std::int64_t> m_poolSamples;
    std::vector<int> m_order;
    // The best value of each of the latest iterations, oldest first.
    std::vector<double> m_history;
    // The iteration's samples, a row each.
    std::vector<double> m_z, m_y;
    // Kept from one generation to the next so as not to be allocated anew: the ranking of the
    // latest generation and of the iteration so far, and the recombination weights.
    std::vector<const Indiv*> m_sliceOrder;
    std::vector<Ranked> m_ranked;
    std::vector<double> m_weights;
    // keepBest's: the slots that stay, those free for entrants, the new order.
    std::vector<char> m_stays;
    std::vector<int> m_free, m_keptOrder;
};

} // namespace zyl
