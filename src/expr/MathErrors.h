#pragma once

#include <string>

namespace zyl {

/// Kinds of mathematics-library error, with the numbers the error records use.
enum MathErrorKind { DomainError = 1, Singularity = 2, OverflowError = 3, UnderflowError = 4,
                     TotalLoss = 5 };

/// "DOMAIN " + function name, "SING ", "OVERFLOW ", "UNDERFLOW ", "TLOSS ", or
/// "Unknown MathError!" for any other kind.
std::string mathErrorMessage(int kind, const std::string& functionName);

/// Throws Exception (not InfoErr) with mathErrorMessage(kind, functionName).
[[noreturn]] void raiseMathError(int kind, const std::string& functionName);

/// The C library functions that the language calls, with their arguments and results
/// checked: a domain error, a pole or an overflow of a finite argument throws the math
/// error of its kind. Underflow to zero and loss of significance are not errors here: a
/// result of zero or a less precise sine is a usable answer, and an objective such as
/// exp(-x^2) must not stop a run far from its centre. Non-finite arguments pass through.
namespace checked {
double log(double x);
double exp(double x);
double pow(double x, double y);
double sqrt(double x);
double sin(double x);
double cos(double x);
double sinh(double x);
double cosh(double x);
double hypot(double x, double y);
double atan2(double y, double x);
} // namespace checked

} // namespace zyl
