#pragma once

#include <cstdint>

namespace zyl {

/// The source of every random draw of the genetic algorithm. It is an object handed to the
/// engine rather than hidden global state, so a run can be repeated from a seed and a test can
/// script the draws one by one.
///
/// Derived classes supply two primitives; the helpers built on them are not virtual, so that
/// every operator consumes draws in the same way whatever the source.
class Rng {
public:
    virtual ~Rng() = default;

    /// A 15-bit draw, 0 to 32767.
    virtual int rand15() = 0;

    /// A non-negative 31-bit draw, 0 to 2^31 - 1.
    virtual std::int32_t randomInt31() = 0;

    /// rand15() / 32767: a real in [0; 1] with both ends reachable.
    double uniform01() { return rand15() / 32767.0; }

    /// True when uniform01() <= p. Takes one draw, so p = 0 still succeeds when the draw is 0.
    bool chance(double p) { return uniform01() <= p; }

    /// randomInt31() mod n. For n <= 0 it returns 0 without taking a draw.
    int randomIndex(int n) { return n > 0 ? static_cast<int>(randomInt31() % n) : 0; }
};

/// The generator used by the programs: a 64-bit linear congruential generator whose draws
/// are taken from the high bits of the state (its low bits cycle with short periods, which
/// would make Boolean variables alternate).
class LcgRng : public Rng {
public:
    /// Seeded from the clock, so two runs of the same project differ.
    LcgRng();
    /// Seeded with `seed`, so a run can be repeated exactly.
    explicit LcgRng(std::uint64_t seed) { reseed(seed); }

    void reseed(std::uint64_t seed);
    /// The whole state of the generator: setState(state()) later continues the same sequence,
    /// which is how a stored run resumes.
    std::uint64_t state() const { return m_state; }
    void setState(std::uint64_t state) { m_state = state; }
    /// A seed derived from the current time.
    static std::uint64_t clockSeed();

    int rand15() override { return static_cast<int>(step() >> 49); }
    std::int32_t randomInt31() override { return static_cast<std::int32_t>(step() >> 33); }

private:
    std::uint64_t step()
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return m_state;
    }

    std::uint64_t m_state = 0;
};

} // namespace zyl
