#include "engine/ParetoSearch.h"

#include "common/Exception.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zyl;

namespace {

// Two reals, an integer of 11 values, a Boolean, another integer of 4 values and a real.
const std::vector<double> kSpacing{0, 0, 0.1, 1, 1.0 / 3, 0};

/// Two objectives (three with `third`): the squared distances to 0.2 and to 0.8 (and 0.5) in
/// every variable; infeasible where the first two variables add up to more than 1.2.
struct Problem {
    bool third = false;

    int objectives() const { return third ? 3 : 2; }
    void evaluate(const std::vector<double>& designs, std::vector<double>& values,
                  std::vector<double>& violations) const
    {
        const std::size_t n = kSpacing.size(), m = static_cast<std::size_t>(objectives());
        const std::size_t count = designs.size() / n;
        values.assign(count * m, 0.0);
        violations.assign(count, 0.0);
        for (std::size_t i = 0; i < count; ++i) {
            const double* x = &designs[i * n];
            for (std::size_t j = 0; j < n; ++j) {
                values[i * m] += (x[j] - 0.2) * (x[j] - 0.2);
                values[i * m + 1] += (x[j] - 0.8) * (x[j] - 0.8);
                if (third)
                    values[i * m + 2] += (x[j] - 0.5) * (x[j] - 0.5);
            }
            violations[i] = std::max(0.0, x[0] + x[1] - 1.2);
        }
    }
};

/// Random designs, whole-numbered variables on whole values (as the task's are).
std::vector<double> firstPopulation(LcgRng& rng, std::size_t size)
{
    std::vector<double> designs(size * kSpacing.size());
    for (std::size_t k = 0; k < designs.size(); ++k) {
        const double s = kSpacing[k % kSpacing.size()];
        designs[k] = detail::uniformOpen(rng);
        if (s > 0)
            designs[k] = std::min(1.0, std::round(designs[k] / s) * s);
    }
    return designs;
}

/// Runs `generations` calls from `designs`, appending every batch to `batches`.
void run(ParetoSearch& search, const Problem& problem, LcgRng& rng, std::vector<double>& designs,
         int generations, std::vector<std::vector<double>>& batches)
{
    std::vector<double> values, violations, next;
    for (int g = 0; g < generations; ++g) {
        problem.evaluate(designs, values, violations);
        search.next(designs, {values, violations, problem.objectives()}, rng, next);
        designs = next;
        batches.push_back(next);
    }
}

struct Case {
    ParetoMethod method;
    bool third;
};

class ParetoSearches : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(ParetoSearches, ASeedGivesOneRunOfDesignsOnWholeValuesWithinTheBox)
{
    const Problem problem{GetParam().third};
    std::vector<std::vector<double>> first, second;
    for (auto* batches : {&first, &second}) {
        LcgRng rng(21);
        auto search = makeParetoSearch(GetParam().method, 10, problem.objectives(), kSpacing);
        std::vector<double> designs = firstPopulation(rng, 10);
        run(*search, problem, rng, designs, 30, *batches);
    }
    EXPECT_EQ(first, second);
    bool booleanMoved[2] = {false, false};
    for (const std::vector<double>& batch : first) {
        ASSERT_EQ(batch.size(), 10 * kSpacing.size());
        for (std::size_t k = 0; k < batch.size(); ++k) {
            const double u = batch[k], s = kSpacing[k % kSpacing.size()];
            EXPECT_TRUE(u >= 0 && u <= 1) << u;
            if (s > 0) {
                EXPECT_NEAR(u / s, std::round(u / s), 1e-9) << u;
            }
            if (k % kSpacing.size() == 3)
                booleanMoved[u == 1.0] = true;
        }
    }
    EXPECT_TRUE(booleanMoved[0] && booleanMoved[1]);
}

TEST_P(ParetoSearches, ARestoredRunContinuesAsTheUninterruptedOne)
{
    const Problem problem{GetParam().third};
    std::vector<std::vector<double>> whole, resumed;
    LcgRng rng(5);
    auto search = makeParetoSearch(GetParam().method, 12, problem.objectives(), kSpacing);
    std::vector<double> designs = firstPopulation(rng, 12);
    run(*search, problem, rng, designs, 20, whole);

    LcgRng first(5);
    auto before = makeParetoSearch(GetParam().method, 12, problem.objectives(), kSpacing);
    std::vector<double> again = firstPopulation(first, 12);
    run(*before, problem, first, again, 8, resumed);
    const MethodState state = before->save();
    auto after = makeParetoSearch(GetParam().method, 12, problem.objectives(), kSpacing);
    after->restore(state);
    LcgRng second(0);
    second.setState(first.state());
    run(*after, problem, second, again, 12, resumed);
    EXPECT_EQ(resumed, whole);

    // A state of another kind or shape is refused, and leaves the method as new.
    const ParetoMethod other =
        GetParam().method == ParetoMethod::Nsga2 ? ParetoMethod::SmsEmoa : ParetoMethod::Nsga2;
    auto foreign = makeParetoSearch(other, 12, problem.objectives(), kSpacing);
    EXPECT_THROW(foreign->restore(state), Exception);
    EXPECT_TRUE(foreign->save().empty());
    MethodState cut = state;
    cut.reals.pop_back();
    EXPECT_THROW(after->restore(cut), Exception);
    EXPECT_TRUE(after->save().empty());
    MethodState outside = state;
    outside.reals[0] = 1.5;
    EXPECT_THROW(after->restore(outside), Exception);
}

TEST_P(ParetoSearches, ReachesTheFeasibleFront)
{
    // On the front every variable lies between 0.2 and 0.8 (as near as its whole values allow)
    // and the first two add up to no more than 1.2.
    const Problem problem{GetParam().third};
    std::vector<std::vector<double>> batches;
    LcgRng rng(8);
    auto search = makeParetoSearch(GetParam().method, 20, problem.objectives(), kSpacing);
    std::vector<double> designs = firstPopulation(rng, 20);
    run(*search, problem, rng, designs, 60, batches);
    const std::span<const double> kept = search->designs();
    const Evaluations e = search->evaluations();
    ASSERT_EQ(e.count(), 20u);
    for (std::size_t i = 0; i < e.count(); ++i) {
        EXPECT_EQ(e.violations[i], 0.0);
        for (std::size_t j = 0; j < kSpacing.size(); ++j) {
            const double u = kept[i * kSpacing.size() + j];
            const double slack = kSpacing[j] > 0 ? kSpacing[j] : 0.1;
            EXPECT_GE(u, 0.2 - slack);
            EXPECT_LE(u, 0.8 + slack) << "member " << i << " variable " << j;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, ParetoSearches,
                         ::testing::Values(Case{ParetoMethod::Nsga2, false},
                                           Case{ParetoMethod::SmsEmoa, false},
                                           Case{ParetoMethod::Nsga2, true},
                                           Case{ParetoMethod::SmsEmoa, true}),
                         [](const auto& info) {
                             return std::string(paretoMethodName(info.param.method)) +
                                    (info.param.third ? "Three" : "Two");
                         });
