#include "ExprSupport.h"

#include "expr/Console.h"

using namespace zyl;
using namespace zyl::test;

namespace {

std::string repeated(const std::string& head, const std::string& piece, int times)
{
    std::string text = head;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

std::string joined(const std::string& item, int times, const std::string& separator)
{
    std::string text = item;
    for (int i = 1; i < times; ++i)
        text += separator + item;
    return text;
}

} // namespace

class SizeBudget : public LanguageTest {};

TEST_F(SizeBudget, CopiesOfDoublingDefinitionsEndInAMessage)
{
    run("s1 = x + y");
    for (int k = 2; k <= 16; ++k)
        run("s" + std::to_string(k) + " = s" + std::to_string(k - 1) + " + s" +
            std::to_string(k - 1));
    // Each use of s16 copies its 131072 leaves; a hundred uses would take gigabytes.
    EXPECT_EQ(run(joined("s16", 100, "+")), "Expression too large");
    EXPECT_EQ(run("g = " + joined("s16", 100, "+")), "Expression too large");
    EXPECT_EQ(table.lookup("g"), nullptr);
    EXPECT_EQ(run("s3"), "x+y+x+y+x+y+x+y");
}

TEST_F(SizeBudget, BroadcastsAndLongSumsEndInAMessage)
{
    run("v = {" + joined("1", 10, ",") + "}");
    run("w = {" + joined("v", 10, ",") + "}");
    run("u = {" + joined("w", 10, ",") + "}");
    run("t = {" + joined("u", 10, ",") + "}");
    // The sum is a tree of 40000 nodes, copied once per element of the vector.
    EXPECT_EQ(run("t*sum(x,{i,1,20000})"), "Expression too large");
    EXPECT_EQ(run("u*sum(x,{i,1,20000})"), "Expression too large");
    EXPECT_EQ(run("sum(x,{i,1,1e9})"), "Expression too large");
    EXPECT_EQ(run("product(t,{i,1,1e9})"), "Expression too large");
    EXPECT_EQ(table.lookup("i"), nullptr);
    // Realistic sizes still compute.
    EXPECT_EQ(run("sum(v,{i,1,3})"), "{3,3,3,3,3,3,3,3,3,3}");
    EXPECT_EQ(run("sum(i,{i,1,100000})"), "5.00005e+09");
}

TEST_F(SizeBudget, SimplifyingLongChainsStaysLinear)
{
    // Comparing the operands of every "-" and "/" by printing them made these quadratic.
    // The digests that replace the printing count as work: were they not remembered, these
    // would end in "Expression too large".
    const std::string differences = run(repeated("x", "-(y-z)", 20000));
    EXPECT_EQ(differences.substr(differences.size() - 13), "-(y-z))-(y-z)");
    const std::string quotients = run(repeated("x", "/(y/z)", 20000));
    EXPECT_EQ(quotients.substr(quotients.size() - 13), "/(y/z))/(y/z)");
    EXPECT_EQ(run("D(" + repeated("x", "/x", 1600) + ",x)"), "Expression too large");
    // x/x/.../x with 20 divisions is x^-19.
    run("x = 2");
    EXPECT_EQ(run("D(" + repeated("x", "/x", 20) + ",x)"), "-1.81198e-05");
}

TEST_F(SizeBudget, OperandsAreComparedByTheirPrintedText)
{
    // b+c substituted under a+ is the tree a+(b+c), which prints as a+b+c.
    run("s = b + c");
    EXPECT_EQ(run("(a + s) - (a + b + c)"), "0");
    EXPECT_EQ(run("(a + s) / (a + b + c)"), "1");
    EXPECT_EQ(run("(a - s) - (a - b + c)"), "(a-(b+c))-(a-b+c)");
    EXPECT_EQ(run("{x*y, 2} - {x*y, 1}"), "{0,1}");
    EXPECT_EQ(run("(x + 2.50) - (x + 2.5)"), "(x+2.50)-(x+2.5)");
}

TEST_F(SizeBudget, OneBudgetPerConsoleLine)
{
    Console console(table);
    run("s1 = x + y");
    for (int k = 2; k <= 16; ++k)
        console.execute("s" + std::to_string(k) + "=s" + std::to_string(k - 1) + "+s" +
                        std::to_string(k - 1));
    // Ten copies of s16 (131071 nodes each) fit in the budget of the statement and in that
    // of its evaluation, but not in one budget for both.
    const std::string line = joined("s16", 10, "+");
    EXPECT_EQ(run(line).substr(0, 8), "x+y+x+y+");
    EXPECT_EQ(Console::screenOrder(console.execute(line)),
              std::vector<std::string>{">> Expression too large"});
    EXPECT_EQ(Console::screenOrder(console.execute("s2")), std::vector<std::string>{">> x+y+x+y"});
}
