#include "engine/Buffer.h"

#include "engine/Zyl.h"
#include "support/EngineHelpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace zyl;
using namespace zyl::test;
using ::testing::ElementsAre;

namespace {
Indiv make(std::vector<double> reals, double value = 0)
{
    Indiv ind(static_cast<int>(reals.size()));
    for (std::size_t j = 0; j < reals.size(); ++j)
        ind.setGene(static_cast<int>(j), std::make_unique<Floating_>(reals[j]));
    ind.value = value;
    ind.evaluated = true;
    return ind;
}
} // namespace

TEST(Buffer, LookupCopiesTheFirstEqualEntry)
{
    Buffer buffer;
    buffer.append(make({1, 2}, 10));
    buffer.append(make({3, 4}, 20));
    Indiv probe = make({3, 4}, -1);
    probe.evaluated = false;
    EXPECT_TRUE(buffer.lookup(probe));
    EXPECT_EQ(probe.value, 20);
    EXPECT_TRUE(probe.evaluated);

    Indiv miss = make({3, 5}, -1);
    miss.evaluated = false;
    EXPECT_FALSE(buffer.lookup(miss));
    EXPECT_EQ(miss.value, -1);
    EXPECT_FALSE(miss.evaluated);

    // A later duplicate is kept in the list but the oldest one answers.
    buffer.append(make({1, 2}, 30));
    EXPECT_EQ(buffer.size(), 3u);
    EXPECT_EQ(buffer.find(make({1, 2}))->value, 10);
}

TEST(Buffer, RealEqualityZeroSignAndNaN)
{
    Buffer buffer;
    buffer.append(make({-0.0, 1}, 1));
    buffer.append(make({std::nan(""), 1}, 2));
    EXPECT_EQ(buffer.find(make({0.0, 1}))->value, 1);
    EXPECT_EQ(buffer.find(make({std::nan(""), 1})), nullptr);
    EXPECT_EQ(buffer.findByScan(make({std::nan(""), 1})), nullptr);
    EXPECT_EQ(buffer.find(make({0.0})), nullptr); // another count never matches
    EXPECT_EQ(buffer.entries().size(), 2u);
}

TEST(Buffer, IndexAgreesWithTheScanOnRandomData)
{
    // Few distinct values, signed zeros and NaNs, so hits, duplicates and near misses abound.
    std::mt19937 gen(20240601);
    const double pool[] = {0.0, -0.0, 1.0, -1.0, 0.5, std::nan(""), 1e-300, 3.0};
    auto random = [&] {
        Indiv ind(3);
        ind.setGene(0, std::make_unique<Integer_>(int(gen() % 4) - 2));
        ind.setGene(1, std::make_unique<Floating_>(pool[gen() % 8]));
        ind.setGene(2, std::make_unique<Boolean_>(int(gen() % 2)));
        ind.value = gen() % 1000;
        return ind;
    };
    Buffer buffer;
    int hits = 0;
    for (int round = 0; round < 3000; ++round) {
        Indiv probe = random();
        const Indiv* indexed = buffer.find(probe);
        ASSERT_EQ(indexed, buffer.findByScan(probe)) << probe.text();
        hits += indexed != nullptr;
        if (round % 3 != 0)
            buffer.append(probe); // duplicates too, not only misses
    }
    EXPECT_GT(hits, 1000);
    EXPECT_LT(hits, 3000);
}

TEST(RecordInBuffer, AppendsNewAndHandsBackKnown)
{
    LcgRng init(1);
    auto zyl = makeZyl(2, "if", init);
    Indiv& first = zyl->population[0];
    Indiv& second = zyl->population[1];
    setValues(first, {3, 0.5});
    setValues(second, {3, 0.5});
    first.value = 1;
    second.value = 2; // a noisy objective gave the twin another value
    first.evaluated = second.evaluated = true;

    EXPECT_EQ(zyl->recordInBuffer(first), nullptr); // buffer off: nothing happens
    EXPECT_TRUE(zyl->buffer.empty());

    zyl->bufferIndividuals = true;
    const Indiv* added = zyl->recordInBuffer(first);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->value, 1);
    EXPECT_EQ(zyl->recordInBuffer(second), nullptr);
    EXPECT_EQ(second.value, 1); // the first value stays for the rest of the task
    EXPECT_EQ(zyl->buffer.size(), 1u);
}
