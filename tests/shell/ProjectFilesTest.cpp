#include "shell/MainWindow.h"

#include "ShellSupport.h"
#include "common/TextConvert.h"
#include "engine/Zyl.h"
#include "shell/ConsoleWindow.h"
#include "shell/DesktopSettings.h"
#include "windows/BufferedWindow.h"
#include "windows/RecordTables.h"
#include "windows/ResultWindows.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace zyl;
using zyl::test::MessageBoxAnswerer;

namespace {

/// A main window whose warnings and information are collected; the question about unsaved
/// changes is a real box, answered by a MessageBoxAnswerer.
class ProjectFiles : public ::testing::Test {
protected:
    ProjectFiles()
    {
        form.showMessage = [this](const QString&, const QString& text) { messages << text; };
    }

    QString file(const QString& name, const std::string& content)
    {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString(), std::ios::binary) << content;
        return path;
    }

    static std::string slurp(const QString& path)
    {
        std::ifstream in(path.toStdString(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    bool waitForRun() { return test::waitForRun(form, 30000); }

    QTemporaryDir dir;
    test::FreshSettings fresh;
    TMainForm form;
    QStringList messages;
};

const std::string task = "; tuned by hand, keep these notes\n"
                         "[FUNCTION]\n"
                         "analytical = 1\n"
                         "\n"
                         "[EQUATIONS]\n"
                         "f = x1^2 + x2^2   \n"
                         "[VARIABLES]\n"
                         "x1=real[-1;1]\n"
                         "x2=real[-1;1]\n"
                         "[POPULATION]\n"
                         "size=10\n";

} // namespace

TEST_F(ProjectFiles, SaveKeepsTheNotesAndChangesOnlyWhatTheProjectChanged)
{
    const QString path = file("task.txt", task);
    form.openFile(path);
    ASSERT_TRUE(waitForRun());
    form.Save->trigger();
    EXPECT_EQ(slurp(path), task);

    form.script()->WriteInteger("OPTIONS", "loop_counter", 3);
    form.Save->trigger();
    EXPECT_EQ(slurp(path), task + "\n[OPTIONS]\nloop_counter=3\n\n");
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}

TEST_F(ProjectFiles, SaveAsWithoutAnExtensionTakesTheChosenFilters)
{
    form.openFile(file("task.txt", task));
    ASSERT_TRUE(waitForRun());
    EXPECT_EQ(TMainForm::withFilterExtension("a/run", "zyl internal (*.zyl)"), "a/run.zyl");
    EXPECT_EQ(TMainForm::withFilterExtension("a/run.TXT", "zyl script (*.txt)"), "a/run.TXT");

    // What Save as does with the dialog's answer: a name typed without an extension under the
    // script filter. (Driving the modal dialog itself proved unreliable on a loaded machine.)
    form.saveAsFile(TMainForm::withFilterExtension(dir.filePath("plain"), "zyl script (*.txt)"));
    EXPECT_EQ(form.projectFileName(), dir.filePath("plain.txt"));
    EXPECT_EQ(slurp(dir.filePath("plain.txt")), task);
    form.Save->trigger();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}

TEST_F(ProjectFiles, AChangedProjectIsSavedDiscardedOrKeptAsTheUserAnswers)
{
    // Opened and run, not changed: closing asks nothing.
    MessageBoxAnswerer boxes(QMessageBox::Cancel);
    form.openFile(file("task.txt", task));
    ASSERT_TRUE(waitForRun());
    EXPECT_FALSE(form.projectModified());
    form.Closeall->trigger();
    EXPECT_EQ(form.engine(), nullptr);
    EXPECT_TRUE(boxes.shown.empty());

    // A new project, never saved: Cancel keeps it, in Close all as in Exit.
    form.setInitialiseDialog([] {
        auto script = std::make_unique<ProjectScript>(ProjectScript::fromText(task));
        script->StripBlanks();
        return script;
    });
    form.New->trigger();
    ASSERT_NE(form.engine(), nullptr);
    EXPECT_TRUE(form.projectModified());
    form.show();
    form.Closeall->trigger();
    form.Exit->trigger();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, "The project has changes that are not saved.\nSave them?");
    EXPECT_NE(form.engine(), nullptr);
    EXPECT_TRUE(form.isVisible());

    // Discard lets it go.
    boxes.answer = QMessageBox::Discard;
    form.Closeall->trigger();
    EXPECT_EQ(form.engine(), nullptr);

    // Options changed after the load: Save writes them, then the window closes.
    const QString path = file("changed.txt", task);
    form.openFile(path);
    ASSERT_TRUE(waitForRun());
    form.script()->WriteInteger("OPTIONS", "loop_counter", 4);
    boxes.answer = QMessageBox::Save;
    form.Exit->trigger();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.engine(), nullptr);
    EXPECT_EQ(slurp(path), task + "\n[OPTIONS]\nloop_counter=4\n\n");
    EXPECT_EQ(boxes.shown.size(), 4u);
}

TEST_F(ProjectFiles, EveryProjectStartsWithItsOwnStatusAndAStoreShowsItsBuffer)
{
    const std::string buffered = task + "[OPTIONS]\nloop_counter=3\nstop_when=Generation>=2\n"
                                        "[SHOW]\nbuffer_individuals=1\nbuffered=1\n";
    form.openFile(file("task.txt", buffered));
    ASSERT_TRUE(waitForRun());
    ASSERT_TRUE(form.statusRun().startsWith("Stop rule: "));
    form.saveAsFile(dir.filePath("run.zyl"));
    form.Closeall->trigger();
    EXPECT_EQ(form.statusRun(), "Ready.");

    // Reopened, the store shows what it holds: the buffer in the Buffered window.
    form.openFile(dir.filePath("run.zyl"));
    ASSERT_NE(form.engine(), nullptr);
    const std::size_t entries = form.engine()->buffer.size();
    ASSERT_GT(entries, 0u);
    const IndividualTableModel& rows = form.resultWindows()->bufferedWindow()->model();
    ASSERT_EQ(rows.rowCount(), static_cast<int>(entries));
    const Indiv& first = *form.engine()->buffer.entries().first()->item;
    EXPECT_EQ(rows.cellText(0, 1).toStdString(), realToText(first.gene(0)->getValue()));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}

TEST_F(ProjectFiles, AFailedProgramIsToldWithItsReasonAndTheConsoleShowsItsLinesWhole)
{
    // The box gives the reason after the fixed text.
    {
        TMainForm plain;
        MessageBoxAnswerer boxes;
        plain.warning("A problem with external program.\nThe program ended with exit status 3.");
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text,
                  "A problem with external program.\nThe program ended with exit status 3.");
    }

    const QString program = file("objective.sh", "#!/bin/sh\necho 'no licence for the solver' >&2\n"
                                                 "exit 3\n");
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    EXPECT_FALSE(form.ShowConsole->isEnabled());
    form.openFile(file("task.txt", "[FUNCTION]\nexternal=1\nexternal_name=" +
                                       program.toStdString() +
                                       "\ninput_name=in.txt\noutput_name=out.txt\nworkers=2\n"
                                       "work_root=" + dir.filePath("work").toStdString() +
                                       "\n[VARIABLES]\nx=real[0;1]\n[POPULATION]\nsize=4\n"));
    ASSERT_TRUE(waitForRun());
    ASSERT_FALSE(messages.isEmpty());
    // The specified text first, then why, and the program's own last words.
    EXPECT_TRUE(messages[0].startsWith("A problem with external program.\nEvaluation of "))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("exit code 3") &&
                messages[0].contains("no licence for the solver"))
        << messages[0].toStdString();

    // The run's own account is in the console, which the File menu opens with its lines
    // whole (as far as the screen allows).
    ASSERT_TRUE(form.ShowConsole->isEnabled());
    QApplication::processEvents();
    TIOconsole* console = form.console();
    EXPECT_TRUE(console->RichEdit1->toPlainText().contains("exit code 3"));
    console->clearText();
    console->RichEdit1->appendPlainText(QString(70, 'x'));
    form.ShowConsole->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(console));
    EXPECT_GT(console->width(), 334);
    EXPECT_EQ(console->RichEdit1->horizontalScrollBar()->maximum(), 0);
    form.Closeall->trigger();
    EXPECT_FALSE(console->isVisible());
    EXPECT_FALSE(form.ShowConsole->isEnabled());
}
