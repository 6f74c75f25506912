#include "shell/MainWindow.h"

#include "ShellSupport.h"
#include "windows/BufferedWindow.h"
#include "windows/ChartWindow.h"
#include "windows/ParetoWindow.h"
#include "windows/PopulationWindow.h"
#include "windows/RecordTables.h"
#include "windows/ResultWindows.h"
#include "windows/StatisticsWindow.h"
#include "windows/UserChart.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

using namespace zyl;
using zyl::test::MessageBoxAnswerer;

namespace {

// Each program takes a twentieth of a second: the writer commits generation after generation
// while the window watches.
const char* kProgram = "#!/bin/sh\nsleep 0.05\n"
                       "LC_ALL=C awk '{ printf \"%.17g\\n\", ($1 - 1) ^ 2 + ($2 + 2) ^ 2 }' "
                       "\"$1\" > \"$2\"\n";

std::string task(int generations, const std::string& more = "")
{
    return "[FUNCTION]\nexternal=1\nexternal_name=./obj.sh\ninput_name=in.txt\n"
           "output_name=out.txt\nworkers=2\n[VARIABLES]\nx1=real[-5;5]\nx2=real[-5;5]\n"
           "[POPULATION]\nsize=4\n[OPTIONS]\nmax_iteration=" +
           std::to_string(generations) + "\nloop_counter=" + std::to_string(generations) +
           "\n" + more + "[PLOTS]\nBest=CurrentMin;Average\n[SHOW]\nstatistic_history=1\n"
           "population=1\nbuffered=1\nbuffer_individuals=1\n";
}

/// What the windows show, cell by cell and point by point.
struct View {
    std::vector<std::string> statistics, population, buffered, charts, pareto;
    bool operator==(const View&) const = default;
};

std::vector<std::string> cells(const std::function<QString(int, int)>& cell, int rows, int columns)
{
    std::vector<std::string> texts;
    for (int r = 0; r < rows; ++r) {
        std::string row;
        for (int c = 0; c < columns; ++c)
            row += cell(r, c).toStdString() + "\t";
        texts.push_back(row);
    }
    return texts;
}

View viewOf(TMainForm& form)
{
    View view;
    ResultWindows& windows = *form.resultWindows();
    windows.flush();
    TextTableModel& statistics = windows.statisticsWindow()->model();
    view.statistics = cells([&](int r, int c) { return statistics.cellText(r, c); },
                            statistics.rowCount(), statistics.columnCount());
    for (IndividualTableModel* model :
         {&windows.populationWindow()->model(), &windows.bufferedWindow()->model()})
        (model == &windows.bufferedWindow()->model() ? view.buffered : view.population) =
            cells([&](int r, int c) { return model->cellText(r, c); }, model->rowCount(),
                  model->columnCount());
    if (const TPareto* pareto = windows.paretoWindow())
        for (const ParetoPoint& point : pareto->snapshot().points) {
            std::ostringstream text;
            text.precision(17);
            for (double x : point.objectives)
                text << x << " ";
            text << point.violation << (point.onFront ? " front" : "");
            view.pareto.push_back(text.str());
        }
    for (const auto& chart : windows.charts())
        for (const PolyLine* series : chart->series()) {
            std::ostringstream bytes;
            series->write(bytes);
            view.charts.push_back(bytes.str());
        }
    return view;
}

/// The "Generation" rows the Statistics window shows, in order.
std::vector<int> generationsShown(TMainForm& form)
{
    std::vector<int> shown;
    TextTableModel& rows = form.resultWindows()->statisticsWindow()->model();
    for (int r = 0; r < rows.rowCount(); ++r)
        if (rows.cellText(r, 0) == QLatin1String("Generation"))
            shown.push_back(rows.cellText(r, 1).toInt());
    return shown;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

class DesktopWatch : public ::testing::Test {
protected:
    DesktopWatch()
    {
        form.showMessage = [this](const QString&, const QString& text) { messages << text; };
    }
    ~DesktopWatch() override
    {
        for (QProcess* writer : {&writer, &reference})
            if (writer->state() != QProcess::NotRunning) {
                writer->kill();
                writer->waitForFinished();
            }
    }

    /// A folder with the task and its program.
    QString folder(const QString& name, const std::string& script)
    {
        QDir(dir.path()).mkpath(name);
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString() + "/task.txt") << script;
        std::ofstream(path.toStdString() + "/obj.sh") << kProgram;
        QFile::setPermissions(path + "/obj.sh", QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner);
        return path;
    }

    /// zyl-batch recording the task of `where` in its run.zyl, and the window watching it
    /// once the store holds its first generation boundary.
    void startWatchedWriter(const QString& where)
    {
        writer.setWorkingDirectory(where);
        writer.start(ZYL_BATCH_PROGRAM,
                     {"--seed", "3", "--quiet", "--store", "run.zyl", "task.txt"});
        ASSERT_TRUE(writer.waitForStarted());
        const QString store = where + "/run.zyl";
        ASSERT_TRUE(waitFor(
            [&] {
                // The file is empty for a moment while the writer creates it: a refusal then
                // is that moment's, not the store's.
                form.watchFile(store);
                messages.clear();
                return form.watch() != nullptr;
            },
            10000));
    }

    QString runPanel() const { return form.statusRun(); }

    QTemporaryDir dir;
    test::FreshSettings fresh;
    TMainForm form;
    QStringList messages;
    QProcess writer, reference;
};

} // namespace

TEST_F(DesktopWatch, FollowsARealWriterToTheViewThatOpenGives)
{
    const QString where = folder("run", task(8));
    startWatchedWriter(where);
    EXPECT_FALSE(form.Run->isEnabled());
    EXPECT_FALSE(form.Options->isEnabled());
    EXPECT_FALSE(form.New->isEnabled());
    EXPECT_FALSE(form.Open->isEnabled());
    EXPECT_FALSE(form.Save->isEnabled());
    EXPECT_TRUE(form.Closeall->isEnabled());

    // Every committed generation comes, in order, and the panel says who writes; the last
    // one is on screen within two seconds of its commit.
    bool sawRunning = false;
    ASSERT_TRUE(waitFor(
        [&] {
            sawRunning = sawRunning || runPanel().startsWith("Watching: running: generation ");
            return writer.state() == QProcess::NotRunning;
        },
        30000));
    EXPECT_EQ(writer.exitCode(), 0);
    std::vector<int> shown;
    EXPECT_TRUE(waitFor(
        [&] {
            shown = generationsShown(form);
            return shown.size() == 8;
        },
        2000));
    EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(sawRunning);
    ASSERT_TRUE(waitFor([&] { return runPanel().startsWith("Watching: finished"); }, 2000))
        << runPanel().toStdString();
    EXPECT_EQ(runPanel(), "Watching: finished in generation 8 of 8");
    EXPECT_FALSE(form.Terminate->isEnabled());
    EXPECT_FALSE(form.TakeOver->isEnabled());
    const View watched = viewOf(form);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();

    form.Closeall->trigger();
    EXPECT_EQ(form.watch(), nullptr);
    form.openFile(where + "/run.zyl");
    ASSERT_NE(form.session(), nullptr) << messages.join("\n").toStdString();
    EXPECT_EQ(viewOf(form), watched);
}

TEST_F(DesktopWatch, ThePictureOfAFrontFollowsTheWriterToWhatOpenGives)
{
    std::string script = task(6, "method=nsga2\n");
    script.insert(script.find("workers=2\n"), "external_objectives=2\n");
    const QString where = folder("front", script);
    std::ofstream((where + "/obj.sh").toStdString())
        << "#!/bin/sh\nsleep 0.05\nLC_ALL=C awk '{ printf \"%.17g\\n%.17g\\n\", "
           "($1 - 1) ^ 2, ($2 + 2) ^ 2 + $1 }' \"$1\" > \"$2\"\n";
    startWatchedWriter(where);
    ASSERT_NE(form.resultWindows()->paretoWindow(), nullptr);
    ASSERT_TRUE(waitFor([&] { return writer.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().toStdString();
    ASSERT_TRUE(waitFor([&] { return runPanel().startsWith("Watching: finished"); }, 2000));
    const View watched = viewOf(form);
    EXPECT_EQ(watched.pareto.size(), 4u);
    EXPECT_TRUE(std::any_of(watched.pareto.begin(), watched.pareto.end(), [](const auto& p) {
        return p.ends_with(" front");
    }));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
    form.Closeall->trigger();
    form.openFile(where + "/run.zyl");
    ASSERT_NE(form.session(), nullptr) << messages.join("\n").toStdString();
    EXPECT_EQ(viewOf(form).pareto, watched.pareto);
}

TEST_F(DesktopWatch, AWriterKilledIsSaidStoppedAndTakenOverToTheUninterruptedResult)
{
    const QString alone = folder("alone", task(10));
    reference.setWorkingDirectory(alone);
    reference.start(ZYL_BATCH_PROGRAM,
                    {"--seed", "3", "--quiet", "--store", "run.zyl", "task.txt"});
    const QString where = folder("run", task(10));
    startWatchedWriter(where);
    ASSERT_TRUE(waitFor([&] { return form.watch()->status().generation >= 3; }, 20000));
    const qint64 pid = writer.processId();
    writer.kill(); // SIGKILL: nothing of the writer's own ending happens
    ASSERT_TRUE(writer.waitForFinished());
    ASSERT_TRUE(waitFor([&] { return form.TakeOver->isEnabled(); }, 2000))
        << runPanel().toStdString();
    EXPECT_TRUE(runPanel().startsWith("Watching: stopped without finishing in generation "));
    EXPECT_TRUE(runPanel().endsWith(QStringLiteral(" (process %1 on ").arg(pid) +
                                    QString::fromStdString(form.watch()->status().owner.host) +
                                    " no longer exists)"))
        << runPanel().toStdString();
    EXPECT_FALSE(form.Terminate->isEnabled());

    form.TakeOver->trigger();
    ASSERT_NE(form.session(), nullptr) << messages.join("\n").toStdString();
    EXPECT_EQ(form.watch(), nullptr);
    ASSERT_TRUE(form.Run->isEnabled());
    form.Run->trigger();
    ASSERT_TRUE(test::waitForRun(form, 30000));
    ASSERT_TRUE(waitFor([&] { return reference.state() == QProcess::NotRunning; }, 30000));
    const View continued = viewOf(form);
    form.Closeall->trigger();
    form.openFile(alone + "/run.zyl");
    ASSERT_NE(form.session(), nullptr) << messages.join("\n").toStdString();
    const View uninterrupted = viewOf(form);
    EXPECT_EQ(continued.statistics.size(), 10u * 19u);
    EXPECT_EQ(continued, uninterrupted);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

TEST_F(DesktopWatch, TerminateAsksTheWriterToStopOnlyOnceTheUserAgrees)
{
    const QString where = folder("run", task(400, "term_grace=5\n"));
    startWatchedWriter(where);
    ASSERT_TRUE(waitFor([&] { return form.Terminate->isEnabled(); }, 5000));
    {
        MessageBoxAnswerer no(QMessageBox::No);
        form.Terminate->trigger();
        ASSERT_EQ(no.shown.size(), 1u);
        EXPECT_EQ(no.shown[0].text.rfind("Ask the run to stop?", 0), 0u) << no.shown[0].text;
    }
    EXPECT_FALSE(writer.waitForFinished(300));
    {
        MessageBoxAnswerer yes(QMessageBox::Yes);
        form.Terminate->trigger();
    }
    // SIGTERM: the writer finishes what runs within its grace, commits and ends.
    ASSERT_TRUE(writer.waitForFinished(10000));
    EXPECT_EQ(writer.exitCode(), 143);
    ASSERT_TRUE(waitFor([&] { return form.TakeOver->isEnabled(); }, 2000))
        << runPanel().toStdString();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

TEST_F(DesktopWatch, WhatIsNoStoreOrGoesAwayIsSaidAndTheProgramGoesOn)
{
    const QString notes = dir.filePath("notes.zyl");
    std::ofstream(notes.toStdString()) << "not a store\n";
    form.watchFile(notes);
    EXPECT_EQ(form.watch(), nullptr);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "The file \"" + notes + "\" is not a ZYL run store.");
    EXPECT_TRUE(form.Open->isEnabled());
    EXPECT_TRUE(form.Watch->isEnabled());
    EXPECT_FALSE(QFile::exists(notes + "-wal"));

    // A store removed while watched: said once, and what was shown stays.
    const QString where = folder("run", task(2));
    startWatchedWriter(where);
    ASSERT_TRUE(writer.waitForFinished(20000));
    ASSERT_TRUE(waitFor([&] { return generationsShown(form).size() == 2; }, 2000));
    ASSERT_TRUE(QFile::remove(where + "/run.zyl"));
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }, 2000));
    QTest::qWait(2 * TMainForm::watchInterval);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "The run store \"" + where +
                               "/run.zyl\" is no longer the file the watch opened (it was "
                               "deleted, replaced or cut short): the watch stops.");
    EXPECT_EQ(runPanel(), "The watch has stopped.");
    EXPECT_EQ(generationsShown(form).size(), 2u);
    form.Closeall->trigger();
    EXPECT_TRUE(form.Open->isEnabled());
}
