#pragma once

#include "expr/Tensor.h"

namespace zyl {

/// A complex number of the language. Zeros are kept positive (see cleanZero).
struct Complex {
    double re = 0.0;
    double im = 0.0;
};

/// Turns -0.0 into +0.0 in both parts. A real number must keep an imaginary part of +0.0,
/// or atan2 would give -pi instead of pi and (-1)^0.5 would come out as -I.
inline Complex cleanZero(Complex z)
{
    if (z.re == 0)
        z.re = 0.0;
    if (z.im == 0)
        z.im = 0.0;
    return z;
}

Complex complexAdd(Complex a, Complex b);
Complex complexSubtract(Complex a, Complex b);
Complex complexMultiply(Complex a, Complex b);
Complex complexDivide(Complex a, Complex b);
/// The principal logarithm; the angle is taken as 0 for an exact zero.
Complex complexLn(Complex z);
/// a^b through the polar form; the caller settles an exact zero base first.
Complex complexPowerNonZeroBase(Complex a, Complex b);

/// The numeric value of a binary arithmetic operator (+ - * / ^ log) on two numbers, as
/// both evaluators compute it; `zeroPowerZero` says what 0^0 gives (the symbolic evaluator
/// throws "0^0!" before asking).
Complex arithmeticValue(int code, Complex a, Complex b);

/// The handler of the binary operators (codes 1 to 15): vectors element by element,
/// symbolic operands kept as a node, numbers computed. Takes ownership of the operands.
TensorPtr applyBinaryOperator(int code, TensorPtr left, TensorPtr right);

/// The handler of the prefix operators "!" (107) and negation (113).
TensorPtr applyPrefixOperator(int code, TensorPtr operand);

/// The name and precedence level that a node built for the operator code carries.
const char* operatorName(int code);
int operatorLevel(int code);

} // namespace zyl
