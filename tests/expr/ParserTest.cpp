#include "ExprSupport.h"

#include <gmock/gmock.h>

using namespace zyl;
using namespace zyl::test;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(Normalize, BlanksSignsAndBraces)
{
    EXPECT_EQ(normalizeStatement(" 1 + 2 "), "1+2");
    EXPECT_EQ(normalizeStatement("--x"), "x");
    EXPECT_EQ(normalizeStatement("-x"), "~x");
    EXPECT_EQ(normalizeStatement("a+-b"), "a-b");
    EXPECT_EQ(normalizeStatement("a-+-+b"), "a+b");
    EXPECT_EQ(normalizeStatement("a*-b"), "a*~b");
    EXPECT_EQ(normalizeStatement("{a,-b}"), "vect(a,~b)");
    EXPECT_EQ(normalizeStatement("~~x"), "x");
    EXPECT_EQ(normalizeStatement("a+~~-b"), "a-b");
    EXPECT_EQ(normalizeStatement("1.-2"), "1.~2");
    EXPECT_EQ(normalizeStatement("(a)-b"), "(a)-b");
}

TEST(Normalize, FoldingALongRunOfSignsIsLinear)
{
    std::string text(1'000'001, '-');
    text += "x";
    EXPECT_EQ(normalizeStatement(text), "~x");
    text = std::string(1'000'000, '-') + "x";
    EXPECT_EQ(normalizeStatement(text), "x");
}

TEST(Parser, PrecedenceAndAssociativity)
{
    struct Case {
        const char* text;
        const char* tree;
    };
    const Case cases[] = {
        {"1 + 2", "+(1,2)"},
        {"a b", "$ab"},
        {"-x^2", "~(^($x,2))"},
        {"a*-b", "*($a,~($b))"},
        {"a-(-b)", "-($a,~($b))"},
        {"2^-3", "^(2,~(3))"},
        {"2^(-3)", "^(2,~(3))"},
        {"2^-x^2", "^(2,~(^($x,2)))"},
        {"2^3^4", "^(2,^(3,4))"},
        {"a-b-c", "-(-($a,$b),$c)"},
        {"a/b*c", "*(/($a,$b),$c)"},
        {"a:b", ":($a,$b)"},
        {"1e-5", "1e-5"},
        {"x2e+1", "$x2e+1"},
        {"e+1", "+($e,1)"},
        {"{1,{2,3}}", "{1,{2,3}}"},
        {"a=b=3", "=($a,=($b,3))"},
        {"log(2,8)", "log(2,8)"},
        {"x==1", "==($x,1)"},
        {"x=1", "=($x,1)"},
        {"sin(x)^2", "^(sin($x),2)"},
        {"sin(sin(x))", "sin(sin($x))"},
        {"a||b&&c", "||($a,&&($b,$c))"},
        {"a<b==c>d", "==(<($a,$b),>($c,$d))"},
        {"!a&&b", "&&(!($a),$b)"},
        {"1.0-2", "-(1.0,2)"},
        {"D(x^2,x)", "D(^($x,2),$x)"},
        {"sum(i,{i,1,3})", "sum($i,{$i,1,3})"},
        {"-5.*sin(x1)", "*(~(5.),sin($x1))"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parsedDump(c.text), c.tree) << c.text;
}

TEST(Parser, NamesAreNotNumbers)
{
    EXPECT_EQ(parsedDump("info+inflow+nanny"), "+(+($info,$inflow),$nanny)");
    EXPECT_EQ(parsedDump("inf"), "$inf");
    EXPECT_EQ(parsedDump("nan"), "$nan");
    EXPECT_EQ(parsedDump("0x10"), "$0x10");
    EXPECT_EQ(parsedDump("2x"), "$2x");
    EXPECT_EQ(parsedDump("1.5.3"), "$1.5.3");
    EXPECT_EQ(parsedDump("a_b"), "$a_b");
    EXPECT_EQ(parsedDump("1e400"), "THROW:Too large value");
    EXPECT_EQ(parsedDump("1e999999"), "THROW:Too large value");
    EXPECT_EQ(parsedDump("1e-999"), "1e-999");
}

TEST(Parser, Failures)
{
    for (const char* text : {"", "a+", "*a", "sin()", "a,b", "2(3)", "f(x)", "Sin(x)", "sin(1,2)",
                             "{}", "vect()", ")", "(", "(a", "a)", "a*+b", "a*--b", "1.-2",
                             "{1+}", "vect", "=", "!", "~"})
        EXPECT_EQ(parsedDump(text), "FAIL") << text;
}

TEST(Parser, CharactersNoTokenMayHold)
{
    for (const char* text : {"a[1]", "a#b", "a;b", "a&b", "a|b", "a$", "a@b", "a?b", "'a'",
                             "a\\b", "`", "a%b", "\"x\""})
        EXPECT_EQ(parsedDump(text), "THROW:Syntax error!!!") << text;
}

TEST(Parser, ArbitraryBytesAreNamesOrErrors)
{
    std::string text = "x\x01\xff\x80y";
    EXPECT_EQ(parsedDump(text), "$" + text);
    EXPECT_EQ(parsedDump(std::string("a\0b", 3)), "$" + std::string("a\0b", 3));
}

TEST(Parser, DeepBracketsAndLongChainsParseWithoutRecursion)
{
    const int n = 100'000;
    std::string nested = std::string(n, '(') + "x" + std::string(n, ')');
    EXPECT_EQ(parsedDump(nested), "$x");
    std::string unbalanced = std::string(n, '(') + "x";
    EXPECT_EQ(parsedDump(unbalanced), "FAIL");
    std::string chain = "1";
    for (int i = 0; i < n; ++i)
        chain += "+1";
    TensorPtr tree;
    EXPECT_TRUE(parseExpression(chain, tree));
}
