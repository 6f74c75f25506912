// The reader of an external program's output file.
//
// Contract: it reads what the C library's strtod reads in the "C" locale (hexadecimal forms,
// which it does not take, aside): the same values, and a number exactly when strtod finds one.
#include "FuzzSupport.h"

#include "engine/External.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>

using namespace zyl;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::asText(data, size);
    const std::optional<double> value = parseOutputValue(text);

    // The C library stops at the first NUL character, so the comparison does too.
    const std::string terminated(text.substr(0, text.find('\0')));
    if (terminated.size() != text.size())
        return 0;
    std::size_t start = terminated.find_first_not_of(" \t\n\v\f\r");
    if (start != std::string::npos && (terminated[start] == '+' || terminated[start] == '-'))
        ++start;
    if (start != std::string::npos && terminated.compare(start, 2, "0x") == 0)
        return 0;
    if (start != std::string::npos && terminated.compare(start, 2, "0X") == 0)
        return 0;

    static const locale_t cLocale = ::newlocale(LC_NUMERIC_MASK, "C", locale_t{});
    char* end = nullptr;
    const double expected = ::strtod_l(terminated.c_str(), &end, cLocale);
    const bool found = end != terminated.c_str();
    FUZZ_CHECK(value.has_value() == found, "number found or not: " + terminated);
    if (found)
        FUZZ_CHECK((std::isnan(expected) && std::isnan(*value)) || expected == *value,
                   "value: " + terminated);
    return 0;
}
