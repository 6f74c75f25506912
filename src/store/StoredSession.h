#pragma once

#include "common/Rng.h"
#include "engine/StopRules.h"
#include "project/Loader.h"
#include "store/RunRecorder.h"
#include "store/Restore.h"
#include "store/RunStore.h"
#include "script/ScriptOverrides.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zyl {

/// What a command line asks of a store: `--store FILE [--resume] [SCRIPT]`, with `--seed`
/// and `--reuse`.
struct StoreRequest {
    std::string storePath;
    bool resume = false;
    /// The script given, read and blank-stripped by the caller as it reads any script; none
    /// when only the store is named.
    std::optional<ProjectScript> script;
    /// The script's file name as given, kept in the store for reference.
    std::string scriptName;
    /// The seed of a new run; without one the script's seed is used, and without that a clock
    /// seed is drawn. The seed used is kept in the store, so that every stored run can be
    /// repeated. A resume continues from the stored generator and takes no other seed.
    std::optional<std::uint64_t> seed;
    /// Another store whose evaluations fill the buffer of a new run; when empty the script's
    /// reuse_store applies. Ignored on resume (the reused entries are in the store already).
    std::string reusePath;
    /// The command line's `--set`: written over the script of a new run, and recorded with it.
    /// A resume takes the recorded ones; given again, they must be the same.
    std::vector<ScriptOverride> overrides;
    /// Receives the lines a resume has to say while it ends the scheduler jobs of the
    /// interrupted process (the scheduler not answering, what was ended and taken over).
    std::function<void(const std::string&)> notice;
};

/// The header of a new store for a loaded project: its script, seed (the script's own when it
/// has one, as the loader takes it, else `seed`), objective, export file
/// (in append mode the bytes the file holds now are kept as they are) and plots. With
/// RunStore::create, initialSnapshot and a RunRecorder it also serves the desktop program's
/// Save as of a project that has run without a store.
RunHeader makeRunHeader(const ProjectScript& script, const ProjectSettings& settings,
                        const LoadedProject& project, std::optional<std::uint64_t> seed,
                        const std::string& scriptName);

/// The identity of a stored run in its work root (ProjectSettings::workRootOwner): its run id,
/// with its creation time for people, which stay when the store is moved or renamed and when
/// the run is resumed from another folder.
std::string workRootOwner(const std::string& runId, const std::string& created);

/// Refuses an export file that is the store (its file by its absolute name, "" for none), the
/// script or the external program of the task loaded into `settings`; see refuseExportOnto.
void refuseExportOntoRunFiles(const ProjectScript& script, const ProjectSettings& settings,
                              const std::string& storeFile);

/// A project whose run is recorded in a store, opened or started by the rules of `--store`:
///
/// - a new run (no --resume): the store must not exist, be empty, or be a store that holds
///   no run; one that holds a run is refused ("The run store \"F\" already holds a run:
///   resume it, or choose another file.");
/// - --resume: a store that holds a run is continued; a missing or empty one is started
///   from the script, so that a requeued job can always give the same command. A script
///   given with it must be the one the store holds ("The script \"S\" differs from the one
///   the run store \"F\" holds."; the overrides recorded with the run are written over it
///   first), its OPTIONS seed aside: a resumed generator continues from its stored state, so
///   the seed a first command line gave need not be given again, and another one is refused
///   ("The run store \"F\" holds a run started with the seed N: a resume continues it, and
///   cannot take the seed M."); the overrides likewise: none takes the recorded ones, others
///   are refused ("The run store \"F\" holds a run started with --set A: a resume continues
///   it, and cannot take --set B."); "The run store \"F\" holds no run to resume, and no
///   script was given to start one." when there is neither;
/// - a resume (at begin()) ends the scheduler jobs the interrupted process left (the store
///   records them) before anything is submitted: what still runs is cancelled and awaited, and the array
///   tasks of the generation in progress that had finished with a value are taken as that
///   individual's evaluation, so that no individual runs twice at once in its folder; when
///   the scheduler cannot be reached for its scheduler_timeout the resume is refused;
/// - every damaged store (not a store, cut short, newer, in use, a script that no longer
///   loads, a search method's state missing) is refused with its message and is neither
///   modified nor deleted: the file stays read-only until begin(), which the front end calls
///   once every check of its own (the work root's) has passed as well;
/// - a resumed run works in the folder it started in, whatever the current folder: the
///   process changes into it before the script is loaded again, so that the script's relative
///   names (export file, program, its input and output, work root, template, reuse_store)
///   mean what they meant, and stays there (a resume that is refused goes back to the folder
///   it left). A folder that is gone is
///   refused ("The run store \"F\" holds a run started in the folder \"D\", which no longer
///   exists (the current folder is \"C\")."). A store of an older ZYL, which does not know its
///   folder, resumes in the current one. Names the caller resolves itself (the store's, a
///   folder for pictures) must be absolute before a resume is opened, or taken from
///   RunStore::file().
/// - a resume never replaces an export file that is not the run's own (planExportRepair).
///
/// The session owns the project, the generator, the stop-rule state, the run clock, the
/// store and its recorder; the caller owns the settings and the symbol table (which must hold
/// the built-in symbols only).
class StoredSession {
public:
    /// \throws Exception with the message of the first refusal or failure, or the loader's
    /// message for a new run whose script does not load (no file is created then). After a
    /// failure the table and the settings hold whatever the failed load left in them, as
    /// after any failed load: the caller starts afresh (Close all).
    static std::unique_ptr<StoredSession> open(const StoreRequest& request,
                                               ProjectSettings& settings, SymbolTable& table);
    StoredSession(const StoredSession&) = delete;
    StoredSession& operator=(const StoredSession&) = delete;
    ~StoredSession();

    /// The run really starts: every check has passed, so a resumed store is written from now
    /// on (its layout brought up to date, this process its owner), its export file put back
    /// as the store recorded it, and the scheduler jobs of the interrupted process ended and
    /// their values taken. Does nothing for a new run, and the second time.
    /// \throws Exception with the store's, the export file's or the scheduler's message.
    void begin();

    ProjectScript script;
    LoadedProject project;
    LcgRng rng;
    /// The run's id (RunHeader::runId), also for a store of an older ZYL, which is given it
    /// when begin() upgrades it.
    std::string runId;
    /// When the run was created (RunHeader::created): with the id, it names the run's folder in
    /// the work root.
    std::string created;
    StopRuleState stop;
    RunClock clock;
    /// True when an existing run was continued.
    bool resumed = false;
    /// Rows of the Statistics window of every stored generation (empty for a new run).
    std::vector<std::vector<StatisticsRow>> statistics;
    /// External values of the generation in progress, to be handed to the run's evaluation
    /// step instead of running the program again (see RestoredRun).
    std::vector<EvaluationRecord> finishedEvaluations;
    /// Its designs recorded as ruled out before evaluation (RestoredRun).
    std::vector<EvaluationRecord> screenedEvaluations;
    /// Buffer entries a reuse added to a new run.
    std::size_t reused = 0;
    /// The figures of the last stored generation (of a resumed run that has one), for a
    /// report made before this session completes a generation of its own.
    std::optional<GenerationFigures> lastFigures;

    ZYL& zyl() { return *project.zyl; }
    RunStore& store() { return *m_store; }
    RunRecorder& recorder() { return *m_recorder; }
    /// True when the task can compute nothing more: max_iteration reached or a stop rule met.
    bool finished() const;

private:
    /// The process's current folder, changed for a resumed run; back to the folder left
    /// when the session goes before it was kept (an opening that failed).
    class WorkingFolder {
    public:
        WorkingFolder() = default;
        WorkingFolder(const WorkingFolder&) = delete;
        WorkingFolder& operator=(const WorkingFolder&) = delete;
        ~WorkingFolder();
        /// \throws Exception with the system's message when `folder` cannot be entered.
        void enter(const std::string& folder);
        void keep() { m_left.clear(); }

    private:
        std::string m_left;
    };

    StoredSession(ProjectSettings& settings, SymbolTable& table)
        : m_settings(settings), m_table(table)
    {
    }
    void start(const StoreRequest& request);
    void resume(const StoreRequest& request);
    static void refuseAnotherSeed(const StoreRequest& request, const StoredRun& stored);
    /// The overrides the run started with; refuses others given now.
    static std::vector<ScriptOverride> recordedOverrides(const StoreRequest& request,
                                                         const StoredRun& stored);
    void endEarlierJobs();
    void adoptEarlierResults();
    /// Changes into the folder a resumed run started in ("" for unknown: stays).
    void enterRunFolder(const std::string& folder, const std::string& storePath);
    RecordedRun recorded();

    ProjectSettings& m_settings;
    SymbolTable& m_table;
    // Before the store, so that a refused store is closed before the folder is left.
    WorkingFolder m_folder;
    std::optional<RunStore> m_store;
    std::optional<RunRecorder> m_recorder;
    // What a resume does at begin().
    bool m_beginPending = false;
    ExportRepair m_exportRepair;
    std::vector<SchedulerJob> m_jobs;
    std::function<void(const std::string&)> m_notice;
};

} // namespace zyl
