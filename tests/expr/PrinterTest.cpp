#include "ExprSupport.h"

#include <cmath>
#include <random>

using namespace zyl;
using namespace zyl::test;

namespace {
std::string reprinted(const std::string& text) { return printToString(*parsed(text)); }
} // namespace

TEST(Printer, BracketsFollowThePrecedence)
{
    struct Case {
        const char* source;
        const char* printed;
    };
    const Case cases[] = {
        {"a-(b-c)", "a-(b-c)"},       {"(a-b)-c", "a-b-c"},
        {"a+(b+c)", "a+b+c"},         {"(a+b)*c", "(a+b)*c"},
        {"a*(b+c)", "a*(b+c)"},       {"a/(b*c)", "a/(b*c)"},
        {"(a+b)-(c+d)", "(a+b)-(c+d)"}, {"(a^b)^c", "(a^b)^c"},
        {"a^(b^c)", "a^b^c"},         {"-(a+b)", "-(a+b)"},
        {"-a^2", "-a^2"},             {"!(a>b)", "!(a>b)"},
        {"{1, x+1, {2, 3}}", "{1,x+1,{2,3}}"}, {"sin(x+1)", "sin(x+1)"},
        {"log(2, x)", "log(2,x)"},    {"a<(b<c)", "a<(b<c)"},
        {"a/(b/c)", "a/(b/c)"},       {"a:b", "a:b"},
        {"a||b&&c", "a||b&&c"},       {"(a||b)&&c", "(a||b)&&c"},
        {"a==(b==c)", "a==(b==c)"},   {"(a==b)!=c", "a==b!=c"},
        {"D(x^2,x)", "D(x^2,x)"},     {"sum(i,{i,1,n})", "sum(i,{i,1,n})"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(reprinted(c.source), c.printed) << c.source;
}

TEST(Printer, ASignThatANameWouldSwallowIsKeptApart)
{
    // After "x." a minus reads as a negation, after "x2e" a sign as part of the name.
    EXPECT_EQ(reprinted("(x.)-y"), "(x.)-y");
    EXPECT_EQ(reprinted("(x_)-(2.)"), "(x_)-2.");
    EXPECT_EQ(reprinted("(x2e)+1"), "(x2e)+1");
    EXPECT_EQ(reprinted("(a-x2E)-1"), "(a-x2E)-1");
    EXPECT_EQ(reprinted("(x.)+y"), "x.+y");
    EXPECT_EQ(reprinted("(x.)*y-(e)-1"), "x.*y-e-1");
    for (const char* text : {"(x.)-y", "(x2e)+1", "(a-x2E)-1", "-(x_)-1", "(5.)-x"})
        EXPECT_EQ(dump(*parsed(printToString(*parsed(text)))), dump(*parsed(text))) << text;
}

TEST(Printer, NumbersAreBracketedWhenNegativeOrComplexInsideAnOperator)
{
    auto product = makeOperator(op::Times, 10, "*");
    product->left = makeNumber(2);
    product->right = makeNumber(-3);
    EXPECT_EQ(printToString(*product), "2*(-3)");
    auto sum = makeOperator(op::Plus, 9, "+");
    sum->left = makeSymbolRef("x");
    sum->right = makeNumber(1, 2);
    EXPECT_EQ(printToString(*sum), "x+(1+2*I)");
    EXPECT_EQ(printToString(*makeNumber(-3)), "-3");
    EXPECT_EQ(printToString(*makeNumber(1, 2)), "1+2*I");
}

TEST(Printer, NegationAfterASignIsBracketedSoItReadsBack)
{
    EXPECT_EQ(reprinted("a-(-b)"), "a-(-b)");
    EXPECT_EQ(reprinted("a+(-b)"), "a+(-b)");
    EXPECT_EQ(reprinted("-(-a)"), "-(-a)");
    EXPECT_EQ(reprinted("a*(-b)"), "a*-b");
    EXPECT_EQ(reprinted("a^(-b)"), "a^(-b)");
    for (const char* text : {"a-(-b)", "a+(-b)", "-(-a)", "-(-(-a))", "a-(-(b-c))"})
        EXPECT_EQ(dump(*parsed(printToString(*parsed(text)))), dump(*parsed(text))) << text;
}

namespace {

// Random trees of operators whose texts read back, built from literals that keep their
// exact value in print.
class TreeMaker {
public:
    explicit TreeMaker(unsigned seed) : m_rng(seed) {}

    TensorPtr make(int depth)
    {
        std::uniform_int_distribution<int> pick(0, depth <= 0 ? 1 : 9);
        switch (pick(m_rng)) {
        case 0: {
            static const char* literals[] = {"1", "2", "0.5", "3", "1.25", "4", "10", "7"};
            TensorPtr n;
            parseExpression(literals[std::uniform_int_distribution<int>(0, 7)(m_rng)], n);
            return n;
        }
        case 1: {
            static const char* names[] = {"x", "y", "zeta"};
            return makeSymbolRef(names[std::uniform_int_distribution<int>(0, 2)(m_rng)]);
        }
        case 2:
            return unary(op::Negate, 11, "~", depth);
        case 3:
            return unary(108 + std::uniform_int_distribution<int>(0, 1)(m_rng) * 12,
                         13, "sin", depth); // sin or sqrt
        default: {
            static const int codes[] = {op::Plus, op::Minus, op::Times, op::Divide, op::Power,
                                        op::Less, op::Equal, op::And, op::Log};
            int code = codes[std::uniform_int_distribution<int>(0, 8)(m_rng)];
            TensorPtr node = makeOperator(code, operatorLevel(code), operatorName(code));
            node->left = make(depth - 1);
            node->right = make(depth - 1);
            return node;
        }
        }
    }

private:
    TensorPtr unary(int code, int level, const char* text, int depth)
    {
        TensorPtr node = makeOperator(code, level, code == 120 ? "sqrt" : text);
        node->left = make(depth - 1);
        return node;
    }
    std::mt19937 m_rng;
};

} // namespace

// Associative chains print without brackets (a*(b/c) as a*b/c, a+(b-c) as a+b-c), so the
// text may read back regrouped; it must always parse and give the same value.
TEST(Printer, RandomTreesReadBackToTheSameValue)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    table.pushBack(makeSymbolFromValue(0.7, 0, "x", false));
    table.pushBack(makeSymbolFromValue(-1.3, 0, "y", false));
    table.pushBack(makeSymbolFromValue(2.2, 0, "zeta", false));
    TreeMaker maker(12345);
    int compared = 0;
    for (int i = 0; i < 3000; ++i) {
        TensorPtr tree = maker.make(6);
        const std::string text = printToString(*tree);
        TensorPtr back;
        ASSERT_TRUE(parseExpression(text, back)) << text;
        Complex a, b;
        try {
            a = evaluateNumeric(*tree, table);
        } catch (const Exception&) {
            EXPECT_THROW(evaluateNumeric(*back, table), Exception) << text;
            continue;
        }
        b = evaluateNumeric(*back, table);
        if (std::isnan(a.re) || std::isnan(a.im))
            continue;
        const double scale = std::max(1.0, std::abs(a.re) + std::abs(a.im));
        EXPECT_NEAR(a.re, b.re, 1e-9 * scale) << text;
        EXPECT_NEAR(a.im, b.im, 1e-9 * scale) << text;
        ++compared;
    }
    EXPECT_GT(compared, 1000);
}
