#include "ExprSupport.h"

using namespace zyl;
using namespace zyl::test;

class SumsAndProducts : public LanguageTest {};

TEST_F(SumsAndProducts, Ranges)
{
    EXPECT_EQ(run("sum(i,{i,1,4})"), "10");
    EXPECT_EQ(run("product(i,{i,1,5})"), "120");
    EXPECT_EQ(run("sum(i^2,{i,1.9,3.7})"), "14");
    EXPECT_EQ(run("sum(i,{i,5,1})"), "0");
    EXPECT_EQ(run("product(i,{i,5,1})"), "1");
    EXPECT_EQ(run("sum(1/i,{i,-2,-1})"), "-1.5");
    EXPECT_EQ(run("sum({i,1},{i,1,3})"), "{6,3}");
    EXPECT_EQ(run("product({i,2},{i,1,3})"), "{6,8}");
    run("n = 4");
    EXPECT_EQ(run("sum(i,{i,1,n})"), "10");
    EXPECT_EQ(run("sum(sum(i*j,{j,1,i}),{i,1,3})"), "25");
}

TEST_F(SumsAndProducts, SymbolicTermsBuildSymbolicSums)
{
    TensorPtr tree = evaluate(*parsed("sum(x^i,{i,1,2})"), table);
    EXPECT_EQ(dump(*tree), "+(+(0,^($x,1)),^($x,2))");
    EXPECT_EQ(run("sum(x^i,{i,1,2})"), "x+x^2");
    EXPECT_EQ(run("product(x,{i,1,3})"), "x*x*x");
}

TEST_F(SumsAndProducts, BadRangesAndBounds)
{
    EXPECT_EQ(run("sum(i,{i,1})"), "Syntax error: sum !");
    EXPECT_EQ(run("sum(i,5)"), "Syntax error: sum !");
    EXPECT_EQ(run("product(i,{{1,2},{3,4},{5,6}})"), "Syntax error: product !");
    EXPECT_EQ(run("sum(i,{i,1,m})"), "Unknown variable!");
    EXPECT_EQ(run("sum(i,{i,a+1,3})"), "Unknown variable!");
    EXPECT_EQ(run("sum({1,2}*i+{1,2,3},{i,1,3})"), "Different dimensions");
    EXPECT_EQ(run("sum(1/(i-2),{i,1,3})"), "SING ");
    EXPECT_EQ(table.lookup("i"), nullptr);
    EXPECT_EQ(table.size(), 30u);
}

TEST_F(SumsAndProducts, TheIndexShadowsAnOlderSymbolAndLeavesIt)
{
    run("i = 7");
    EXPECT_EQ(run("sum(i,{i,1,4})"), "10");
    EXPECT_EQ(run("i"), "7");
    EXPECT_EQ(run("sum(i,{i,1,i})"), "28");
    EXPECT_EQ(table.symbols().last()->item->name, "i");
    EXPECT_EQ(run("f = sum(k*i,{k,1,2})"), "21");
    run("pi2 = sum(pi,{pi,1,3})");
    EXPECT_EQ(run("pi2"), "6");
    EXPECT_EQ(run("pi"), "3.14159");
}

TEST_F(SumsAndProducts, ABoundThatMovesWithTheIndexEndsInAMessage)
{
    // The upper bound names the index itself, so the range never ends.
    EXPECT_EQ(run("sum(1,{j,1,j})"), "Expression too large");
    EXPECT_EQ(table.lookup("j"), nullptr);
}

TEST_F(SumsAndProducts, LongSymbolicSumsEndInAMessageNotACrash)
{
    EXPECT_EQ(run("sum(x^i,{i,1,1000})").substr(0, 12), "x+x^2+x^3+x^");
    EXPECT_EQ(run("sum(x^i,{i,1,300000})"), "Expression too deeply nested");
    EXPECT_EQ(run("D(sum(x^i,{i,1,300000}),x)"), "Expression too deeply nested");
    EXPECT_EQ(table.size(), 30u);
    EXPECT_EQ(run("sum(i,{i,1,100000})"), "5.00005e+09");
}
