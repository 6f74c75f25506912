#include "shell/DesktopSettings.h"

#include "ShellSupport.h"
#include "engine/Zyl.h"
#include "shell/AppIcon.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenuBar>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>

using namespace zyl;

namespace {

/// A main window on empty settings, manual tasks to open (they load without running), and the
/// messages collected instead of shown.
class Desktop : public ::testing::Test {
  protected:
    Desktop()
    {
        form.showMessage = [this](const QString&, const QString& text) { messages << text; };
    }

    QString task(const QString& name)
    {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString())
            << "[FUNCTION]\nmanual=1\n[VARIABLES]\nx=real[-1;1]\n[POPULATION]\nsize=4\n";
        return path;
    }

    /// The entries of the recent files menu, one a line.
    std::string recentEntries() const
    {
        QStringList texts;
        for (const QAction* action : form.recentMenu()->actions())
            texts << action->text();
        return texts.join('\n').toStdString();
    }

    test::FreshSettings fresh;
    QTemporaryDir dir;
    TMainForm form;
    QStringList messages;
};

} // namespace

TEST_F(Desktop, TheMainWindowComesBackAsItWasLeft)
{
    EXPECT_EQ(form.size(), QSize(376, 301)) << "the first start";
    form.show();
    form.resize(520, 410);
    form.close();
    TMainForm again;
    EXPECT_EQ(again.size(), QSize(520, 410));

    again.showMaximized();
    again.close();
    TMainForm maximised;
    EXPECT_TRUE(maximised.windowState() & Qt::WindowMaximized);

    // Left as it was found, and with the same recent file first, nothing is written again:
    // each write replaces the file, so its inode would change.
    const QByteArray file = DesktopSettings().store().fileName().toLocal8Bit();
    auto inode = [&] {
        struct stat status {};
        return ::stat(file.constData(), &status) == 0 ? status.st_ino : 0;
    };
    DesktopSettings().addRecentFile(task("same.txt"));
    const auto before = inode();
    ASSERT_NE(before, 0U);
    maximised.showMaximized();
    maximised.close();
    EXPECT_EQ(inode(), before);
    DesktopSettings().addRecentFile(dir.filePath("same.txt"));
    EXPECT_EQ(inode(), before);
    DesktopSettings().addRecentFile(task("other.txt"));
    EXPECT_NE(inode(), before);
}

TEST_F(Desktop, TheRecentListOpensFilesAndForgetsMissingOnes)
{
    const QString gone = task("gone.txt");
    const QString kept = task("kept.txt");
    form.openFile(gone);
    ASSERT_NE(form.engine(), nullptr);
    form.Closeall->trigger();
    form.openFile(kept);
    form.Closeall->trigger();
    EXPECT_EQ(recentEntries(), ("&1 " + kept + "\n&2 " + gone).toStdString());
    EXPECT_TRUE(form.recentMenu()->menuAction()->isEnabled());

    QFile::remove(gone);
    form.recentMenu()->actions()[1]->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.front(),
              "File:\n" + gone + "\ndoes not exist.\nIt is removed from the recent files.");
    EXPECT_EQ(recentEntries(), ("&1 " + kept).toStdString());
    EXPECT_EQ(form.engine(), nullptr);

    form.recentMenu()->actions()[0]->trigger();
    ASSERT_NE(form.engine(), nullptr);
    EXPECT_EQ(form.projectFileName(), kept);
    // With a project loaded there is nothing to open it into.
    EXPECT_FALSE(form.recentMenu()->menuAction()->isEnabled());

    // The latest eight, each once, as absolute paths.
    DesktopSettings settings;
    for (int i = 0; i < 10; ++i)
        settings.addRecentFile(dir.filePath(QString("t%1.txt").arg(i)));
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    settings.addRecentFile("t5.txt");
    QDir::setCurrent(cwd);
    QStringList expected;
    for (int i : {5, 9, 8, 7, 6, 4, 3, 2})
        expected << dir.filePath(QString("t%1.txt").arg(i));
    EXPECT_EQ(settings.recentFiles().join('\n').toStdString(), expected.join('\n').toStdString());
}

TEST_F(Desktop, ADroppedFileOpensAsOpenDoes)
{
    auto drop = [this](const QString& path) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&form, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&form, &dropped);
        QApplication::processEvents();
        return true;
    };
    const QString internal = dir.filePath("run.zyl");
    std::ofstream(internal.toStdString()) << "x";
    ASSERT_TRUE(drop(internal));
    EXPECT_EQ(messages, QStringList{"The file \"" + internal + "\" is not a ZYL run store."});

    const QString script = task("dropped.txt");
    ASSERT_TRUE(drop(script));
    ASSERT_NE(form.engine(), nullptr);
    EXPECT_EQ(form.projectFileName(), script);
    EXPECT_FALSE(drop(script)) << "refused while a project is open";
}

TEST_F(Desktop, FileDialogsStartInTheLastFolder)
{
    QDir(dir.path()).mkdir("a");
    QDir(dir.path()).mkdir("b");
    DesktopSettings().rememberFolder(dir.filePath("a/earlier.txt"));
    const QString chosen = task("b/chosen.txt");
    QString shownFolder;
    QStringList filters;
    QString filter;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            answer.stop();
            shownFolder = dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            filter = dialog->selectedNameFilter();
            dialog->selectFile(chosen);
            // Taken inside the dialog's own loop, whenever this runs.
            QMetaObject::invokeMethod(static_cast<QDialog*>(dialog), &QDialog::accept,
                                      Qt::QueuedConnection);
        }
    });
    answer.start(5);
    form.Open->trigger();
    EXPECT_EQ(shownFolder, dir.filePath("a"));
    // Run stores are seen from the start, beside the scripts.
    EXPECT_EQ(filters, (QStringList{"zyl files (*.txt *.zyl)", "zyl script (*.txt)",
                                    "zyl internal (*.zyl)"}));
    EXPECT_EQ(filter, filters.value(0));
    EXPECT_EQ(DesktopSettings().lastFolder(), dir.filePath("b"));
    EXPECT_EQ(form.projectFileName(), chosen);
}

TEST_F(Desktop, EveryCommandIsInAMenuAndNoShortcutIsShared)
{
    QList<QAction*> inMenus;
    // Every item can be reached from the keyboard, a recent file's entry too.
    form.openFile(task("recent.txt"));
    form.Closeall->trigger();
    for (QAction* title : form.menuBar()->actions()) {
        EXPECT_TRUE(title->text().contains('&')) << title->text().toStdString();
        EXPECT_EQ(test::keyboardGaps(title->menu()), QStringList());
        inMenus << title->menu()->actions();
    }
    QStringList shortcuts;
    int commands = 0;
    // The commands are the window's own actions; CommandLine only serves the start-up.
    for (QAction* command : form.findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (command == form.CommandLine || command->text().isEmpty())
            continue;
        ++commands;
        EXPECT_TRUE(inMenus.contains(command)) << command->text().toStdString();
        if (!command->shortcut().isEmpty() && !shortcuts.contains(command->shortcut().toString()))
            shortcuts << command->shortcut().toString();
        else
            EXPECT_TRUE(command->shortcut().isEmpty()) << command->text().toStdString();
    }
    EXPECT_EQ(commands, 18);
}

TEST_F(Desktop, EveryWindowShowsTheProgramsIcon)
{
    installApplicationIcon();
    const QIcon icon = QApplication::windowIcon();
    ASSERT_FALSE(icon.pixmap(32, 32).isNull()) << "the resource must load, SVG plugin included";
    form.openFile(task("shown.txt"));
    ASSERT_FALSE(form.mdiArea()->subWindowList().isEmpty());
    EXPECT_EQ(form.windowIcon().cacheKey(), icon.cacheKey());
    for (const QMdiSubWindow* child : form.mdiArea()->subWindowList())
        EXPECT_EQ(child->windowIcon().cacheKey(), icon.cacheKey())
            << child->windowTitle().toStdString();
    QApplication::setWindowIcon(QIcon());
}
