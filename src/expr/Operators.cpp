#include "expr/Operators.h"

#include "expr/MathErrors.h"
#include "expr/StackGuard.h"

#include <cmath>

namespace zyl {

namespace {

bool isFinite(Complex z) { return std::isfinite(z.re) && std::isfinite(z.im); }

/// The language never makes an infinity or a NaN out of finite numbers: such a result is an
/// overflow, reported like the library's overflows.
Complex checkedResult(Complex z, Complex a, Complex b)
{
    if (!isFinite(z) && isFinite(a) && isFinite(b))
        raiseMathError(OverflowError, "");
    return cleanZero(z);
}

} // namespace

Complex complexAdd(Complex a, Complex b)
{
    return checkedResult({a.re + b.re, a.im + b.im}, a, b);
}

Complex complexSubtract(Complex a, Complex b)
{
    return checkedResult({a.re - b.re, a.im - b.im}, a, b);
}

Complex complexMultiply(Complex a, Complex b)
{
    return checkedResult({a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im}, a, b);
}

Complex complexDivide(Complex a, Complex b)
{
    // A zero divisor is a pole of the quotient, reported like the library's poles.
    if (b.re == 0 && b.im == 0)
        raiseMathError(Singularity, "");
    Complex z;
    if (b.im == 0) {
        // A real divisor divides each part: exact, and x/1e200 does not square the divisor.
        z = {a.re / b.re, a.im / b.re};
    } else if (b.re == 0) {
        z = {a.im / b.im, -a.re / b.im};
    } else {
        const double d = b.re * b.re + b.im * b.im;
        if (d != 0 && std::isfinite(d)) {
            z = {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
        } else {
            // The squared modulus under- or overflows: divide by the scaled divisor instead.
            if (std::fabs(b.re) >= std::fabs(b.im)) {
                const double r = b.im / b.re, den = b.re + b.im * r;
                z = {(a.re + a.im * r) / den, (a.im - a.re * r) / den};
            } else {
                const double r = b.re / b.im, den = b.re * r + b.im;
                z = {(a.re * r + a.im) / den, (a.im * r - a.re) / den};
            }
        }
    }
    return checkedResult(z, a, b);
}

Complex complexLn(Complex z)
{
    const double modulus = checked::hypot(z.re, z.im);
    const double angle = (z.re == 0 && z.im == 0) ? 0.0 : checked::atan2(z.im, z.re);
    return cleanZero({checked::log(modulus), angle});
}

Complex complexPowerNonZeroBase(Complex a, Complex b)
{
    const double r = checked::hypot(a.re, a.im);
    const double theta = checked::atan2(a.im, a.re);
    double m = checked::pow(r, b.re);
    if (b.im != 0)
        m *= checked::exp(-b.im * theta);
    double phi = b.re * theta;
    if (b.im != 0)
        phi += b.im * checked::log(r);
    // A real base to a whole exponent is real: the sine of a multiple of the rounded pi is
    // not 0, and that noise would make x^2 of a negative x count as a complex value.
    const bool real = a.im == 0 && b.im == 0 && b.re == std::trunc(b.re);
    return checkedResult({m * checked::cos(phi), real ? 0.0 : m * checked::sin(phi)}, a, b);
}

Complex arithmeticValue(int code, Complex a, Complex b)
{
    switch (code) {
    case op::Plus:
        return complexAdd(a, b);
    case op::Minus:
        return complexSubtract(a, b);
    case op::Times:
        return complexMultiply(a, b);
    case op::Divide:
        return complexDivide(a, b);
    case op::Power:
        if (a.re == 0 && a.im == 0)
            return {b.re == 0 && b.im == 0 ? 1.0 : 0.0, 0.0};
        return complexPowerNonZeroBase(a, b);
    case op::Log:
        return complexDivide(complexLn(b), complexLn(a));
    default:
        throw InfoErr("Syntax error!!");
    }
}

const char* operatorName(int code)
{
    switch (code) {
    case op::Plus: return "+";
    case op::Minus: return "-";
    case op::Times: return "*";
    case op::Divide: return "/";
    case op::Power: return "^";
    case op::Log: return "log";
    case op::Greater: return ">";
    case op::GreaterEq: return ">=";
    case op::Less: return "<";
    case op::LessEq: return "<=";
    case op::Equal: return "==";
    case op::NotEqual: return "!=";
    case op::And: return "&&";
    case op::Or: return "||";
    case op::Not: return "!";
    case op::Negate: return "~";
    default: return "";
    }
}

int operatorLevel(int code)
{
    switch (code) {
    case op::Plus:
    case op::Minus: return 9;
    case op::Times:
    case op::Divide: return 10;
    case op::Power: return 12;
    case op::Log: return 13;
    case op::Greater:
    case op::GreaterEq:
    case op::Less:
    case op::LessEq: return 8;
    case op::Equal:
    case op::NotEqual: return 7;
    case op::And: return 3;
    case op::Or: return 2;
    case op::Not:
    case op::Negate: return 11;
    default: return 13;
    }
}

namespace {

Complex valueOf(const Tensor& t) { return {t.re, t.im}; }

TensorPtr makeVectorNode() { return std::make_unique<Tensor>(); }

TensorPtr buildNode(int code, TensorPtr left, TensorPtr right)
{
    TensorPtr node = makeOperator(code, operatorLevel(code), operatorName(code));
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
}

bool isComparison(int code) { return code >= op::Greater && code <= op::LessEq; }

TensorPtr arithmetic(int code, TensorPtr left, TensorPtr right)
{
    checkStack();
    if (left->isVector() && right->isVector()) {
        if (left->dimension != right->dimension)
            throw InfoErr("Different dimensions");
        TensorPtr result = makeVectorNode();
        for (int i = 0; i < left->dimension; ++i)
            result->appendElement(
                arithmetic(code, std::move(left->elements[i]), std::move(right->elements[i])));
        return result;
    }
    if (left->isVector()) {
        TensorPtr result = makeVectorNode();
        for (int i = 0; i < left->dimension; ++i)
            result->appendElement(arithmetic(code, std::move(left->elements[i]), right->clone()));
        return result;
    }
    if (right->isVector()) {
        TensorPtr result = makeVectorNode();
        for (int i = 0; i < right->dimension; ++i)
            result->appendElement(arithmetic(code, left->clone(), std::move(right->elements[i])));
        return result;
    }
    if (left->isSymbolic() || right->isSymbolic())
        return buildNode(code, std::move(left), std::move(right));
    const Complex a = valueOf(*left), b = valueOf(*right);
    if (code == op::Power && a.re == 0 && a.im == 0 && b.re == 0 && b.im == 0)
        throw InfoErr("0^0!");
    const Complex z = arithmeticValue(code, a, b);
    return makeNumber(z.re, z.im);
}

TensorPtr logic(int code, TensorPtr left, TensorPtr right)
{
    if (left->isVector() || (right && right->isVector()))
        throw InfoErr("Not a scalar type !");
    if (left->isSymbolic() || (right && right->isSymbolic()))
        return buildNode(code, std::move(left), std::move(right));
    if (left->im != 0 || (right && right->im != 0))
        throw InfoErr("Not a real type");
    const double x1 = left->re, x2 = right ? right->re : 0.0;
    bool truth = false;
    switch (code) {
    case op::Greater: truth = x1 > x2; break;
    case op::GreaterEq: truth = x1 >= x2; break;
    case op::Less: truth = x1 < x2; break;
    case op::LessEq: truth = x1 <= x2; break;
    case op::And: truth = x1 != 0 && x2 != 0; break;
    case op::Or: truth = x1 != 0 || x2 != 0; break;
    case op::Not: truth = x1 == 0; break;
    default: break;
    }
    return makeNumber(truth ? 1.0 : 0.0);
}

bool equalValues(const Tensor& left, const Tensor& right)
{
    checkStack();
    if (left.isVector() && right.isVector()) {
        if (left.dimension != right.dimension)
            return false;
        for (int i = 0; i < left.dimension; ++i)
            if (!equalValues(*left.elements[i], *right.elements[i]))
                return false;
        return true;
    }
    if (left.isVector() || right.isVector())
        return false;
    if (left.isSymbolic() || right.isSymbolic())
        return left.text == right.text;
    return left.re == right.re && left.im == right.im;
}

TensorPtr negate(TensorPtr operand)
{
    checkStack();
    if (operand->isVector()) {
        TensorPtr result = makeVectorNode();
        for (TensorPtr& element : operand->elements)
            result->appendElement(negate(std::move(element)));
        return result;
    }
    if (operand->isSymbolic())
        return buildNode(op::Negate, std::move(operand), nullptr);
    return makeNumber(-operand->re, -operand->im);
}

} // namespace

TensorPtr applyBinaryOperator(int code, TensorPtr left, TensorPtr right)
{
    if (code == op::Equal)
        return makeNumber(equalValues(*left, *right) ? 1.0 : 0.0);
    if (code == op::NotEqual)
        return makeNumber(equalValues(*left, *right) ? 0.0 : 1.0);
    if (isComparison(code) || code == op::And || code == op::Or)
        return logic(code, std::move(left), std::move(right));
    return arithmetic(code, std::move(left), std::move(right));
}

TensorPtr applyPrefixOperator(int code, TensorPtr operand)
{
    if (code == op::Negate)
        return negate(std::move(operand));
    return logic(code, std::move(operand), nullptr);
}

} // namespace zyl
