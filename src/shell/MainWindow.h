#pragma once

#include "engine/RunHooks.h"
#include "engine/StopRules.h"
#include "project/Loader.h"
#include "script/ProjectScript.h"
#include "script/ProjectSettings.h"
#include "script/ScriptOverrides.h"
#include "session/RunSession.h"
#include "shell/RunController.h"
#include "store/StoreWatch.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMdiArea>
#include <QPointer>
#include <QTimer>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>

class QMimeData;

namespace zyl {

class TaskThread;
class TAboutBox;
class TOKBottomDlg;
class TOKBottomDlg1;
class TIOconsole;
class ResultWindows;

/// The multiple-document main window: the commands (MainCommands.cpp), the project's files
/// (ProjectFiles.cpp), the run control and the status bar (RunControl.cpp), the watch of a
/// store another process writes (WatchControl.cpp). The project and its runs are a RunSession,
/// a watched project a StoreWatch; the symbol table and the settings live as long as the
/// window does.
class TMainForm : public QMainWindow, public WatchObserver {
    Q_OBJECT
public:
    /// `arguments` are the command-line arguments after the program name.
    explicit TMainForm(QStringList arguments = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The commands, with the captions, hints and shortcuts the menus and toolbar show.
    QAction* New;
    QAction* Open;
    /// Opens a run store that another process writes, read-only, and follows it.
    QAction* Watch;
    /// A watched run whose writer stopped without finishing goes on here (the store opened
    /// for writing as Open opens it).
    QAction* TakeOver;
    QAction* Closeall;
    QAction* Save;
    QAction* Saveas;
    QAction* Run;
    QAction* Terminate;
    QAction* Options;
    /// Opens the expression console beside the project's windows, with what the runs wrote.
    QAction* ShowConsole;
    QAction* About;
    QAction* Exit;
    QAction* CommandLine;
    QAction* WindowCascade1;
    QAction* WindowTileHorizontal1;
    QAction* WindowTileVertical1;
    QAction* WindowMinimizeAll1;
    QAction* WindowArrangeAll1;

    /// Opens a script file as the Open command does once its dialog has given a name.
    void openFile(const QString& fileName);
    /// Saves as the Save as command does once its dialog has given a name; a name that
    /// cannot be saved to is not kept.
    void saveAsFile(const QString& fileName);
    /// `fileName` with the extension of the file dialog's `filter` when it has none.
    static QString withFilterExtension(const QString& fileName, const QString& filter);
    /// Whether the project holds what its file does not: a project never saved, or a script
    /// changed since it was read or saved.
    bool projectModified() const;
    /// The command-line start with one argument.
    void commandLineStart(const QString& argument);
    /// The command line's `--set`: written over the script (or checked against the run store)
    /// that the command line opens, and over no later project.
    void setCommandLineOverrides(std::vector<ScriptOverride> overrides)
    {
        m_overrides = std::move(overrides);
    }
    /// Watches a run store as Watch run store does once its dialog has given a name.
    void watchFile(const QString& fileName);
    /// The store to watch once the window is first shown (`zyl --watch STORE`).
    void watchOnStart(const QString& fileName) { m_watchOnStart = fileName; }
    /// How often a watched store is looked at.
    static constexpr int watchInterval = 500; // milliseconds

    // State, for the windows and for tests.
    SymbolTable& symbolTable() { return m_table; }
    ProjectSettings& settings() { return m_settings; }
    ProjectScript* script() { return m_script.get(); }
    ZYL* engine() { return m_run ? &m_run->zyl() : m_watch ? &m_watch->zyl() : nullptr; }
    std::vector<UserPlot>& plots() { return project().plots; }
    /// The stop rules' state of the project (a finished task holds why it ended).
    const StopRuleState& stopState() const;
    /// The run store the project was opened from and records into; null for a script.
    StoredSession* session() const { return m_run ? m_run->stored() : nullptr; }
    /// The store watched; null when no store is.
    StoreWatch* watch() const { return m_watch.get(); }
    const QString& projectFileName() const { return m_projectFileName; }
    bool running() const { return m_running; }
    QMdiArea* mdiArea() const { return m_mdi; }
    QString statusHint() const { return m_hintPanel->text(); }
    QString statusRun() const { return m_runPanel->text(); }
    TOKBottomDlg* initialiseDialog();
    TOKBottomDlg1* optionsDialog();
    TIOconsole* console();
    /// Replaces the Initialise dialog for New without a script (tests); null when cancelled.
    void setInitialiseDialog(std::function<std::unique_ptr<ProjectScript>()> dialog)
    {
        m_initialise = std::move(dialog);
    }
    /// Shows a message box; replaceable so that tests can collect the texts.
    std::function<void(const QString& kind, const QString& text)> showMessage;

    /// "Calculating d day(s), h hour(s), m minute(s), s second(s)" for a run of `seconds`.
    static QString elapsedText(long long seconds);
    /// The first status panel between hints once a task has `reached` its generation `limit`.
    static QString generationLimitText(int reached, int limit);
    /// The first status panel between hints while a manual task waits for typed values.
    static QString manualValuesText();

    // RunObserver: what the run shows (on the GUI thread).
    void warning(const std::string& text) override;
    void evaluatedValue(int index) override;
    void buffered(const Indiv& entry) override;
    void statistics() override;
    void plotUpdated(std::size_t plot) override;
    void populationChanged() override;
    // WatchObserver: what a watched store shows.
    void storedGeneration(const GenerationRecord& generation) override;
    void writerChanged() override;
    /// The result windows of the loaded project; null without one.
    ResultWindows* resultWindows() const { return m_windows.get(); }

    /// The Window menu: the window commands, then the open child windows.
    QMenu* windowMenu() const { return m_windowMenu; }
    /// The File menu's list of recent files; choosing a file that is gone removes it.
    QMenu* recentMenu() const { return m_recentMenu; }

signals:
    /// A run has ended and the controls are restored.
    void runFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void createActions();
    void createMenusAndToolbar();
    void updateWindowMenu();
    void updateRecentMenu();
    void addRecentFile(const QString& fileName);
    void openRecentFile(const QString& fileName);
    /// The one local file a drag carries, when Open may take it; empty otherwise.
    QString droppedFile(const QMimeData* data) const;
    void NewExecute();
    void OpenExecute();
    void SaveExecute();
    void SaveasExecute();
    void CloseallExecute();
    void RunExecute();
    void TerminateExecute();
    void OptionsExecute();
    void ShowConsoleExecute();
    void AboutExecute();
    void CommandLineExecute();
    void WatchExecute();
    void TakeOverExecute();
    /// One look at the watched store (the timer's).
    void watchTick();
    /// Terminate while watching: asks the writer to stop, once the user has agreed.
    void terminateWatchedRun();
    /// The status panel and the commands after the watched writer's status.
    void showWatchStatus();
    /// Shows what a store held when opened: every generation's statistics rows (`rows(k)`,
    /// k < `count`) as the history setting asks, the population, the plots, and why a stop
    /// rule ended the task.
    void showStoredRun(std::size_t count,
                       const std::function<const std::vector<StatisticsRow>&(std::size_t)>& rows,
                       const StopRuleState& stop);
    void Timer1Timer();
    /// Sets what the first status panel shows between hints from the state of the task.
    void updateStandingHint();
    void runEnded();
    /// What the second panel says once a run has ended.
    QString runEndText() const;
    void failLoad(const QString& message);
    /// Before the project is closed: a changed one is saved, discarded or kept as the user
    /// answers. True when it may go.
    bool maySetProjectAside();
    /// Close all's steps, once the user has agreed.
    void closeProject();
    /// Save's work on one name; true when the project was written.
    bool saveTo(const QString& fileName);
    /// Reads a script file, loads it and starts its run (Open and the command line).
    void loadAndRun(const QString& fileName);
    void setProjectCommands(bool loaded);
    /// Joins the loaded project's runs to this window, its console and its thread.
    void attachRun();
    /// The result windows of the loaded project and the commands it enables.
    void showProject();
    /// Opens a run store (Open and the command line of a ".zyl" file).
    void openStore(const QString& fileName);
    /// Writes the project as a run store (Save and Save as with ".zyl").
    bool saveStore(const QString& fileName);
    LoadedProject& project()
    {
        return m_run ? m_run->project() : m_watch ? m_watch->project() : m_noProject;
    }

    TAboutBox* AboutBox = nullptr;
    TOKBottomDlg* OKBottomDlg = nullptr;
    TOKBottomDlg1* OKBottomDlg1 = nullptr;
    TIOconsole* IOconsole = nullptr;

    QStringList m_arguments;
    QMdiArea* m_mdi;
    QMenu* m_windowMenu = nullptr;
    QMenu* m_recentMenu = nullptr;
    QList<QAction*> m_windowEntries;
    QLabel* m_hintPanel;
    QLabel* m_runPanel;
    /// Shown in the first panel when no hint is.
    QString m_standing;
    QTimer m_timer;
    bool m_shown = false;

    SymbolTable m_table;
    ProjectSettings m_settings;
    /// The script the dialogs edit; the runs read it as it stands.
    std::unique_ptr<ProjectScript> m_script;
    /// The project, its store and its runs; null without one.
    std::unique_ptr<RunSession> m_run;
    /// The project a watched store holds (never with m_run), and its looks at the store.
    std::unique_ptr<StoreWatch> m_watch;
    QTimer m_watchTimer;
    QString m_watchOnStart;
    LoadedProject m_noProject;
    StopRuleState m_noStop;
    QtSynchronizer m_sync{this};
    // After the project: the windows show it, so they go first.
    std::unique_ptr<ResultWindows> m_windows;
    QString m_projectFileName;
    /// The script as its file holds it (read or saved last); none for a project never saved.
    std::optional<std::string> m_savedText;
    std::function<std::unique_ptr<ProjectScript>()> m_initialise;
    /// What the command line sets over the script it names, until that project is opened.
    std::vector<ScriptOverride> m_overrides;

    QPointer<TaskThread> m_task;
    bool m_running = false;
    bool m_closePending = false;
    /// The closing needs no question: the user answered one, or the script asked to close.
    bool m_closeAgreed = false;
    bool m_terminateAsked = false;
    std::time_t m_startTime = 0;
};

} // namespace zyl
