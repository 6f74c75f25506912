#include "ExprSupport.h"

#include "expr/Console.h"

#include <map>

using namespace zyl;
using namespace zyl::test;

class ConsoleLines : public LanguageTest {
protected:
    std::vector<std::string> type(const std::string& line)
    {
        return Console::screenOrder(console.execute(line));
    }
    std::map<std::string, std::string> equations;
    Console console{table, [this](const std::string& k, const std::string& v) { equations[k] = v; }};
};

using Lines = std::vector<std::string>;

TEST_F(ConsoleLines, StatementsAndNames)
{
    EXPECT_EQ(type("x=2"), Lines{">> 2"});
    EXPECT_EQ(equations["x"], "2");
    EXPECT_EQ(type("x"), Lines{">> 2"});
    EXPECT_EQ(type("x+1"), Lines{">> 3"});
    EXPECT_EQ(type("y"), Lines{">> y"});
    EXPECT_EQ(type(" x + 1 "), Lines{">> 3"});
}

TEST_F(ConsoleLines, FailuresAreAppendedAndStillRecorded)
{
    ConsoleResult r = console.execute("pi = 3");
    EXPECT_TRUE(r.linesBelow.empty());
    EXPECT_EQ(r.appended, Lines{">> Symbol pi is protected!"});
    EXPECT_EQ(equations["pi "], " 3");
    EXPECT_EQ(type(" "), Lines{">> Syntax error!"});
}

TEST_F(ConsoleLines, ListShowsTheTableLastDefinedFirst)
{
    Lines lines = type("List[]");
    ASSERT_EQ(lines.size(), 30u);
    EXPECT_EQ(lines.front(), ">> MutProb = 0");
    EXPECT_EQ(lines.back(), ">> deg = 0.0174533");
    type("f = a*b");
    lines = type("List[]");
    EXPECT_EQ(lines.front(), ">> f = a*b");
    setSymbolValue(table, "Average", 2.5);
    lines = type("List[ ]");
    EXPECT_EQ(lines[lines.size() - 5], ">> Average = 2.5");
}

TEST_F(ConsoleLines, ClearRemovesOrResets)
{
    type("x=2");
    EXPECT_TRUE(type("Clear[x]").empty());
    EXPECT_EQ(type("x"), Lines{">> x"});
    EXPECT_TRUE(type("Clear[pi]").empty());
    EXPECT_EQ(type("pi=3"), Lines{">> 3"});
    EXPECT_EQ(type("pi"), Lines{">> 3"});
    EXPECT_TRUE(type("Clear[nothing]").empty());
    type("q=1");
    EXPECT_TRUE(type("Clear[]").empty());
    EXPECT_EQ(table.size(), 30u);
    EXPECT_EQ(table.lookup("q"), nullptr);
    EXPECT_TRUE(table.lookup("pi")->isProtected);
}

TEST_F(ConsoleLines, OtherBracketedLinesAndExit)
{
    EXPECT_EQ(type("abc[1]"), Lines{">> abc[1]"});
    EXPECT_EQ(type("a b [ 1 ]"), Lines{">> ab[1]"});
    ConsoleResult exit = console.execute("Exit[]");
    EXPECT_TRUE(exit.closeRequested);
    EXPECT_TRUE(Console::screenOrder(exit).empty());
}
