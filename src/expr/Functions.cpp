#include "expr/Functions.h"

#include "expr/MathErrors.h"
#include "expr/StackGuard.h"

#include <cmath>
#include <cstdint>

namespace zyl {

namespace {

constexpr Complex one{1.0, 0.0};
constexpr Complex unitI{0.0, 1.0};

Complex angleAndModulus(Complex w, double& modulus)
{
    modulus = checked::hypot(w.re, w.im);
    return {modulus, (w.re == 0 && w.im == 0) ? 0.0 : checked::atan2(w.im, w.re)};
}

Complex complexSqrt(Complex w)
{
    double modulus = 0;
    const double theta = angleAndModulus(w, modulus).im;
    const double root = checked::sqrt(modulus);
    return cleanZero({root * checked::cos(theta / 2), root * checked::sin(theta / 2)});
}

Complex complexSin(Complex z)
{
    return cleanZero({checked::sin(z.re) * checked::cosh(z.im),
                      checked::cos(z.re) * checked::sinh(z.im)});
}

Complex complexCos(Complex z)
{
    return cleanZero({checked::cos(z.re) * checked::cosh(z.im),
                      -(checked::sin(z.re) * checked::sinh(z.im))});
}

Complex complexSinh(Complex z)
{
    return cleanZero({checked::sinh(z.re) * checked::cos(z.im),
                      checked::cosh(z.re) * checked::sin(z.im)});
}

Complex complexCosh(Complex z)
{
    return cleanZero({checked::cosh(z.re) * checked::cos(z.im),
                      checked::sinh(z.re) * checked::sin(z.im)});
}

Complex scale(Complex z, Complex factor) { return complexMultiply(factor, z); }

Complex square(Complex z) { return complexMultiply(z, z); }

Complex rawFunctionValue(int code, Complex z);

} // namespace

double roundHalfAway(double x)
{
    if (std::isnan(x))
        return x;
    const double shifted = x >= 0 ? x + 0.5 : x - 0.5;
    if (shifted >= 2147483647.0)
        return 2147483647.0;
    if (shifted <= -2147483648.0)
        return -2147483648.0;
    return static_cast<double>(static_cast<std::int32_t>(shifted));
}

Complex functionValue(int code, Complex z)
{
    const Complex result = rawFunctionValue(code, z);
    // No infinity or NaN out of a finite argument: that is an overflow of the formula.
    if (std::isfinite(z.re) && std::isfinite(z.im) &&
        !(std::isfinite(result.re) && std::isfinite(result.im)))
        raiseMathError(OverflowError, "");
    return result;
}

namespace {
Complex rawFunctionValue(int code, Complex z)
{
    switch (code) {
    case 108: return complexSin(z);
    case 109: return complexCos(z);
    case 110: return complexDivide(complexSin(z), complexCos(z));
    case 111: return complexDivide(one, complexDivide(complexSin(z), complexCos(z)));
    case 112: return complexLn(z);
    case 114: {
        const double magnitude = checked::exp(z.re);
        return cleanZero({magnitude * checked::cos(z.im), magnitude * checked::sin(z.im)});
    }
    case 115: return {checked::hypot(z.re, z.im), 0.0};
    case 116: // -I * ln(I*z + sqrt(1 - z^2))
        return scale(complexLn(complexAdd(scale(z, unitI), complexSqrt(complexSubtract(one, square(z))))),
                     {0.0, -1.0});
    case 117: // -I * ln(z + sqrt(z^2 - 1))
        return scale(complexLn(complexAdd(z, complexSqrt(complexSubtract(square(z), one)))),
                     {0.0, -1.0});
    case 118: // -0.5*I * ln((1 + I*z) / (1 - I*z))
        return scale(complexLn(complexDivide(complexAdd(one, scale(z, unitI)),
                                             complexSubtract(one, scale(z, unitI)))),
                     {0.0, -0.5});
    case 119: // 0.5*I * ln((I*z + 1) / (I*z - 1))
        return scale(complexLn(complexDivide(complexAdd(scale(z, unitI), one),
                                             complexSubtract(scale(z, unitI), one))),
                     {0.0, 0.5});
    case 120: return complexSqrt(z);
    case 121: return cleanZero({z.re, 0.0});
    case 122: return cleanZero({z.im, 0.0});
    case 123: return {(z.re == 0 && z.im == 0) ? 0.0 : checked::atan2(z.im, z.re), 0.0};
    case 124: return cleanZero({z.re, -z.im});
    case 127: return complexSinh(z);
    case 128: return complexCosh(z);
    case 129: return complexDivide(complexSinh(z), complexCosh(z));
    case 130: return complexDivide(one, complexDivide(complexSinh(z), complexCosh(z)));
    case 131: // ln(z + sqrt(z^2 + 1))
        return complexLn(complexAdd(z, complexSqrt(complexAdd(square(z), one))));
    case 132: // ln(z + sqrt(z^2 - 1))
        return complexLn(complexAdd(z, complexSqrt(complexSubtract(square(z), one))));
    case 133: // 0.5 * ln((1 + z) / (1 - z))
        return scale(complexLn(complexDivide(complexAdd(one, z), complexSubtract(one, z))),
                     {0.5, 0.0});
    case 134: // 0.5 * ln((z + 1) / (z - 1))
        return scale(complexLn(complexDivide(complexAdd(z, one), complexSubtract(z, one))),
                     {0.5, 0.0});
    case 135: return cleanZero({std::floor(z.re), std::floor(z.im)});
    case 136: return cleanZero({std::ceil(z.re), std::ceil(z.im)});
    case 137: return cleanZero({roundHalfAway(z.re), roundHalfAway(z.im)});
    default: throw InfoErr("Syntax error!!");
    }
}
} // namespace

TensorPtr applyFunction(int code, const std::string& name, TensorPtr argument)
{
    checkStack();
    if (argument->isVector()) {
        auto result = std::make_unique<Tensor>();
        for (TensorPtr& element : argument->elements)
            result->appendElement(applyFunction(code, name, std::move(element)));
        return result;
    }
    if (argument->isSymbolic()) {
        TensorPtr node = makeOperator(code, 13, name);
        node->left = std::move(argument);
        return node;
    }
    const Complex z = functionValue(code, {argument->re, argument->im});
    return makeNumber(z.re, z.im);
}

} // namespace zyl
