#include "expr/MathErrors.h"

#include "common/Exception.h"

#include <cmath>

namespace zyl {

std::string mathErrorMessage(int kind, const std::string& functionName)
{
    switch (kind) {
    case DomainError:
    {
        std::string message = "DOMAIN ";
        message += functionName;
        return message;
    }
    case Singularity:
        return "SING ";
    case OverflowError:
        return "OVERFLOW ";
    case UnderflowError:
        return "UNDERFLOW ";
    case TotalLoss:
        return "TLOSS ";
    default:
        return "Unknown MathError!";
    }
}

void raiseMathError(int kind, const std::string& functionName)
{
    throw Exception(mathErrorMessage(kind, functionName));
}

namespace checked {

namespace {
// An infinite result from finite arguments is an overflow.
double overflowChecked(double result, bool finiteArguments)
{
    if (finiteArguments && std::isinf(result))
        raiseMathError(OverflowError, "");
    return result;
}
} // namespace

double log(double x)
{
    if (x < 0)
        raiseMathError(DomainError, "log");
    if (x == 0)
        raiseMathError(Singularity, "log");
    return std::log(x);
}

double exp(double x) { return overflowChecked(std::exp(x), std::isfinite(x)); }

double pow(double x, double y)
{
    if (x < 0 && std::isfinite(y) && y != std::trunc(y))
        raiseMathError(DomainError, "pow");
    if (x == 0 && y < 0)
        raiseMathError(Singularity, "pow");
    return overflowChecked(std::pow(x, y), std::isfinite(x) && std::isfinite(y));
}

double sqrt(double x)
{
    if (x < 0)
        raiseMathError(DomainError, "sqrt");
    return std::sqrt(x);
}

double sin(double x)
{
    if (std::isinf(x))
        raiseMathError(DomainError, "sin");
    return std::sin(x);
}

double cos(double x)
{
    if (std::isinf(x))
        raiseMathError(DomainError, "cos");
    return std::cos(x);
}

double sinh(double x) { return overflowChecked(std::sinh(x), std::isfinite(x)); }

double cosh(double x) { return overflowChecked(std::cosh(x), std::isfinite(x)); }

double hypot(double x, double y)
{
    return overflowChecked(std::hypot(x, y), std::isfinite(x) && std::isfinite(y));
}

double atan2(double y, double x) { return std::atan2(y, x); }

} // namespace checked

} // namespace zyl
