#pragma once

#include "common/Rng.h"
#include "engine/Evaluation.h"
#include "engine/RunHooks.h"
#include "engine/StopRules.h"
#include "engine/Task.h"
#include "engine/backends/BatchEvaluator.h"
#include "engine/backends/WorkRoot.h"
#include "engine/backends/ProgramEvaluation.h"
#include "project/Loader.h"
#include "script/ProjectScript.h"
#include "script/ProjectSettings.h"
#include "script/ScriptOverrides.h"
#include "store/RunHistory.h"
#include "store/RunRecorder.h"
#include "store/StoredSession.h"
#include "store/StoredValues.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zyl {

/// What a front end knows before a run exists: a script or a run store, and the overrides of
/// its command line.
struct SessionRequest {
    /// A project of its own, read and blank-stripped by the front end (a script without a
    /// store); ignored when `store` is given.
    std::optional<ProjectScript> script;
    /// A project recorded in a run store (StoredSession's rules).
    std::optional<StoreRequest> store;
    /// Reseeds the generator of a script without a store before it loads; without one it is
    /// seeded from the clock, and the script's own seed, if any, wins.
    std::optional<std::uint64_t> seed;
    /// Another store whose evaluations fill the buffer of a script without a store: "" takes
    /// the script's reuse_store, none takes nothing.
    std::optional<std::string> reuse;
    /// Replaces the script's workers of an external task.
    std::optional<int> workers;
    /// The command line's `--set`, written over the script (for a store, by StoredSession's
    /// rules) and recorded in every store the project is kept in.
    std::vector<ScriptOverride> overrides;
    /// Keeps every generation of a project without a store, so that it can be saved as one
    /// later (saveStore).
    bool keepHistory = false;
};

/// How a front end takes part in the runs of a session. Every hook may be left empty.
struct FrontEnd {
    /// What the run shows; the session puts its recording in front of it.
    RunObserver* observer = nullptr;
    /// Hands a step to the thread that owns the project (the desktop's windows); none for a
    /// front end that runs everything on one thread.
    Synchronizer* sync = nullptr;
    /// The script the front end edits while the project is open (the desktop's dialogs): the
    /// runs read it as it stands. None: the session's own.
    const ProjectScript* script = nullptr;
    /// A line the program evaluation has to say (a failure, a retry), from the run's thread.
    std::function<void(const std::string&)> notice;
    /// A program started or ended, from the run's thread.
    std::function<void()> activity;
    /// A value of a program became final, from the run's thread.
    std::function<void()> evaluationsChanged;
    /// What the scheduler answered, from the run's thread.
    SchedulerNoticeHook schedulerNotice;
};

/// A failure of the store at the end of a run.
struct RunEndFailure {
    std::string message;
    /// The front end's observer was told already.
    bool reported = false;
};

/// One project and its runs, the same for every front end: it loads the script or opens the
/// run store, owns the project, its generator, stop-rule state and clock, the store and its
/// recording, and builds what evaluates an external task (several programs at once, the values
/// a resumed generation had already given). A front end attaches, then for each run asks for
/// the context (beginRun), executes its Tasks on its own thread, and ends it (endRun).
/// A new capability of the runs (a kind of evaluation, something recorded) is wired here once.
class RunSession {
public:
    /// Loads the project. `settings` and `table` (the built-in symbols only) belong to the
    /// front end and must outlive the session.
    /// \throws Exception with the loader's or the store's message; see StoredSession::open for
    /// what a failed opening leaves.
    static std::unique_ptr<RunSession> open(SessionRequest request, ProjectSettings& settings,
                                            SymbolTable& table);
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;
    ~RunSession();

    /// Once, before the first run.
    void attach(FrontEnd frontEnd);

    /// Builds the evaluation of a run from the settings as they stand now and starts the
    /// clock; the first one also begins a resumed store's writing (StoredSession::begin).
    /// \throws Exception when the export file is one of the run's own files
    /// (refuseExportOntoRunFiles), when the external programs' evaluation cannot be set up (a
    /// work root in use), or with StoredSession::begin's message; nothing is written then.
    RunContext beginRun();
    /// The chain every Task of the run reports to.
    RunObserver& observer();
    /// The Task that runs now (null between Tasks): what a store that fails, or terminate,
    /// stops. Any thread.
    void setRunningTask(Task* task) { m_runningTask = task; }
    /// Terminate as a user asks for it: a term_grace lets the programs finish within it,
    /// programs running side by side end at once, one program at a time is let finish.
    void terminate();
    /// Stops the clock and commits what the run did since the last commit (a run that ended
    /// at a generation boundary); the failure of that commit, if any.
    std::optional<RunEndFailure> endRun();
    /// Lets the task's work root go, removing the default one when nothing is left in it.
    void releaseWorkRoot();

    /// A value typed for individual `index` is kept in the store at once, when there is one
    /// (a resumed store begins to be written then, if no Run has begun it).
    /// \throws the store's failure.
    void valueTyped(int index);
    /// Writes the project as a run store: a copy of the session's own, or a new one of a
    /// project that has run without. \throws Exception with the message of the failure.
    void saveStore(const std::string& path);

    LoadedProject& project() { return m_stored ? m_stored->project : m_project; }
    ZYL& zyl() { return *project().zyl; }
    /// The script the project was loaded from, overrides written over it (a store's copy for
    /// a stored one).
    const ProjectScript& script() const { return m_stored ? m_stored->script : m_script; }
    StopRuleState& stop() { return m_stored ? m_stored->stop : m_stop; }
    RunClock& clock() { return m_stored ? m_stored->clock : m_clock; }
    /// The store the project records into; null for a project without one.
    StoredSession* stored() const { return m_stored.get(); }
    /// The id of a stored run (StoredSession::runId), which names its work folders; "" for a
    /// project without a store.
    const std::string& runId() const
    {
        static const std::string none;
        return m_stored ? m_stored->runId : none;
    }
    /// The evaluation of several programs at once of the current (or last) run; null otherwise.
    ProgramEvaluation* programs() const { return m_programs.get(); }
    /// The programs of an external task that run one at a time, counted.
    const SequentialExternalBackend* sequential() const
    {
        return m_sequential ? &*m_sequential : nullptr;
    }

private:
    class HistoryObserver;
    class SyncedJobLedger;

    RunSession(ProjectSettings& settings, SymbolTable& table) : m_settings(settings), m_table(table)
    {
    }
    void load(SessionRequest& request);
    /// What runs when a program starts or ends, on the run's thread: the front end's hook,
    /// and for a store, at most once a second, the counts from `counts` (RunActivity).
    std::function<void()> activityHook(std::function<EvaluationProgress()> counts);
    void buildPrograms();
    void takeBackFinishedValues();
    Synchronizer& sync() { return m_frontEnd.sync ? *m_frontEnd.sync : m_direct; }
    const ProjectScript& runScript() const
    {
        return m_frontEnd.script ? *m_frontEnd.script : script();
    }

    ProjectSettings& m_settings;
    SymbolTable& m_table;
    FrontEnd m_frontEnd;
    DirectSynchronizer m_direct;

    // A project without a store.
    ProjectScript m_script;
    std::vector<ScriptOverride> m_overrides;
    LcgRng m_rng;
    LoadedProject m_project;
    StopRuleState m_stop;
    RunClock m_clock;
    std::optional<RunHistory> m_history;
    std::unique_ptr<RunObserver> m_historyObserver;

    std::unique_ptr<StoredSession> m_stored;
    std::unique_ptr<RecordingObserver> m_recording;
    std::unique_ptr<StoredValuesBackend> m_storedValues;
    bool m_finishedTaken = false;
    // Last: their hooks reach the recording and the store.
    std::unique_ptr<JobLedger> m_jobLedger;
    std::unique_ptr<ProgramEvaluation> m_programs;
    std::optional<SequentialExternalBackend> m_sequential;
    RunWorkspace m_workspace;
    /// The folders of the files of programs that run one at a time in ZYL's folder.
    std::vector<std::shared_ptr<WorkRootClaim>> m_fileHolds;
    std::atomic<Task*> m_runningTask{nullptr};
    std::chrono::steady_clock::time_point m_lastActivity;
};

} // namespace zyl
