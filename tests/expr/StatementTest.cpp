#include "ExprSupport.h"

using namespace zyl;
using namespace zyl::test;

class Statements : public LanguageTest {};

TEST_F(Statements, DefinitionsAreImmediate)
{
    EXPECT_EQ(run("x = 2"), "2");
    EXPECT_EQ(run("y = x + 1"), "3");
    EXPECT_EQ(run("x = 5"), "5");
    EXPECT_EQ(run("y"), "3");
    EXPECT_EQ(table.symbols().last()->item->name, "x");
}

TEST_F(Statements, SymbolicDefinitionsAreLookedUpLater)
{
    EXPECT_EQ(run("f = a * b"), "a*b");
    run("a = 2");
    run("b = 3");
    EXPECT_EQ(run("f"), "6");
    EXPECT_EQ(numeric("f").re, 6);
}

TEST_F(Statements, ChainedAndNestedAssignments)
{
    EXPECT_EQ(run("a = b = 3"), "3");
    EXPECT_EQ(run("a"), "3");
    EXPECT_EQ(run("b"), "3");
    EXPECT_EQ(run("(x = 2) + 1"), "3");
    EXPECT_EQ(run("x"), "2");
    EXPECT_EQ(run("{p=1, q=p+1}"), "{1,2}");
    EXPECT_EQ(run("q"), "2");
}

TEST_F(Statements, Refusals)
{
    EXPECT_EQ(run("pi = 3"), "Symbol pi is protected!");
    EXPECT_EQ(run("pi"), "3.14159");
    EXPECT_EQ(run("2 = 3"), "2 must be scalar Lvalue !");
    EXPECT_EQ(run("a + b = 1"), "+ must be scalar Lvalue !");
    EXPECT_EQ(run("{a} = 1"), " must be scalar Lvalue !");
    EXPECT_EQ(run("z = z + 1"), "Recursion error !");
    EXPECT_EQ(table.lookup("z"), nullptr);
    EXPECT_EQ(run("v = u"), "u");
    EXPECT_EQ(run("u = v + 1"), "Recursion error !");
    EXPECT_EQ(run("w = {1, w}"), "Recursion error !");
    EXPECT_EQ(run(""), "Syntax error!");
    EXPECT_EQ(run("   "), "Syntax error!");
    EXPECT_EQ(run("f(x) = x^2"), "Syntax error!");
    EXPECT_EQ(run("a = #"), "Syntax error!!!");
    EXPECT_EQ(run("a = 1e400"), "Too large value");
}

TEST_F(Statements, ARecursionErrorRemovesTheOldSymbol)
{
    run("r = 1");
    run("s = t");
    EXPECT_EQ(run("t = s + r"), "Recursion error !");
    EXPECT_EQ(table.lookup("t"), nullptr);
    run("k = 4");
    EXPECT_EQ(run("k = 1/0"), "SING ");
    EXPECT_EQ(table.lookup("k"), nullptr);
}

TEST_F(Statements, AssignmentsBeforeAFailureStay)
{
    EXPECT_EQ(run("(g = 7) + {1,2} + {1,2,3}"), "Different dimensions");
    EXPECT_EQ(run("g"), "7");
}

TEST_F(Statements, SelfReferenceUsesTheOldValue)
{
    run("x = 2");
    EXPECT_EQ(run("x = x + 1"), "3");
    EXPECT_EQ(run("x"), "3");
}

TEST_F(Statements, SimplificationRules)
{
    EXPECT_EQ(run("x * 0"), "0");
    EXPECT_EQ(run("0 * x"), "0");
    EXPECT_EQ(run("x * 1"), "x");
    EXPECT_EQ(run("1 * x"), "x");
    EXPECT_EQ(run("x ^ 1"), "x");
    EXPECT_EQ(run("x ^ 0"), "1");
    EXPECT_EQ(run("1 ^ x"), "1");
    EXPECT_EQ(run("0 ^ x"), "0");
    EXPECT_EQ(run("x - x"), "0");
    EXPECT_EQ(run("x / x"), "1");
    EXPECT_EQ(run("0 - x"), "-x");
    EXPECT_EQ(run("0 / x"), "0");
    EXPECT_EQ(run("x / 1"), "x");
    EXPECT_EQ(run("x + 0"), "x");
    EXPECT_EQ(run("0 + x"), "x");
    EXPECT_EQ(run("x - 0"), "x");
    EXPECT_EQ(run("x + 0.0"), "x+0.0");
    EXPECT_EQ(run("x * 0.0"), "0.0");
    EXPECT_EQ(run("x / 1.0"), "x/1.0");
    EXPECT_EQ(run("(x+1)/(y+1)"), "(x+1)/(y+1)");
    EXPECT_EQ(run("(x+1)-(x+1)"), "0");
    EXPECT_EQ(run("x*(y*0+1)"), "x");
    EXPECT_EQ(run("{x*1, 0+y}"), "{x,y}");
    EXPECT_EQ(run("x^{1,2}"), "{x,x^2}");
}

TEST_F(Statements, SimplifiedResultAgreesWithTheUnsimplifiedValue)
{
    for (const char* text : {"x*(y-y)+2*x/x", "(x-0)*(1*y)^1+0", "(x+y)/(x+y)*3-0*x"}) {
        TensorPtr plain = parsed(text);
        SymbolTable values;
        values.registerBuiltinSymbols();
        values.pushBack(makeSymbolFromValue(1.5, 0, "x", false));
        values.pushBack(makeSymbolFromValue(-0.25, 0, "y", false));
        auto symbol = makeSymbolFromStatement(text, "", false, table);
        Complex simplified = evaluateNumeric(*symbol->definition, values);
        Complex direct = evaluateNumeric(*plain, values);
        EXPECT_DOUBLE_EQ(simplified.re, direct.re) << text;
    }
}

TEST_F(Statements, ValueMayContainEquals)
{
    EXPECT_EQ(run("f = a == b"), "0");
    EXPECT_EQ(run("h = 2 == 2"), "1");
}

TEST_F(Statements, HostileInputsEndInMessages)
{
    std::string deep = std::string(200'000, '(') + "1+" + std::string(200'000, ')');
    EXPECT_EQ(run(deep), "Syntax error!");
    std::string balanced = std::string(200'000, '(') + "x";
    for (int i = 0; i < 200'000; ++i)
        balanced += "+1)";
    EXPECT_EQ(run(balanced), "Expression too deeply nested");
    std::string chain = "1";
    for (int i = 0; i < 5000; ++i)
        chain += "+1";
    EXPECT_EQ(run(chain), "5001");
    EXPECT_EQ(run(std::string(1 << 20, 'a')), std::string(1 << 20, 'a'));
}

TEST_F(Statements, ExplodingDefinitionsEndInAMessage)
{
    // Each level names the next twice: evaluating q0 would build 2^40 nodes.
    for (int i = 0; i < 40; ++i)
        run("q" + std::to_string(i) + " = q" + std::to_string(i + 1) + " + q" +
            std::to_string(i + 1));
    EXPECT_EQ(run("q40 = q0"), "Expression too large");
    EXPECT_EQ(run("q40 = q38*2"), "Recursion error !");
    run("q40 = 1");
    EXPECT_EQ(run("q0"), "Expression too large");
    EXPECT_EQ(numericError("q0"), "Expression too large");
    EXPECT_EQ(run("q35"), "32");
}
