// The main window's project: New, Open, Save, Close all and the command line, each turning a
// script or a run store into the session the runs use, or the project into a file.
#include "shell/MainWindow.h"

#include "shell/ConsoleWindow.h"
#include "shell/DesktopSettings.h"
#include "shell/InitialiseDialog.h"
#include "shell/Messages.h"
#include "script/KnownNames.h"
#include "windows/ParetoWindow.h"
#include "windows/ResultWindows.h"
#include "windows/StatisticsWindow.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPlainTextEdit>

#include <utility>

namespace zyl {

namespace {

const QString scriptFilter = QStringLiteral("zyl script (*.txt);;zyl internal (*.zyl)");
// Open shows scripts and run stores at once: a store is invisible under the script filter.
const QString openFilter = QStringLiteral("zyl files (*.txt *.zyl);;") + scriptFilter;

QString extensionOf(const QString& fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    const int dot = name.lastIndexOf('.');
    return dot < 0 ? QString() : name.mid(dot);
}

} // namespace

void TMainForm::failLoad(const QString& message)
{
    showMessage(QStringLiteral("warning"), message);
    m_run.reset();
    m_script.reset();
    m_projectFileName.clear();
    m_overrides.clear();
}

void TMainForm::NewExecute()
{
    const bool fromFile = m_script != nullptr;
    if (m_script) {
        m_projectFileName = QString::fromStdString(m_script->fileName());
    } else if (m_initialise) {
        m_script = m_initialise();
        if (!m_script)
            return;
    } else {
        if (initialiseDialog()->exec() != QDialog::Accepted || !m_script)
            return;
    }
    SessionRequest request;
    request.script = *m_script;
    request.overrides = std::exchange(m_overrides, {});
    const bool overridden = !request.overrides.empty();
    // A project that runs without a store keeps its generations for a store saved later.
    request.keepHistory = true;
    try {
        m_run = RunSession::open(std::move(request), m_settings, m_table);
    } catch (const std::exception& error) {
        failLoad(QString::fromStdString(error.what()));
        return;
    }
    m_savedText.reset();
    if (fromFile)
        m_savedText = m_script->text();
    // The dialogs and the runs read the project as it runs; its file still lacks the
    // overrides, which Save would write.
    if (overridden)
        *m_script = m_run->script();
    attachRun();
    showProject();
}

void TMainForm::attachRun()
{
    FrontEnd frontEnd;
    frontEnd.observer = this;
    frontEnd.sync = &m_sync;
    frontEnd.script = m_script.get();
    // Failure lines come from the run's thread; the console window shows them.
    frontEnd.notice = [this](const std::string& line) {
        const QString text = QString::fromStdString(line);
        QMetaObject::invokeMethod(
            this, [this, text] { console()->RichEdit1->appendPlainText(text); },
            Qt::QueuedConnection);
    };
    m_run->attach(std::move(frontEnd));
}

void TMainForm::showProject()
{
    ResultContext windows{m_mdi, *project().zyl, m_settings, project().plots,
                          [this](const QString& text) { showMessage("warning", text); },
                          [this] {
                              if (m_running || !project().zyl)
                                  return;
                              Run->setEnabled(true);
                              Run->trigger();
                          }};
    // A typed value counts for max_evaluations, and a store keeps it at once.
    windows.valueTyped = [this](int index) {
        ++m_run->stop().evaluations;
        try {
            m_run->valueTyped(index);
        } catch (const std::exception& error) {
            showMessage(QStringLiteral("warning"), QString::fromStdString(error.what()));
        }
    };
    windows.dialogFolder = std::make_shared<DesktopSettings>();
    if (project().zyl->multiObjective())
        windows.paretoSnapshot = [this](ParetoSnapshot& snapshot) {
            snapshot = frontSnapshot(*project().zyl);
        };
    m_windows = std::make_unique<ResultWindows>(std::move(windows));
    setProjectCommands(true);
    // Nothing of an earlier project's runs belongs to this one.
    m_runPanel->setText(QStringLiteral("Ready."));
    updateStandingHint();
}

void TMainForm::OpenExecute()
{
    DesktopSettings settings;
    const QString name =
        QFileDialog::getOpenFileName(this, QString(), settings.lastFolder(), openFilter);
    if (name.isEmpty())
        return;
    settings.rememberFolder(name);
    openFile(name);
}

void TMainForm::openFile(const QString& fileName)
{
    if (!Open->isEnabled() || !QFileInfo::exists(fileName))
        return;
    m_projectFileName = fileName;
    const QString extension = extensionOf(fileName);
    if (extension == QLatin1String(".txt")) {
        loadAndRun(fileName);
    } else if (extension == QLatin1String(".zyl")) {
        openStore(fileName);
    } else {
        showMessage(QStringLiteral("information"), QStringLiteral("Unknown file extension."));
    }
}

void TMainForm::SaveExecute()
{
    if (m_projectFileName.isEmpty()) {
        Saveas->trigger();
        return;
    }
    saveTo(m_projectFileName);
}

bool TMainForm::saveTo(const QString& fileName)
{
    const QString extension = extensionOf(fileName);
    if (extension == QLatin1String(".zyl"))
        return saveStore(fileName);
    if (extension != QLatin1String(".txt")) {
        showMessage(QStringLiteral("information"), QStringLiteral("Unknown file extension."));
        return false;
    }
    if (!m_script)
        return false;
    const std::string previous = m_script->fileName();
    try {
        m_script->SetFileName(fileName.toStdString());
        m_script->UpdateFile();
    } catch (const std::exception&) {
        m_script->SetFileName(previous);
        showMessage(QStringLiteral("error"), QStringLiteral("Cannot create file %1").arg(fileName));
        return false;
    }
    m_savedText = m_script->text();
    addRecentFile(fileName);
    return true;
}

QString TMainForm::withFilterExtension(const QString& fileName, const QString& filter)
{
    // The name as typed counts when it has an extension of its own, even one ZYL refuses.
    if (fileName.isEmpty() || !extensionOf(fileName).isEmpty())
        return fileName;
    const int star = filter.indexOf(QLatin1String("*."));
    const int end = filter.indexOf(QLatin1Char(')'), star);
    if (star < 0 || end < 0)
        return fileName;
    return fileName + filter.mid(star + 1, end - star - 1);
}

void TMainForm::SaveasExecute()
{
    DesktopSettings settings;
    QString filter;
    const QString name = withFilterExtension(
        QFileDialog::getSaveFileName(this, QString(), settings.lastFolder(), scriptFilter, &filter),
        filter);
    if (name.isEmpty())
        return;
    settings.rememberFolder(name);
    saveAsFile(name);
}

void TMainForm::saveAsFile(const QString& fileName)
{
    // As Save does it: only while Save may be executed.
    if (Save->isEnabled() && saveTo(fileName))
        m_projectFileName = fileName;
}

bool TMainForm::projectModified() const
{
    if (!m_run || !m_script)
        return false;
    // The store a project records into holds it already; Save could write nothing more.
    if (StoredSession* stored = m_run->stored();
        stored && QFileInfo(m_projectFileName) ==
                      QFileInfo(QString::fromStdString(stored->store().path())))
        return false;
    return !m_savedText || *m_savedText != m_script->text();
}

bool TMainForm::maySetProjectAside()
{
    if (!projectModified())
        return true;
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        this, programCaption(),
        QStringLiteral("The project has changes that are not saved.\nSave them?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Discard)
        return true;
    if (answer != QMessageBox::Save)
        return false;
    SaveExecute();
    // A Save as cancelled, or a save that failed, keeps the project.
    return !projectModified();
}

void TMainForm::openStore(const QString& fileName)
{
    // The run goes on in the folder it started in: this name must not depend on the current one.
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    m_projectFileName = absolute;
    SessionRequest request;
    StoreRequest& store = request.store.emplace();
    store.storePath = absolute.toStdString();
    store.resume = true;
    request.overrides = std::exchange(m_overrides, {});
    try {
        m_run = RunSession::open(std::move(request), m_settings, m_table);
    } catch (const std::exception& error) {
        // As after any failed load: nothing of it stays, the store is left as it was.
        m_run.reset();
        m_table.clear();
        m_table.registerBuiltinSymbols();
        failLoad(QString::fromStdString(error.what()));
        return;
    }
    StoredSession& stored = *m_run->stored();
    m_script = std::make_unique<ProjectScript>(stored.script);
    m_savedText = m_script->text();
    attachRun();
    showProject();
    addRecentFile(absolute);
    showStoredRun(
        stored.statistics.size(), [&stored](std::size_t k) -> const auto& {
            return stored.statistics[k];
        },
        stored.stop);
}

void TMainForm::showStoredRun(
    std::size_t count, const std::function<const std::vector<StatisticsRow>&(std::size_t)>& rows,
    const StopRuleState& stop)
{
    // The windows show the run as it was stored: the last generation's statistics (every
    // generation's with the statistic history on, as the window showed them), the population
    // and every plot point.
    if (m_windows) {
        for (std::size_t k = m_settings.statisticHistory || count == 0 ? 0 : count - 1; k < count;
             ++k)
            m_windows->storedStatistics(rows(k));
        m_windows->populationChanged();
        for (std::size_t p = 0; p < project().plots.size(); ++p)
            m_windows->plotUpdated(p);
        m_windows->flush();
    }
    if (stop.finished())
        m_runPanel->setText(QStringLiteral("Stop rule: ") +
                            QString::fromStdString(stop.stopReason));
}

bool TMainForm::saveStore(const QString& fileName)
{
    if (!m_run)
        return false;
    // The store the project records into is always up to date.
    StoredSession* stored = m_run->stored();
    if (stored && QFileInfo(fileName) == QFileInfo(QString::fromStdString(stored->store().path())))
        return true;
    try {
        m_run->saveStore(fileName.toStdString());
    } catch (const std::exception& error) {
        showMessage(QStringLiteral("error"), QString::fromStdString(error.what()));
        return false;
    }
    if (m_script)
        m_savedText = m_script->text();
    addRecentFile(fileName);
    return true;
}

void TMainForm::CloseallExecute()
{
    if (maySetProjectAside())
        closeProject();
}

void TMainForm::closeProject()
{
    m_windows.reset();
    m_run.reset();
    m_watchTimer.stop();
    m_watch.reset();
    Terminate->setEnabled(false);
    TakeOver->setEnabled(false);
    m_mdi->closeAllSubWindows();
    for (QMdiSubWindow* window : m_mdi->subWindowList())
        delete window;
    New->setEnabled(true);
    Open->setEnabled(true);
    Save->setEnabled(false);
    Saveas->setEnabled(false);
    Run->setEnabled(false);
    Options->setEnabled(false);
    Closeall->setEnabled(false);
    ShowConsole->setEnabled(false);
    m_table.clear();
    m_table.registerBuiltinSymbols();
    m_script.reset();
    m_savedText.reset();
    m_projectFileName.clear();
    if (IOconsole) {
        IOconsole->clearText();
        IOconsole->hide();
    }
    m_runPanel->setText(QStringLiteral("Ready."));
    updateStandingHint();
}

void TMainForm::CommandLineExecute()
{
    if (m_arguments.size() == 1)
        commandLineStart(m_arguments.front());
}

void TMainForm::commandLineStart(const QString& argument)
{
    QString name = argument;
    if (QFileInfo(argument).fileName() == argument)
        name = QFileInfo(argument).absoluteFilePath();
    if (!QFileInfo::exists(name)) {
        m_overrides.clear();
        showMessage(QStringLiteral("warning"),
                    QStringLiteral("File:\n") + name + QStringLiteral("\ndoes not exist."));
        return;
    }
    // A run store opens ready for Run to continue it.
    if (extensionOf(argument) == QLatin1String(".zyl")) {
        openFile(name);
        return;
    }
    loadAndRun(name);
}

void TMainForm::loadAndRun(const QString& fileName)
{
    try {
        m_script = std::make_unique<ProjectScript>(fileName.toStdString());
        m_script->StripBlanks();
    } catch (const std::exception& error) {
        failLoad(QString::fromStdString(error.what()));
        return;
    }
    // A misspelt key or section would otherwise run as if it were absent. The console, not a
    // box: the run starts all the same.
    std::vector<std::string> notices = unknownNameNotices(*m_script);
    for (std::string& notice : overrideNotices(m_overrides))
        notices.push_back(std::move(notice));
    if (!notices.empty()) {
        TIOconsole* window = console();
        for (const std::string& notice : notices)
            window->RichEdit1->appendPlainText(QString::fromStdString(notice));
        window->show();
    }
    NewExecute();
    if (project().zyl) {
        addRecentFile(fileName);
        if (m_script->ReadBool("SHOW", "arrange", false))
            WindowTileVertical1->trigger();
        Run->trigger();
    }
}

} // namespace zyl
