#pragma once

#include "common/Rng.h"
#include "engine/RunHooks.h"
#include "engine/StopRules.h"
#include "engine/UserPlots.h"
#include "engine/Zyl.h"
#include "script/ProjectScript.h"
#include "script/ProjectSettings.h"
#include "store/RunStore.h"
#include "store/StateCodec.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <optional>
#include <vector>

namespace zyl {

/// Everything of a run the recorder reads. The owner keeps these alive as long as the
/// recorder.
struct RecordedRun {
    ZYL& zyl;
    const ProjectSettings& settings;
    SymbolTable& table;
    std::vector<UserPlot>& plots;
    LcgRng& rng;
    StopRuleState& stop;
    RunClock& clock;
};

/// The figures of the generation whose statistics were just computed.
GenerationFigures generationFigures(const ZYL& zyl, const StopRuleState& stop,
                                    const RunClock& clock);

/// The engine's state into `snapshot` (not its incremental part); `writer` is scratch space.
void fillSnapshot(Snapshot& snapshot, const RecordedRun& run, codec::ByteWriter& writer);

/// The first snapshot of a new store: the engine's state with everything it already holds
/// (plot points, buffer entries, such as a reuse filled in or a run made before the store),
/// and the generations it can account for (consecutive, the last being zyl.generation).
Snapshot initialSnapshot(const RecordedRun& run, std::vector<GenerationRecord> history,
                         std::int64_t exportSize);

/// Writes a running engine into its store. It is told what the windows are told (the
/// statistics of a generation, the end of a generation step) and commits:
///
/// - at a generation boundary (generationDone), one transaction with the engine's state and
///   what the generations since the previous commit added (their statistics rows and
///   figures, export bytes, plot points, new buffer entries). The boundary is taken on the
///   caller's thread and committed by a writer thread of the recorder while the run goes on,
///   which also makes the statistics rows' texts. A boundary that comes while the writer is
///   busy, or sooner than nineteen times a commit's average duration after the previous one,
///   is folded into the next commit. A boundary after which an evaluation was committed, or
///   after requestCommit(), always commits (waiting for the writer if need be).
/// - each finished external evaluation or typed value at once (evaluationFinished), after
///   every boundary handed over before it.
///
/// What a kill can lose is therefore the generations folded into a commit that did not come,
/// each of them quick, which a resume computes again, the same bit for bit. A commit that
/// fails is reported by the next call that waits for the writer (a commit, an evaluation,
/// finish or settle), and what it held is committed again with the next boundary.
///
/// NOTE: it must be created when the store and the engine agree (right after the store was
/// created or the run restored): it takes the engine's plot series, buffer and export file
/// as already stored. The store is not to be used by anyone else while the recorder may be
/// writing (settle() first).
class RunRecorder : public JobLedger {
public:
    /// `storedBuffer`: the buffer entries the store holds, when fewer than the engine's (a
    /// resume re-enters the typed values of the generation in progress, which are recorded
    /// as evaluations and reach the buffer table only with the next snapshot); -1: all.
    RunRecorder(RunStore& store, RecordedRun run, std::string exportName, std::int64_t exportSize,
                std::int64_t storedBuffer = -1);
    /// Waits for a commit in progress; what was not handed over is not stored.
    ~RunRecorder() override;
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    /// The statistics of the generation in hand were just computed: its rows and figures are
    /// taken now (the counters move on before the generation ends).
    void statisticsComputed();
    /// The numbers statisticsComputed() took, until the generation ends (a front end that
    /// keeps them too need not take them again).
    const StatisticsSnapshot& statistics() const { return m_statistics; }
    /// The generation step ended (the counter moved on): a boundary. May commit.
    void generationDone();
    /// A finished evaluation, committed at once. Also for failures, so that they can be
    /// queried; only successful ones are handed back when the run resumes.
    void evaluationFinished(const EvaluationRecord& record);
    /// The scheduler jobs of the run, each recorded at once (a boundary's commit that failed
    /// is left to be reported by the next call that waits for it).
    std::int64_t jobSubmitting(const SchedulerJob& job) override;
    void jobSubmitted(std::int64_t key, const std::string& id) override;
    void jobEnded(std::int64_t key) override;
    /// A value typed for individual `index` of the generation in hand (after enterManualValue),
    /// committed at once as a "manual" evaluation.
    void valueTyped(int index);
    /// An individual of the generation in hand got its value (in any mode): the engine has
    /// left the boundary, so finish() must not take its state for one.
    void individualEvaluated() { m_atBoundary = false; }
    /// The next boundary commits whatever the pacing says (before a stop, at SIGTERM).
    void requestCommit() { m_forceNext = true; }
    /// The export step of the generation in hand failed (a full disk, a failing column): its
    /// boundary is not committed, not even by finish(), so that a resume computes the
    /// generation again and writes its row; a later boundary (a desktop's next Run) commits it
    /// with the rest, as the file then lacks that row for good.
    void exportFailed() { m_holdNext = true; }
    /// Commits now when the engine is at a boundary (no evaluation since the last one) and
    /// something is not yet stored; otherwise the store already holds the last boundary and
    /// every finished evaluation after it. Call when a run ends, however it ends.
    void finish();
    /// Has the writer copy the WAL into the file (RunStore::checkpoint) before its next commit.
    void checkpointSoon();
    /// The run's programs started or ended: the writer thread records `activity` in the store
    /// (RunStore::recordActivity) once it is free, never holding up the caller; a failure to
    /// record it is left to the next commit to meet. On the thread that uses the store, as the
    /// other calls (the caller keeps the pace: a record costs a transaction).
    void activity(const RunActivity& activity);
    /// Returns once no commit is in progress, so that the store can be read or copied as it
    /// stands; rethrows the failure of the last commit (its content is then committed again
    /// with the next boundary).
    void settle() { waitForWriter(); }
    /// Every boundary commits (tests, and runs where each generation is precious).
    void setPacing(bool on) { m_pacing = on; }
    /// Commits so far, for measurements.
    std::int64_t commits() const
    {
        std::lock_guard lock(m_mutex);
        return m_commits;
    }

private:
    void commit();
    bool due();
    void writerLoop();
    /// Returns once no commit is in progress; rethrows the failure of the last one, whose
    /// content is then put back to be committed with the next boundary.
    void waitForWriter();
    std::optional<std::string> exportBytes();
    /// With the writer's lock held: records the latest activity handed over, if any.
    void recordActivity(std::unique_lock<std::mutex>& lock);

    RunStore& m_store;
    RecordedRun m_run;
    std::string m_exportName;
    std::int64_t m_exportSize;

    std::optional<GenerationRecord> m_current;
    StatisticsSnapshot m_statistics;
    Snapshot m_snapshot;
    /// The numbers of each generation of m_snapshot (first: whether it has any).
    std::vector<std::pair<bool, StatisticsSnapshot>> m_pendingStatistics;
    codec::ByteWriter m_writer;
    std::vector<std::vector<std::size_t>> m_storedPoints;
    std::size_t m_storedBuffer;
    std::vector<const Indiv*> m_newEntries;

    bool m_atBoundary = true;
    bool m_forceNext = false;
    bool m_holdNext = false;
    bool m_held = false;
    bool m_pacing = true;
    bool m_evaluationSinceCommit = false;
    // Of the last hand-over, restored when its commit fails.
    std::vector<std::vector<std::size_t>> m_handedPoints;
    std::size_t m_handedBuffer = 0;

    // The writer thread commits a handed-over boundary while the run goes on; the store is
    // touched by one thread at a time (the caller only while m_busy is false).
    mutable std::mutex m_mutex;
    std::condition_variable m_wake, m_idle;
    std::thread m_thread;
    bool m_busy = false;
    bool m_checkpointJob = false;
    bool m_activityJob = false;
    std::optional<RunActivity> m_activity;
    bool m_quit = false;
    std::exception_ptr m_failure;
    Snapshot m_inFlight;
    std::vector<std::pair<bool, StatisticsSnapshot>> m_inFlightStatistics;
    double m_handOverSeconds = 0;
    std::chrono::steady_clock::time_point m_lastCommitEnd;
    double m_averageCommitSeconds = 0;
    std::int64_t m_commits = 0;
};

/// An observer that tells the recorder what a run shows and passes every call on to the
/// front end's own observer: with it the run loop records into a store without knowing it.
/// For an external objective it commits each evaluation as the run takes it back, failed
/// ones with their message. The boundary after a failed export step is not committed
/// (RunRecorder::exportFailed). A commit that fails is told to the inner observer as a warning
/// with the store's message, each message once; a store that is gone (StoreLost) also stops
/// the run through the stop handler. (Typed values are committed by whoever enters them.)
class RecordingObserver : public RunObserver {
public:
    RecordingObserver(RunRecorder& recorder, RunObserver& inner, const ZYL& zyl,
                      const ProjectSettings& settings);

    void warning(const std::string& text) override;
    void evaluationFailed(int index, const std::string& message, bool timedOut) override;
    void evaluatedValue(int index) override;
    void generationEvaluated() override { m_inner.generationEvaluated(); }
    void stopRuleMet(const std::string& reason) override;
    void buffered(const Indiv& entry) override { m_inner.buffered(entry); }
    void statistics() override;
    void plotUpdated(std::size_t plot) override { m_inner.plotUpdated(plot); }
    void populationChanged() override { m_inner.populationChanged(); }
    void generationDone() override;
    /// A commit failed; its message went to the inner observer as a warning.
    bool storeFailed() const { return m_storeFailed; }
    /// Tells a commit's failure as commits made by this observer are told (front ends that
    /// commit values themselves, and the end of a run, use it too).
    void reportStoreFailure(const std::exception& error);
    /// Whether the inner observer was told `text` already.
    bool alreadyReported(const std::string& text) const;
    /// What stops the run at once (the front end's Terminate), for a store that is gone.
    void setStopHandler(std::function<void()> stop) { m_stop = std::move(stop); }
    /// Values the store holds already (a resumed generation's finished evaluations, which
    /// the run takes back without running them): not committed a second time.
    void setRecorded(std::vector<EvaluationRecord> recorded) { m_recorded = std::move(recorded); }
    /// Off when the evaluation commits each value itself as its program ends (several
    /// programs at once, ProgramEvaluation's finished hook).
    void setRecordsEvaluations(bool on) { m_recordsEvaluations = on; }

private:
    /// Commits the external evaluation of individual `index`; false when it was committed
    /// before (a resume hands it back) and the inner observer has been told already.
    [[gnu::noinline]] bool recordEvaluation(int index);

    RunRecorder& m_recorder;
    RunObserver& m_inner;
    const ZYL& m_zyl;
    const ProjectSettings& m_settings;
    std::vector<EvaluationRecord> m_recorded;
    bool m_recordsEvaluations = true;
    int m_failedIndex = -1;
    std::string m_failureMessage;
    bool m_failureTimedOut = false;
    bool m_storeFailed = false;
    std::vector<std::string> m_reported;
    std::function<void()> m_stop;
};

} // namespace zyl
