#include "shell/MainWindow.h"

#include "ShellSupport.h"
#include "engine/Zyl.h"
#include "windows/RecordTables.h"
#include "windows/ResultWindows.h"
#include "windows/StatisticsWindow.h"

#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace zyl;

namespace {

std::string readFile(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// A seeded task with an export of statistics and of the best individual.
std::string seededTask(const QString& exportFile, int generations)
{
    return "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=(x-0.3)^2+abs(n)\n[VARIABLES]\n"
           "x=real[-1;1]\nn=integer[-5;5]\n[POPULATION]\nsize=30\n[OPTIONS]\nseed=3\n"
           "loop_counter=" + std::to_string(generations) + "\nmax_iteration=" +
           std::to_string(generations) +
           "\n[SELECTION]\ntournament=1\nelite=1\n[SHOW]\nbuffer_individuals=1\n[EXPORT]\n"
           "g=Generation\nbest=GlobalMin\nmean=Average\nsd=StdDev\nwho=GlobalMinIndiv\n"
           "[EXPORT_NAMES]\nexport_every_iteration=1\nexport_name=" +
           exportFile.toStdString() + "\n";
}

/// Runs zyl-batch on `script` and returns its standard output.
std::string runBatch(const QString& script, const QStringList& options = {})
{
    QProcess batch;
    batch.start(ZYL_BATCH_PROGRAM, options + QStringList{"--quiet", script});
    EXPECT_TRUE(batch.waitForFinished(60000));
    EXPECT_EQ(batch.exitCode(), 0);
    return batch.readAllStandardOutput().toStdString();
}

class DesktopRun : public ::testing::Test {
protected:
    DesktopRun()
    {
        form.showMessage = [this](const QString&, const QString& text) { messages << text; };
    }

    QString file(const QString& name, const std::string& content)
    {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString()) << content;
        return path;
    }

    bool waitForRun() { return test::waitForRun(form, 60000); }

    QTemporaryDir dir;
    TMainForm form;
    QStringList messages;
};

} // namespace

TEST_F(DesktopRun, GivesTheStatisticsAndExportOfTheBatchRun)
{
    form.openFile(file("desktop.txt", seededTask(dir.filePath("desktop.out"), 40)));
    ASSERT_TRUE(waitForRun());
    ASSERT_TRUE(messages.isEmpty()) << messages.front().toStdString();
    const std::string report =
        runBatch(file("batch.txt", seededTask(dir.filePath("batch.out"), 40)));
    EXPECT_EQ(readFile(dir.filePath("desktop.out")), readFile(dir.filePath("batch.out")));
    EXPECT_NE(readFile(dir.filePath("batch.out")), "");

    // Every statistic the window shows is a line of the batch report.
    form.resultWindows()->flush();
    const TextTableModel& rows = form.resultWindows()->statisticsWindow()->model();
    ASSERT_GT(rows.rowCount(), 15);
    for (int r = 0; r < rows.rowCount(); ++r) {
        if (rows.cellText(r, 0).isEmpty())
            continue;
        const std::string line = (rows.cellText(r, 0) + "\t" + rows.cellText(r, 1) + "\t" +
                                  rows.cellText(r, 2) + "\n")
                                     .toStdString();
        EXPECT_NE(report.find(line), std::string::npos) << line;
    }

    // --seed overrides the script's seed.
    runBatch(file("other.txt", seededTask(dir.filePath("other.out"), 40)), {"--seed", "4"});
    EXPECT_NE(readFile(dir.filePath("other.out")), readFile(dir.filePath("batch.out")));
}

TEST_F(DesktopRun, TheWindowsAnswerWhileARunGoesOn)
{
    form.openFile(file("long.txt",
                       "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=sin(x)*cos(y)\n[VARIABLES]\n"
                       "x=real[0;3]\ny=real[0;3]\n[POPULATION]\nsize=1000\n[OPTIONS]\n"
                       "loop_counter=1000\nmax_iteration=30000\n"));
    ASSERT_TRUE(form.running());
    // A timer of the GUI thread fires in the middle of the run, and Terminate works from it.
    bool answeredWhileRunning = false;
    QTimer::singleShot(5, &form, [&] {
        answeredWhileRunning = form.running();
        form.Terminate->trigger();
    });
    ASSERT_TRUE(waitForRun());
    EXPECT_TRUE(answeredWhileRunning);
    EXPECT_LT(form.engine()->generation, 1000);
}
