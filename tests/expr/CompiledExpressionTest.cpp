#include "ExprSupport.h"

#include "expr/CompiledExpression.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <typeinfo>

using namespace zyl;
using namespace zyl::test;

namespace {

/// A value or the error that replaced it, compared bit for bit and by message and kind.
struct Outcome {
    std::uint64_t re = 0, im = 0;
    std::string error;
    bool infoErr = false;

    bool operator==(const Outcome&) const = default;
};

template <class F> Outcome outcomeOf(F&& f)
{
    Outcome out;
    try {
        const Complex z = f();
        out.re = std::bit_cast<std::uint64_t>(z.re);
        out.im = std::bit_cast<std::uint64_t>(z.im);
    } catch (const InfoErr& e) {
        out.error = e.what();
        out.infoErr = true;
    } catch (const std::exception& e) {
        out.error = e.what();
    }
    return out;
}

std::ostream& operator<<(std::ostream& os, const Outcome& o)
{
    if (!o.error.empty())
        return os << (o.infoErr ? "InfoErr " : "Exception ") << o.error;
    return os << std::bit_cast<double>(o.re) << " + " << std::bit_cast<double>(o.im) << "i";
}

/// Random formulas over every operator and function of the language, the inputs x and y,
/// the number symbols a and c, the definition g, and literals from zero to huge.
class FormulaGenerator {
public:
    explicit FormulaGenerator(std::uint32_t seed) : m_random(seed) {}

    std::string formula(int depth)
    {
        if (depth == 0 || pick(10) < 3)
            return leaf();
        static const char* binary[] = {"+", "-", "*", "/", "^", ">", ">=", "<", "<=",
                                       "==", "!=", "&&", "||"};
        static const char* functions[] = {
            "sin", "cos", "tg", "ctg", "ln", "exp", "abs", "arcsin", "arccos", "arctg",
            "arcctg", "sqrt", "re", "im", "arg", "conj", "sinh", "cosh", "tgh", "ctgh",
            "arsinh", "arcosh", "artgh", "arctgh", "floor", "ceil", "round"};
        switch (pick(5)) {
        case 0:
        case 1:
            return "(" + formula(depth - 1) + ")" + binary[pick(13)] + "(" + formula(depth - 1) +
                   ")";
        case 2: return std::string(functions[pick(27)]) + "(" + formula(depth - 1) + ")";
        case 3: return pick(2) ? "-(" + formula(depth - 1) + ")" : "!(" + formula(depth - 1) + ")";
        default: return "log(" + formula(depth - 1) + "," + formula(depth - 1) + ")";
        }
    }

private:
    std::string leaf()
    {
        static const char* leaves[] = {"x", "y", "x", "y", "a", "c", "g", "0", "1", "2",
                                       "0.5", "3.75", "1e300", "1e-300", "710", "I"};
        static const char* rare[] = {"{1,x}", "zz", "D(x,x)", "sum(i,{i,1,3})", "e", "pi"};
        return pick(40) == 0 ? rare[pick(6)] : leaves[pick(16)];
    }
    unsigned pick(unsigned n)
    {
        return std::uniform_int_distribution<unsigned>(0, n - 1)(m_random);
    }

    std::mt19937 m_random;
};

class Compiled : public LanguageTest {
protected:
    Compiled()
    {
        // g is kept as a tree in x and y, as a definition made before they had values.
        makeSymbolFromStatement("g=x*y-sin(x)", "", false, table);
        table.pushBack(makeSymbolFromValue(0, 0, "a", false));
        table.pushBack(makeSymbolFromValue(0, 0, "c", false));
        table.pushBack(makeSymbolFromValue(0, 0, "x", false));
        table.pushBack(makeSymbolFromValue(0, 0, "y", false));
    }

    /// The arguments of one comparison: the inputs and the numbers a and c hold.
    void setArguments(int k)
    {
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        static const double inputs[] = {0.3, -1.7, 0.0, -0.0, 1, -1, 2.5, 1e300, -1e300, 1e-310,
                                        700, -3, nan, inf, -inf, 0.5};
        static const Complex numbers[] = {{2, 0}, {-3, 0}, {0, 0}, {1, 2}, {0, -1}, {nan, 0},
                                          {1e308, 0}, {0.5, 0}};
        x = inputs[k % 16];
        y = inputs[(k * 7 + 3) % 16];
        const Complex av = numbers[k % 8], cv = numbers[(k * 5 + 3) % 8];
        setSymbolValue(table, "x", x);
        setSymbolValue(table, "y", y);
        for (auto [name, value] : {std::pair{"a", av}, std::pair{"c", cv}}) {
            Tensor& number = *table.lookup(name)->definition;
            number.re = value.re;
            number.im = value.im;
        }
    }

    double x = 0, y = 0;
};

} // namespace

TEST_F(Compiled, AgreesWithTheNumericEvaluatorBitForBit)
{
    FormulaGenerator generator(12345);
    int compiledCount = 0, realAnswers = 0, errors = 0;
    for (int n = 0; n < 1500; ++n) {
        const std::string text = generator.formula(1 + n % 5);
        TensorPtr tree;
        ASSERT_TRUE(parseExpression(text, tree)) << text;
        CompiledExpression program;
        program.compile(*tree, table, FormulaRules::Numeric, {"x", "y"});
        ASSERT_TRUE(program.compiled()) << text; // the numeric rules compile every formula
        ++compiledCount;
        for (int k = 0; k < 12; ++k) {
            setArguments(n + k);
            ASSERT_TRUE(program.refresh(table));
            const double inputs[] = {x, y};
            const Outcome expected = outcomeOf([&] { return evaluateNumeric(*tree, table); });
            const Outcome actual = outcomeOf([&] { return program.evaluate(inputs); });
            ASSERT_EQ(actual, expected) << text << " at x=" << x << ", y=" << y;
            errors += !expected.error.empty();
            realAnswers += expected.error.empty() && expected.im == 0;
        }
        // Many rows at once: each row as alone, the first failing one with its error.
        setArguments(n);
        ASSERT_TRUE(program.refresh(table));
        std::vector<double> rows;
        for (int k = 0; k < 16; ++k) {
            setArguments(n + k);
            rows.insert(rows.end(), {x, y});
        }
        setArguments(n);
        for (std::size_t first = 0; first < 16;) {
            Complex results[16];
            std::size_t done = 0;
            const Outcome failure = outcomeOf([&] {
                program.evaluateBlock(rows.data() + 2 * first, 16 - first, results, done);
                return Complex{};
            });
            for (std::size_t r = first; r <= first + done && r < 16; ++r) {
                setSymbolValue(table, "x", rows[2 * r]);
                setSymbolValue(table, "y", rows[2 * r + 1]);
                const Outcome expected = outcomeOf([&] { return evaluateNumeric(*tree, table); });
                const Outcome actual =
                    r < first + done ? outcomeOf([&] { return results[r - first]; }) : failure;
                ASSERT_EQ(actual, expected) << text << " in a block, row " << r;
            }
            first += done + 1;
        }
    }
    // The formulas reach both paths and the errors.
    EXPECT_GT(realAnswers, 1500);
    EXPECT_GT(errors, 1500);
    EXPECT_EQ(compiledCount, 1500);
}

TEST_F(Compiled, AgreesWithTheStatementPipelineOfPlotsAndExports)
{
    FormulaGenerator generator(777);
    int compiledCount = 0;
    for (int n = 0; n < 1500; ++n) {
        const std::string text = generator.formula(1 + n % 4);
        TensorPtr tree;
        ASSERT_TRUE(parseExpression(text, tree)) << text;
        CompiledExpression program;
        program.compile(*tree, table, FormulaRules::Symbolic);
        if (!program.compiled())
            continue; // unknown names, vectors, D and sums stay with the pipeline
        ++compiledCount;
        for (int k = 0; k < 8; ++k) {
            setArguments(n * 3 + k);
            ASSERT_TRUE(program.refresh(table));
            const Outcome expected = outcomeOf([&] {
                return evaluateNumeric(*makeSymbolFromStatement(text, "", false, table)->definition,
                                       table);
            });
            const Outcome actual = outcomeOf([&] { return program.evaluate(nullptr); });
            ASSERT_EQ(actual, expected) << text << " at x=" << x << ", y=" << y;
        }
    }
    EXPECT_GT(compiledCount, 1200);
}

// Powers with small whole exponents are computed from products: at every kind of base they
// must give the tree's bits, its imaginary parts and its errors, one by one and in blocks.
TEST_F(Compiled, RaisesWholePowersAsTheTreeDoes)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> bases = {0.0, -0.0, 1, -1, 3, -3, 0.1, -2.5, 1e-160, 1e-200, -1e-120,
                                 1e154, -1.5e154, 1e200, 0x1p450, 0x1.0000000000001p-450,
                                 0x1p112, 0x1p-113, nan, inf, -inf};
    // The bases whose square pow rounds the other way than x*x would (about one in a
    // thousand here); the exponent is a run-time value, or the compiler would square instead.
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> wide(-30, 30);
    volatile double two = 2;
    for (int k = 0; k < 100'000; ++k) {
        const double x = wide(random);
        if (std::pow(std::fabs(x), two) != x * x || k % 500 == 0)
            bases.push_back(x);
    }
    // Negative bases give imaginary parts, which blocks carry through some operations and
    // hand the others to the rows' own evaluations.
    const char* formulas[] = {"x^2",     "x^2.0",       "x^(1+1)", "x^1",      "(x-y)^3",
                              "x^4",     "x^8",         "x^9",     "x^-2",     "x^0.5",
                              "x^0",     "(x*I)^2",     "(x+I)^3", "y<x^2",    "(x^2)^2",
                              "x^2/y",   "-(x^3)*y",    "sin(x^2)", "x^2+y^2-x^3"};
    for (const char* text : formulas) {
        SCOPED_TRACE(text);
        const TensorPtr tree = parsed(text);
        CompiledExpression program, symbolic;
        program.compile(*tree, table, FormulaRules::Numeric, {"x", "y"});
        symbolic.compile(*tree, table, FormulaRules::Symbolic, {"x", "y"});
        ASSERT_TRUE(program.compiled() && symbolic.compiled());
        std::vector<double> rows;
        std::vector<Outcome> expected;
        for (std::size_t i = 0; i < bases.size(); ++i) {
            const double x = bases[i], y = bases[(i * 7 + 3) % bases.size()];
            setSymbolValue(table, "x", x);
            setSymbolValue(table, "y", y);
            ASSERT_TRUE(program.refresh(table) && symbolic.refresh(table));
            const double inputs[] = {x, y};
            expected.push_back(outcomeOf([&] { return evaluateNumeric(*tree, table); }));
            ASSERT_EQ(outcomeOf([&] { return program.evaluate(inputs); }), expected.back())
                << "at x=" << x << ", y=" << y;
            const Outcome pipeline = outcomeOf([&] {
                return evaluateNumeric(*makeSymbolFromStatement(text, "", false, table)->definition,
                                       table);
            });
            ASSERT_EQ(outcomeOf([&] { return symbolic.evaluate(inputs); }), pipeline)
                << "at x=" << x << ", y=" << y;
            rows.insert(rows.end(), {x, y});
        }
        for (std::size_t first = 0; first < bases.size();) {
            const std::size_t count =
                std::min(CompiledExpression::blockRows, bases.size() - first);
            Complex results[CompiledExpression::blockRows];
            std::size_t done = 0;
            const Outcome failure = outcomeOf([&] {
                program.evaluateBlock(rows.data() + 2 * first, count, results, done);
                return Complex{};
            });
            for (std::size_t r = 0; r < done; ++r)
                ASSERT_EQ(outcomeOf([&] { return results[r]; }), expected[first + r])
                    << "in a block, at x=" << bases[first + r];
            if (done < count) {
                ASSERT_EQ(failure, expected[first + done]) << "at x=" << bases[first + done];
            }
            first += done < count ? done + 1 : done;
        }
    }
}

TEST_F(Compiled, FollowsTheTableAndRefusesWhatOnlyTheTreeDoes)
{
    TensorPtr f = parsed("g*2+a");
    CompiledExpression program;
    program.compile(*f, table, FormulaRules::Numeric, {"x", "y"});
    setArguments(0); // a = 2
    ASSERT_TRUE(program.refresh(table));
    const double inputs[] = {1.5, 2.0};
    EXPECT_EQ(program.evaluate(inputs).re, (1.5 * 2.0 - std::sin(1.5)) * 2 + 2);
    // A new value of a number is read in; a new definition asks for compiling again.
    setSymbolValue(table, "a", 10);
    ASSERT_TRUE(program.refresh(table));
    EXPECT_EQ(program.evaluate(inputs).re, (1.5 * 2.0 - std::sin(1.5)) * 2 + 10);
    makeSymbolFromStatement("g=x", "", false, table);
    EXPECT_FALSE(program.refresh(table));
    table.remove(table.lookup("a"));
    EXPECT_FALSE(program.refresh(table));

    // Operations on constants are done once, unless they fail: then they fail in their place.
    CompiledExpression folded;
    folded.compile(*parsed("x*(2+3)"), table, FormulaRules::Numeric, {"x", "y"});
    EXPECT_EQ(folded.size(), 1u);
    EXPECT_EQ(folded.evaluate(inputs).re, 7.5);
    folded.compile(*parsed("1/0+x"), table, FormulaRules::Numeric, {"x", "y"});
    EXPECT_EQ(folded.size(), 2u);
    EXPECT_THROW(folded.evaluate(inputs), Exception);

    // Definitions made before the names they use hold those names, not copies: written out,
    // each level doubles.
    for (int k = 20; k >= 2; --k)
        makeSymbolFromStatement("s" + std::to_string(k) + "=s" + std::to_string(k - 1) + "+s" +
                                    std::to_string(k - 1),
                                "", false, table);
    makeSymbolFromStatement("s1=u+v", "", false, table);
    CompiledExpression large;
    large.compile(*parsed("s20"), table, FormulaRules::Numeric, {"u", "v"});
    EXPECT_FALSE(large.compiled());
    large.compile(*parsed("s10*2"), table, FormulaRules::Numeric, {"u", "v"});
    ASSERT_TRUE(large.compiled());
    EXPECT_LT(large.size(), 20u); // each definition once, however often it is named
    EXPECT_EQ(large.evaluate(inputs).re, 512 * 3.5 * 2);
}
