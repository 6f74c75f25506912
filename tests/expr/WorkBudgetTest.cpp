#include "ExprSupport.h"

using namespace zyl;
using namespace zyl::test;

namespace {

std::string repeated(const std::string& head, const std::string& piece, int times) {
    std::string text = head;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string joined(const std::string& item, int times, const std::string& separator) {
    std::string text = item;
    for (int i = 1; i < times; ++i)
        text += separator + item;
    return text;
}

} // namespace

class SizeBudget : public LanguageTest {};

TEST_F(SizeBudget, CopiesOfDoublingDefinitionsEndInAMessage) {
    makeSymbolFromStatement("s1 = x + y", "", false, table);
    for (int k = 2; k <= 16; ++k)
        makeSymbolFromStatement("s" + std::to_string(k) + " = s" + std::to_string(k - 1) + " + s" +
                                    std::to_string(k - 1),
                                "", false, table);
    // Each use of s16 copies its 131071 nodes; a hundred uses would take gigabytes.
    EXPECT_EQ(run("g = " + joined("s16", 100, "+")), "Expression too large");
    EXPECT_EQ(table.lookup("g"), nullptr);
    EXPECT_EQ(run("s3"), "x+y+x+y+x+y+x+y");
}

TEST_F(SizeBudget, BroadcastsAndLongSumsEndInAMessage) {
    run("v = {" + joined("1", 10, ",") + "}");
    run("w = {" + joined("v", 10, ",") + "}");
    run("u = {" + joined("w", 10, ",") + "}");
    run("t = {" + joined("u", 10, ",") + "}");
    // The sum is a tree of 40000 nodes, copied once per element of the vector.
    EXPECT_EQ(run("t*sum(x,{i,1,20000})"), "Expression too large");
    EXPECT_EQ(run("sum(x,{i,1,1e9})"), "Expression too large");
    EXPECT_EQ(table.lookup("i"), nullptr);
    EXPECT_EQ(run("sum(v,{i,1,3})"), "{3,3,3,3,3,3,3,3,3,3}");
}

TEST_F(SizeBudget, SimplifyingLongChainsStaysLinear) {
    // Comparing the operands of every "-" and "/" by printing them made these quadratic.
    // The digests that replace the printing count as work: were they not remembered, these
    // would end in "Expression too large".
    const std::string differences = run(repeated("x", "-(y*w-z*v)", 2000));
    EXPECT_TRUE(endsWith(differences, ")-(y*w-z*v))-(y*w-z*v)")) << differences.substr(0, 40);
    const std::string quotients = run(repeated("x", "/(y/w/(z/v))", 2000));
    EXPECT_TRUE(endsWith(quotients, ")/((y/w)/(z/v))")) << quotients.substr(0, 40);
    // x/x/.../x with 20 divisions is x^-19.
    run("x = 2");
    EXPECT_EQ(run("D(" + repeated("x", "/x", 20) + ",x)"), "-1.81198e-05");
}

TEST_F(SizeBudget, OperandsAreComparedByTheirPrintedText) {
    // b+c substituted under a+ is the tree a+(b+c), which prints as a+b+c.
    run("s = b + c");
    EXPECT_EQ(run("(a + s) - (a + b + c)"), "0");
    EXPECT_EQ(run("(a + s) / (a + b + c)"), "1");
    EXPECT_EQ(run("(a - s) - (a - b + c)"), "(a-(b+c))-(a-b+c)");
    EXPECT_EQ(run("{x*y, 2} - {x*y, 1}"), "{0,1}");
    EXPECT_EQ(run("(x + 2.50) - (x + 2.5)"), "(x+2.50)-(x+2.5)");
}
