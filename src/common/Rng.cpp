#include "common/Rng.h"

#include <chrono>

namespace zyl {

LcgRng::LcgRng() { reseed(clockSeed()); }

void LcgRng::reseed(std::uint64_t seed)
{
    // Scramble the seed so that neighbouring seeds (consecutive seconds, 1 and 2) do not start
    // from neighbouring states.
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    m_state = z ^ (z >> 31);
}

std::uint64_t LcgRng::clockSeed()
{
    auto wall = std::chrono::system_clock::now().time_since_epoch().count();
    auto mono = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<std::uint64_t>(wall) ^ (static_cast<std::uint64_t>(mono) << 21);
}

} // namespace zyl
