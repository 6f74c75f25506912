#pragma once

#include "common/Rng.h"
#include "engine/StopRules.h"
#include "project/Loader.h"
#include "store/RunRecorder.h"
#include "store/RunStore.h"

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
    /// The seed of a new run; without one a clock seed is drawn and kept in the store, so
    /// that every stored run can be repeated.
    std::optional<std::uint64_t> seed;
    /// Another store whose evaluations fill the buffer of a new run; when empty the script's
    /// reuse_store applies. Ignored on resume (the reused entries are in the store already).
    std::string reusePath;
};

/// The header of a new store for a loaded project: its script, seed, objective, export file
/// (in append mode the bytes the file holds now are kept as they are) and plots. With
/// RunStore::create, initialSnapshot and a RunRecorder it also serves the desktop program's
/// Save as of a project that has run without a store.
RunHeader makeRunHeader(const ProjectScript& script, const ProjectSettings& settings,
                        const LoadedProject& project, std::optional<std::uint64_t> seed,
                        const std::string& scriptName);

/// The identity of a stored run in its work root (ProjectSettings::workRootOwner): the store's
/// real path and creation time, which stay when the run is resumed from another folder.
std::string workRootOwner(const std::string& storePath, const std::string& created);

/// A project whose run is recorded in a store, opened or started by the rules of `--store`:
///
/// - a new run (no --resume): the store must not exist, be empty, or be a store that holds
///   no run; one that holds a run is refused ("The run store \"F\" already holds a run:
///   resume it, or choose another file.");
/// - --resume: a store that holds a run is continued; a missing or empty one is started
///   from the script, so that a requeued job can always give the same command. A script
///   given with it must be the one the store holds ("The script \"S\" differs from the one
///   the run store \"F\" holds."), its OPTIONS seed aside: a resumed generator continues from
///   its stored state, so the seed a first command line gave need not be given again; "The run store \"F\" holds no run to resume, and no script
///   was given to start one." when there is neither;
/// - every damaged store (not a store, cut short, newer, in use, a script that no longer
///   loads) is refused with its message and is neither modified nor deleted: the file stays
///   read-only until every check, the rebuilding of the project included, has passed.
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

    ProjectScript script;
    LoadedProject project;
    LcgRng rng;
    StopRuleState stop;
    RunClock clock;
    /// True when an existing run was continued.
    bool resumed = false;
    /// Rows of the Statistics window of every stored generation (empty for a new run).
    std::vector<std::vector<StatisticsRow>> statistics;
    /// External values of the generation in progress, to be handed to the run's evaluation
    /// step instead of running the program again (see RestoredRun).
    std::vector<EvaluationRecord> finishedEvaluations;
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
    StoredSession(ProjectSettings& settings, SymbolTable& table)
        : m_settings(settings), m_table(table)
    {
    }
    void start(const StoreRequest& request);
    void resume(const StoreRequest& request);
    RecordedRun recorded();

    ProjectSettings& m_settings;
    SymbolTable& m_table;
    std::optional<RunStore> m_store;
    std::optional<RunRecorder> m_recorder;
};

} // namespace zyl
