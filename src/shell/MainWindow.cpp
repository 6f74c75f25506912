#include "shell/MainWindow.h"

#include "engine/backends/Backends.h"
#include "shell/AboutBox.h"
#include "shell/AppIcon.h"
#include "shell/ConsoleWindow.h"
#include "shell/DesktopSettings.h"
#include "shell/HintPanel.h"
#include "shell/InitialiseDialog.h"
#include "shell/Messages.h"
#include "shell/OptionsDialog.h"
#include "shell/RunController.h"
#include "script/KnownNames.h"
#include "store/RunRecorder.h"
#include "store/StoredValues.h"
#include "windows/StatisticsWindow.h"
#include "windows/MdiLayout.h"
#include "windows/ResultWindows.h"

#include "common/Exception.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QToolBar>

#include <algorithm>
#include <cstdio>

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

// The run's thread submits the scheduler jobs; the store belongs to the GUI thread, so each
// record is made there while the run's thread waits.
class GuiJobLedger : public JobLedger {
public:
    GuiJobLedger(QObject* gui, JobLedger& inner) : m_gui(gui), m_inner(inner) {}
    std::int64_t jobSubmitting(const SchedulerJob& job) override
    {
        std::int64_t key = 0;
        QtSynchronizer(m_gui).run([&] { key = m_inner.jobSubmitting(job); });
        return key;
    }
    void jobSubmitted(std::int64_t key, const std::string& id) override
    {
        QtSynchronizer(m_gui).run([&] { m_inner.jobSubmitted(key, id); });
    }
    void jobEnded(std::int64_t key) override
    {
        QtSynchronizer(m_gui).run([&] { m_inner.jobEnded(key); });
    }

private:
    QObject* m_gui;
    JobLedger& m_inner;
};

} // namespace

TMainForm::TMainForm(QStringList arguments, QWidget* parent)
    : QMainWindow(parent), m_arguments(std::move(arguments)), m_mdi(new QMdiArea(this)),
      m_hintPanel(nullptr), m_runPanel(new QLabel(QStringLiteral("Ready."), this)),
      m_rng(static_cast<std::uint64_t>(std::time(nullptr)))
{
    setWindowTitle(QStringLiteral("ZYL"));
    resize(376, 301);
    setCentralWidget(m_mdi);
    m_table.registerBuiltinSymbols();

    showMessage = [this](const QString& kind, const QString& text) {
        if (kind == QLatin1String("information"))
            informationBox(this, text);
        else if (kind == QLatin1String("error"))
            errorBox(this, text);
        else
            warningBox(this, text);
    };
    createActions();
    // The first panel is as wide as the longest of the commands' hints and of what it says
    // about the task, and stays so.
    QStringList hints{generationLimitText(30000, 30000), manualValuesText()};
    for (const QAction* command : findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly))
        hints << command->statusTip();
    m_hintPanel = new HintPanel(hints, this);
    m_runPanel->setMinimumWidth(50);
    statusBar()->addWidget(m_hintPanel);
    statusBar()->addWidget(m_runPanel, 1);
    createMenusAndToolbar();
    // Where the user left it last time; the first start keeps the size above.
    DesktopSettings().restoreWindow(*this);
    setAcceptDrops(true);
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

TMainForm::~TMainForm()
{
    // A window destroyed without closing (a test, say) still must not leave a worker behind.
    // The worker may be waiting for a step on this thread: those steps are served until it
    // has ended, or the two threads would wait for each other for ever. Its end-of-run
    // handling is not for a window that is going.
    if (m_task) {
        disconnect(m_task, nullptr, this, nullptr);
        m_task->abortRun();
        while (!m_task->wait(QDeadlineTimer(5)))
            QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}

void TMainForm::createActions()
{
    auto make = [this](const QString& caption, const QString& tip, const QString& status,
                       const QKeySequence& shortcut, bool enabled, void (TMainForm::*handler)()) {
        auto* action = new QAction(caption, this);
        action->setToolTip(tip);
        action->setStatusTip(status);
        if (!shortcut.isEmpty())
            action->setShortcut(shortcut);
        action->setEnabled(enabled);
        if (handler)
            connect(action, &QAction::triggered, this, [this, action, handler] {
                // A disabled command does nothing, also when another handler triggers it.
                if (action->isEnabled())
                    (this->*handler)();
            });
        return action;
    };
    New = make("New...", "New", "Creatre a new project", QKeySequence("Ctrl+N"), true,
               &TMainForm::NewExecute);
    Open = make("Open...", "Open", "Open a project", QKeySequence("Ctrl+O"), true,
                &TMainForm::OpenExecute);
    // Close all has no shortcut on purpose: it drops the project without asking.
    Closeall = make("&Close all", "Close the project", "Close the project", {}, false,
                    &TMainForm::CloseallExecute);
    Save = make("Save", "Save", "Save the project", QKeySequence("Ctrl+S"), false,
                &TMainForm::SaveExecute);
    Saveas = make("Save &as...", "Save as", "Save the project with a different name",
                  QKeySequence("Ctrl+Shift+S"), false, &TMainForm::SaveasExecute);
    Run = make("&Run", "Run", "Run optimisation process", QKeySequence("Ctrl+R"), false,
               &TMainForm::RunExecute);
    Terminate = make("Terminate", "Terminate", "Terminate optimisation process",
                     QKeySequence("Ctrl+T"), false, &TMainForm::TerminateExecute);
    Options = make("&Options...", "Options", "Set options", QKeySequence("Ctrl+P"), false,
                   &TMainForm::OptionsExecute);
    About = make("A&bout...", "Display informations", "Display informations", {}, true,
                 &TMainForm::AboutExecute);
    Exit = make("Exit", "Exit application", "Exit application", QKeySequence("Alt+F4"), true,
                nullptr);
    connect(Exit, &QAction::triggered, this, [this] { close(); });
    CommandLine = make("CommandLine", "", "", {}, true, &TMainForm::CommandLineExecute);
    WindowCascade1 = make("&Cascade", "Cascade", "Cascade", {}, true, nullptr);
    connect(WindowCascade1, &QAction::triggered, m_mdi, &QMdiArea::cascadeSubWindows);
    WindowTileHorizontal1 =
        make("Tile &Horizontally", "Tile Horizontally", "Tile Horizontally", {}, true, nullptr);
    connect(WindowTileHorizontal1, &QAction::triggered, this,
            [this] { tileWindows(m_mdi, /*inRows=*/true); });
    WindowTileVertical1 =
        make("Tile &Vertically", "Tile Vertically", "Tile Vertically", {}, true, nullptr);
    connect(WindowTileVertical1, &QAction::triggered, this,
            [this] { tileWindows(m_mdi, /*inRows=*/false); });
    WindowMinimizeAll1 = make("&Minimize All", "Minimize All", "Minimize All", {}, true, nullptr);
    connect(WindowMinimizeAll1, &QAction::triggered, this, [this] {
        for (QMdiSubWindow* w : m_mdi->subWindowList())
            w->showMinimized();
    });
    WindowArrangeAll1 = make("&Arrange All", "Arrange All", "Arrange All", {}, true, nullptr);
    connect(WindowArrangeAll1, &QAction::triggered, this, [this] { arrangeIcons(m_mdi); });

    // Pictures for the toolbar, so that all its commands fit the window at its first size; the
    // theme's where the desktop has one, else the style's own.
    auto icon = [this](const char* themeName, QStyle::StandardPixmap fallback) {
        return QIcon::fromTheme(QString::fromLatin1(themeName), style()->standardIcon(fallback));
    };
    New->setIcon(icon("document-new", QStyle::SP_FileIcon));
    Open->setIcon(icon("document-open", QStyle::SP_DialogOpenButton));
    Save->setIcon(icon("document-save", QStyle::SP_DialogSaveButton));
    const QStyle* look = style();
    WindowCascade1->setIcon(look->standardIcon(QStyle::SP_TitleBarNormalButton));
    // Drawn for the purpose: the style has no tiling pictures, and its overflow arrows would
    // look like the toolbar's own overflow button.
    WindowTileHorizontal1->setIcon(resourceIcon(QStringLiteral("tile-horizontal.svg")));
    WindowTileVertical1->setIcon(resourceIcon(QStringLiteral("tile-vertical.svg")));
    Run->setIcon(icon("media-playback-start", QStyle::SP_MediaPlay));
    Terminate->setIcon(icon("media-playback-stop", QStyle::SP_MediaStop));
    Options->setIcon(icon("preferences-system", QStyle::SP_FileDialogDetailedView));
}

void TMainForm::createMenusAndToolbar()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->menuAction()->setStatusTip(QStringLiteral("File related commands"));
    file->addActions({New, Open});
    m_recentMenu = file->addMenu(QStringLiteral("Recent &files"));
    file->addActions({Closeall, Save, Saveas});
    file->addSeparator();
    file->addActions({Run, Terminate, Options});
    file->addSeparator();
    file->addAction(About);
    file->addSeparator();
    file->addAction(Exit);
    m_windowMenu = menuBar()->addMenu(QStringLiteral("&Window"));
    m_windowMenu->menuAction()->setStatusTip(QStringLiteral("Window related commands"));
    m_windowMenu->addActions({WindowCascade1, WindowTileHorizontal1, WindowTileVertical1,
                              WindowMinimizeAll1, WindowArrangeAll1});
    connect(m_windowMenu, &QMenu::aboutToShow, this, &TMainForm::updateWindowMenu);
    addAction(CommandLine);

    QToolBar* tools = addToolBar(QStringLiteral("Commands"));
    tools->setObjectName(QStringLiteral("Commands"));
    tools->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tools->setIconSize(QSize(16, 16));
    tools->addActions({New, Open, Save});
    tools->addSeparator();
    tools->addActions({WindowCascade1, WindowTileHorizontal1, WindowTileVertical1});
    tools->addSeparator();
    tools->addActions({Run, Terminate, Options});

    // A command's hint belongs to the command under the mouse: once a menu closes or the
    // mouse leaves the toolbar, the panel says again where the task stands.
    for (QMenu* menu : {file, m_windowMenu, m_recentMenu})
        connect(menu, &QMenu::aboutToHide, this, [this] { m_hintPanel->setText(m_standing); });
    tools->installEventFilter(this);

    // The recent files can be opened whenever Open can.
    connect(Open, &QAction::changed, this, [this] {
        m_recentMenu->menuAction()->setEnabled(Open->isEnabled() &&
                                               !m_recentMenu->actions().isEmpty());
    });
    updateRecentMenu();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Leave && qobject_cast<QToolBar*>(watched))
        m_hintPanel->setText(m_standing);
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::updateWindowMenu()
{
    // The open child windows follow the commands, numbered for the keyboard; the active one
    // is checked, and choosing one brings it back if it was minimised.
    for (QAction* entry : m_windowEntries) {
        m_windowMenu->removeAction(entry);
        entry->deleteLater();
    }
    m_windowEntries.clear();
    const QList<QMdiSubWindow*> windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    m_windowEntries << m_windowMenu->addSeparator();
    for (int i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* window = windows[i];
        const QString title = window->widget() ? window->widget()->windowTitle() : QString();
        const QString caption = i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(title)
                                      : QStringLiteral("%1 %2").arg(i + 1).arg(title);
        QAction* entry = m_windowMenu->addAction(caption);
        entry->setCheckable(true);
        entry->setChecked(window == m_mdi->activeSubWindow());
        connect(entry, &QAction::triggered, this, [this, guarded = QPointer(window)] {
            if (!guarded)
                return;
            if (guarded->isMinimized())
                guarded->showNormal();
            m_mdi->setActiveSubWindow(guarded);
        });
        m_windowEntries << entry;
    }
}

bool TMainForm::event(QEvent* event)
{
    // The long part of a command's hint goes to the first status panel; without one the panel
    // says where the task stands.
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        m_hintPanel->setText(tip.isEmpty() ? m_standing : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        if (m_arguments.size() == 1)
            QTimer::singleShot(0, this, [this] { CommandLine->trigger(); });
    }
}

void TMainForm::setProjectCommands(bool loaded)
{
    New->setEnabled(!loaded);
    Open->setEnabled(!loaded);
    Save->setEnabled(loaded);
    Saveas->setEnabled(loaded);
    Options->setEnabled(loaded);
    Closeall->setEnabled(loaded);
    Run->setEnabled(loaded && m_settings.functionMode != FunctionMode::Manual);
}

void TMainForm::failLoad(const QString& message)
{
    showMessage(QStringLiteral("warning"), message);
    m_project = LoadedProject{};
    m_history.reset();
    m_session.reset();
    m_script.reset();
    m_projectFileName.clear();
}

void TMainForm::NewExecute()
{
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
    try {
        m_project = loadProject(*m_script, m_settings, m_table, m_rng);
    } catch (const std::exception& error) {
        failLoad(QString::fromStdString(error.what()));
        return;
    }
    m_stop = {};
    m_clock = RunClock();
    m_history.emplace(m_script->ReadString("EXPORT_NAMES", "export_name", ""),
                      m_settings.exportEveryIteration);
    showProject();
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
        ++stopRules().evaluations;
        if (!m_session)
            return;
        try {
            m_session->recorder().valueTyped(index);
        } catch (const std::exception& error) {
            showMessage(QStringLiteral("warning"), QString::fromStdString(error.what()));
        }
    };
    windows.dialogFolder = std::make_shared<DesktopSettings>();
    m_windows = std::make_unique<ResultWindows>(std::move(windows));
    setProjectCommands(true);
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
    const QString extension = extensionOf(m_projectFileName);
    if (extension == QLatin1String(".txt")) {
        if (!m_script)
            return;
        try {
            m_script->SetFileName(m_projectFileName.toStdString());
            m_script->UpdateFile();
            addRecentFile(m_projectFileName);
        } catch (const std::exception&) {
            showMessage(QStringLiteral("error"),
                        QStringLiteral("Cannot create file %1").arg(m_projectFileName));
        }
    } else if (extension == QLatin1String(".zyl")) {
        saveStore(m_projectFileName);
    } else {
        showMessage(QStringLiteral("information"), QStringLiteral("Unknown file extension."));
    }
}

void TMainForm::SaveasExecute()
{
    DesktopSettings settings;
    const QString name =
        QFileDialog::getSaveFileName(this, QString(), settings.lastFolder(), scriptFilter);
    if (name.isEmpty())
        return;
    settings.rememberFolder(name);
    saveAsFile(name);
}

void TMainForm::saveAsFile(const QString& fileName)
{
    m_projectFileName = fileName;
    Save->trigger();
}

void TMainForm::openStore(const QString& fileName)
{
    // The run goes on in the folder it started in: this name must not depend on the current one.
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    m_projectFileName = absolute;
    StoreRequest request;
    request.storePath = absolute.toStdString();
    request.resume = true;
    try {
        m_session = StoredSession::open(request, m_settings, m_table);
    } catch (const std::exception& error) {
        // As after any failed load: nothing of it stays, the store is left as it was.
        m_session.reset();
        m_table.clear();
        m_table.registerBuiltinSymbols();
        failLoad(QString::fromStdString(error.what()));
        return;
    }
    m_script = std::make_unique<ProjectScript>(m_session->script);
    m_recording = std::make_unique<RecordingObserver>(m_session->recorder(), *this,
                                                      *m_session->project.zyl, m_settings);
    m_recording->setStopHandler([this] {
        if (m_task)
            m_task->terminateRun();
    });
    // The programs of the generation in progress that had finished are not run again.
    if (!m_session->finishedEvaluations.empty() &&
        m_settings.functionMode == FunctionMode::External) {
        m_storedValues = std::make_unique<StoredValuesBackend>(
            *m_session->project.zyl, m_settings, nullptr, m_session->finishedEvaluations);
        m_recording->setRecorded(m_session->finishedEvaluations);
    }
    showProject();
    addRecentFile(absolute);
    // The windows show the run as it was stored: the last generation's statistics, the
    // population and every plot point.
    if (m_windows) {
        if (m_windows->statisticsWindow() && !m_session->statistics.empty()) {
            // With the statistic history on, the window showed every generation.
            if (m_settings.statisticHistory)
                for (const std::vector<StatisticsRow>& rows : m_session->statistics)
                    m_windows->statisticsWindow()->showRows(rows);
            else
                m_windows->statisticsWindow()->showRows(m_session->statistics.back());
        }
        m_windows->populationChanged();
        for (std::size_t p = 0; p < project().plots.size(); ++p)
            m_windows->plotUpdated(p);
        m_windows->flush();
    }
    if (m_session->stop.finished())
        m_runPanel->setText(QStringLiteral("Stop rule: ") +
                            QString::fromStdString(m_session->stop.stopReason));
}

void TMainForm::saveStore(const QString& fileName)
{
    const std::string path = fileName.toStdString();
    try {
        if (m_session) {
            // The store the project records into is always up to date.
            if (QFileInfo(fileName) == QFileInfo(QString::fromStdString(m_session->store().path())))
                return;
            // A consistent copy of the store, whatever this project has recorded so far (no
            // commit half done).
            m_session->recorder().settle();
            m_session->store().copyTo(path);
        } else {
            if (!project().zyl || !m_script)
                return;
            // Written beside the file and renamed over it, so that a failure leaves the file
            // that was there.
            const std::string part = path + ".part";
            std::remove(part.c_str());
            RunHeader header =
                makeRunHeader(*m_script, m_settings, m_project, std::nullopt, m_script->fileName());
            RecordedRun run{*m_project.zyl, m_settings, m_table, m_project.plots,
                            m_rng,          m_stop,     m_clock};
            std::vector<GenerationRecord> history;
            if (m_history) {
                history = m_history->records(m_settings.showBuffered);
                header.exportBase = m_history->exportBase();
            }
            const std::int64_t exportSize = header.exportEveryIteration
                                                ? QFileInfo(QString::fromStdString(
                                                                header.exportName))
                                                      .size()
                                                : 0;
            RunStore::create(part, header, initialSnapshot(run, std::move(history), exportSize));
            if (std::rename(part.c_str(), path.c_str()) != 0) {
                std::remove(part.c_str());
                throw Exception("Cannot create file " + path);
            }
        }
        addRecentFile(fileName);
    } catch (const std::exception& error) {
        showMessage(QStringLiteral("error"), QString::fromStdString(error.what()));
    }
}

const StopRuleState& TMainForm::stopState() const
{
    return m_session ? m_session->stop : m_stop;
}

StopRuleState& TMainForm::stopRules()
{
    return m_session ? m_session->stop : m_stop;
}

RunClock& TMainForm::runClock()
{
    return m_session ? m_session->clock : m_clock;
}

void TMainForm::CloseallExecute()
{
    m_windows.reset();
    m_recording.reset();
    m_storedValues.reset();
    m_session.reset();
    m_history.reset();
    m_stop = {};
    m_clock = RunClock();
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
    m_project.zyl.reset();
    m_table.clear();
    m_table.registerBuiltinSymbols();
    m_script.reset();
    m_projectFileName.clear();
    m_project.plots.clear();
    m_programs.reset();
    m_jobLedger.reset();
    if (IOconsole)
        IOconsole->clearText();
    updateStandingHint();
}

void TMainForm::RunExecute()
{
    if (!project().zyl || !m_script || m_task)
        return;
    // A manual task processes one generation per Run from the first Run on, as zyl-batch does:
    // a second generation in the same run would take the values its members inherited from
    // their parents as if they had been typed.
    if (m_settings.functionMode == FunctionMode::Manual)
        m_settings.loopCounter = 1;
    RunContext context{*project().zyl, m_settings, *m_script, m_table, project().plots};
    try {
        m_programs = programEvaluation();
    } catch (const std::exception& error) {
        showMessage(QStringLiteral("warning"), QString::fromStdString(error.what()));
        return;
    }
    context.backend = m_programs.get();
    if (m_programs && m_session) {
        // Several programs at once: each value is committed as its program ends (on the run's
        // thread, handed to this one, which owns the store), not when the run takes it back.
        m_recording->setRecordsEvaluations(false);
        m_jobLedger = std::make_unique<GuiJobLedger>(this, m_session->recorder());
        m_programs->evaluator().setJobLedger(m_jobLedger.get());
        m_programs->setFinishedHook([this](const EvaluationResult& result) {
            QtSynchronizer(this).run([this, &result] {
                try {
                    m_session->recorder().evaluationFinished(
                        evaluationRecord(result, *m_session->project.zyl));
                } catch (const std::exception& error) {
                    m_recording->reportStoreFailure(error);
                }
            });
        });
    }
    if (m_storedValues) {
        m_storedValues->setInner(m_programs.get());
        context.backend = m_storedValues.get();
    }
    context.stopState = &stopRules();
    context.clock = &runClock();
    runClock().start();
    RunObserver& observer = m_recording ? static_cast<RunObserver&>(*m_recording) : *this;
    auto* thread = new TaskThread(context, this, observer, this);
    m_task = thread;
    m_startTime = std::time(nullptr);
    Run->setEnabled(false);
    Options->setEnabled(false);
    Terminate->setEnabled(true);
    m_timer.start();
    Closeall->setEnabled(false);
    m_running = true;
    updateStandingHint();
    connect(thread, &QThread::finished, this, [this, thread] {
        runEnded();
        thread->deleteLater();
    });
    thread->start();
}

void TMainForm::runEnded()
{
    // The end-of-run handler: a script that asks for it closes the program after every run.
    bool closing = m_closePending;
    if (m_script && m_script->ReadBool("OPTIONS", "close", false)) {
        m_running = false;
        closing = true;
    }
    Closeall->setEnabled(true);
    m_timer.stop();
    Terminate->setEnabled(false);
    Options->setEnabled(true);
    runClock().stop();
    if (m_session) {
        try {
            m_session->recorder().finish();
        } catch (const std::exception& error) {
            if (!m_recording || !m_recording->alreadyReported(error.what()))
                showMessage(QStringLiteral("warning"), QString::fromStdString(error.what()));
        }
    }
    // Why the task ended, when a stop rule ended it; a later Run computes nothing more.
    if (stopRules().finished())
        m_runPanel->setText(QStringLiteral("Stop rule: ") +
                            QString::fromStdString(stopRules().stopReason));
    else
        m_runPanel->setText(QStringLiteral("Ready."));
    if (m_settings.functionMode == FunctionMode::Manual) {
        m_settings.loopCounter = 1;
        Run->setEnabled(false);
    } else {
        Run->setEnabled(true);
    }
    m_running = false;
    m_task = nullptr;
    updateStandingHint();
    // The windows catch up at display rate during a run; at its end they show everything.
    if (m_windows && !closing)
        m_windows->flush();
    emit runFinished();
    if (closing)
        QTimer::singleShot(0, this, [this] { close(); });
}

void TMainForm::TerminateExecute()
{
    if (!m_task)
        return;
    // Programs running side by side (or queued on a cluster) may each take hours: Terminate
    // ends them all, and their individuals stay unevaluated for the next Run. One program at a
    // time is still let finish, as it always was. A term_grace lets them all finish within it.
    if (m_settings.termGrace > 0)
        m_task->terminateRunWithin(m_settings.termGrace);
    else if (m_programs)
        m_task->abortRun();
    else
        m_task->terminateRun();
}

void TMainForm::OptionsExecute()
{
    if (!project().zyl)
        return;
    TOKBottomDlg1* dialog = optionsDialog();
    dialog->setProject(project().zyl.get(), &m_settings.loopCounter, m_script.get());
    if (m_settings.functionMode == FunctionMode::External)
        dialog->setWorkers(&m_settings.workers);
    dialog->setManual(m_settings.functionMode == FunctionMode::Manual);
    dialog->exec();
    dialog->setProject(nullptr, nullptr, nullptr);
    // A new generation limit may let the task go on, or end it.
    updateStandingHint();
}

void TMainForm::AboutExecute()
{
    if (!AboutBox)
        AboutBox = new TAboutBox(this);
    AboutBox->exec();
}

// The dialogs are made when first needed (building them all took a quarter of the start-up),
// and then kept, so that each shows what it showed when it last closed.
TIOconsole* TMainForm::console()
{
    if (!IOconsole)
        IOconsole = new TIOconsole(m_table, [this] { return m_script.get(); }, this);
    return IOconsole;
}

TOKBottomDlg* TMainForm::initialiseDialog()
{
    if (!OKBottomDlg)
        OKBottomDlg = new TOKBottomDlg(m_script, *console(), this);
    return OKBottomDlg;
}

TOKBottomDlg1* TMainForm::optionsDialog()
{
    if (!OKBottomDlg1)
        OKBottomDlg1 = new TOKBottomDlg1(this);
    return OKBottomDlg1;
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
    const std::vector<std::string> notices = unknownNameNotices(*m_script);
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

QString TMainForm::generationLimitText(int reached, int limit)
{
    return QStringLiteral("Generation limit reached: %1 of %2").arg(reached).arg(limit);
}

QString TMainForm::manualValuesText()
{
    return QStringLiteral("Type the \"?\" values in Population");
}

void TMainForm::updateStandingHint()
{
    // A Run at the generation limit ends at once and changes nothing, and a manual task waits
    // for the user: both would look like a program that does not react.
    QString text;
    const ZYL* zyl = project().zyl.get();
    if (zyl && !m_running) {
        const bool awaited =
            std::any_of(zyl->population.begin(), zyl->population.end(),
                        [](const Indiv& individual) { return !individual.evaluated; });
        if (zyl->generation >= zyl->maxIteration)
            text = generationLimitText(zyl->generation, zyl->maxIteration);
        else if (m_settings.functionMode == FunctionMode::Manual && awaited &&
                 !stopRules().finished())
            text = manualValuesText();
    }
    // A new message replaces the hint in view; the end of one leaves the hint alone.
    if (!text.isEmpty() || m_hintPanel->text() == m_standing)
        m_hintPanel->setText(text);
    m_standing = text;
}

QString TMainForm::elapsedText(long long e)
{
    const long long days = e / 86400;
    long long r = e % 86400;
    const long long hours = r / 3600;
    r %= 3600;
    const long long minutes = r / 60;
    const long long seconds = r % 60;
    return QStringLiteral("Calculating %1 day(s), %2 hour(s), %3 minute(s), %4 second(s)")
        .arg(days)
        .arg(hours)
        .arg(minutes)
        .arg(seconds);
}

void TMainForm::Timer1Timer()
{
    QString text = elapsedText(static_cast<long long>(std::time(nullptr) - m_startTime));
    if (m_programs) {
        const EvaluationProgress counts = m_programs->progress();
        text += QStringLiteral("; running %1, queued %2, done %3, failed %4")
                    .arg(counts.running)
                    .arg(counts.queued)
                    .arg(counts.done)
                    .arg(counts.failed);
    }
    m_runPanel->setText(text);
}

std::unique_ptr<ProgramEvaluation> TMainForm::programEvaluation()
{
    const ProjectSettings& settings = m_settings;
    if (!needsBatchEvaluator(settings))
        return nullptr;
    // Failure lines come from the run's thread; the console window shows them.
    QPointer<TIOconsole> console = this->console();
    auto evaluator = makeBatchEvaluator(settings, [console](const std::string& line) {
        const QString text = QString::fromStdString(line);
        QMetaObject::invokeMethod(
            qApp,
            [console, text] {
                if (console)
                    console->RichEdit1->appendPlainText(text);
            },
            Qt::QueuedConnection);
    });
    return std::make_unique<ProgramEvaluation>(std::move(evaluator), project().zyl->generation,
                                               project().zyl->bufferIndividuals);
}

void TMainForm::warning(const std::string& text)
{
    showMessage(QStringLiteral("warning"), QString::fromStdString(text));
}

void TMainForm::evaluatedValue(int index)
{
    if (m_windows)
        m_windows->evaluatedValue(index);
}

void TMainForm::buffered(const Indiv& entry)
{
    if (m_windows)
        m_windows->buffered(entry);
}

void TMainForm::statistics()
{
    if (m_windows)
        m_windows->statistics();
    if (m_history && m_project.zyl)
        m_history->statisticsComputed(*m_project.zyl, m_stop, m_clock);
}

void TMainForm::plotUpdated(std::size_t plot)
{
    if (m_windows)
        m_windows->plotUpdated(plot);
}

void TMainForm::populationChanged()
{
    if (m_windows)
        m_windows->populationChanged();
}

void TMainForm::generationDone()
{
    if (m_history && m_project.zyl)
        m_history->generationDone(*m_project.zyl);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (m_task) {
        // Never wait here: the worker may itself be waiting for this thread. End an external
        // program at once, let the loop stop, and close once the run has ended.
        m_closePending = true;
        m_task->abortRun();
        event->ignore();
        return;
    }
    Closeall->setEnabled(true);
    Closeall->trigger();
    DesktopSettings().saveWindow(*this);
    event->accept();
}

QString TMainForm::droppedFile(const QMimeData* data) const
{
    // One file at a time, as the open dialog gives it; only while Open is possible.
    if (!Open->isEnabled() || !data || !data->hasUrls() || data->urls().size() != 1)
        return {};
    const QUrl url = data->urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event)
{
    const QString fileName = droppedFile(event->mimeData());
    if (fileName.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop is over: the program that dragged it need not wait for the load or
    // a message box.
    QTimer::singleShot(0, this, [this, fileName] { openFile(fileName); });
}

void TMainForm::addRecentFile(const QString& fileName)
{
    DesktopSettings().addRecentFile(fileName);
    updateRecentMenu();
}

void TMainForm::updateRecentMenu()
{
    // The old entries go later: this may run inside the handler of one of them.
    for (QAction* entry : m_recentMenu->actions()) {
        m_recentMenu->removeAction(entry);
        entry->deleteLater();
    }
    const QStringList files = DesktopSettings().recentFiles();
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files[i];
        QAction* entry = m_recentMenu->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(path)));
        entry->setStatusTip(QStringLiteral("Open %1").arg(QDir::toNativeSeparators(path)));
        connect(entry, &QAction::triggered, this, [this, path] { openRecentFile(path); });
    }
    m_recentMenu->menuAction()->setEnabled(Open->isEnabled() && !files.isEmpty());
}

void TMainForm::openRecentFile(const QString& fileName)
{
    if (!QFileInfo::exists(fileName)) {
        DesktopSettings().removeRecentFile(fileName);
        updateRecentMenu();
        showMessage(QStringLiteral("warning"),
                    QStringLiteral("File:\n") + fileName +
                        QStringLiteral("\ndoes not exist.\nIt is removed from the recent files."));
        return;
    }
    openFile(fileName);
}

} // namespace zyl
