#include "common/TextConvert.h"

#include "common/Exception.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace zyl {

namespace {

std::string toChars(double x, int precision)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general,
                                precision);
    return std::string(buffer, result.ptr);
}

std::string_view trimBlanks(std::string_view text)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::string realToText(double x) { return toChars(x, 6); }

std::string realToShortText(double x)
{
    // "%.15g" already gives the fewest digits that read back (trailing zeros dropped) for
    // every double that 15 digits can tell apart, with the fixed notation for exponents from
    // -4 to 14: 0.7, 10, 1000, 1e-07, 1.23456789012346e+20.
    std::string text = toChars(x, 15);
    if (!std::isfinite(x))
        return text;
    // Only at the very ends of the range does rounding to 15 digits step past the largest
    // double ("1.79769313486232e+308"); the digits that identify the value read back finite.
    for (int precision = 16; precision <= 17 && !parseReal(text); ++precision)
        text = toChars(x, precision);
    return text;
}

std::string realToExactText(double x)
{
    if (!std::isfinite(x))
        return realToText(x);
    // The shortest digits that read back, as to_chars finds them, set in the notation "%g"
    // would choose at the precision of those digits (at least six, like realToText).
    char buffer[64];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific).ptr;
    const std::string_view scientific(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t e = scientific.find('e');
    int digits = 0;
    for (std::size_t i = 0; i < e; ++i)
        digits += isDigit(scientific[i]) ? 1 : 0;
    const int exponent = *parseInteger(scientific.substr(e + 1));
    if (exponent < -4 || exponent >= std::max(6, digits))
        return std::string(scientific);
    end = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed).ptr;
    return std::string(buffer, end);
}

bool isDecimalLiteral(std::string_view text)
{
    std::size_t i = 0, n = text.size();
    std::size_t digits = 0;
    while (i < n && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < n && isDigit(text[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    return i == n;
}

std::optional<int> parseInteger(std::string_view text)
{
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-')
        return std::nullopt;
    std::int64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    std::int64_t value = negative ? -magnitude : magnitude;
    if (base == 16 && !negative && value > INT32_MAX && value <= UINT32_MAX)
        value -= (std::int64_t(1) << 32); // 0xFFFFFFFF is -1, as hexadecimal bit patterns go
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<double> parseReal(std::string_view text)
{
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (!isDecimalLiteral(text))
        return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size())
        return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is no number at all.
        bool tiny = false;
        for (char c : text) {
            if (c == 'e' || c == 'E') {
                tiny = text.find('-', 0) != std::string_view::npos;
                break;
            }
        }
        if (!tiny)
            return std::nullopt;
        value = 0.0;
    } else if (error != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

int strToInt(const std::string& text)
{
    if (auto value = parseInteger(text))
        return *value;
    throw Exception("'" + text + "' is not a valid integer value");
}

double strToFloat(const std::string& text)
{
    if (auto value = parseReal(text))
        return *value;
    throw Exception("'" + text + "' is not a valid floating point value");
}

} // namespace zyl
