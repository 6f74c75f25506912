#include "ExprSupport.h"

#include <gmock/gmock.h>

#include <cmath>

using namespace zyl;
using namespace zyl::test;

class Evaluator : public LanguageTest {};

TEST_F(Evaluator, UnknownNamesStaySymbolic)
{
    TensorPtr sum = evaluate(*parsed("x+1"), table);
    EXPECT_EQ(dump(*sum), "+($x,1)");
    table.pushBack(makeSymbolFromValue(2, 0, "x", false));
    EXPECT_EQ(dump(*evaluate(*parsed("x+1"), table)), "3");
    EXPECT_EQ(dump(*evaluate(*parsed("{y, 1+1}"), table)), "{$y,2}");
}

TEST_F(Evaluator, EvaluateNeverChangesItsArgument)
{
    TensorPtr tree = parsed("{1+2, sin(x), y*2}");
    const std::string before = dump(*tree);
    evaluate(*tree, table);
    EXPECT_EQ(dump(*tree), before);
}

TEST_F(Evaluator, NumericRules)
{
    EXPECT_EQ(numericError("x+1"), "Unknown variable: x");
    EXPECT_EQ(numericError("x3"), "Unknown variable: x3");
    EXPECT_EQ(numericError("{1,2}"), "Not a scalar value");
    EXPECT_EQ(numericError("I>0"), "Not a real type");
    EXPECT_EQ(numericError("!I"), "Not a real type");
    EXPECT_EQ(numericError("a=1"), "Syntax error!!!");
    EXPECT_EQ(numericError("D(x,x)"), "Syntax error!!!");
    EXPECT_EQ(numericError("sum(i,{i,1,2})"), "Syntax error!!!");
    EXPECT_EQ(numeric("I==I").re, 1);
    EXPECT_EQ(numeric("1+I!=1").re, 1);
    EXPECT_EQ(numeric("0^0").re, 1);
    EXPECT_EQ(numeric("0^2").re, 0);
    EXPECT_EQ(numeric("3>2 && 1<2 || 0").re, 1);
    Complex z = numeric("-(2-3*I)");
    EXPECT_EQ(z.re, -2);
    EXPECT_EQ(z.im, 3);
}

TEST_F(Evaluator, NumericAndSymbolicAgreeOnOperators)
{
    for (const char* text : {"(1+2*I)*(3-I)/(2+I)", "2^(0.5+I)", "log(3,2+I)", "-(1-I)^3",
                             "(1+I)-(2-3*I)", "(-2)^0.5*e", "deg*180/pi", "(2>1)+(1==1)"}) {
        Complex n = numeric(text);
        TensorPtr s = evaluate(*parsed(text), table);
        ASSERT_TRUE(s->isNumber()) << text;
        EXPECT_EQ(s->re, n.re) << text;
        EXPECT_EQ(s->im, n.im) << text;
    }
}

TEST_F(Evaluator, DefinitionsAreFollowed)
{
    run("a=b+1");
    run("b=2");
    EXPECT_EQ(numeric("a*10").re, 30);
    EXPECT_EQ(run("a"), "3");
}

TEST_F(Evaluator, ResolveAndNestingDepth)
{
    run("m={{1,2},{3,4}}");
    run("n=m");
    EXPECT_EQ(dump(*resolve(*makeSymbolRef("n"), table)), "{{1,2},{3,4}}");
    EXPECT_THROW(resolve(*makeSymbolRef("nothing"), table), InfoErr);
    EXPECT_EQ(nestingDepth(*parsed("{{1,2},{3,4}}")), 2);
    EXPECT_EQ(nestingDepth(*parsed("{{1,2},{3}}")), 1);
    EXPECT_EQ(nestingDepth(*parsed("{{1,2},3}")), 1);
    EXPECT_EQ(nestingDepth(*parsed("{1,{2}}")), 1);
    EXPECT_EQ(nestingDepth(*parsed("{{{1},{2}},{{3},{4}}}")), 3);
    EXPECT_EQ(nestingDepth(*parsed("5")), 0);
}

TEST_F(Evaluator, LongAliasChainsAreFollowedWithoutRecursion)
{
    const int n = 100'000;
    for (int i = 0; i < n; ++i)
        table.pushBack(std::make_unique<Funkcja>(
            Funkcja{"a" + std::to_string(i), makeSymbolRef("a" + std::to_string(i + 1)), false}));
    table.pushBack(makeSymbolFromValue(7, 0, "a" + std::to_string(n), false));
    EXPECT_EQ(numeric("a0").re, 7);
    EXPECT_EQ(dump(*evaluate(*makeSymbolRef("a0"), table)), "7");
}

TEST_F(Evaluator, DeepExpressionsEndInAMessage)
{
    // A tree deeper than any stack can walk: a clear message, never a crash.
    auto root = makeSymbolRef("x");
    for (int i = 0; i < 400'000; ++i) {
        auto node = makeOperator(op::Plus, 9, "+");
        node->left = std::move(root);
        node->right = makeNumber(1);
        root = std::move(node);
    }
    EXPECT_THROW(
        {
            try {
                evaluate(*root, table);
            } catch (const InfoErr& e) {
                EXPECT_STREQ(e.what(), "Expression too deeply nested");
                throw;
            }
        },
        InfoErr);
    EXPECT_THROW(evaluateNumeric(*root, table), InfoErr);
    EXPECT_THROW(printToString(*root), InfoErr);
}
