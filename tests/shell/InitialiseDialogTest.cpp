#include "shell/InitialiseDialog.h"

#include "ShellSupport.h"
#include "script/ProjectScript.h"
#include "shell/ConsoleWindow.h"
#include "shell/HelpWindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace zyl;
using zyl::test::MessageBoxAnswerer;

namespace {

using Keys = std::vector<std::string>;

std::string withCrLf(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

class InitialiseDialog : public ::testing::Test {
protected:
    InitialiseDialog() { table.registerBuiltinSymbols(); }
    ~InitialiseDialog() override { dialog.hide(); }

    void open() { dialog.show(); }
    void addVariables(int count)
    {
        for (int i = 0; i < count; ++i)
            dialog.ButtonAddVar->click();
    }
    QTreeWidgetItem* variableRow(int i) { return dialog.ListViewVariables->topLevelItem(i); }
    std::string value(const char* section, const char* key)
    {
        return script->ReadString(section, key, "<absent>");
    }

    SymbolTable table;
    std::unique_ptr<ProjectScript> script;
    TIOconsole console{table, [this] { return script.get(); }};
    TOKBottomDlg dialog{script, console};
};

TEST_F(InitialiseDialog, DefaultTaskIsSavedAsTheReferenceScript)
{
    EXPECT_EQ(dialog.PageControl1->currentWidget(), dialog.TabSheetPlots);
    open();
    ASSERT_NE(script, nullptr);
    addVariables(2);
    dialog.OKBtn->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string fileName = dir.filePath("task.txt").toStdString();
    script->SetFileName(fileName);
    script->UpdateFile();
    std::ifstream file(fileName, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    EXPECT_EQ(bytes.str(), withCrLf("[PLOTS]\n"
                                    "Convergence=Average;CurrentMin\n"
                                    "\n"
                                    "[SHOW]\n"
                                    "statistic_history=0\n"
                                    "buffered=0\n"
                                    "population=0\n"
                                    "population_history=0\n"
                                    "variables=0\n"
                                    "buffer_individuals=0\n"
                                    "\n"
                                    "[POPULATION]\n"
                                    "size=20\n"
                                    "\n"
                                    "[FUNCTION]\n"
                                    "analytical=1\n"
                                    "\n"
                                    "[EQUATIONS]\n"
                                    "f=-5.*sin(x1)*sin(x2) - sin(5*x1)*sin(5*x2)\n"
                                    "\n"
                                    "[VARIABLES]\n"
                                    "x1=real[0;3.1415]\n"
                                    "x2=real[0;3.1415]\n"
                                    "\n"));

    // Every showing starts a new, empty script, and the page last shown stays.
    dialog.PageControl1->setCurrentWidget(dialog.TabSheetExport);
    open();
    EXPECT_TRUE(script->sectionNames().empty());
    EXPECT_TRUE(script->fileName().empty());
    EXPECT_EQ(dialog.PageControl1->currentWidget(), dialog.TabSheetExport);
}

TEST_F(InitialiseDialog, UnnamedRowsAreNumberedByPosition)
{
    open();
    addVariables(3);
    variableRow(1)->setText(0, "y");
    dialog.OKBtn->click();
    EXPECT_EQ(script->ReadSection("VARIABLES"), (Keys{"x1", "y", "x3"}));

    // A user's "x2" in first place and an unnamed second row share a key: the second wins.
    open();
    dialog.ListViewVariables->clear();
    dialog.RadioButtonBoolean->click();
    dialog.ButtonAddVar->click();
    dialog.RadioButtonInteger->click();
    dialog.EditIntegerFrom->setText("1");
    dialog.EditIntegerTo->setText("10");
    dialog.ButtonAddVar->click();
    variableRow(0)->setText(0, "x2");
    dialog.EditPlot->setText("Q1;Q3");
    dialog.ButtonAddPlot->click();
    dialog.EditExport->setText("Average");
    dialog.ButtonAddExport->click();
    dialog.EditExport->setText("StdDev");
    dialog.ButtonAddExport->click();
    dialog.ListViewExport->topLevelItem(1)->setText(0, "sd");
    dialog.EditExportName->setText("stats.txt");
    dialog.OKBtn->click();
    EXPECT_EQ(script->ReadSection("VARIABLES"), Keys{"x2"});
    EXPECT_EQ(value("VARIABLES", "x2"), "integer[1;10]");
    EXPECT_EQ(script->ReadSection("PLOTS"), (Keys{"Convergence", "plot2"}));
    EXPECT_EQ(value("PLOTS", "plot2"), "Q1;Q3");
    EXPECT_EQ(script->ReadSection("EXPORT"), (Keys{"export1", "sd"}));
    EXPECT_EQ(value("EXPORT", "sd"), "StdDev");
    EXPECT_EQ(value("EXPORT_NAMES", "export_name"), "stats.txt");
    EXPECT_EQ(value("EXPORT_NAMES", "export_every_iteration"), "0");
    EXPECT_EQ(script->sectionNames().front(), "EXPORT");
    EXPECT_TRUE(dialog.EditPlot->text().isEmpty());

    // Remove takes the selected row only; without a selection nothing goes.
    dialog.ListViewPlots->clearSelection();
    dialog.ButtonRemovePlot->click();
    EXPECT_EQ(dialog.ListViewPlots->topLevelItemCount(), 2);
    dialog.ListViewPlots->topLevelItem(0)->setSelected(true);
    dialog.ButtonRemovePlot->click();
    ASSERT_EQ(dialog.ListViewPlots->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.ListViewPlots->topLevelItem(0)->text(1), "Q1;Q3");
}

TEST_F(InitialiseDialog, AddingVariables)
{
    MessageBoxAnswerer boxes;
    dialog.RadioButtonBoolean->click();
    EXPECT_FALSE(dialog.EditRealFrom->isEnabled());
    EXPECT_FALSE(dialog.EditIntegerFrom->isEnabled());
    dialog.ButtonAddVar->click();

    dialog.RadioButtonInteger->click();
    EXPECT_TRUE(dialog.EditIntegerTo->isEnabled());
    EXPECT_FALSE(dialog.EditRealTo->isEnabled());
    dialog.EditIntegerFrom->setText("5");
    dialog.EditIntegerTo->setText("5");
    dialog.ButtonAddVar->click(); // from not below to: nothing
    dialog.EditIntegerFrom->setText("-3");
    dialog.EditIntegerTo->setText(" 7");
    dialog.ButtonAddVar->click();
    dialog.EditIntegerTo->setText("1.5");
    dialog.ButtonAddVar->click();

    dialog.RadioButtonReal->click();
    dialog.EditRealFrom->setText("abc");
    dialog.ButtonAddVar->click();
    dialog.EditRealFrom->setText("0.5");
    dialog.EditRealTo->setText("1e-3");
    dialog.ButtonAddVar->click(); // from not below to
    dialog.EditRealTo->setText("2.5");
    dialog.ButtonAddVar->click();

    ASSERT_EQ(dialog.ListViewVariables->topLevelItemCount(), 3);
    const QStringList expected[] = {{"", "Boolean", "{0, 1}", "boolean"},
                                    {"", "Integer", "[-3;  7]", "integer[-3; 7]"},
                                    {"", "Real", "[0.5; 2.5]", "real[0.5;2.5]"}};
    for (int i = 0; i < 3; ++i) {
        QTreeWidgetItem* row = variableRow(i);
        EXPECT_EQ((QStringList{row->text(0), row->text(1), row->text(2),
                               row->data(0, Qt::UserRole).toString()}),
                  expected[i]);
    }
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, "'1.5' is not a valid integer value");
    EXPECT_EQ(boxes.shown[1].text, "'abc' is not a valid floating point value");
    EXPECT_EQ(boxes.shown[1].icon, QMessageBox::Warning);
}

TEST_F(InitialiseDialog, EmptyVariableListKeepsTheDialogOpen)
{
    MessageBoxAnswerer boxes;
    open();
    dialog.OKBtn->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Variable list is empty!");
    EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_NE(script, nullptr);
    EXPECT_EQ(script->sectionNames(),
              (Keys{"PLOTS", "SHOW", "POPULATION", "FUNCTION", "EQUATIONS"}));

    // The second OK writes over the same keys.
    dialog.CheckBoxShowPopulation->setChecked(true);
    dialog.UpDownPopSize->setValue(50);
    addVariables(1);
    dialog.OKBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(script->sectionNames(),
              (Keys{"PLOTS", "SHOW", "POPULATION", "FUNCTION", "EQUATIONS", "VARIABLES"}));
    EXPECT_EQ(script->ReadSection("SHOW").size(), 6u);
    EXPECT_EQ(value("SHOW", "population"), "1");
    EXPECT_EQ(value("POPULATION", "size"), "50");
}

TEST_F(InitialiseDialog, FunctionModes)
{
    open();
    addVariables(1);
    dialog.RadioButtonManual->click();
    EXPECT_FALSE(dialog.EditFormula->isEnabled());
    EXPECT_FALSE(dialog.ButtonIO->isEnabled());
    EXPECT_FALSE(dialog.EditInputName->isEnabled());
    dialog.OKBtn->click();
    EXPECT_EQ(script->ReadSection("FUNCTION"), Keys{"manual"});
    EXPECT_TRUE(script->ReadSection("EQUATIONS").empty());

    open();
    dialog.RadioButtonExternal->click();
    EXPECT_TRUE(dialog.EditOutputName->isEnabled());
    EXPECT_FALSE(dialog.EditFormula->isEnabled());
    dialog.EditExternalName->setText("my opt");
    dialog.OKBtn->click();
    EXPECT_EQ(script->ReadSection("FUNCTION"),
              (Keys{"external", "input_name", "external_name", "output_name"}));
    EXPECT_EQ(value("FUNCTION", "input_name"), "input.txt");
    EXPECT_EQ(value("FUNCTION", "external_name"), "my opt");
    EXPECT_EQ(value("FUNCTION", "output_name"), "output.txt");

    // An analytical task with an empty formula field leaves f to the console.
    open();
    dialog.RadioButtonAnalytical->click();
    EXPECT_TRUE(dialog.ButtonIO->isEnabled());
    dialog.EditFormula->clear();
    dialog.OKBtn->click();
    EXPECT_EQ(value("FUNCTION", "analytical"), "1");
    EXPECT_TRUE(script->ReadSection("EQUATIONS").empty());
    // With no exports, no export sections.
    EXPECT_TRUE(script->ReadSection("EXPORT").empty());
    EXPECT_TRUE(script->ReadSection("EXPORT_NAMES").empty());
}

TEST_F(InitialiseDialog, ConsoleDefinitionsGoIntoTheNewScript)
{
    open();
    QTimer::singleShot(0, [this] {
        QTest::keyClicks(console.RichEdit1, "f=x1^2+x2^2");
        QTest::keyClick(console.RichEdit1, Qt::Key_Return);
        QTest::keyClicks(console.RichEdit1, "Exit[]");
        QTest::keyClick(console.RichEdit1, Qt::Key_Return);
    });
    QTimer::singleShot(5000, &console, &QDialog::reject); // never hang the suite
    dialog.ButtonIO->click();
    // The field shows the f the project gets; OK writes it over the console's, unchanged.
    EXPECT_EQ(dialog.EditFormula->text(), "x1^2+x2^2");
    addVariables(2);
    dialog.OKBtn->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(script->sectionNames().front(), "EQUATIONS");
    EXPECT_EQ(script->ReadSection("EQUATIONS"), Keys{"f"});
    EXPECT_EQ(value("EQUATIONS", "f"), "x1^2+x2^2");

    // Cancel after "I/O" drops the script; the definition itself stays in the language.
    open();
    QTimer::singleShot(0, [this] {
        QTest::keyClicks(console.RichEdit1, "g=3");
        QTest::keyClick(console.RichEdit1, Qt::Key_Return);
        console.accept();
    });
    dialog.EditFormula->setText("x1*x2");
    dialog.ButtonIO->click();
    ASSERT_NE(script, nullptr);
    EXPECT_EQ(value("EQUATIONS", "g"), "3");
    // Without an f of the console's the formula stays as typed.
    EXPECT_EQ(dialog.EditFormula->text(), "x1*x2");
    dialog.CancelBtn->click();
    EXPECT_EQ(script, nullptr);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_NE(table.lookup("g"), nullptr);
}

TEST_F(InitialiseDialog, LeavingWithoutOkDiscardsTheScript)
{
    open();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(script, nullptr);
    EXPECT_FALSE(dialog.isVisible());

    open();
    dialog.close();
    EXPECT_EQ(script, nullptr);

    // The fields keep what the user entered for the next New.
    EXPECT_EQ(dialog.ListViewPlots->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.UpDownPopSize->value(), 20);
}

TEST_F(InitialiseDialog, NamesTheScriptCannotHoldAreRefused)
{
    MessageBoxAnswerer boxes;
    open();
    addVariables(1);
    variableRow(0)->setText(0, "a=b");
    dialog.OKBtn->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text.rfind("Cannot write \"a=b=real[0;3.1415]\"", 0), 0u);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(script->ReadSection("VARIABLES").empty());

    variableRow(0)->setText(0, "a");
    dialog.OKBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(value("VARIABLES", "a"), "real[0;3.1415]");
}

} // namespace

namespace {

QStringList qtMessages;

void collectQtMessage(QtMsgType, const QMessageLogContext&, const QString& text)
{
    qtMessages << text;
}

} // namespace

TEST_F(InitialiseDialog, NamesAreTypedInPlaceFromTheClickOnAndNothingGoesToStandardError)
{
    open();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    dialog.EditPlot->setText("StdDev");
    dialog.ButtonAddPlot->click();
    QTreeWidget* list = dialog.ListViewPlots;
    ASSERT_EQ(list->topLevelItemCount(), 2);
    qtMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectQtMessage);
    // A click selects the row, a second one on its name edits it: what is typed right after
    // is the name, not a search of the list.
    const QPoint name = list->visualItemRect(list->topLevelItem(0)).topLeft() + QPoint(8, 4);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, name);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, name);
    QTest::keyClicks(QApplication::focusWidget(), "Trend");
    // Tab goes on to the next row's name.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), "Spread");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    qInstallMessageHandler(previous);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Trend");
    EXPECT_EQ(list->topLevelItem(1)->text(0), "Spread");
    EXPECT_EQ(list->topLevelItem(1)->text(1), "StdDev");
    EXPECT_EQ(qtMessages, QStringList());
}

TEST(HelpWindowPlace, BesideTheAnchorAndOnTheScreen)
{
    const QRect screen(0, 0, 1000, 800);
    const QSize help(300, 200);
    // Room on the right; none there but on the left; none on either side.
    EXPECT_EQ(placeBeside(QRect(100, 50, 400, 300), help, screen), QPoint(500, 50));
    EXPECT_EQ(placeBeside(QRect(500, 50, 400, 300), help, screen), QPoint(200, 50));
    EXPECT_EQ(placeBeside(QRect(100, 50, 800, 300), help, screen), QPoint(700, 50));
    // Low on the screen, or above its top: moved up or down just enough.
    EXPECT_EQ(placeBeside(QRect(100, 700, 400, 90), help, screen), QPoint(500, 600));
    EXPECT_EQ(placeBeside(QRect(100, -40, 400, 90), help, screen), QPoint(500, 0));
    // Larger than the screen: its title bar stays on it. A second screen counts from its own
    // corner.
    EXPECT_EQ(placeBeside(QRect(100, 50, 400, 300), QSize(1200, 900), screen), QPoint(0, 0));
    EXPECT_EQ(placeBeside(QRect(1100, 50, 400, 300), help, QRect(1000, 0, 800, 600)),
              QPoint(1500, 50));
}

TEST_F(InitialiseDialog, TheVariableNamesOpenBesideTheDialog)
{
    open();
    const QRect screen = dialog.screen()->availableGeometry();
    // Small enough to fit on either side of the dialog on the test's screen.
    dialog.Form5->resize(screen.width() - dialog.frameGeometry().width() - 40, 150);
    for (const QPoint& at : {QPoint(10, 10), screen.topRight() - QPoint(dialog.width(), -10)}) {
        dialog.Form5->hide();
        dialog.move(at);
        dialog.ButtonHelpPlot->click();
        const QRect help = dialog.Form5->frameGeometry();
        EXPECT_TRUE(dialog.Form5->isVisible());
        EXPECT_TRUE(screen.contains(help)) << help.x() << "," << help.y();
        EXPECT_FALSE(help.intersects(dialog.frameGeometry())) << at.x();
        EXPECT_EQ(help.top(), dialog.frameGeometry().top());
    }
    // Open already, it stays where the user put it.
    dialog.Form5->move(screen.topLeft() + QPoint(5, 5));
    const QPoint kept = dialog.Form5->pos();
    dialog.ButtonHelpExport->click();
    EXPECT_EQ(dialog.Form5->pos(), kept);
}

TEST_F(InitialiseDialog, ConstraintsAreWrittenAsTheirSection)
{
    open();
    addVariables(1);
    dialog.EditConstraint->setText("x1-1");
    dialog.ButtonAddConstraint->click();
    dialog.EditConstraint->setText("-x1");
    dialog.ButtonAddConstraint->click();
    dialog.ListViewConstraints->topLevelItem(1)->setText(0, "positive");
    dialog.EditConstraint->setText("x1^2");
    dialog.ButtonAddConstraint->click();
    dialog.ListViewConstraints->clearSelection();
    dialog.ListViewConstraints->topLevelItem(2)->setSelected(true);
    dialog.ButtonRemoveConstraint->click();
    dialog.OKBtn->click();
    EXPECT_EQ(script->ReadSection("CONSTRAINTS"), (Keys{"c1", "positive"}));
    EXPECT_EQ(value("CONSTRAINTS", "positive"), "-x1");
}

TEST_F(InitialiseDialog, ObjectivesAreWrittenAsTheirSectionAndSeveralNeedNoF)
{
    MessageBoxAnswerer boxes;
    open();
    addVariables(2);
    dialog.EditObjective->setText("x1+x2");
    dialog.ButtonAddObjective->click();
    EXPECT_TRUE(dialog.EditFormula->isEnabled()) << "one objective: f still counts";
    dialog.CheckBoxMaximiseObjective->setChecked(true);
    dialog.EditObjective->setText("x1*x2");
    dialog.ButtonAddObjective->click();
    EXPECT_FALSE(dialog.EditFormula->isEnabled());
    EXPECT_TRUE(dialog.ButtonIO->isEnabled()) << "the console still defines what they use";
    QTreeWidgetItem* second = dialog.ListViewObjectives->topLevelItem(1);
    EXPECT_EQ(second->checkState(2), Qt::Checked);

    // Named like the language's own names: refused on the page, as constraints are.
    second->setText(0, "pi");
    dialog.PageControl1->setCurrentWidget(dialog.TabSheetPlots);
    dialog.OKBtn->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Objective name pi is a built-in name of the language");
    EXPECT_EQ(dialog.PageControl1->currentWidget(), dialog.TabSheetObjectives);
    second->setText(0, "area");
    dialog.OKBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(script->ReadSection("OBJECTIVES"), (Keys{"f1", "area"}));
    EXPECT_EQ(value("OBJECTIVES", "area"), "x1*x2");
    EXPECT_EQ(value("OPTIONS", "maximised_objectives"), "area");
    EXPECT_EQ(value("EQUATIONS", "f"), "<absent>");

    // Both maximised; then one removed: one objective and f again, no maximised key.
    open();
    dialog.ListViewObjectives->topLevelItem(0)->setCheckState(2, Qt::Checked);
    dialog.OKBtn->click();
    EXPECT_EQ(value("OPTIONS", "maximised_objectives"), "f1;area");
    open();
    dialog.ListViewObjectives->setCurrentItem(dialog.ListViewObjectives->topLevelItem(1));
    dialog.ButtonRemoveObjective->click();
    dialog.ListViewObjectives->topLevelItem(0)->setCheckState(2, Qt::Unchecked);
    EXPECT_TRUE(dialog.EditFormula->isEnabled());
    dialog.OKBtn->click();
    EXPECT_EQ(value("OPTIONS", "maximised_objectives"), "<absent>");
    EXPECT_NE(value("EQUATIONS", "f"), "<absent>");

    // An external program's objective values, for an external task only.
    open();
    EXPECT_FALSE(dialog.UpDownExternalObjectives->isEnabled());
    dialog.RadioButtonExternal->click();
    dialog.UpDownExternalObjectives->setValue(2);
    dialog.OKBtn->click();
    EXPECT_EQ(value("FUNCTION", "external_objectives"), "2");
}

TEST_F(InitialiseDialog, EnterInAFieldAddsItsRowAndTheDialogStaysOpen)
{
    open();
    addVariables(1);
    const std::pair<QLineEdit*, QTreeWidget*> fields[] = {
        {dialog.EditObjective, dialog.ListViewObjectives},
        {dialog.EditConstraint, dialog.ListViewConstraints},
        {dialog.EditPlot, dialog.ListViewPlots},
        {dialog.EditExport, dialog.ListViewExport}};
    for (const auto& [field, list] : fields) {
        const int rows = list->topLevelItemCount();
        field->setFocus();
        QTest::keyClicks(field, "x1-1");
        QTest::keyClick(field, Qt::Key_Return);
        ASSERT_EQ(list->topLevelItemCount(), rows + 1);
        EXPECT_EQ(list->topLevelItem(rows)->text(1), "x1-1");
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_TRUE(dialog.isVisible());
    }
    // A range field adds its variable the same way.
    QTest::keyClick(dialog.EditRealTo, Qt::Key_Enter);
    EXPECT_EQ(dialog.ListViewVariables->topLevelItemCount(), 2);
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(InitialiseDialog, AConstraintNamedLikeABuiltInNameIsRefusedBeforeClosing)
{
    MessageBoxAnswerer boxes;
    open();
    addVariables(1);
    dialog.EditConstraint->setText("x1-1");
    dialog.ButtonAddConstraint->click();
    dialog.ButtonAddConstraint->click(); // an empty field adds nothing
    dialog.EditConstraint->setText("x1-2");
    dialog.ButtonAddConstraint->click();
    dialog.PageControl1->setCurrentWidget(dialog.TabSheetPlots);
    for (const char* name : {"sum", "pi", "Average"}) {
        dialog.ListViewConstraints->topLevelItem(1)->setText(0, name);
        dialog.OKBtn->click();
        EXPECT_TRUE(dialog.isVisible()) << name;
        EXPECT_EQ(boxes.shown.back().text,
                  "Constraint name " + std::string(name) + " is a built-in name of the language");
    }
    EXPECT_EQ(dialog.PageControl1->currentWidget(), dialog.TabSheetConstraints);
    EXPECT_EQ(dialog.ListViewConstraints->currentItem(),
              dialog.ListViewConstraints->topLevelItem(1));
    EXPECT_TRUE(script->sectionNames().empty()) << "nothing is written before the refusal";

    dialog.ListViewConstraints->topLevelItem(1)->setText(0, "total");
    dialog.OKBtn->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(script->ReadSection("CONSTRAINTS"), (Keys{"c1", "total"}));
    EXPECT_EQ(boxes.shown.size(), 3u);
}

TEST_F(InitialiseDialog, TheVariableNamesCloseWithTheDialog)
{
    for (QPushButton* leave : {dialog.CancelBtn, dialog.OKBtn}) {
        open();
        addVariables(1);
        dialog.ButtonHelpExport->click();
        ASSERT_TRUE(dialog.Form5->isVisible());
        leave->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_FALSE(dialog.Form5->isVisible()) << leave->text().toStdString();
    }
}
