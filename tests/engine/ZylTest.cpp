#include "engine/Zyl.h"

#include "common/Exception.h"
#include "support/EngineHelpers.h"
#include "support/ScriptedRng.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <chrono>
#include <thread>

using namespace zyl;
using namespace zyl::test;
using ::testing::ElementsAre;

TEST(ZylConstruction, PopulationDrawnIndividualByIndividual)
{
    ScriptedRng rng;
    rng.i31(13).i31(4).u(1); // individual 0: integer, Boolean, real
    rng.i31(9).i31(1).u(0);  // individual 1
    auto zyl = makeZyl(2, "ibf", rng);
    EXPECT_EQ(rng.left(), 0u);
    ASSERT_EQ(zyl->population.size(), 2u);
    EXPECT_THAT(values(zyl->population[0]), ElementsAre(3, 0, 10));
    EXPECT_THAT(values(zyl->population[1]), ElementsAre(9, 1, 0));
    EXPECT_FALSE(zyl->population[0].evaluated);
    // The remembered individuals keep the template's values; the global extremes start at the
    // far ends so that the first generation replaces them.
    EXPECT_THAT(values(zyl->globalMin), ElementsAre(0, 0, 0));
    EXPECT_EQ(zyl->globalMax.value, -DBL_MAX);
    EXPECT_EQ(zyl->globalMin.value, DBL_MAX);
    EXPECT_THROW(ZYL(0, zyl->templateIndiv, zyl->names, zyl->ranges, rng), std::invalid_argument);
    EXPECT_THROW(ZYL(2, zyl->templateIndiv, {"x"}, zyl->ranges, rng), std::invalid_argument);
}

TEST(NextGeneration, EveryStepInOrderDrawByDraw)
{
    LcgRng init(3);
    auto zyl = makeZyl(2, "i", init);
    setValues(zyl->population[0], {2});
    setValues(zyl->population[1], {7});
    zyl->population[0].value = 5;
    zyl->population[1].value = 1;
    for (Indiv& ind : zyl->population)
        ind.evaluated = true;
    zyl->tourSize = 2;
    zyl->crossProb = 1;
    zyl->mutProb = 0.5;
    zyl->mutationType = 0;
    zyl->elite = true;
    setValues(zyl->globalMin, {9});
    zyl->globalMin.value = -3;
    zyl->bufferIndividuals = true;
    Indiv buffered = zyl->population[0];
    buffered.value = 11;
    zyl->buffer.append(buffered);

    ScriptedRng rng;
    rng.i31(0).i31(1);     // slot 0: individual 1 beats individual 0
    rng.i31(0).i31(0);     // slot 1: individual 0 against itself
    rng.u(1).u(0);         // the pair is crossed with alpha 0: the values change places
    rng.coin(false);       // slot 0 not mutated
    rng.coin(true).i31(4); // slot 1 mutated uniformly to 4
    rng.i31(1);            // the elite lands on slot 1
    zyl->setRng(rng);
    zyl->nextGeneration();

    EXPECT_EQ(rng.left(), 0u);
    // Slot 0 holds 2 again, which the buffer knows.
    EXPECT_THAT(values(zyl->population[0]), ElementsAre(2));
    EXPECT_EQ(zyl->population[0].value, 11);
    EXPECT_TRUE(zyl->population[0].evaluated);
    // Slot 1 is the elite copy, to be evaluated once more.
    EXPECT_THAT(values(zyl->population[1]), ElementsAre(9));
    EXPECT_EQ(zyl->population[1].value, -3);
    EXPECT_FALSE(zyl->population[1].evaluated);
    EXPECT_EQ(zyl->crossovers, 1);
    EXPECT_EQ(zyl->mutations, 1);
    EXPECT_EQ(zyl->generation, 0);
}

TEST(NextGeneration, RouletteIsRefusedWithoutChange)
{
    LcgRng init(3);
    auto zyl = makeZyl(4, "fi", init);
    auto before = values(zyl->population[2]);
    zyl->selection = 0;
    EXPECT_THAT([&] { zyl->nextGeneration(); },
                ::testing::ThrowsMessage<Exception>(
                    ::testing::StrEq("Roulette selection. Not implemented yet.")));
    EXPECT_EQ(values(zyl->population[2]), before);
}

TEST(NextGeneration, SeededRunsRepeatAndStayInRange)
{
    // Every operator in turn, over many generations, with counters that must add up.
    auto run = [](int crossoverType, int mutationType) {
        LcgRng rng(crossoverType * 10 + mutationType);
        auto zyl = makeZyl(20, "ifbfi", rng);
        zyl->crossoverType = crossoverType;
        zyl->crossPoints = 2;
        zyl->mutationType = mutationType;
        zyl->crossProb = 1;
        zyl->mutProb = 1;
        zyl->elite = true;
        zyl->maxIteration = 60;
        for (int g = 0; g < 60; ++g) {
            for (Indiv& ind : zyl->population) {
                double sum = 0;
                for (double x : values(ind))
                    sum += x;
                ind.value = sum;
                ind.evaluated = true;
                if (ind.value < zyl->globalMin.value)
                    zyl->globalMin = ind;
            }
            zyl->nextGeneration();
            zyl->generation++;
            for (const Indiv& ind : zyl->population) {
                auto v = values(ind);
                for (int j : {0, 4}) {
                    EXPECT_GE(v[j], 0);
                    EXPECT_LE(v[j], 9);
                    EXPECT_EQ(v[j], std::trunc(v[j]));
                }
                for (int j : {1, 3}) {
                    EXPECT_GE(v[j], 0);
                    EXPECT_LE(v[j], 10);
                }
                EXPECT_TRUE(v[2] == 0 || v[2] == 1);
            }
        }
        EXPECT_EQ(zyl->crossovers, 60 * 10);
        EXPECT_EQ(zyl->mutations, 60 * 20 * 5);
        std::vector<std::vector<double>> all;
        for (const Indiv& ind : zyl->population)
            all.push_back(values(ind));
        return all;
    };
    for (int c : {0, 1, 2})
        for (int m : {0, 1})
            EXPECT_EQ(run(c, m), run(c, m)) << "crossover " << c << ", mutation " << m;
}

TEST(NextGeneration, AStopReachesALongBreedingOnly)
{
    // A stop flag that is never set leaves every draw where it was.
    LcgRng first(5), second(5);
    auto a = makeZyl(6, "fib", first);
    auto b = makeZyl(6, "fib", second);
    std::atomic<bool> never{false};
    for (int g = 0; g < 5; ++g) {
        a->nextGeneration();
        ASSERT_TRUE(b->nextGeneration(&never));
    }
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(values(a->population[i]), values(b->population[i]));

    // A short breeding does not even look at the flag, so a stop cannot change it.
    std::atomic<bool> stop{true};
    EXPECT_TRUE(a->nextGeneration(&stop));
    EXPECT_TRUE(b->nextGeneration());
    EXPECT_EQ(values(a->population[3]), values(b->population[3]));

    // A tournament of two billion contestants would take minutes: the stop ends it, and
    // also one asked for while it runs.
    for (auto* zyl : {a.get(), b.get()}) {
        zyl->tourSize = 2'000'000'000;
        const auto before = values(zyl->population[0]);
        std::atomic<bool> later{false};
        std::thread asker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            later = true;
        });
        EXPECT_FALSE(zyl->nextGeneration(zyl == a.get() ? &stop : &later));
        asker.join();
        EXPECT_EQ(values(zyl->population[0]), before);
    }
}
