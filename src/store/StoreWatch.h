#pragma once

#include "common/Rng.h"
#include "engine/RunHooks.h"
#include "engine/StopRules.h"
#include "project/Loader.h"
#include "script/ProjectScript.h"
#include "store/FileLock.h"
#include "store/RunStore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zyl {

/// What the process that writes a watched store is doing, as far as the store and this
/// machine can tell.
struct WriterStatus {
    enum class State {
        /// A ZYL holds the store: running its task, or (the desktop program) holding it open.
        Running,
        /// The task is finished: max_iteration reached, or a stop rule met.
        Finished,
        /// Nobody holds the store and its task is not finished: the writer was killed, its
        /// machine went down, or it was ended before the task's end.
        Stopped,
    };
    State state = State::Stopped;
    /// The process that created the store or last resumed it, and since when.
    StoreOwner owner;
    /// The owner's host is this machine.
    bool local = false;
    /// The owner is known to be gone (on this machine only): a store held while its owner is
    /// gone is open in a ZYL that has not run it yet.
    bool ownerGone = false;
    /// Generations completed as committed, and the task's limit.
    std::int32_t generation = 0, maxIteration = 0;
    /// Values computed so far: the state's, or the running writer's latest count.
    std::int64_t evaluations = 0;
    /// The programs of the generation in progress, while a running writer reports them.
    std::optional<EvaluationProgress> programs;
    /// Why a stop rule ended the task ("" when none did).
    std::string stopReason;

    bool operator==(const WriterStatus& other) const;
};

/// The status in words, as the desktop program's status bar and `zyl-batch --follow` say it:
/// "running: generation 12 of 100, 240 evaluations (process 4242 on node7; 3 programs
/// running, 1 queued)", "finished in generation 100 of 100", "finished: <stop reason>",
/// "stopped without finishing in generation 12 of 100 (process 4242 on node7 no longer
/// exists)".
std::string describeWriter(const WriterStatus& status);

/// What a watch tells as it follows a store: the calls a run makes, and what a store keeps
/// in the place of the engine of each generation.
class WatchObserver : public RunObserver {
public:
    /// A committed generation, oldest first: its statistics rows and figures as stored. A
    /// store keeps the engine only as it stood at its last commit, which may have taken
    /// several generations at once, so this comes in the place of statistics().
    virtual void storedGeneration(const GenerationRecord& /*generation*/) {}
    /// The writer's status changed (StoreWatch::status).
    virtual void writerChanged() {}
};

/// A project shown as its run store holds it while another process writes the store: the
/// project rebuilt as Open rebuilds it, then kept up with the store by update(), which turns
/// whatever the writer committed since into the calls the windows get during a run. Neither
/// the store nor any other file is ever written; no lock is taken that a writer waits for;
/// a run that another process resumes later is followed as well.
class StoreWatch {
public:
    /// Opens the store at `path` and rebuilds its project as at the last committed boundary
    /// (with the values of the generation in progress shown), into `settings` and `table`
    /// (the built-in symbols only), which the caller owns and keeps as long as the watch.
    /// \throws Exception with the store's messages (RunStore::openForWatching, restoreRun).
    static std::unique_ptr<StoreWatch> open(const std::string& path, ProjectSettings& settings,
                                            SymbolTable& table);
    StoreWatch(const StoreWatch&) = delete;
    StoreWatch& operator=(const StoreWatch&) = delete;
    ~StoreWatch();

    /// One look at the store. What was committed since the last look is applied to the
    /// project and told to `observer` in a run's order: buffered() for each new buffer entry,
    /// storedGeneration() for each new generation, plotUpdated() for each plot that gained
    /// points, populationChanged() and generationDone() once the engine's state has moved on,
    /// evaluatedValue() for each value the generation in progress has gained since; then
    /// writerChanged() when the writer's status changed. Reads only what is new; a store
    /// nobody has written since costs a few system calls. True when anything was told.
    /// \throws Exception "The run store \"F\" is no longer the file the watch opened (it was
    /// deleted, replaced or cut short): the watch stops." or the store's "damaged" message;
    /// the project then stays as it was last shown.
    bool update(WatchObserver& observer);

    /// As of the last look.
    const WriterStatus& status() const { return m_status; }
    /// Asks a running writer to stop as a Terminate would: SIGTERM to its process, so that
    /// the programs it runs get its term_grace. \throws Exception with the reason when it
    /// cannot be asked (not running, another machine, not a ZYL).
    void terminateWriter();

    /// The store as named when opened, and by its absolute name.
    const std::string& path() const { return m_store.path(); }
    const std::string& file() const { return m_store.file(); }
    const ProjectScript& script() const { return m_script; }
    LoadedProject& project() { return m_project; }
    ZYL& zyl() { return *m_project.zyl; }
    StopRuleState& stop() { return m_stop; }
    /// Every generation the store held when the watch opened it, oldest first.
    const std::vector<GenerationRecord>& generations() const { return m_generations; }

private:
    StoreWatch(RunStore store, ProjectSettings& settings, SymbolTable& table);
    void checkStillThere();
    /// Reads what is new since the last look (one read transaction) and tells it.
    bool readNew(WatchObserver& observer);
    /// Gives the generation in progress the values committed for it; true when any was new.
    bool showValues(const std::vector<EvaluationRecord>& records, WatchObserver* observer);
    /// The status from what was read and whether the lock was `held` before it was read.
    WriterStatus lookAtWriter(std::optional<bool> held) const;

    ProjectSettings& m_settings;
    SymbolTable& m_table;
    // Declared before the store, so that its descriptor is closed after the connection.
    LockProbe m_lock;
    RunStore m_store;
    LcgRng m_rng;
    ProjectScript m_script;
    LoadedProject m_project;
    StopRuleState m_stop;
    std::vector<GenerationRecord> m_generations;

    // How far the project has followed the store.
    std::int64_t m_dataVersion = -1;
    std::int32_t m_generation = 0;
    std::int64_t m_bufferEntries = 0;
    std::int64_t m_lastEvaluation = 0;
    std::string m_parameters;
    std::optional<StoreOwner> m_owner;
    std::optional<RunActivity> m_activity;
    WriterStatus m_status;
    // The file as opened: a watch of a file that is gone or replaced must say so.
    std::uint64_t m_device = 0, m_inode = 0;
    std::int64_t m_size = 0;
};

} // namespace zyl
