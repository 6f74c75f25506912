// The text and number conversions: the script's integer and real readers, the forms in which
// reals are written (script, display, language), and the script's own lines.
//
// Contracts: whatever is read can be written and read back as the same value; every finite
// real written into a script reads back finite and within its 15 digits; a display text reads
// back within its 6 digits; a value written into a script under a key reads back exactly.
#include "FuzzSupport.h"

#include "common/Exception.h"
#include "common/TextConvert.h"
#include "expr/Tensor.h"
#include "script/ProjectScript.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <cmath>
#include <cstring>

using namespace zyl;

namespace {

bool near(double a, double b, double relative) {
    return a == b || std::fabs(a - b) <= relative * std::max(std::fabs(a), std::fabs(b));
}

void checkReal(double x) {
    const std::string script = realToShortText(x);
    const std::optional<double> back = parseReal(script);
    if (!std::isfinite(x)) {
        FUZZ_CHECK(!back, "a non-finite value read back: " + script);
        return;
    }
    FUZZ_CHECK(back.has_value(), "a finite value does not read back: " + script);
    // Values below the normal range keep their magnitude to within the smallest normal one.
    FUZZ_CHECK(near(*back, x, 1e-14) || std::fabs(*back - x) <= DBL_MIN,
               "a value changed on its way through the script: " + script);
    FUZZ_CHECK(script.size() <= 24, "a long script number: " + script);

    const std::string display = realToText(x);
    const std::optional<double> shown = parseReal(display);
    FUZZ_CHECK(shown && (near(*shown, x, 5e-6) || std::fabs(*shown - x) <= DBL_MIN),
               "display text: " + display);
    FUZZ_CHECK(!formatNumber(x, -x).empty(), "number text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::asText(data, size);

    // 1. The readers on arbitrary text.
    if (std::optional<int> value = parseInteger(text))
        FUZZ_CHECK(parseInteger(std::to_string(*value)) == value, "integer written back");
    if (std::optional<double> value = parseReal(text)) {
        FUZZ_CHECK(std::isfinite(*value), "a real read as a non-finite value");
        checkReal(*value);
    }
    if (isDecimalLiteral(text) && !parseReal(text)) {
        const std::string literal(text);
        FUZZ_CHECK(std::isinf(std::strtod(literal.c_str(), nullptr)),
                   "a decimal literal that fits is no real: " + literal);
    }

    // 2. Bit patterns as reals.
    double bits = 0;
    if (size >= sizeof bits) {
        std::memcpy(&bits, data, sizeof bits);
        checkReal(bits);
    }

    // 3. Keys and values through a script: refused, or read back as written.
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(16);
    const std::string key = in.ConsumeRandomLengthString(16);
    const std::string value = in.ConsumeRandomLengthString(64);
    ProjectScript script = ProjectScript::fromText(in.ConsumeRemainingBytesAsString());
    try {
        script.WriteString(section, key, value);
        FUZZ_CHECK(script.ReadString(section, key, "\n") == value, "a written value");
        ProjectScript reread = ProjectScript::fromText(script.text());
        FUZZ_CHECK(reread.ReadString(section, key, "\n") == value, "a saved value");
    } catch (const Exception&) {
    }
    try {
        script.WriteFloat(section, key, bits);
        if (std::isfinite(bits))
            FUZZ_CHECK(std::isfinite(script.ReadFloat(section, key, NAN)), "a written real");
    } catch (const Exception&) {
    }
    return 0;
}
