#include "expr/CompiledExpression.h"

#include "expr/Functions.h"
#include "expr/MathErrors.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <utility>


namespace zyl {

namespace {

// A block holds every slot for every row; larger programs evaluate row by row.
constexpr std::size_t maxBlockSlots = 512;

using Op = CompiledExpression::Op;
constexpr int maxExactPower = CompiledExpression::maxExactPower;

bool isFiniteReal(Complex z)
{
    return std::isfinite(z.re) && std::bit_cast<std::uint64_t>(z.im) == 0;
}

/// Veltkamp's split: hi carries the upper 26 bits of a, so that products of halves are exact.
inline void splitHalves(double a, double& hi, double& lo)
{
    const double c = 134217729.0 * a; // 2^27 + 1
    hi = c - (c - a);
    lo = a - hi;
}

/// x^n (x > 0, 2 <= n <= maxExactPower) as the library's pow gives it, at the cost of some
/// multiplications; false where that cannot be promised, and then the caller asks pow.
///
/// pow is not correctly rounded, so x*x is not what it gives: the C library documents an error
/// of up to 0.54 ULP, so pow may round the other way when x^n lies within 0.04 ULP of the
/// midpoint between two doubles, and it does for about one square in a thousand (the farthest
/// such case in 56 million drawn here lay 0.009 ULP from the midpoint). Elsewhere it gives the
/// correctly rounded value. The product here carries its rounding errors along (Dekker's exact
/// products), which leaves x^n known to far better than 2^-40 ULP; rounded, it is the
/// correctly rounded value, used when it lies more than 1/16 ULP from a midpoint. About one
/// call in eight falls back. Results outside [2^-900, 2^900] fall back too: there the error
/// terms could underflow, the split overflow, and pow has the overflow and the subnormals to
/// report.
inline bool exactPower(double x, int n, double& out)
{
    double xh = 0, xl = 0;
    splitHalves(x, xh, xl);
    // The square needs one split, and its error alone is the low part.
    double hi = x * x;
    double lo = ((xh * xh - hi) + 2 * xh * xl) + xl * xl;
    for (int k = 2; k < n; ++k) {
        double hh = 0, hl = 0;
        splitHalves(hi, hh, hl);
        const double p = hi * x;
        const double e = ((hh * xh - p) + hh * xl + hl * xh) + hl * xl; // hi * x - p, exactly
        lo = lo * x + e;
        hi = p;
    }
    const double r = hi + lo;
    const double shift = r - hi;
    const double rest = (hi - (r - shift)) + (lo - shift); // (hi + lo) - r, exactly
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(r);
    const double ulp = std::bit_cast<double>(bits & 0x7ff0'0000'0000'0000ULL) * 0x1p-52;
    out = r;
    // Without branches (& rather than &&): the signs of a block's bases are a coin toss.
    // At a power of two the spacing below is half that above: there only an exact value goes.
    return (r >= 0x1p-900) & (r <= 0x1p900) & (std::fabs(rest) < 0.4375 * ulp) &
           (((bits & 0x000f'ffff'ffff'ffffULL) != 0) | (rest == 0));
}

/// |x|^n for a finite x != 0: the magnitude of the tree's polar form (hypot(x, 0) is |x|).
/// \throws the overflow pow reports.
inline double magnitudePower(double x, int n)
{
    const double r = std::fabs(x);
    double v = 0.0;
    return exactPower(r, n, v) ? v : checked::pow(r, static_cast<double>(n));
}

/// What the tree multiplies |x|^n by when x is a negative real: cos and sin of n times the
/// argument pi, with the very functions it calls. Computed as (-1)^n by the tree's own
/// arithmetic (|-1|^n is exactly 1), at run time, so that no compiler folds it differently.
const Complex& negativeBaseTurn(int n)
{
    static const std::vector<Complex> turns = [] {
        std::vector<Complex> made(maxExactPower + 1);
        for (int k = 2; k <= maxExactPower; ++k)
            made[static_cast<std::size_t>(k)] =
                arithmeticValue(op::Power, {-1.0, 0.0}, {static_cast<double>(k), 0.0});
        return made;
    }();
    return turns[static_cast<std::size_t>(n)];
}

bool isFinite(Complex z) { return std::isfinite(z.re) && std::isfinite(z.im); }

/// Sums, differences and products as complexAdd, complexSubtract and complexMultiply form
/// them, without the calls; NaN for the other operations. A value that is not finite is left
/// to complexStep, which reports the overflow or passes the NaN on as the tree does.
[[gnu::always_inline]] inline Complex complexArithmetic(Op op, Complex a, Complex b)
{
    switch (op) {
    case Op::Add: return {a.re + b.re, a.im + b.im};
    case Op::Subtract: return {a.re - b.re, a.im - b.im};
    case Op::Multiply: return {a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im};
    default: return {std::numeric_limits<double>::quiet_NaN(), 0.0};
    }
}

} // namespace

Complex CompiledExpression::evaluate(const double* inputs)
{
    bool real = m_realOpen;
    for (std::int32_t i = 0; i < m_inputCount; ++i) {
        // The tree reads a variable through a number node, which turns -0 into +0.
        const double x = inputs[i] == 0 ? 0.0 : inputs[i];
        m_slots[static_cast<std::size_t>(i)] = {x, 0.0};
        real = real && std::isfinite(x);
    }
    // The values the real path leaves are those the complex path would have: it goes on
    // from there.
    const std::size_t pc = real ? runReal(0) : 0;
    if (pc < m_code.size())
        runComplex(pc);
    const Complex result = m_slots[static_cast<std::size_t>(m_result)];
    return m_symbolic ? cleanZero(result) : result;
}

void CompiledExpression::evaluateBlock(const double* inputs, std::size_t rows, Complex* results,
                                       std::size_t& done)
{
    done = 0;
    const std::size_t width = static_cast<std::size_t>(m_inputCount);
    if (!m_realOpen || m_slots.size() > maxBlockSlots || rows > blockRows) {
        for (; done < rows; ++done)
            results[done] = evaluate(inputs + done * width);
        return;
    }
    m_block.resize(m_slots.size() * blockRows);
    // Only the negative base of IntPower brings imaginary parts into a block. The plane is
    // read only where it was written, so it is left uninitialised.
    if (m_hasIntPower && !m_blockImaginary)
        m_blockImaginary.reset(new double[m_block.size()]);
    m_blockHasImaginary.assign(m_slots.size(), 0);
    m_blockFailed.assign(rows, 0);
    for (std::size_t i = 0; i < width; ++i) {
        double* slot = m_block.data() + i * blockRows;
        for (std::size_t r = 0; r < rows; ++r) {
            const double x = inputs[r * width + i];
            slot[r] = x == 0 ? 0.0 : x;
            m_blockFailed[r] |= !std::isfinite(x);
        }
    }
    for (std::int32_t value : m_valueSlots) {
        double* slot = m_block.data() + static_cast<std::size_t>(value) * blockRows;
        std::fill(slot, slot + rows, m_slots[static_cast<std::size_t>(value)].re);
    }
    runRealBlock(rows);
    const std::size_t resultSlot = static_cast<std::size_t>(m_result);
    const double* re = m_block.data() + resultSlot * blockRows;
    const double* im = m_blockHasImaginary[resultSlot]
                           ? m_blockImaginary.get() + resultSlot * blockRows
                           : nullptr;
    for (; done < rows; ++done)
        results[done] = m_blockFailed[done] ? evaluate(inputs + done * width)
                                            : Complex{re[done], im ? im[done] : 0.0};
}

// NOTE: the operations that carry imaginary parts through a block, with the complex path's
// formulas (complexAdd, ..., the negative base of IntPower as runComplex computes it); an
// operand without imaginary parts reads zeros. They are those a sum of squares needs: the
// square of a negative number has an imaginary part, and every row of a Rastrigin function has
// one. Any other operation marks the rows whose operands have an imaginary part (false: the
// real loop does the rest).
bool CompiledExpression::blockStepWithImaginary(const Instruction& in, std::size_t rows)
{
    static constexpr double zeros[blockRows] = {};
    constexpr std::size_t width = blockRows;
    auto real = [&](std::int32_t slot) {
        return m_block.data() + static_cast<std::size_t>(slot) * width;
    };
    auto imaginary = [&](std::int32_t slot) -> const double* {
        return m_blockHasImaginary[static_cast<std::size_t>(slot)]
                   ? m_blockImaginary.get() + static_cast<std::size_t>(slot) * width
                   : zeros;
    };
    const bool unary = in.op >= Op::Not;
    const double *ar = real(in.a), *ai = imaginary(in.a);
    const double *br = unary ? zeros : real(in.b), *bi = unary ? zeros : imaginary(in.b);
    double* tr = real(in.target);
    double* ti = m_blockImaginary.get() + static_cast<std::size_t>(in.target) * width;
    unsigned char* failed = m_blockFailed.data();
    bool hasImaginary = true;
    switch (in.op) {
    case Op::Add:
        for (std::size_t r = 0; r < rows; ++r) {
            const Complex v = complexArithmetic(Op::Add, {ar[r], ai[r]}, {br[r], bi[r]});
            failed[r] |= !isFinite(v);
            tr[r] = v.re + 0.0;
            ti[r] = v.im + 0.0;
        }
        break;
    case Op::Subtract:
        for (std::size_t r = 0; r < rows; ++r) {
            const Complex v = complexArithmetic(Op::Subtract, {ar[r], ai[r]}, {br[r], bi[r]});
            failed[r] |= !isFinite(v);
            tr[r] = v.re + 0.0;
            ti[r] = v.im + 0.0;
        }
        break;
    case Op::Multiply:
        for (std::size_t r = 0; r < rows; ++r) {
            const Complex v = complexArithmetic(Op::Multiply, {ar[r], ai[r]}, {br[r], bi[r]});
            failed[r] |= !isFinite(v);
            tr[r] = v.re + 0.0;
            ti[r] = v.im + 0.0;
        }
        break;
    case Op::Divide:
        // By a real divisor, part by part; complexDivide does the rest, row by row.
        for (std::size_t r = 0; r < rows; ++r) {
            const double vr = ar[r] / br[r], vi = ai[r] / br[r];
            failed[r] |= bi[r] != 0 || br[r] == 0 || !std::isfinite(vr) || !std::isfinite(vi);
            tr[r] = vr + 0.0;
            ti[r] = vi + 0.0;
        }
        break;
    case Op::Negate:
        for (std::size_t r = 0; r < rows; ++r) {
            tr[r] = -ar[r] + 0.0;
            ti[r] = -ai[r] + 0.0;
        }
        break;
    case Op::IntPower: {
        // Products first, the library's pow afterwards for the rows that need it.
        const Complex& turn = negativeBaseTurn(in.code);
        // Indexed by the sign rather than chosen by a branch.
        const double turnRe[2] = {1.0, turn.re}, turnIm[2] = {0.0, turn.im};
        bool powNeeded = false;
        hasImaginary = false;
        for (std::size_t r = 0; r < rows; ++r) {
            const double x = ar[r];
            double m = 0.0;
            const bool exact = exactPower(std::fabs(x), in.code, m);
            const bool negative = x < 0;
            failed[r] |= std::bit_cast<std::uint64_t>(ai[r]) != 0;
            m_blockPending[r] = !exact & (x != 0);
            powNeeded |= !exact & (x != 0);
            hasImaginary |= negative;
            tr[r] = m * turnRe[negative] + 0.0; // a zero base gives m = 0
            ti[r] = m * turnIm[negative] + 0.0;
        }
        for (std::size_t r = 0; powNeeded && r < rows; ++r) {
            if (!m_blockPending[r])
                continue;
            const double x = ar[r];
            const double m = std::pow(std::fabs(x), static_cast<double>(in.code));
            failed[r] |= std::isinf(m); // the overflow pow reports
            tr[r] = m * turnRe[x < 0] + 0.0;
            ti[r] = m * turnIm[x < 0] + 0.0;
        }
        break;
    }
    default:
        for (std::size_t r = 0; r < rows; ++r)
            failed[r] |= ai[r] != 0 || bi[r] != 0;
        return false;
    }
    m_blockHasImaginary[static_cast<std::size_t>(in.target)] = hasImaginary;
    return true;
}

// NOTE: the same arithmetic as runReal, operation by operation over the rows; where runReal
// would hand over to the complex path (or throw), the row is marked and evaluated alone
// afterwards. The library functions are those the checked wrappers call, with the wrappers'
// failures (an overflow, a pole) turned into marks: a marked row's later values are never
// used.
void CompiledExpression::runRealBlock(std::size_t rows)
{
    constexpr std::size_t width = blockRows;
    double* block = m_block.data();
    unsigned char* failed = m_blockFailed.data();
    for (const Instruction& in : m_code) {
        if ((in.op == Op::IntPower || m_blockHasImaginary[static_cast<std::size_t>(in.a)] ||
             (in.op < Op::Not && m_blockHasImaginary[static_cast<std::size_t>(in.b)])) &&
            blockStepWithImaginary(in, rows))
            continue;
        double* t = block + static_cast<std::size_t>(in.target) * width;
        const double* a = block + static_cast<std::size_t>(in.a) * width;
        const double* b = block + static_cast<std::size_t>(in.b) * width;
        switch (in.op) {
        case Op::Add:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = a[r] + b[r];
                failed[r] |= !std::isfinite(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Subtract:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = a[r] - b[r];
                failed[r] |= !std::isfinite(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Multiply:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = a[r] * b[r];
                failed[r] |= !std::isfinite(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Divide:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = a[r] / b[r];
                failed[r] |= b[r] == 0 || !std::isfinite(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Power:
        case Op::PowerNoZeroZero:
            for (std::size_t r = 0; r < rows; ++r) {
                const double x = a[r], y = b[r];
                double v = 0.0;
                if (x > 0) {
                    v = std::pow(std::hypot(x, 0.0), y);
                    failed[r] |= std::isinf(v);
                } else if (x == 0) {
                    failed[r] |= y == 0 && in.op == Op::PowerNoZeroZero;
                    v = y == 0 ? 1.0 : 0.0;
                } else {
                    failed[r] = 1;
                }
                t[r] = v + 0.0;
            }
            break;
        case Op::Greater:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] > b[r] ? 1.0 : 0.0;
            break;
        case Op::GreaterEq:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] >= b[r] ? 1.0 : 0.0;
            break;
        case Op::Less:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] < b[r] ? 1.0 : 0.0;
            break;
        case Op::LessEq:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] <= b[r] ? 1.0 : 0.0;
            break;
        case Op::Equal:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] == b[r] ? 1.0 : 0.0;
            break;
        case Op::NotEqual:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] == b[r] ? 0.0 : 1.0;
            break;
        case Op::And:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = (a[r] != 0 && b[r] != 0) ? 1.0 : 0.0;
            break;
        case Op::Or:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = (a[r] != 0 || b[r] != 0) ? 1.0 : 0.0;
            break;
        case Op::Not:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = a[r] == 0 ? 1.0 : 0.0;
            break;
        case Op::Negate:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = -a[r] + 0.0;
            break;
        case Op::Sin:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = std::sin(a[r]) + 0.0;
            break;
        case Op::Cos:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = std::cos(a[r]) + 0.0;
            break;
        case Op::Exp:
            for (std::size_t r = 0; r < rows; ++r) {
                const double v = std::exp(a[r]);
                failed[r] |= std::isinf(v);
                t[r] = v + 0.0;
            }
            break;
        case Op::Ln:
            for (std::size_t r = 0; r < rows; ++r) {
                const double x = a[r];
                failed[r] |= !(x > 0);
                t[r] = x > 0 ? std::log(std::hypot(x, 0.0)) + 0.0 : 0.0;
            }
            break;
        case Op::Sqrt:
            for (std::size_t r = 0; r < rows; ++r) {
                const double x = a[r];
                failed[r] |= !(x >= 0);
                t[r] = x >= 0 ? std::sqrt(std::hypot(x, 0.0)) + 0.0 : 0.0;
            }
            break;
        case Op::Abs:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = std::hypot(a[r], 0.0) + 0.0;
            break;
        case Op::CeilReal:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = std::ceil(a[r]) + 0.0;
            break;
        case Op::RoundReal:
            for (std::size_t r = 0; r < rows; ++r)
                t[r] = roundHalfAway(a[r]) + 0.0;
            break;
        case Op::IntPower: // done by blockStepWithImaginary
        case Op::Log:
        case Op::Function:
        case Op::Throw:
            // Rare enough to leave to the rows' own evaluations.
            for (std::size_t r = 0; r < rows; ++r) {
                failed[r] = 1;
                t[r] = 0.0;
            }
            break;
        }
    }
}

namespace {

// NOTE: each case gives, for finite real operands, exactly the real part of what the complex
// path computes, whose imaginary part is then +0; where that does not hold (a negative base or
// logarithm, a zero divisor, an overflow) it returns false and the complex path takes the
// operation over, raising its error if it has one. A throw from here is the throw the complex
// path would make at the same operation.
[[gnu::always_inline]] inline bool realStep(const CompiledExpression::Instruction& in, double x,
                                            double y, double& out)
{
    double v = 0.0;
    switch (in.op) {
    // Sums, differences, products and quotients of finite numbers may overflow.
    case Op::Add:
        v = x + y;
        if (!std::isfinite(v))
            return false;
        break;
    case Op::Subtract:
        v = x - y;
        if (!std::isfinite(v))
            return false;
        break;
    case Op::Multiply:
        v = x * y;
        if (!std::isfinite(v))
            return false;
        break;
    case Op::Divide:
        v = x / y;
        if (y == 0 || !std::isfinite(v))
            return false;
        break;
    case Op::Power:
    case Op::PowerNoZeroZero:
        if (x > 0) {
            // The polar form with angle 0: magnitude |x|^y, phase y*0.
            v = checked::pow(checked::hypot(x, 0.0), y);
        } else if (x == 0) {
            if (y == 0 && in.op == Op::PowerNoZeroZero)
                return false;
            v = y == 0 ? 1.0 : 0.0;
        } else {
            return false;
        }
        break;
    case Op::IntPower:
        // As Power with the exponent in.code (the library's pow needs it as a run-time
        // value: a compiler turns pow(x, 2.0) into x*x, which is not what pow gives).
        if (x > 0)
            v = magnitudePower(x, in.code);
        else if (x < 0)
            return false;
        break;
    case Op::Log: {
        const Complex z = arithmeticValue(op::Log, {x, 0.0}, {y, 0.0});
        if (!isFiniteReal(z))
            return false;
        v = z.re;
        break;
    }
    case Op::Greater: v = x > y ? 1.0 : 0.0; break;
    case Op::GreaterEq: v = x >= y ? 1.0 : 0.0; break;
    case Op::Less: v = x < y ? 1.0 : 0.0; break;
    case Op::LessEq: v = x <= y ? 1.0 : 0.0; break;
    case Op::Equal: v = x == y ? 1.0 : 0.0; break;
    case Op::NotEqual: v = x == y ? 0.0 : 1.0; break;
    case Op::And: v = (x != 0 && y != 0) ? 1.0 : 0.0; break;
    case Op::Or: v = (x != 0 || y != 0) ? 1.0 : 0.0; break;
    case Op::Not: v = x == 0 ? 1.0 : 0.0; break;
    case Op::Negate: v = -x; break;
    case Op::Sin: v = checked::sin(x); break;
    case Op::Cos: v = checked::cos(x); break;
    case Op::Exp: v = checked::exp(x); break;
    case Op::Ln:
        if (x < 0)
            return false;
        v = checked::log(checked::hypot(x, 0.0));
        break;
    case Op::Sqrt:
        if (x < 0)
            return false;
        v = checked::sqrt(checked::hypot(x, 0.0));
        break;
    case Op::Abs: v = checked::hypot(x, 0.0); break;
    case Op::CeilReal: v = std::ceil(x); break;
    case Op::RoundReal: v = roundHalfAway(x); break;
    case Op::Function: {
        const Complex z = functionValue(in.code, {x, 0.0});
        if (!isFiniteReal(z))
            return false;
        v = z.re;
        break;
    }
    case Op::Throw: return false;
    }
    // Every other case gives a finite value for finite operands, or throws. Adding +0
    // turns -0 into +0 (cleanZero) and leaves every other value as it is.
    out = v + 0.0;
    return true;
}

} // namespace

std::size_t CompiledExpression::runReal(std::size_t pc)
{
    Complex* z = m_slots.data();
    const Instruction* code = m_code.data();
    const std::size_t n = m_code.size();
    for (; pc < n; ++pc) {
        const Instruction& in = code[pc];
        double v = 0.0;
        if (!realStep(in, z[in.a].re, z[in.b].re, v))
            return pc;
        z[in.target] = {v, 0.0};
    }
    return pc;
}

Complex CompiledExpression::complexStep(const Instruction& in, Complex a, Complex b,
                                        bool symbolic)
{
    Complex v;
    switch (in.op) {
    case Op::Add:
    case Op::Subtract:
    case Op::Multiply:
    case Op::Divide:
    case Op::Power:
    case Op::Log: v = arithmeticValue(in.code, a, b); break;
    case Op::IntPower:
        v = arithmeticValue(op::Power, a, {static_cast<double>(in.code), 0.0});
        break;
    case Op::PowerNoZeroZero:
        if (a.re == 0 && a.im == 0 && b.re == 0 && b.im == 0)
            throw InfoErr("0^0!");
        v = arithmeticValue(in.code, a, b);
        break;
    case Op::Equal: v = {a.re == b.re && a.im == b.im ? 1.0 : 0.0, 0.0}; break;
    case Op::NotEqual: v = {a.re == b.re && a.im == b.im ? 0.0 : 1.0, 0.0}; break;
    case Op::Greater:
    case Op::GreaterEq:
    case Op::Less:
    case Op::LessEq:
    case Op::And:
    case Op::Or: {
        if (a.im != 0 || b.im != 0)
            throw InfoErr("Not a real type");
        bool truth = false;
        switch (in.op) {
        case Op::Greater: truth = a.re > b.re; break;
        case Op::GreaterEq: truth = a.re >= b.re; break;
        case Op::Less: truth = a.re < b.re; break;
        case Op::LessEq: truth = a.re <= b.re; break;
        case Op::And: truth = a.re != 0 && b.re != 0; break;
        default: truth = a.re != 0 || b.re != 0; break;
        }
        v = {truth ? 1.0 : 0.0, 0.0};
        break;
    }
    case Op::Not:
        if (a.im != 0)
            throw InfoErr("Not a real type");
        v = {a.re == 0 ? 1.0 : 0.0, 0.0};
        break;
    case Op::Negate: v = cleanZero({-a.re, -a.im}); break;
    case Op::Sin:
    case Op::Cos:
    case Op::Exp:
    case Op::Ln:
    case Op::Sqrt:
    case Op::Abs:
    case Op::Function: v = functionValue(in.code, a); break;
    case Op::CeilReal: v = cleanZero({functionValue(in.code, a).re, 0.0}); break;
    case Op::RoundReal: v = cleanZero({roundHalfAway(a.re), 0.0}); break;
    case Op::Throw: throw std::logic_error("a throwing instruction has no value");
    }
    // The symbolic evaluator stores every result with makeNumber, which cleans zeros.
    return symbolic ? cleanZero(v) : v;
}

void CompiledExpression::runComplex(std::size_t pc)
{
    Complex* z = m_slots.data();
    const std::size_t n = m_code.size();
    for (; pc < n; ++pc) {
        const Instruction& in = m_code[pc];
        if (in.op == Op::Throw)
            throw InfoErr(m_messages[static_cast<std::size_t>(in.code)]);
        const Complex a = z[in.a], b = z[in.b];
        // Operations on finite reals keep the real arithmetic here too, so that one value
        // that left the real path (the square of a negative number has an imaginary part of
        // about 1e-16 of it) does not make the rest of the formula pay the complex price.
        if (isFiniteReal(a) && (in.op >= Op::Not || isFiniteReal(b))) {
            double v = 0.0;
            if (realStep(in, a.re, b.re, v)) {
                z[in.target] = {v, 0.0};
                continue;
            }
            // A negative base (the only real one realStep leaves): |a|^n turned by n*pi.
            if (in.op == Op::IntPower) {
                const double m = magnitudePower(a.re, in.code);
                const Complex& turn = negativeBaseTurn(in.code);
                z[in.target] = cleanZero({m * turn.re, m * turn.im});
                continue;
            }
        } else if (const Complex c = complexArithmetic(in.op, a, b); isFinite(c)) {
            z[in.target] = cleanZero(c);
            continue;
        }
        z[in.target] = complexStep(in, a, b, m_symbolic);
    }
}

} // namespace zyl