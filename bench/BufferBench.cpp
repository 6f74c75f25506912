// Lookups per second in the buffer of evaluated individuals: the hash index against the plain
// scan from the oldest entry, at 10^4, 10^5 and 10^6 entries of five variables each.
//
//   build/release/bench/BufferBench --benchmark_counters_tabular=true
//
// "Hit" probes are random entries (a scan stops half-way on average); "Miss" probes equal no
// entry (a scan reads every one).
#include "engine/Buffer.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <random>
#include <vector>

using namespace zyl;

namespace {

constexpr int probeCount = 1024;

Indiv randomIndiv(std::mt19937_64& gen, bool outside)
{
    std::uniform_real_distribution<double> real(0.0, 10.0);
    std::uniform_int_distribution<int> integer(0, 1000);
    Indiv ind(5);
    ind.setGene(0, std::make_unique<Integer_>(integer(gen)));
    ind.setGene(1, std::make_unique<Floating_>(real(gen)));
    ind.setGene(2, std::make_unique<Floating_>(real(gen)));
    ind.setGene(3, std::make_unique<Boolean_>(static_cast<std::int16_t>(gen() & 1)));
    // A miss differs only in the last variable, so a scan cannot reject it early.
    ind.setGene(4, std::make_unique<Floating_>(outside ? -1.0 : real(gen)));
    ind.value = real(gen);
    ind.evaluated = true;
    return ind;
}

struct Fixture {
    Buffer buffer;
    std::vector<Indiv> hits;
    std::vector<Indiv> misses;
};

/// Built once per size and shared by the benchmarks of that size.
const Fixture& fixture(std::size_t entries)
{
    static std::map<std::size_t, std::unique_ptr<Fixture>> cache;
    auto& slot = cache[entries];
    if (!slot) {
        slot = std::make_unique<Fixture>();
        std::mt19937_64 gen(entries);
        std::vector<const Indiv*> stored;
        for (std::size_t i = 0; i < entries; ++i)
            stored.push_back(&slot->buffer.append(randomIndiv(gen, false)));
        for (int i = 0; i < probeCount; ++i) {
            slot->hits.push_back(*stored[gen() % stored.size()]);
            slot->misses.push_back(randomIndiv(gen, true));
        }
    }
    return *slot;
}

template <bool Indexed, bool Hit> void lookups(benchmark::State& state)
{
    const Fixture& f = fixture(static_cast<std::size_t>(state.range(0)));
    const std::vector<Indiv>& probes = Hit ? f.hits : f.misses;
    std::size_t next = 0;
    benchmark::IterationCount found = 0;
    for (auto _ : state) {
        const Indiv& probe = probes[next++ % probes.size()];
        const Indiv* entry = Indexed ? f.buffer.find(probe) : f.buffer.findByScan(probe);
        found += entry != nullptr;
        benchmark::DoNotOptimize(entry);
    }
    if (found != (Hit ? state.iterations() : 0))
        state.SkipWithError("a lookup gave the wrong answer");
    state.counters["lookups/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void sizes(benchmark::internal::Benchmark* b) { b->Arg(10'000)->Arg(100'000)->Arg(1'000'000); }

} // namespace

BENCHMARK(lookups<true, true>)->Name("Index/Hit")->Apply(sizes);
BENCHMARK(lookups<true, false>)->Name("Index/Miss")->Apply(sizes);
BENCHMARK(lookups<false, true>)->Name("Scan/Hit")->Apply(sizes);
BENCHMARK(lookups<false, false>)->Name("Scan/Miss")->Apply(sizes);

BENCHMARK_MAIN();
