#include "shell/MainWindow.h"

#include "shell/AboutBox.h"
#include "shell/ConsoleWindow.h"
#include "shell/DesktopSettings.h"
#include "shell/HintPanel.h"
#include "shell/InitialiseDialog.h"
#include "shell/Messages.h"
#include "shell/OptionsDialog.h"
#include "shell/SignalClose.h"
#include "engine/Objectives.h"
#include "windows/ResultWindows.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>

namespace zyl {

TMainForm::TMainForm(QStringList arguments, QWidget* parent)
    : QMainWindow(parent), m_arguments(std::move(arguments)), m_mdi(new QMdiArea(this)),
      m_hintPanel(nullptr), m_runPanel(new QLabel(QStringLiteral("Ready."), this))
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
    m_watchTimer.setInterval(watchInterval);
    connect(&m_watchTimer, &QTimer::timeout, this, [this] { watchTick(); });
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

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Leave && qobject_cast<QToolBar*>(watched))
        m_hintPanel->setText(m_standing);
    return QMainWindow::eventFilter(watched, event);
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
        else if (!m_watchOnStart.isEmpty())
            QTimer::singleShot(0, this, [this] { watchFile(m_watchOnStart); });
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
    ShowConsole->setEnabled(loaded);
    Run->setEnabled(loaded && m_settings.functionMode != FunctionMode::Manual);
}

void TMainForm::ShowConsoleExecute() { console()->showLinesWhole(); }

void TMainForm::OptionsExecute()
{
    if (!project().zyl)
        return;
    TOKBottomDlg1* dialog = optionsDialog();
    dialog->setProject(project().zyl.get(), &m_settings.loopCounter, m_script.get());
    if (m_settings.functionMode == FunctionMode::External)
        dialog->setWorkers(&m_settings.workers);
    dialog->setManual(m_settings.functionMode == FunctionMode::Manual);
    // The dialog shows the reference point the user chose (the script's), not the one the run
    // chose by itself, which stays in use when the choice goes back to automatic.
    Objectives* objectives = project().zyl->objectives.get();
    std::vector<double> chosen;
    if (objectives && m_script && !m_script->ReadString("OPTIONS", "hv_reference", "").empty())
        chosen = objectives->reference;
    dialog->setObjectives(objectives ? objectives->names : std::vector<std::string>{},
                          objectives ? &chosen : nullptr);
    dialog->exec();
    dialog->setProject(nullptr, nullptr, nullptr);
    dialog->setObjectives({}, nullptr);
    if (objectives && !chosen.empty())
        objectives->reference = chosen;
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

void TMainForm::closeEvent(QCloseEvent* event)
{
    // A signal asks to end now, maybe with nobody at the screen to answer a question.
    if (!m_closeAgreed && closingSignal() == 0) {
        if (!maySetProjectAside()) {
            event->ignore();
            return;
        }
        m_closeAgreed = true;
    }
    if (m_task) {
        // Never wait here: the worker may itself be waiting for this thread. End an external
        // program at once, let the loop stop, and close once the run has ended.
        m_closePending = true;
        m_task->abortRun();
        event->ignore();
        return;
    }
    closeProject();
    DesktopSettings().saveWindow(*this);
    event->accept();
    m_closeAgreed = false;
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

} // namespace zyl
