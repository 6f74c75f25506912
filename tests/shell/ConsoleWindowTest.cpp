#include "shell/ConsoleWindow.h"

#include "expr/Statement.h"
#include "script/ProjectScript.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

using namespace zyl;

namespace {

class ConsoleWindow : public ::testing::Test {
protected:
    ConsoleWindow() { table.registerBuiltinSymbols(); }

    void type(const QString& line, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClicks(console.RichEdit1, line);
        QTest::keyClick(console.RichEdit1, Qt::Key_Return, modifiers);
    }
    QStringList lines() const { return console.RichEdit1->toPlainText().split(QLatin1Char('\n')); }
    int caretLine() const { return console.RichEdit1->textCursor().blockNumber(); }
    void putCaretAtEndOfLine(int line)
    {
        QTextCursor caret = console.RichEdit1->textCursor();
        QTextBlock block = console.RichEdit1->document()->findBlockByNumber(line);
        caret.setPosition(block.position() + block.length() - 1);
        console.RichEdit1->setTextCursor(caret);
    }
    std::vector<std::string> equationKeys() const { return script->ReadSection("EQUATIONS"); }

    SymbolTable table;
    std::unique_ptr<ProjectScript> script = std::make_unique<ProjectScript>();
    TIOconsole console{table, [this] { return script.get(); }};
};

TEST_F(ConsoleWindow, AnswersBelowTheTypedLineAndRecordsDefinitions)
{
    type("x=2");
    EXPECT_EQ(lines(), (QStringList{"x=2", ">> 2", ""}));
    EXPECT_EQ(caretLine(), 2);
    EXPECT_EQ(script->ReadString("EQUATIONS", "x", "?"), "2");

    type("x+1");
    EXPECT_EQ(lines(), (QStringList{"x=2", ">> 2", "x+1", ">> 3", ""}));
    EXPECT_EQ(equationKeys(), std::vector<std::string>{"x"});

    // Going back to an earlier line answers directly below it, and the line after the answer
    // is where typing continues.
    putCaretAtEndOfLine(0);
    QTest::keyClick(console.RichEdit1, Qt::Key_Enter);
    EXPECT_EQ(lines(), (QStringList{"x=2", ">> 2", "", ">> 2", "x+1", ">> 3", ""}));
    EXPECT_EQ(caretLine(), 2);

    // The value is recorded as typed; the key loses its blanks, since a name holds none and the
    // loader looks the objective up as "f".
    type("f = x+x", Qt::ShiftModifier);
    EXPECT_EQ(lines().at(3), ">> 4");
    EXPECT_EQ(script->ReadString("EQUATIONS", "f", "?"), " x+x");
    EXPECT_TRUE(script->HasKey("EQUATIONS", "f"));
}

TEST_F(ConsoleWindow, FailuresGoToTheEndAndAreStillRecorded)
{
    type("pi=3");
    EXPECT_EQ(lines(), (QStringList{"pi=3", ">> Symbol pi is protected!", ""}));
    EXPECT_EQ(script->ReadString("EQUATIONS", "pi", "?"), "3");

    // From an earlier line the message still lands at the end, in the empty input line.
    type("y=1");
    putCaretAtEndOfLine(0);
    QTest::keyClick(console.RichEdit1, Qt::Key_Return);
    EXPECT_EQ(lines(), (QStringList{"pi=3", ">> Symbol pi is protected!", "y=1", ">> 1",
                                    ">> Symbol pi is protected!", ""}));

    // A line the script cannot hold is executed and answered, and the reason it was not
    // recorded is shown; the script stays as it was.
    console.clearText();
    type("[a=1]");
    QStringList shown = lines();
    EXPECT_EQ(shown.at(1), ">> [a=1]");
    EXPECT_TRUE(shown.at(2).startsWith(">> Cannot write \"[a=1]\""));
    EXPECT_EQ(equationKeys(), (std::vector<std::string>{"pi", "y"}));
}

TEST_F(ConsoleWindow, BracketCommands)
{
    type("List[]");
    QStringList shown = lines();
    ASSERT_EQ(shown.size(), 32);
    EXPECT_EQ(shown.at(1), ">> MutProb = 0");
    EXPECT_EQ(shown.at(30), ">> deg = 0.0174533");
    EXPECT_TRUE(script->ReadSection("EQUATIONS").empty());

    console.clearText();
    type("a=1");
    type("Clear[]");
    EXPECT_EQ(lines(), (QStringList{"a=1", ">> 1", "Clear[]", ""}));
    EXPECT_EQ(table.size(), 30u);
    EXPECT_EQ(table.lookup("a"), nullptr);
    EXPECT_EQ(equationKeys(), std::vector<std::string>{"a"});

    console.show();
    type("Exit[]");
    EXPECT_FALSE(console.isVisible());
    EXPECT_EQ(console.result(), QDialog::Accepted);
}

TEST_F(ConsoleWindow, ExplodingLinesEndInAMessageAndTheWindowGoesOn)
{
    // Definitions that double at every step, made directly so that the window does not have
    // to show their long values.
    makeSymbolFromStatement("s1=x+y", "", false, table);
    for (int k = 2; k <= 16; ++k)
        makeSymbolFromStatement("s" + std::to_string(k) + "=s" + std::to_string(k - 1) + "+s" +
                                    std::to_string(k - 1),
                                "", false, table);
    QString hundred = "g=s16";
    for (int i = 1; i < 100; ++i)
        hundred += "+s16";
    for (const QString& line : {hundred, QString("D(x/x/x,x)")}) {
        console.RichEdit1->textCursor().insertText(line);
        QTest::keyClick(console.RichEdit1, Qt::Key_Return);
    }
    const QStringList shown = lines();
    ASSERT_EQ(shown.size(), 5);
    EXPECT_EQ(shown.at(1), ">> Expression too large");
    EXPECT_EQ(shown.at(3), ">> (-1)/x^2");
    EXPECT_EQ(table.lookup("g"), nullptr);
}

TEST_F(ConsoleWindow, WorksWithoutAProject)
{
    script.reset();
    type("x=2");
    EXPECT_EQ(lines(), (QStringList{"x=2", ">> 2", ""}));
    ASSERT_NE(table.lookup("x"), nullptr);

    // Other keys are the text control's own.
    QTest::keyClicks(console.RichEdit1, "abc");
    QTest::keyClick(console.RichEdit1, Qt::Key_Backspace);
    EXPECT_EQ(lines().back(), "ab");
    EXPECT_FALSE(console.RichEdit1KeyDown(Qt::Key_A));
}

} // namespace
