#include "ExprSupport.h"

#include "expr/Functions.h"

#include <cmath>
#include <complex>

using namespace zyl;
using namespace zyl::test;

namespace {

struct Fn {
    const char* name;
    int code;
};
const Fn allFunctions[] = {
    {"sin", 108},    {"cos", 109},    {"tg", 110},     {"ctg", 111},    {"ln", 112},
    {"exp", 114},    {"abs", 115},    {"arcsin", 116}, {"arccos", 117}, {"arctg", 118},
    {"arcctg", 119}, {"sqrt", 120},   {"re", 121},     {"im", 122},     {"arg", 123},
    {"conj", 124},   {"sinh", 127},   {"cosh", 128},   {"tgh", 129},    {"ctgh", 130},
    {"arsinh", 131}, {"arcosh", 132}, {"artgh", 133},  {"arctgh", 134}, {"floor", 135},
    {"ceil", 136},   {"round", 137},
};

using C = std::complex<double>;

void expectNear(Complex got, C want, const std::string& what)
{
    const double tolerance = 1e-12 * std::max(1.0, std::abs(want));
    EXPECT_NEAR(got.re, want.real(), tolerance) << what;
    EXPECT_NEAR(got.im, want.imag(), tolerance) << what;
}

} // namespace

class Functions : public LanguageTest {};

TEST_F(Functions, SymbolicAndNumericAgreeOverAGrid)
{
    const double parts[] = {-2.5, -1, -0.5, 0, 0.3, 1, 2.5};
    int compared = 0;
    for (const Fn& fn : allFunctions) {
        for (double x : parts) {
            for (double y : parts) {
                setSymbolValue(table, "gx", x);
                setSymbolValue(table, "gy", y);
                const std::string text = std::string(fn.name) + "(gx+gy*I)";
                Complex symbolic, numericValue;
                std::string symbolicError, numericError;
                try {
                    TensorPtr s = evaluate(*parsed(text), table);
                    ASSERT_TRUE(s->isNumber()) << text;
                    symbolic = {s->re, s->im};
                } catch (const Exception& e) {
                    symbolicError = e.what();
                }
                try {
                    numericValue = numeric(text);
                } catch (const Exception& e) {
                    numericError = e.what();
                }
                ASSERT_EQ(symbolicError, numericError) << text << " at " << x << "," << y;
                if (!symbolicError.empty())
                    continue;
                if (fn.code == 136 || fn.code == 137) {
                    // The numeric evaluator rounds the real part only.
                    EXPECT_EQ(numericValue.re, symbolic.re) << text;
                    EXPECT_EQ(numericValue.im, 0.0) << text;
                } else {
                    EXPECT_EQ(numericValue.re, symbolic.re) << text << " at " << x << "," << y;
                    EXPECT_EQ(numericValue.im, symbolic.im) << text << " at " << x << "," << y;
                }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 27 * 40);
}

TEST_F(Functions, AnalyticFunctionsMatchTheComplexLibraryOffTheCuts)
{
    const C points[] = {{0.3, 0.4}, {-1.2, 0.7}, {2.5, -1.5}, {-0.4, -2.2}, {0.9, 0}};
    for (C z : points) {
        Complex v{z.real(), z.imag()};
        expectNear(functionValue(108, v), std::sin(z), "sin");
        expectNear(functionValue(109, v), std::cos(z), "cos");
        expectNear(functionValue(110, v), std::tan(z), "tg");
        expectNear(functionValue(111, v), 1.0 / std::tan(z), "ctg");
        expectNear(functionValue(112, v), std::log(z), "ln");
        expectNear(functionValue(114, v), std::exp(z), "exp");
        expectNear(functionValue(120, v), std::sqrt(z), "sqrt");
        expectNear(functionValue(127, v), std::sinh(z), "sinh");
        expectNear(functionValue(128, v), std::cosh(z), "cosh");
        expectNear(functionValue(129, v), std::tanh(z), "tgh");
        expectNear(functionValue(116, v), std::asin(z), "arcsin");
        // arccos takes its own branch; it must still invert the cosine.
        expectNear(functionValue(109, functionValue(117, v)), z, "cos(arccos)");
        expectNear(functionValue(128, functionValue(132, v)), z, "cosh(arcosh)");
        expectNear(functionValue(110, functionValue(118, v)), z, "tg(arctg)");
        expectNear(functionValue(111, functionValue(119, v)), z, "ctg(arcctg)");
        expectNear(functionValue(130, functionValue(134, v)), z, "ctgh(arctgh)");
        expectNear(functionValue(118, v), std::atan(z), "arctg");
        expectNear(functionValue(131, v), std::asinh(z), "arsinh");
        expectNear(functionValue(133, v), std::atanh(z), "artgh");
        expectNear(functionValue(115, v), std::abs(z), "abs");
        expectNear(functionValue(123, v), std::arg(z), "arg");
    }
}

TEST_F(Functions, BranchCutExamples)
{
    expectNear(numeric("ln(-1)"), C(0, M_PI), "ln(-1)");
    expectNear(numeric("arg(-1)"), C(M_PI, 0), "arg(-1)");
    EXPECT_EQ(numeric("arg(0)").re, 0);
    expectNear(numeric("sqrt(-4)"), C(0, 2), "sqrt(-4)");
    EXPECT_EQ(run("sqrt(0)"), "0");
    Complex asin2 = numeric("arcsin(2)");
    EXPECT_NEAR(asin2.re, 1.5708, 1e-4);
    EXPECT_NEAR(asin2.im, -1.3170, 1e-4);
    Complex acos2 = numeric("arccos(2)");
    EXPECT_NEAR(acos2.re, 0, 1e-12);
    EXPECT_NEAR(acos2.im, -1.3170, 1e-4);
    EXPECT_NEAR(numeric("arccos(0.5)").re, 1.0472, 1e-4);
    Complex acosh = numeric("arcosh(0.5)");
    EXPECT_NEAR(acosh.re, 0, 1e-12);
    EXPECT_NEAR(std::fabs(acosh.im), std::acos(0.5), 1e-12);
    Complex eipi = numeric("exp(I*pi)");
    EXPECT_DOUBLE_EQ(eipi.re, -1);
    EXPECT_NEAR(eipi.im, 0, 1e-15);
}

TEST_F(Functions, BothSidesOfTheCuts)
{
    const double eps = 1e-9;
    // ln and sqrt: cut along the negative reals; a real argument sits on the upper side.
    EXPECT_NEAR(numeric("ln(-1+1e-9*I)").im, M_PI, 1e-8);
    EXPECT_NEAR(numeric("ln(-1-1e-9*I)").im, -M_PI, 1e-8);
    EXPECT_NEAR(numeric("ln(-1)").im, M_PI, 1e-15);
    EXPECT_NEAR(numeric("sqrt(-4+1e-9*I)").im, 2, 1e-8);
    EXPECT_NEAR(numeric("sqrt(-4-1e-9*I)").im, -2, 1e-8);
    EXPECT_NEAR(numeric("sqrt(-4)").im, 2, 1e-15);
    // arcsin: cut beyond +1; the real 2 takes the lower side.
    EXPECT_NEAR(numeric("arcsin(2+1e-9*I)").im, 1.3170, 1e-4);
    EXPECT_NEAR(numeric("arcsin(2-1e-9*I)").im, -1.3170, 1e-4);
    // After negation and products the real argument must still be on the upper side.
    EXPECT_NEAR(numeric("ln(-(1))").im, M_PI, 1e-15);
    EXPECT_NEAR(numeric("sqrt((-2)*(2))").im, 2, 1e-15);
    EXPECT_NEAR(numeric("arg((-1)*(-1)*(-1))").re, M_PI, 1e-15);
    (void)eps;
}

TEST_F(Functions, VectorsSymbolsAndRounding)
{
    EXPECT_EQ(run("sin({0, pi/2})"), "{0,1}");
    EXPECT_EQ(run("abs({3 + 4*I, -2})"), "{5,2}");
    TensorPtr node = evaluate(*parsed("sinh(x)"), table);
    EXPECT_EQ(node->code, 127);
    EXPECT_EQ(node->text, "sinh");
    EXPECT_EQ(node->level, 13);
    run("x = 0");
    EXPECT_EQ(printToString(*evaluate(*node, table)), "0");
    EXPECT_EQ(run("round(2.5)"), "3");
    EXPECT_EQ(run("round(-2.5)"), "-3");
    EXPECT_EQ(run("round(0.49)"), "0");
    EXPECT_EQ(run("round(3.7 + 1.2*I)"), "4+I");
    EXPECT_EQ(run("floor(-0.5)"), "-1");
    EXPECT_EQ(run("ceil(-0.5)"), "0");
    EXPECT_EQ(run("floor(2.5 - 1.5*I)"), "2-2*I");
    EXPECT_EQ(run("conj(3 - 4*I)"), "3+4*I");
    EXPECT_EQ(run("re(3 - 4*I)"), "3");
    EXPECT_EQ(run("im(3 - 4*I)"), "-4");
    EXPECT_EQ(numeric("ceil(0.5+1.5*I)").re, 1);
    EXPECT_EQ(numeric("ceil(0.5+1.5*I)").im, 0);
    EXPECT_EQ(numeric("floor(0.5+1.5*I)").im, 1);
    EXPECT_EQ(numeric("round(0.5+1.5*I)").im, 0);
    // Out of the 32-bit range a part saturates instead of wrapping.
    EXPECT_EQ(run("round(1e12)"), "2.14748e+09");
    EXPECT_EQ(roundHalfAway(-1e300), -2147483648.0);
    EXPECT_EQ(roundHalfAway(2147483646.5), 2147483647.0);
}

TEST_F(Functions, MathErrors)
{
    EXPECT_EQ(run("ln(0)"), "SING ");
    EXPECT_EQ(run("exp(1000)"), "OVERFLOW ");
    EXPECT_EQ(run("sinh(1000)"), "OVERFLOW ");
    EXPECT_EQ(run("cosh(-1000)"), "OVERFLOW ");
    EXPECT_EQ(run("arctg(I)"), "SING ");
    EXPECT_EQ(run("artgh(-1)"), "SING ");
    EXPECT_EQ(run("arctgh(-1)"), "SING ");
    EXPECT_EQ(run("artgh(1)"), "SING ");
    EXPECT_EQ(run("log(1, 5)"), "SING ");
    EXPECT_EQ(run("1e308 * 10"), "OVERFLOW ");
    EXPECT_EQ(run("1e308 + 1e308"), "OVERFLOW ");
    EXPECT_EQ(run("10 ^ 400"), "OVERFLOW ");
    EXPECT_EQ(run("exp(-1000)"), "0");
    EXPECT_EQ(run("1 / 1e-200"), "1e+200");
    EXPECT_EQ(run("(2+2*I) / (1e-200+1e-200*I)"), "2e+200");
    EXPECT_EQ(numericError("ln(0)"), "SING ");
    EXPECT_EQ(numericError("exp(1000)"), "OVERFLOW ");
    // Math errors are not language errors: code that catches InfoErr alone lets them pass.
    EXPECT_THROW(
        {
            try {
                numeric("ln(0)");
            } catch (const InfoErr&) {
                FAIL() << "a math error must not be an InfoErr";
            }
        },
        Exception);
}
