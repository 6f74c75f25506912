// The main window's watch of a run store that another process writes: the project shown as
// the store holds it and kept up with it, what the status panel says about the writer, and
// what the user can do about it (ask it to stop, take the run over once it has stopped).
#include "shell/MainWindow.h"

#include "shell/DesktopSettings.h"
#include "shell/Messages.h"
#include "windows/ParetoWindow.h"
#include "windows/ResultWindows.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace zyl {

void TMainForm::WatchExecute()
{
    DesktopSettings settings;
    const QString name = QFileDialog::getOpenFileName(
        this, QString(), settings.lastFolder(), QStringLiteral("zyl internal (*.zyl)"));
    if (name.isEmpty())
        return;
    settings.rememberFolder(name);
    watchFile(name);
}

void TMainForm::watchFile(const QString& fileName)
{
    if (!Watch->isEnabled())
        return;
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    try {
        m_watch = StoreWatch::open(absolute.toStdString(), m_settings, m_table);
    } catch (const std::exception& error) {
        // As after any failed load: nothing of it stays, and the store was not touched.
        m_watch.reset();
        m_table.clear();
        m_table.registerBuiltinSymbols();
        showMessage(QStringLiteral("warning"), QString::fromStdString(error.what()));
        return;
    }
    m_projectFileName = absolute;
    ResultContext windows{m_mdi, m_watch->zyl(), m_settings, m_watch->project().plots,
                          [this](const QString& text) { showMessage("warning", text); }, {}};
    windows.dialogFolder = std::make_shared<DesktopSettings>();
    windows.readOnly = true;
    if (m_watch->zyl().multiObjective())
        windows.paretoSnapshot = [this](ParetoSnapshot& snapshot) {
            snapshot = frontSnapshot(m_watch->zyl());
        };
    m_windows = std::make_unique<ResultWindows>(std::move(windows));
    // Only what shows the project: the store is another process's to change.
    New->setEnabled(false);
    Open->setEnabled(false);
    Save->setEnabled(false);
    Saveas->setEnabled(false);
    Run->setEnabled(false);
    Options->setEnabled(false);
    Closeall->setEnabled(true);
    ShowConsole->setEnabled(true);
    const std::vector<GenerationRecord>& generations = m_watch->generations();
    showStoredRun(
        generations.size(),
        [&generations](std::size_t k) -> const auto& { return generations[k].rows; },
        m_watch->stop());
    showWatchStatus();
    updateStandingHint();
    m_watchTimer.start();
}

void TMainForm::watchTick()
{
    if (!m_watch)
        return;
    try {
        m_watch->update(*this);
    } catch (const std::exception& error) {
        // The project stays as it was last shown; nothing more comes.
        m_watchTimer.stop();
        Terminate->setEnabled(false);
        TakeOver->setEnabled(false);
        m_runPanel->setText(QStringLiteral("The watch has stopped."));
        showMessage(QStringLiteral("warning"), QString::fromStdString(error.what()));
        return;
    }
    // On screen now: a look comes every half second, and a slow one would keep a committed
    // generation from the screen for longer than it has to.
    if (m_windows)
        m_windows->flush();
}

void TMainForm::storedGeneration(const GenerationRecord& generation)
{
    if (m_windows)
        m_windows->storedStatistics(generation.rows);
}

void TMainForm::writerChanged()
{
    showWatchStatus();
    updateStandingHint();
}

void TMainForm::showWatchStatus()
{
    const WriterStatus& status = m_watch->status();
    m_runPanel->setText(QStringLiteral("Watching: ") +
                        QString::fromStdString(describeWriter(status)));
    Terminate->setEnabled(status.state == WriterStatus::State::Running && status.local &&
                          !status.ownerGone);
    TakeOver->setEnabled(status.state == WriterStatus::State::Stopped);
}

void TMainForm::terminateWatchedRun()
{
    const WriterStatus& status = m_watch->status();
    const QString question =
        QStringLiteral("Ask the run to stop?\nProcess %1 on %2 ends after its term_grace; "
                       "what it has finished stays in the run store.")
            .arg(status.owner.pid)
            .arg(QString::fromStdString(status.owner.host));
    if (QMessageBox::question(this, programCaption(), question) != QMessageBox::Yes)
        return;
    try {
        m_watch->terminateWriter();
    } catch (const std::exception& error) {
        showMessage(QStringLiteral("warning"), QString::fromStdString(error.what()));
    }
}

void TMainForm::TakeOverExecute()
{
    if (!m_watch)
        return;
    const QString fileName = QString::fromStdString(m_watch->file());
    closeProject();
    // Open's own checks stand between the user and a writer that came back meanwhile: the
    // store is opened for writing only when no other ZYL holds it.
    openFile(fileName);
}

} // namespace zyl
