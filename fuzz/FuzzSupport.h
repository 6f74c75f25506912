#pragma once

// What every fuzz target shares: a check that ends the run with a message (so that libFuzzer
// keeps the input as a crash) and the lines of an input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

/// A contract of the code under test; a broken one is reported and ends the run.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "contract broken at %s:%d: %s\n", __FILE__, __LINE__,             \
                         std::string(what).c_str());                                               \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace zyl::fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// The input cut at line feeds (a carriage return before one is dropped), at most `limit`
/// lines: a person types that many before the input counts as one test.
inline std::vector<std::string> linesOf(std::string_view text, std::size_t limit) {
    std::vector<std::string> lines;
    while (!text.empty() && lines.size() < limit) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

} // namespace zyl::fuzz
