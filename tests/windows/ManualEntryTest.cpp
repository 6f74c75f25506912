#include "shell/MainWindow.h"

#include "common/TextConvert.h"
#include "windows/PopulationWindow.h"
#include "windows/ResultWindows.h"
#include "windows/StatisticsWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zyl;

namespace {

/// A main window with a manual task of four individuals loaded from a file; messages are
/// collected instead of shown.
class ManualEntry : public ::testing::Test {
  protected:
    void open(const std::string& show = "", const std::string& extra = "")
    {
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath("manual.txt");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("[FUNCTION]\nmanual=1\n[VARIABLES]\nspeed=real[0;10]\ngears=integer[1;6]\n"
                    "[POPULATION]\nsize=4\n" + extra + "[SHOW]\n" +
                    show + "\n")
                       .c_str());
        file.close();
        form.showMessage = [this](const QString&, const QString& text) { messages << text; };
        form.openFile(path);
        ASSERT_NE(form.resultWindows(), nullptr);
        population = form.resultWindows()->populationWindow();
        ASSERT_NE(population, nullptr);
    }

    /// Types the values into the captions of the current generation, the last one starting
    /// the run; returns when that run has ended.
    void typeGeneration(const std::vector<QString>& texts)
    {
        QSignalSpy finished(&form, &TMainForm::runFinished);
        const int first = population->model().storedRows() - 5;
        for (std::size_t i = 0; i < texts.size(); ++i)
            population->ListView1Edited(first + static_cast<int>(i), texts[i]);
        ASSERT_TRUE(finished.wait(10000));
        form.resultWindows()->flush();
    }

    QString caption(int row) { return population->model().cellText(row, 0); }

    QTemporaryDir dir;
    TMainForm form;
    QStringList messages;
    TForm2* population = nullptr;
};

} // namespace

TEST_F(ManualEntry, TheLastValueTypedRunsTheGeneration)
{
    open();
    EXPECT_FALSE(form.Run->isEnabled());
    ASSERT_EQ(population->model().rowCount(), 5);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(caption(r), "?");
    EXPECT_TRUE(population->model().flags(population->model().index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_FALSE(population->model().flags(population->model().index(0, 1)) & Qt::ItemIsEditable);

    // Typed through the view's editor: the handler runs once the editor has been closed.
    ASSERT_TRUE(population->model().setData(population->model().index(0, 0), "1.5"));
    QCoreApplication::processEvents();
    EXPECT_EQ(form.engine()->population[0].value, 1.5);
    EXPECT_TRUE(form.engine()->population[0].evaluated);
    EXPECT_FALSE(form.running());

    typeGeneration({"1.5", "2.5", "3", "-1"});
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    EXPECT_EQ(form.engine()->generation, 1);
    const TextTableModel& stats = form.resultWindows()->statisticsWindow()->model();
    ASSERT_EQ(stats.rowCount(), 18);
    EXPECT_EQ(stats.cellText(5, 0), "Average");
    EXPECT_EQ(stats.cellText(5, 1), "1.5");
    EXPECT_EQ(stats.cellText(4, 1), "-1");
    // The next generation waits for its values; Run waits with it.
    ASSERT_EQ(population->model().rowCount(), 5);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(caption(r), "?");
    EXPECT_FALSE(form.Run->isEnabled());
}

TEST_F(ManualEntry, TheFirstPanelSaysWhatTheTaskWaitsFor)
{
    open("", "[OPTIONS]\nmax_iteration=2\n");
    EXPECT_EQ(form.statusHint(), TMainForm::manualValuesText());
    typeGeneration({"1", "2", "3", "4"});
    EXPECT_EQ(form.statusHint(), TMainForm::manualValuesText()) << "the next generation's";
    typeGeneration({"5", "6", "7", "8"});
    EXPECT_EQ(form.statusHint(), "Generation limit reached: 2 of 2");
}

namespace {

QStringList qtMessages;

void collectQtMessage(QtMsgType, const QMessageLogContext&, const QString& text)
{
    qtMessages << text;
}

} // namespace

TEST_F(ManualEntry, ValuesTypedInPlaceRowAfterRowLeaveNothingOnStandardError)
{
    open("population_history=1");
    form.resize(800, 600);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTableView* view = population->ListView1;
    QSignalSpy finished(&form, &TMainForm::runFinished);
    qtMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectQtMessage);
    // A double click opens the first editor; Tab takes each value and opens the next row's.
    const QPoint first = view->visualRect(population->model().index(0, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, first);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, first);
    for (int row = 0; row < 4; ++row) {
        auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(population->model().index(row, 0)));
        if (!editor)
            break;
        editor->setText(QString::number(row + 1));
        QTest::keyClick(editor, Qt::Key_Tab);
        QCoreApplication::processEvents();
    }
    // Tab after the last value opens no editor on the separator below it.
    EXPECT_EQ(view->indexWidget(population->model().index(4, 0)), nullptr);
    if (finished.isEmpty())
        finished.wait(10000);
    qInstallMessageHandler(previous);
    EXPECT_EQ(form.engine()->generation, 1) << "every value was typed";
    EXPECT_EQ(qtMessages, QStringList());
}

TEST_F(ManualEntry, TextThatIsNoNumberIsRefusedAndTheRunWaits)
{
    open();
    for (int r = 0; r < 3; ++r)
        population->ListView1Edited(r, "4");
    form.engine()->population[3].value = 9;
    population->ListView1Edited(3, "abc");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.front(), "'abc' is not a valid floating point value");
    EXPECT_EQ(caption(3), "?");
    EXPECT_FALSE(form.engine()->population[3].evaluated);
    EXPECT_EQ(form.engine()->population[3].value, 9);
    EXPECT_FALSE(form.Run->isEnabled());
    EXPECT_FALSE(form.running());
}

TEST_F(ManualEntry, EachRunIsOneGenerationAndThePopulationWindowCannotBeLost)
{
    // A loop counter above 1 would go on with values the next generation only inherited.
    open("", "[OPTIONS]\nloop_counter=5\n");
    QMdiSubWindow* frame = qobject_cast<QMdiSubWindow*>(population->parentWidget());
    ASSERT_NE(frame, nullptr);
    frame->close();
    EXPECT_TRUE(frame->isMinimized());
    EXPECT_EQ(form.resultWindows()->populationWindow(), population);

    typeGeneration({"1", "2", "3", "4"});
    EXPECT_EQ(form.engine()->generation, 1);
    EXPECT_EQ(form.settings().loopCounter, 1);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(caption(r), "?");
    typeGeneration({"5", "6", "7", "8"});
    EXPECT_EQ(form.engine()->generation, 2);
}

TEST_F(ManualEntry, OnlyTheAwaitedValuesCanBeTyped)
{
    open("population_history=1\nbuffered=1");
    typeGeneration({"1", "2", "3", "4"});
    IndividualTableModel& model = population->model();
    ASSERT_EQ(model.rowCount(), 10);
    population->ListView1Edited(5, "8");
    // The generation processed, its separator, the value typed and the last separator take
    // none; the "?" rows of the current generation do.
    for (int row = 0; row < 10; ++row)
        EXPECT_EQ(bool(model.flags(model.index(row, 0)) & Qt::ItemIsEditable),
                  row > 5 && row < 9)
            << row;
    EXPECT_FALSE(model.setData(model.index(0, 0), "100"));
    EXPECT_FALSE(model.setData(model.index(4, 0), "100"));
    population->ListView1Edited(5, "100");
    EXPECT_EQ(caption(0), "1");
    EXPECT_EQ(caption(4), "");
    EXPECT_EQ(caption(5), "8");
    EXPECT_EQ(form.engine()->population[0].value, 8);
    EXPECT_FALSE(form.running());
}

TEST_F(ManualEntry, CloseAllTakesTheWindowsAway)
{
    open("variables=1");
    EXPECT_EQ(form.mdiArea()->subWindowList().size(), 3);
    form.Closeall->trigger();
    EXPECT_EQ(form.resultWindows(), nullptr);
    EXPECT_TRUE(form.mdiArea()->subWindowList().isEmpty());
    EXPECT_EQ(form.engine(), nullptr);
}

TEST_F(ManualEntry, ValuesTypedIntoAStoredProjectAreKeptAtOnce)
{
    open("", "[OPTIONS]\nmax_evaluations=6\n");
    const QString store = dir.filePath("manual.zyl");
    form.saveAsFile(store);
    form.Closeall->trigger();
    form.openFile(store);
    ASSERT_NE(form.resultWindows(), nullptr);
    population = form.resultWindows()->populationWindow();
    ASSERT_NE(population, nullptr);
    const int first = population->model().storedRows() - 5;
    population->ListView1Edited(first, "2.5");
    population->ListView1Edited(first + 2, "-4");
    EXPECT_EQ(form.stopState().evaluations, 2);

    // Closed without a run: the values typed are in the store, and count on.
    form.Closeall->trigger();
    form.openFile(store);
    ASSERT_NE(form.engine(), nullptr);
    const ZYL& zyl = *form.engine();
    EXPECT_TRUE(zyl.population[0].evaluated);
    EXPECT_EQ(zyl.population[0].value, 2.5);
    EXPECT_FALSE(zyl.population[1].evaluated);
    EXPECT_EQ(zyl.population[2].value, -4);
    EXPECT_EQ(form.stopState().evaluations, 2);

    // Two more complete the generation (four evaluations); the next two reach the limit.
    population = form.resultWindows()->populationWindow();
    QSignalSpy finished(&form, &TMainForm::runFinished);
    const int rows = population->model().storedRows() - 5;
    population->ListView1Edited(rows + 1, "1");
    population->ListView1Edited(rows + 3, "7");
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(form.engine()->generation, 1);
    EXPECT_FALSE(form.stopState().finished());
    typeGeneration({"1", "1", "1", "1"});
    EXPECT_EQ(form.stopState().evaluations, 8);
    EXPECT_EQ(form.statusRun(),
              "Stop rule: max_evaluations=6 was reached in generation 2 (8 evaluations)");
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}
