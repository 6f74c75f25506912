#include "shell/MainWindow.h"
#include "shell/ConsoleWindow.h"
#include "shell/OptionsDialog.h"

#include "ShellSupport.h"
#include "shell/HintPanel.h"
#include "engine/Zyl.h"
#include "windows/ChartWindow.h"
#include "windows/RecordTables.h"
#include "windows/StatisticsWindow.h"
#include "windows/ParetoWindow.h"
#include "windows/ResultWindows.h"
#include "windows/UserChart.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QEventLoop>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QMenuBar>
#include <QProcess>
#include <QStatusBar>
#include <QStyle>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

using namespace zyl;

namespace {

struct Message {
    QString kind, text;
    bool operator==(const Message&) const = default;
};

class MainWindow : public ::testing::Test {
protected:
    MainWindow()
    {
        form.showMessage = [this](const QString& kind, const QString& text) {
            messages.push_back({kind, text});
        };
    }

    QString file(const QString& name, const std::string& content)
    {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString()) << content;
        return path;
    }

    bool waitForRun() { return test::waitForRun(form, 30000); }

    static std::string analytical(const std::string& options)
    {
        return "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x1^2+x2^2\n[VARIABLES]\n"
               "x1=real[-1;1]\nx2=real[-1;1]\n[POPULATION]\nsize=10\n[OPTIONS]\n" +
               options;
    }

    QTemporaryDir dir;
    test::FreshSettings fresh;
    TMainForm form;
    std::vector<Message> messages;
};

} // namespace

TEST_F(MainWindow, StartUpState)
{
    EXPECT_EQ(form.windowTitle(), "ZYL");
    EXPECT_EQ(form.statusRun(), "Ready.");
    for (QAction* enabled : {form.New, form.Open, form.About, form.Exit, form.CommandLine,
                             form.WindowCascade1, form.WindowTileVertical1})
        EXPECT_TRUE(enabled->isEnabled()) << enabled->text().toStdString();
    for (QAction* disabled : {form.Closeall, form.Save, form.Saveas, form.Run, form.Terminate,
                              form.Options})
        EXPECT_FALSE(disabled->isEnabled()) << disabled->text().toStdString();
    EXPECT_EQ(form.New->text(), "New...");
    EXPECT_EQ(form.New->statusTip(), "Creatre a new project");
    EXPECT_EQ(form.New->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(form.Run->text(), "&Run");
    EXPECT_EQ(form.Run->toolTip(), "Run");
    EXPECT_EQ(form.Run->statusTip(), "Run optimisation process");
    EXPECT_EQ(form.Options->shortcut(), QKeySequence("Ctrl+P"));
    EXPECT_EQ(form.About->toolTip(), "Display informations");
    EXPECT_EQ(form.Closeall->toolTip(), "Close the project");
    EXPECT_EQ(form.symbolTable().size(), 30u);
}

TEST_F(MainWindow, ElapsedTimeText)
{
    EXPECT_EQ(TMainForm::elapsedText(3665),
              "Calculating 0 day(s), 1 hour(s), 1 minute(s), 5 second(s)");
    EXPECT_EQ(TMainForm::elapsedText(2 * 86400 + 59),
              "Calculating 2 day(s), 0 hour(s), 0 minute(s), 59 second(s)");
}

TEST_F(MainWindow, OpeningByExtension)
{
    form.openFile(dir.filePath("missing.txt"));
    EXPECT_TRUE(messages.empty());
    // A file that is not a run store is refused and left as it was.
    form.openFile(file("task.zyl", "x"));
    form.openFile(file("task.TXT", analytical("")));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], (Message{"warning", "The file \"" + dir.filePath("task.zyl") +
                                                   "\" is not a ZYL run store."}));
    EXPECT_EQ(messages[1], (Message{"information", "Unknown file extension."}));
    EXPECT_EQ(form.engine(), nullptr);
    EXPECT_TRUE(form.Open->isEnabled());
    EXPECT_EQ(QFile(dir.filePath("task.zyl")).size(), 1);
}

TEST_F(MainWindow, OpeningAnAnalyticalTaskRunsIt)
{
    form.openFile(file("task.txt", analytical("loop_counter=3\nmax_iteration=100\n")));
    ASSERT_NE(form.engine(), nullptr);
    EXPECT_TRUE(form.running());
    EXPECT_TRUE(form.Terminate->isEnabled());
    EXPECT_FALSE(form.Closeall->isEnabled());
    ASSERT_TRUE(waitForRun());
    EXPECT_EQ(form.engine()->generation, 3);
    EXPECT_EQ(form.statusRun(), "Ready.");
    EXPECT_TRUE(form.Run->isEnabled());
    EXPECT_TRUE(form.Closeall->isEnabled());
    EXPECT_TRUE(form.Options->isEnabled());
    EXPECT_FALSE(form.Terminate->isEnabled());
    EXPECT_FALSE(form.New->isEnabled());
    EXPECT_EQ(form.projectFileName(), dir.filePath("task.txt"));
    // A further Run continues the same task.
    form.Run->trigger();
    ASSERT_TRUE(waitForRun());
    EXPECT_EQ(form.engine()->generation, 6);
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, AnExternalTaskRunsSeveralProgramsAtOnce)
{
    const QString program = file("objective.sh",
                                 "#!/bin/sh\nread a b < \"$1\"\n"
                                 "LC_ALL=C awk -v a=\"$a\" -v b=\"$b\" "
                                 "'BEGIN { printf \"%.17g\\n\", a * a + b * b }' > \"$2\"\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    form.openFile(file("task.txt", "[FUNCTION]\nexternal=1\nexternal_name=" +
                                       program.toStdString() +
                                       "\ninput_name=in.txt\noutput_name=out.txt\nworkers=3\n"
                                       "[VARIABLES]\nx1=real[-1;1]\nx2=real[-1;1]\n"
                                       "[POPULATION]\nsize=10\n[OPTIONS]\nloop_counter=2\n"
                                       "max_iteration=10\n"));
    ASSERT_NE(form.engine(), nullptr);
    ASSERT_TRUE(waitForRun());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(form.engine()->generation, 2);
    // Every value is its own individual's, whichever program finished first.
    for (const Indiv& ind : form.engine()->population) {
        const double a = ind.gene(0)->getValue(), b = ind.gene(1)->getValue();
        if (ind.evaluated) {
            EXPECT_DOUBLE_EQ(ind.value, a * a + b * b);
        }
    }
    // The folders of successful evaluations are gone (the project still holds the root).
    EXPECT_TRUE(
        QDir(dir.filePath("task-runs")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());

    // Terminate ends programs that would run for minutes, and leaves none behind.
    std::ofstream(program.toStdString()) << "#!/bin/sh\nexec sleep 3579\n";
    form.Run->trigger();
    QElapsedTimer clock;
    clock.start();
    while (QProcess::execute("pgrep", {"-f", "sleep 3579"}) != 0 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    form.Terminate->trigger();
    ASSERT_TRUE(waitForRun());
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_NE(QProcess::execute("pgrep", {"-f", "sleep 3579"}), 0);
}

TEST_F(MainWindow, TerminateWithAGraceLetsTheRunningProgramsFinish)
{
    const std::string log = dir.filePath("starts.log").toStdString();
    const QString program = file("objective.sh", "#!/bin/sh\nread a b < \"$1\"\necho \"$a\" >> " +
                                                     log + "\nsleep 0.5\necho \"$a\" > \"$2\"\n");
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    auto started = [&log] {
        std::ifstream in(log);
        int lines = 0;
        for (std::string line; std::getline(in, line);)
            ++lines;
        return lines;
    };
    form.openFile(file("task.txt", "[FUNCTION]\nexternal=1\nexternal_name=" +
                                       program.toStdString() +
                                       "\ninput_name=in.txt\noutput_name=out.txt\nworkers=2\n"
                                       "term_grace=60\nwork_root=" +
                                       dir.filePath("work").toStdString() +
                                       "\n[VARIABLES]\nx=real[0;1]\ny=real[0;1]\n"
                                       "[POPULATION]\nsize=6\n"));
    QElapsedTimer clock;
    clock.start();
    while (started() < 2 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    form.Terminate->trigger();
    ASSERT_TRUE(waitForRun());
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_EQ(started(), 2);
    const auto& population = form.engine()->population;
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(population[i].evaluated, i < 2) << i;
    EXPECT_NEAR(population[1].value, population[1].gene(0)->getValue(), 1e-5);
}

TEST_F(MainWindow, TerminateEndsARunEarly)
{
    form.openFile(file("long.txt", analytical("loop_counter=1000\nmax_iteration=30000\n")));
    ASSERT_TRUE(form.running());
    form.Terminate->trigger();
    ASSERT_TRUE(waitForRun());
    const ZYL& zyl = *form.engine();
    EXPECT_LT(zyl.generation, 1000);
    // Where the run stopped, the generation it left part evaluated.
    const auto evaluated = std::count_if(zyl.population.begin(), zyl.population.end(),
                                         [](const Indiv& ind) { return ind.evaluated; });
    EXPECT_EQ(form.statusRun(), QString("Terminated in generation %1: %2 of 10 evaluated")
                                    .arg(zyl.generation + 1)
                                    .arg(evaluated));
    // The next run's end says nothing of it.
    form.Run->trigger();
    ASSERT_TRUE(waitForRun());
    EXPECT_EQ(form.statusRun(), "Ready.");
}

TEST_F(MainWindow, ManualTasksOnlyLoad)
{
    form.openFile(file("manual.txt", "[FUNCTION]\nmanual=1\n[VARIABLES]\nx=real[0;1]\n"
                                     "[POPULATION]\nsize=4\n[OPTIONS]\nloop_counter=5\n"));
    ASSERT_NE(form.engine(), nullptr);
    EXPECT_FALSE(form.running());
    EXPECT_FALSE(form.Run->isEnabled());
    EXPECT_TRUE(form.settings().showPopulation);
}

TEST_F(MainWindow, AFailedLoadLeavesNoProject)
{
    form.openFile(file("bad.txt", "[FUNCTION]\nanalytical=1\n[EQUATIONS]\na=1\n"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Message{"warning", "Cannot find function f"}));
    EXPECT_EQ(form.engine(), nullptr);
    EXPECT_EQ(form.script(), nullptr);
    EXPECT_TRUE(form.projectFileName().isEmpty());
    EXPECT_TRUE(form.New->isEnabled());
    EXPECT_TRUE(form.Open->isEnabled());
    EXPECT_FALSE(form.Save->isEnabled());

    // A misspelt key is told in the console, not in a box: the load goes on regardless.
    messages.clear();
    form.openFile(file("typo.txt", analytical("max_iteration=2\nloop_counter=2\n") +
                                       "[SELECTION]\ntournament=1\ntournamnt_size=5\n"));
    ASSERT_TRUE(waitForRun());
    EXPECT_TRUE(messages.empty());
    EXPECT_NE(form.engine(), nullptr);
    EXPECT_TRUE(form.console()->isVisible());
    EXPECT_EQ(form.console()->RichEdit1->toPlainText(),
              "Unknown key \"tournamnt_size\" in [SELECTION] is ignored; the nearest known key is "
              "\"tournament_size\".");
}

TEST_F(MainWindow, SavingByExtension)
{
    form.openFile(file("task.txt", analytical("loop_counter=1\n")));
    ASSERT_TRUE(waitForRun());
    form.saveAsFile(dir.filePath("copy.TXT"));
    EXPECT_FALSE(QFile::exists(dir.filePath("copy.TXT")));
    form.saveAsFile(dir.filePath("no/such/folder/copy.txt"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], (Message{"information", "Unknown file extension."}));
    EXPECT_EQ(messages[1],
              (Message{"error", "Cannot create file " + dir.filePath("no/such/folder/copy.txt")}));
    // A name that could not be saved to is not kept: Save writes where the project came from.
    EXPECT_EQ(form.projectFileName(), dir.filePath("task.txt"));
    form.Save->trigger();
    EXPECT_EQ(messages.size(), 2u);
    form.saveAsFile(dir.filePath("copy.txt"));
    std::ifstream saved(dir.filePath("copy.txt").toStdString());
    std::string text((std::istreambuf_iterator<char>(saved)), {});
    EXPECT_NE(text.find("[EQUATIONS]\nf=x1^2+x2^2\n"), std::string::npos);
    EXPECT_NE(form.engine(), nullptr);
}

TEST_F(MainWindow, ARunStoreSavedAndOpenedAgainContinuesTheRun)
{
    // The same seeded task run straight through six generations, for comparison.
    const std::string task = analytical("loop_counter=3\nmax_iteration=100\nseed=5\n") +
                             "[PLOTS]\nP=Average\n[SHOW]\nbuffer_individuals=1\n";
    form.openFile(file("straight.txt", task));
    ASSERT_TRUE(waitForRun());
    form.Run->trigger();
    ASSERT_TRUE(waitForRun());
    ASSERT_EQ(form.engine()->generation, 6);
    const double straightMin = form.engine()->globalMin.value;
    const std::size_t straightBuffer = form.engine()->buffer.size();
    form.Closeall->trigger();

    // Three generations, saved as a store, closed; opened from the command line, it is ready
    // for Run to continue, and the Run is recorded in the store.
    form.openFile(file("task.txt", task));
    ASSERT_TRUE(waitForRun());
    form.saveAsFile(dir.filePath("run.zyl"));
    form.Closeall->trigger();
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    form.commandLineStart("run.zyl");
    QDir::setCurrent(cwd);
    ASSERT_NE(form.engine(), nullptr);
    EXPECT_FALSE(form.running());
    EXPECT_TRUE(form.Run->isEnabled());
    EXPECT_EQ(form.engine()->generation, 3);
    ASSERT_EQ(form.plots().size(), 1u);
    EXPECT_EQ(form.plots()[0].series[0].size(), 3u);
    form.Run->trigger();
    ASSERT_TRUE(waitForRun());
    form.Closeall->trigger();
    form.openFile(dir.filePath("run.zyl"));
    ASSERT_NE(form.engine(), nullptr);
    EXPECT_EQ(form.engine()->generation, 6);
    EXPECT_EQ(form.engine()->globalMin.value, straightMin);
    EXPECT_EQ(form.engine()->buffer.size(), straightBuffer);
    EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
}

TEST_F(MainWindow, AStoreSavedFromAProjectThatRanWithoutOneHoldsEveryGeneration)
{
    // Two Runs, with the whole statistic history shown and an export file in append mode that
    // held a line before the project was opened.
    const std::string exportName = dir.filePath("progress.tsv").toStdString();
    std::ofstream(exportName) << "before\n";
    form.openFile(file("task.txt", analytical("loop_counter=3\nmax_iteration=100\nseed=2\n") +
                                       "[SHOW]\nstatistic_history=1\n[EXPORT]\nmin=GlobalMin\n"
                                       "[EXPORT_NAMES]\nexport_every_iteration=1\nexport_name=" +
                                       exportName + "\n"));
    ASSERT_TRUE(waitForRun());
    form.Run->trigger();
    ASSERT_TRUE(waitForRun());
    auto shown = [this] {
        form.resultWindows()->flush();
        const TextTableModel& model = form.resultWindows()->statisticsWindow()->model();
        std::vector<QString> cells;
        for (int r = 0; r < model.rowCount(); ++r)
            for (int c = 0; c < 3; ++c)
                cells.push_back(model.cellText(r, c));
        return cells;
    };
    const std::vector<QString> before = shown();
    form.saveAsFile(dir.filePath("repro.zyl"));
    form.Closeall->trigger();

    const StoredRun stored = inspectRunStore(dir.filePath("repro.zyl").toStdString());
    ASSERT_EQ(stored.generations.size(), 6u);
    std::string exported;
    for (std::size_t g = 0; g < stored.generations.size(); ++g) {
        EXPECT_EQ(stored.generations[g].generation, static_cast<int>(g) + 1);
        exported += stored.generations[g].exportText.value_or("(none)");
    }
    std::ifstream in(exportName, std::ios::binary);
    EXPECT_EQ("before\n" + exported, std::string(std::istreambuf_iterator<char>(in), {}));
    EXPECT_EQ(stored.header.exportBase, 7);

    form.openFile(dir.filePath("repro.zyl"));
    ASSERT_NE(form.session(), nullptr);
    EXPECT_EQ(shown(), before);
    ASSERT_GT(before.size(), 6u * 3 * 17);
    EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
}

TEST_F(MainWindow, AProgramThatCannotStartIsNoValueAndTheRootIsHeldUntilCloseAll)
{
    form.openFile(file("task.txt", "[FUNCTION]\nexternal=1\nexternal_name=./no-such-program\n"
                                   "input_name=in.txt\noutput_name=out.txt\nworkers=2\n"
                                   "failure_value=7\nwork_root=" +
                                       dir.filePath("work").toStdString() +
                                       "\n[VARIABLES]\nx=real[0;1]\n[POPULATION]\nsize=4\n"));
    ASSERT_TRUE(waitForRun());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.indexOf("Cannot start the external program \"./no-such-program\""),
              -1)
        << messages[0].text.toStdString();
    EXPECT_EQ(form.engine()->generation, 0);
    // The project holds its root between runs; Close all lets it go.
    EXPECT_TRUE(QFile::exists(dir.filePath("work/zyl-work.lock")));
    form.Closeall->trigger();
    EXPECT_FALSE(QFile::exists(dir.filePath("work/zyl-work.lock")));
}

TEST_F(MainWindow, AStoredRunWithSeveralProgramsRecordsEachValue)
{
    const QString program = file("objective.sh", "#!/bin/sh\nread a b < \"$1\"\n"
                                                 "echo \"$a\" > \"$2\"\n");
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    form.openFile(file("task.txt", "[FUNCTION]\nexternal=1\nexternal_name=" +
                                       program.toStdString() +
                                       "\ninput_name=in.txt\noutput_name=out.txt\nworkers=2\n"
                                       "work_root=" +
                                       dir.filePath("work").toStdString() +
                                       "\n[VARIABLES]\nx=real[0;1]\ny=real[0;1]\n"
                                       "[POPULATION]\nsize=6\n[OPTIONS]\nloop_counter=2\n"));
    ASSERT_TRUE(waitForRun());
    form.saveAsFile(dir.filePath("run.zyl"));
    form.Closeall->trigger();
    form.openFile(dir.filePath("run.zyl"));
    ASSERT_NE(form.session(), nullptr);
    form.Run->trigger();
    ASSERT_TRUE(waitForRun());
    EXPECT_EQ(form.engine()->generation, 4);
    // Twelve values before the store, twelve after: each of these in the store once.
    EXPECT_EQ(form.stopState().evaluations, 24);
    const auto recorded = form.session()->store().evaluations(0, false);
    std::set<std::pair<int, int>> distinct;
    for (const EvaluationRecord& record : recorded) {
        EXPECT_EQ(record.status, RecordStatus::Ok);
        distinct.emplace(record.generation, record.individual);
    }
    EXPECT_EQ(recorded.size(), 12u);
    EXPECT_EQ(distinct.size(), 12u);
    EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
}

TEST_F(MainWindow, TheStatusBarSaysWhichStopRuleEndedTheTask)
{
    form.openFile(file("task.txt", analytical("loop_counter=5\nstop_when=Generation>=2\n")));
    ASSERT_TRUE(waitForRun());
    EXPECT_EQ(form.engine()->generation, 2);
    EXPECT_EQ(form.statusRun(), "Stop rule: stop_when=Generation>=2 was met in generation 2");
    form.Run->trigger(); // a finished task computes nothing more
    ASSERT_TRUE(waitForRun());
    EXPECT_EQ(form.engine()->generation, 2);
}

TEST_F(MainWindow, AtTheGenerationLimitTheFirstPanelSaysWhyRunDoesNothing)
{
    form.show();
    form.openFile(file("task.txt", analytical("loop_counter=5\nmax_iteration=3\n")));
    ASSERT_TRUE(waitForRun());
    ASSERT_EQ(form.engine()->generation, 3);
    EXPECT_EQ(form.statusHint(), "Generation limit reached: 3 of 3");
    EXPECT_EQ(form.statusRun(), "Ready.");
    form.Run->trigger();
    ASSERT_TRUE(waitForRun());
    EXPECT_EQ(form.engine()->generation, 3);
    EXPECT_EQ(form.statusHint(), "Generation limit reached: 3 of 3");

    // A hint takes the panel while it lasts; the panel keeps its width whatever it shows, and
    // shows the program's own texts whole.
    auto* hint = form.findChild<HintPanel*>();
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->shownText(), hint->text());
    QLabel* run = nullptr;
    for (QLabel* label : form.statusBar()->findChildren<QLabel*>())
        if (label->text() == "Ready.")
            run = label;
    ASSERT_NE(run, nullptr);
    const QRect before = run->geometry();
    const int width = hint->width();
    QMenu* file = form.menuBar()->actions().front()->menu();
    for (QAction* command : form.findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (command->statusTip().isEmpty())
            continue;
        command->showStatusText(form.menuBar());
        EXPECT_EQ(hint->shownText(), command->statusTip());
    }
    QStatusTipEvent longTip(QString(400, 'x'));
    QApplication::sendEvent(&form, &longTip);
    QApplication::processEvents();
    EXPECT_EQ(hint->width(), width);
    EXPECT_EQ(run->geometry(), before);
    EXPECT_TRUE(hint->shownText().endsWith(QChar(0x2026)));
    emit file->aboutToHide();
    EXPECT_EQ(form.statusHint(), "Generation limit reached: 3 of 3");

    form.Closeall->trigger();
    EXPECT_EQ(form.statusHint(), "");
}

TEST(MainWindowLifetime, AWindowDestroyedDuringARunEndsItsWorkerFirst)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("long.txt");
    // A Run of seconds even on a fast machine: the largest population and Run, and a formula
    // of some weight.
    std::string formula = "x1*x1";
    for (int i = 0; i < 40; ++i)
        formula += "+sin(x1*" + std::to_string(i) + ")*cos(x2)";
    std::ofstream(path.toStdString())
        << "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=" << formula << "\n[VARIABLES]\n"
           "x1=real[-1;1]\nx2=real[-1;1]\n[POPULATION]\nsize=1000\n[OPTIONS]\n"
           "loop_counter=1000\nmax_iteration=30000\n";
    auto form = std::make_unique<TMainForm>();
    form->showMessage = [](const QString&, const QString&) {};
    form->openFile(path);
    ASSERT_TRUE(form->running());
    QPointer<QThread> worker = form->findChild<QThread*>();
    ASSERT_FALSE(worker.isNull());
    // Well inside the run, the worker waiting for this thread again and again.
    QTest::qWait(100);
    ASSERT_TRUE(worker && worker->isRunning());
    form.reset();
    EXPECT_TRUE(worker.isNull());
}

TEST_F(MainWindow, CloseAllResetsEverything)
{
    form.openFile(file("task.txt", analytical("loop_counter=2\n")));
    ASSERT_TRUE(waitForRun());
    form.symbolTable().pushBack(makeSymbolFromValue(1, 0, "extra", false));
    form.Closeall->trigger();
    EXPECT_EQ(form.engine(), nullptr);
    EXPECT_EQ(form.script(), nullptr);
    EXPECT_EQ(form.symbolTable().size(), 30u);
    EXPECT_TRUE(form.projectFileName().isEmpty());
    EXPECT_TRUE(form.New->isEnabled());
    EXPECT_FALSE(form.Run->isEnabled());
    EXPECT_FALSE(form.Closeall->isEnabled());
}

TEST_F(MainWindow, CommandLineWithAMissingFile)
{
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    form.commandLineStart("task.txt");
    QDir::setCurrent(cwd);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "File:\n" + dir.filePath("task.txt") + "\ndoes not exist.");
    EXPECT_EQ(form.engine(), nullptr);
}

TEST_F(MainWindow, ClosingDuringARunWaitsForTheWorker)
{
    form.show();
    form.openFile(file("long.txt", analytical("loop_counter=1000\nmax_iteration=30000\n")));
    ASSERT_TRUE(form.running());
    form.close();
    EXPECT_TRUE(form.isVisible());
    ASSERT_TRUE(waitForRun());
    QApplication::processEvents();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.engine(), nullptr);
}

namespace {

/// The child-window entries of the Window menu as it shows them: caption and check mark.
std::vector<std::pair<QString, bool>> windowEntries(TMainForm& form)
{
    emit form.windowMenu()->aboutToShow();
    std::vector<std::pair<QString, bool>> entries;
    bool listed = false;
    for (QAction* action : form.windowMenu()->actions()) {
        if (action->isSeparator())
            listed = true;
        else if (listed)
            entries.emplace_back(action->text(), action->isChecked());
    }
    return entries;
}

QAction* windowEntry(TMainForm& form, int index)
{
    emit form.windowMenu()->aboutToShow();
    const QList<QAction*> actions = form.windowMenu()->actions();
    return actions[actions.size() - 4 + index];
}

} // namespace

TEST_F(MainWindow, TheWindowMenuListsTheChildWindowsAndBringsThemBack)
{
    form.resize(900, 700);
    form.show();
    EXPECT_TRUE(windowEntries(form).empty());
    form.openFile(file("task.txt", analytical("loop_counter=1\n") +
                                       "[PLOTS]\nA=Average\nB=StdDev\n[SHOW]\nvariables=1\n"));
    ASSERT_TRUE(waitForRun());
    const QList<QMdiSubWindow*> frames = form.mdiArea()->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(frames.size(), 4);

    form.mdiArea()->setActiveSubWindow(frames[3]);
    const auto entries = windowEntries(form);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], std::make_pair(QString("&1 Statistics"), false));
    EXPECT_EQ(entries[1], std::make_pair(QString("&2 A"), false));
    EXPECT_EQ(entries[2], std::make_pair(QString("&3 B"), false));
    EXPECT_EQ(entries[3], std::make_pair(QString("&4 Variables"), true));

    // Closing a chart only minimises it: it keeps its points and goes on growing.
    frames[1]->close();
    ASSERT_EQ(form.mdiArea()->subWindowList().size(), 4);
    EXPECT_TRUE(frames[1]->isMinimized());
    ASSERT_NE(form.resultWindows()->charts()[0]->form(), nullptr);
    form.Run->trigger();
    ASSERT_TRUE(waitForRun());
    EXPECT_EQ(form.resultWindows()->charts()[0]->series()[0]->size(), 2u);

    // Chosen from the menu, it comes back and is the active window.
    windowEntry(form, 1)->trigger();
    EXPECT_FALSE(frames[1]->isMinimized());
    EXPECT_EQ(form.mdiArea()->activeSubWindow(), frames[1]);
    EXPECT_TRUE(windowEntries(form)[1].second);

    // Arrange All lines up the minimised windows only.
    const QRect normal(30, 40, 300, 200);
    frames[0]->setGeometry(normal);
    frames[2]->showMinimized();
    frames[3]->showMinimized();
    frames[2]->move(200, 100);
    form.WindowArrangeAll1->trigger();
    EXPECT_EQ(frames[0]->geometry(), normal);
    EXPECT_FALSE(frames[0]->isMinimized());
    const int bottom = form.mdiArea()->viewport()->height();
    EXPECT_EQ(frames[2]->geometry().bottom() + 1, bottom);
    EXPECT_EQ(frames[3]->geometry().bottom() + 1, bottom);
    EXPECT_EQ(frames[2]->x(), 0);
    EXPECT_EQ(frames[3]->x(), frames[2]->width());
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, TheToolbarFitsTheFirstSizeAndHintsDoNotLinger)
{
    form.show();
    ASSERT_EQ(form.size(), QSize(376, 301));
    QToolBar* tools = form.findChild<QToolBar*>();
    ASSERT_NE(tools, nullptr);
    int commands = 0;
    for (QAction* action : tools->actions()) {
        if (action->isSeparator())
            continue;
        ++commands;
        QWidget* button = tools->widgetForAction(action);
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->isVisible()) << action->text().toStdString();
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
    }
    EXPECT_EQ(commands, 9);
    // Each tiling command shows its own picture, which the toolbar's overflow arrows are not.
    auto picture = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
    const QImage rows = picture(form.WindowTileHorizontal1->icon());
    const QImage columns = picture(form.WindowTileVertical1->icon());
    ASSERT_FALSE(rows.isNull());
    EXPECT_NE(rows, columns);
    for (QStyle::StandardPixmap arrows :
         {QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_ToolBarVerticalExtensionButton})
        for (const QImage& tiles : {rows, columns})
            EXPECT_NE(tiles, picture(form.style()->standardIcon(arrows)));

    // From a menu: the hint goes when the menu closes.
    QMenu* file = form.menuBar()->actions().front()->menu();
    form.Open->showStatusText(form.menuBar()); // as the menu does it
    EXPECT_EQ(form.statusHint(), "Open a project");
    emit file->aboutToHide();
    EXPECT_EQ(form.statusHint(), "");
    // From the toolbar: the hint goes when the mouse leaves it.
    QWidget* run = tools->widgetForAction(form.Run);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(run, &enter);
    EXPECT_EQ(form.statusHint(), "Run optimisation process");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(run, &leave);
    QApplication::sendEvent(tools, &leave);
    EXPECT_EQ(form.statusHint(), "");
}

TEST(CommandLineProgram, ACloseTaskRunsAndEndsByItself)
{
    QTemporaryDir dir;
    const QString script = dir.filePath("batch.txt");
    std::ofstream(script.toStdString())
        << "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x^2\n[VARIABLES]\nx=real[-1;1]\n"
           "[POPULATION]\nsize=10\n[OPTIONS]\nclose=1\nloop_counter=50\nmax_iteration=50\n"
           "[EXPORT]\nbest=GlobalMin\n[EXPORT_NAMES]\nexport_every_iteration=1\nexport_name="
        << dir.filePath("out.txt").toStdString() << "\n";
    QProcess zyl;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", dir.path()); // its settings stay in the test folder
    zyl.setProcessEnvironment(env);
    zyl.start(ZYL_PROGRAM, {script});
    ASSERT_TRUE(zyl.waitForFinished(60000));
    EXPECT_EQ(zyl.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(zyl.exitCode(), 0);
    std::ifstream out(dir.filePath("out.txt").toStdString());
    int lines = 0;
    for (std::string line; std::getline(out, line);)
        ++lines;
    EXPECT_EQ(lines, 51);
}

TEST_F(MainWindow, DialogsAreMadeWhenFirstNeededAndThenKept)
{
    // None at the start, which they would slow down.
    EXPECT_TRUE(form.findChildren<QDialog*>().isEmpty());
    form.openFile(file("task.txt", analytical("max_iteration=3\n")));
    ASSERT_TRUE(waitForRun());
    ASSERT_TRUE(form.Options->isEnabled());
    QList<QDialog*> shown;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QDialog* dialog : form.findChildren<QDialog*>())
            if (dialog->isVisible()) {
                shown << dialog;
                dialog->reject();
            }
    });
    closer.start();
    form.Options->trigger();
    form.Options->trigger();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(shown[0], form.optionsDialog());
}

TEST_F(MainWindow, ATaskWithSeveralObjectivesShowsItsFrontInTheParetoWindow)
{
    form.openFile(file("brake.txt",
                       "[FUNCTION]\nanalytical=1\n[OBJECTIVES]\nmass=x1^2+x2\nspeed=(x1-1)^2-x2\n"
                       "[CONSTRAINTS]\nc=x2-0.5\n[VARIABLES]\nx1=real[0;1]\nx2=real[0;1]\n"
                       "[POPULATION]\nsize=12\n[OPTIONS]\nloop_counter=4\n"));
    ASSERT_TRUE(waitForRun());
    ASSERT_TRUE(messages.empty()) << messages[0].text.toStdString();
    form.resultWindows()->flush();
    const TPareto* pareto = form.resultWindows()->paretoWindow();
    ASSERT_NE(pareto, nullptr);
    const auto& points = pareto->snapshot().points;
    ASSERT_FALSE(points.empty());
    EXPECT_TRUE(std::any_of(points.begin(), points.end(),
                            [](const ParetoPoint& p) { return p.onFront; }));
    for (const ParetoPoint& p : points)
        ASSERT_EQ(p.objectives.size(), 2u);
}
