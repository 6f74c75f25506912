// The engine's statistics and the next generation on arbitrary values: any population size
// the loader allows, any mix of variables and ranges, objective values that may be NaN or
// infinite, and every setting within the loader's bounds.
//
// Contracts beyond "no crash": the statistics are ordered as their meanings require
// (quartiles, extremes, counts), the buffer's index agrees with a scan of its list, and the
// next generation keeps the population's size and every variable's kind.
#include "FuzzSupport.h"

#include "engine/Statistics.h"
#include "project/Loader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <typeinfo>

using namespace zyl;

namespace {

/// A count up to `limit`, mostly small: the largest values cost many draws per generation.
int anyCount(FuzzedDataProvider& in, int low, int limit) {
    return in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegralInRange(low, limit)
                                                : in.ConsumeIntegralInRange(low, low + 8);
}

double anyValue(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange(-3, 3) : in.ConsumeFloatingPoint<double>();
}

void checkStatistics(const ZYL& zyl) {
    FUZZ_CHECK(zyl.different >= 1 && zyl.different <= zyl.popSize, "different");
    if (!std::isnan(zyl.q1) && !std::isnan(zyl.q2) && !std::isnan(zyl.q3))
        FUZZ_CHECK(zyl.q1 <= zyl.q2 && zyl.q2 <= zyl.q3, "quartiles out of order");
    if (!std::isnan(zyl.currentMin.value) && !std::isnan(zyl.currentMax.value))
        FUZZ_CHECK(zyl.currentMin.value <= zyl.currentMax.value, "current extremes");
    FUZZ_CHECK(!(zyl.globalMin.value > zyl.currentMin.value), "global minimum above current");
    FUZZ_CHECK(!(zyl.globalMax.value < zyl.currentMax.value), "global maximum below current");
    FUZZ_CHECK(!(zyl.entropy < 0) && !(zyl.range < 0) && !(zyl.stdDev < 0), "negative spread");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    LcgRng rng(in.ConsumeIntegral<std::uint64_t>());
    const int popSize = 2 * in.ConsumeIntegralInRange(1, 50);
    const int n = in.ConsumeIntegralInRange(1, 8);
    Indiv templateIndiv(n);
    std::vector<VariableRange> ranges(n);
    std::vector<std::string> names;
    for (int j = 0; j < n; ++j) {
        VariableRange& range = ranges[j];
        range.uniformityCoeff = in.ConsumeFloatingPointInRange(1.0, 100.0);
        std::unique_ptr<Variable_> gene;
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            gene = std::make_unique<Boolean_>(0);
            break;
        case 1:
            range.intLo = in.ConsumeIntegral<std::int32_t>();
            range.intHi = in.ConsumeIntegral<std::int32_t>();
            gene = std::make_unique<Integer_>(0);
            break;
        default:
            range.realLo = in.ConsumeFloatingPoint<double>();
            range.realHi = in.ConsumeFloatingPoint<double>();
            gene = std::make_unique<Floating_>(0.0);
            break;
        }
        gene->randomInit(range, rng);
        templateIndiv.setGene(j, std::move(gene));
        names.push_back("x" + std::to_string(j));
    }
    ZYL zyl(popSize, std::move(templateIndiv), names, ranges, rng);
    zyl.maximise = in.ConsumeBool();
    zyl.elite = in.ConsumeBool();
    zyl.bufferIndividuals = in.ConsumeBool();
    zyl.tourSize = anyCount(in, 1, maxTournamentSize);
    zyl.crossoverType = in.ConsumeIntegralInRange(0, 2);
    zyl.crossPoints = anyCount(in, 0, maxCrossoverPoints);
    zyl.crossProb = in.ConsumeProbability<double>();
    zyl.crossUnifProb = in.ConsumeProbability<double>();
    zyl.mutProb = in.ConsumeProbability<double>();
    zyl.mutationType = in.ConsumeIntegralInRange(0, 1);
    zyl.maxIteration = in.ConsumeIntegralInRange(1, 30000);

    SymbolTable table;
    table.registerBuiltinSymbols();
    for (int generation = 0; generation < 3 && in.remaining_bytes() > 0; ++generation) {
        zyl.generation = std::min(generation * in.ConsumeIntegralInRange(0, 15000), 30000);
        for (Indiv& ind : zyl.population) {
            ind.value = anyValue(in);
            ind.evaluated = true;
            if (zyl.bufferIndividuals)
                zyl.recordInBuffer(ind);
        }
        computeStatistics(zyl);
        checkStatistics(zyl);
        publishStatistics(zyl, table);
        FUZZ_CHECK(statisticsRows(zyl, true).size() == 19, "statistics rows");
        zyl.nextGeneration();
        FUZZ_CHECK(static_cast<int>(zyl.population.size()) == popSize, "population size");
        for (const Indiv& ind : zyl.population) {
            FUZZ_CHECK(ind.count() == n, "variable count");
            for (int j = 0; j < n; ++j) {
                const Variable_& gene = *ind.gene(j);
                const Variable_& kind = *zyl.templateIndiv.gene(j);
                FUZZ_CHECK(typeid(gene) == typeid(kind), "a variable changed its kind");
            }
            FUZZ_CHECK(zyl.buffer.find(ind) == zyl.buffer.findByScan(ind), "buffer index");
        }
    }
    return 0;
}
