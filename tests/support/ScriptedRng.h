#pragma once

#include "common/Rng.h"

#include <cmath>
#include <cstddef>
#include <deque>
#include <stdexcept>
#include <string>

namespace zyl::test {

/// A generator that returns draws written in advance, so that a test fixes each operator's
/// randomness draw by draw. Taking a draw of the other kind, or one more than was scripted,
/// throws, so a test also proves how many draws of which kind an operation takes.
class ScriptedRng : public Rng {
public:
    /// The next rand15 draw, 0 to 32767.
    ScriptedRng& r15(int v) { return push(Kind::Rand15, v); }
    /// The rand15 draw nearest to making uniform01() return x; exact for 0 and 1.
    ScriptedRng& u(double x) { return r15(static_cast<int>(std::lround(x * 32767))); }
    /// A chance(0.5) that succeeds (true) or fails.
    ScriptedRng& coin(bool yes) { return r15(yes ? 0 : 32767); }
    /// The next randomInt31 draw.
    ScriptedRng& i31(std::int32_t v) { return push(Kind::Int31, v); }

    int rand15() override { return pop(Kind::Rand15); }
    std::int32_t randomInt31() override { return pop(Kind::Int31); }

    std::size_t left() const { return m_draws.size(); }

private:
    enum class Kind { Rand15, Int31 };
    struct Draw {
        Kind kind;
        std::int32_t value;
    };

    ScriptedRng& push(Kind kind, std::int32_t v)
    {
        m_draws.push_back({kind, v});
        return *this;
    }
    std::int32_t pop(Kind kind)
    {
        const char* name = kind == Kind::Rand15 ? "rand15" : "randomInt31";
        if (m_draws.empty())
            throw std::logic_error(std::string("unscripted draw: ") + name);
        Draw next = m_draws.front();
        if (next.kind != kind)
            throw std::logic_error(std::string("scripted draw of the other kind; wanted ") + name);
        m_draws.pop_front();
        return next.value;
    }

    std::deque<Draw> m_draws;
};

} // namespace zyl::test
