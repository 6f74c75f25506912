#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zyl {

/// A real as display text: general format, 6 significant digits, like printf's "%g",
/// always with "." whatever the process locale ("inf", "nan" for the non-finite).
std::string realToText(double x);

/// The shortest general form of x with at most 15 significant digits (0.7, 0.15, 2, 10,
/// 1e-07), the form in which reals are written into project scripts. Every finite value
/// reads back as a finite value: near the largest double more digits are written.
std::string realToShortText(double x);

/// The fewest significant digits that read back as exactly x, in the form of realToText:
/// wherever six digits are exact the text is realToText's (0.25, 7, 1e+06, 100000), and
/// otherwise every digit that tells x from its neighbours is kept (1000003.5, 1234567,
/// 0.30000000000000004). An external program reads the very design that is reported.
std::string realToExactText(double x);

/// True when `text` is a decimal literal: digits with an optional point (or a point and
/// digits) and an optional exponent ("12", "5.", ".5", "1.5e-3"). No sign, no hex, no inf.
bool isDecimalLiteral(std::string_view text);

/// Decimal (or "0x" hexadecimal) 32-bit integer with an optional sign; blanks around it
/// are ignored. Returns nothing when the text is not such an integer.
std::optional<int> parseInteger(std::string_view text);

/// Decimal real with an optional sign, "." as separator in every locale; blanks around it
/// are ignored. Returns nothing for anything else, out-of-range values included.
std::optional<double> parseReal(std::string_view text);

/// As parseInteger, but a failure throws Exception "'<text>' is not a valid integer value".
int strToInt(const std::string& text);

/// As parseReal, but a failure throws Exception "'<text>' is not a valid floating point value".
double strToFloat(const std::string& text);

} // namespace zyl
