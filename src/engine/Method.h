#pragma once

#include "common/Rng.h"
#include "engine/Indiv.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace zyl {

class ZYL;

/// The search methods a task can run. The numbers are kept in run stores: never renumber.
/// The last two search for the front of a task with several objectives; the others for the
/// best design of a task with one.
enum class Method : std::uint8_t { Ga = 0, Cmaes = 1, De = 2, Trust = 3, Nsga2 = 4, SmsEmoa = 5 };

/// "ga", "cmaes", "de", "trust", "nsga2", "smsemoa": the values of the key `method`.
std::string_view methodName(Method method);
/// The method a (lower-case) name stands for.
std::optional<Method> methodByName(std::string_view name);
/// Whether `method` searches for a front of several objectives.
constexpr bool searchesFront(Method method)
{
    return method == Method::Nsga2 || method == Method::SmsEmoa;
}

/// The evolution strategy with covariance matrix adaptation, restarted with a growing
/// population when a search has converged.
struct CmaesSettings {
    /// The initial step size, as a fraction of each variable's range.
    double step = 0.3;
    /// How many times a converged search starts again from a random point.
    std::int32_t restarts = 9;
    /// What each restart multiplies the number of samples of an iteration by.
    std::int32_t growth = 2;
    /// The share of each recombined step that the mean moves; 0 lets the method choose it.
    double meanRate = 0;

    bool operator==(const CmaesSettings&) const = default;
};

/// Differential evolution whose individuals carry their own weight and crossover rate.
struct DeSettings {
    /// The weight of the difference of two individuals, at the start.
    double f = 0.5;
    /// The crossover rate, at the start.
    double cr = 0.9;
    /// The probability that a trial draws a new weight, and (apart) a new crossover rate.
    double adaptation = 0.1;

    bool operator==(const DeSettings&) const = default;
};

/// The trust region of quadratic models, for objectives that allow few evaluations; it can
/// also take over another method's best design for the last part of a run.
struct TrustSettings {
    /// The first radius of the region, as a fraction of each variable's range.
    double radius = 0.2;
    /// The share of max_iteration after which the trust region refines the best design that
    /// another method has found; 0 never.
    double after = 0;

    bool operator==(const TrustSettings&) const = default;
};

/// The method of a task and the parameters of each (the genetic algorithm's are ZYL's own).
struct MethodSettings {
    Method method = Method::Ga;
    CmaesSettings cmaes;
    DeSettings de;
    TrustSettings trust;

    /// Whether the trust region takes over from another method late in the run.
    bool refined() const { return trust.after > 0 && method != Method::Trust; }

    bool operator==(const MethodSettings&) const = default;
};

/// The largest values a script may give (the loader refuses more, and so does a run store).
constexpr std::int32_t kMostRestarts = 100;
constexpr std::int32_t kMostGrowth = 10;
constexpr double kMostWeight = 2.0;
/// Whether every parameter lies within the range a script may give it.
bool withinRanges(const MethodSettings& settings);

/// What a method carries from one generation to the next, as numbers and individuals, so that
/// a run store keeps it without knowing which method runs.
struct MethodState {
    std::vector<std::int64_t> counts;
    std::vector<double> reals;
    std::vector<Indiv> individuals;

    bool empty() const { return counts.empty() && reals.empty() && individuals.empty(); }
};

/// One way of searching: it turns an evaluated population into the next generation to
/// evaluate. Every generation has the task's population size, so a run, its statistics and its
/// store see generations alike whatever the method. Individuals are ranked by ZYL::better
/// only, and every random draw comes from the task's generator (directly, or through seeds
/// drawn from it).
class SearchMethod {
public:
    virtual ~SearchMethod() = default;

    virtual Method method() const = 0;
    /// Whether the trust region takes over from this method late in the run.
    virtual bool refined() const { return false; }

    /// Replaces the population of `zyl`, every member of which is evaluated, by the next one,
    /// ready for evaluation (ZYL::prepareForEvaluation). The first call of a method takes the
    /// population it finds (the task's random first one, or another method's latest) as its
    /// starting point. False when `stop` ended a long breeding, the population left as it was.
    virtual bool next(ZYL& zyl, const std::atomic<bool>* stop) = 0;

    /// The state between two generations; empty before the first call of next().
    virtual MethodState save() const = 0;
    /// Takes a state that save() gave for the same task. \throws Exception naming what does
    /// not fit; the method is then as new.
    virtual void restore(const MethodState& state, const ZYL& zyl) = 0;
};

/// A method object of the kind asked for, as new.
std::unique_ptr<SearchMethod> makeSearchMethod(Method method);
/// The method object that `settings` ask for, with the trust region's refinement when asked.
std::unique_ptr<SearchMethod> makeSearchMethod(const MethodSettings& settings);
/// Whether `method` is the kind of object that `settings` ask for.
bool runs(const SearchMethod& method, const MethodSettings& settings);

namespace detail {

/// The variables of a task seen as the unit cube: each variable's range maps onto [0; 1], so
/// that a step means the same fraction of every range. Integer and Boolean variables take the
/// nearest whole value.
class UnitBox {
public:
    explicit UnitBox(const ZYL& zyl);

    int size() const { return static_cast<int>(m_lo.size()); }
    /// The ends of variable j's range as the methods read it, and whether it is whole-numbered.
    double lower(int j) const { return m_lo[j]; }
    double upper(int j) const { return m_hi[j]; }
    bool whole(int j) const { return m_whole[j] != 0; }
    /// The coordinate of variable j's value `x` (0 for a variable whose range is one value).
    double toUnit(int j, double x) const;
    /// The distance between two neighbouring values of a whole-numbered variable j, in
    /// coordinates; 0 for a real variable (or one whose range is one value).
    double spacing(int j) const;
    /// Gives variable j of `ind` the value at coordinate `u`, which is first brought into
    /// [0; 1] (not a number: the middle).
    void set(Indiv& ind, int j, double u) const;
    /// Sets every variable of `ind` as set() would, from the coordinates `u` (size() of them).
    void setAll(Indiv& ind, const double* u) const;
    /// Gives variable j of `ind` the value `x` brought into its range, and to the nearest whole
    /// value for a whole-numbered variable.
    void setValue(Indiv& ind, int j, double x) const;

private:
    void setInline(Indiv& ind, int j, double u) const;
    void setValueInline(Indiv& ind, int j, double x) const;

    std::vector<double> m_lo, m_hi;
    std::vector<char> m_whole;
};

/// A real in (0; 1) with 53 random bits, from two draws of `rng`.
double uniformOpen(Rng& rng);

/// Standard normal numbers from the program's generator, by the ziggurat method: the density
/// is covered by 128 strips of equal area, and a draw that falls inside the curve (nearly
/// all of them) costs one 31-bit number and a multiplication. A method draws a normal number
/// per variable for every sample, as many as the objective has evaluations.
class NormalSource {
public:
    explicit NormalSource(LcgRng& rng) : m_rng(rng) {}
    double next();
    /// `count` draws, the same as as many calls of next().
    void fill(double* out, std::size_t count);

private:
    LcgRng& m_rng;
};

/// Ranks `count` individuals from `first` on best first by ZYL::better, into `order`;
/// individuals that rank alike keep their order.
void rankOrder(const ZYL& zyl, const Indiv* first, std::size_t count,
               std::vector<const Indiv*>& order);

} // namespace detail

} // namespace zyl
