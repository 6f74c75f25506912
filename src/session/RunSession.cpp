#include "session/RunSession.h"

#include "common/Exception.h"
#include "engine/backends/Backends.h"
#include "engine/backends/WorkFolders.h"
#include "engine/backends/WorkRoot.h"
#include "store/Objective.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace zyl {

namespace {

// For a front end that shows nothing.
RunObserver& silentObserver()
{
    static RunObserver silent;
    return silent;
}

} // namespace

// A project without a store keeps its generations, after the front end has shown them.
class RunSession::HistoryObserver : public RunObserver {
public:
    HistoryObserver(RunObserver& inner, RunSession& session) : m_inner(inner), m_session(session)
    {
    }
    void warning(const std::string& text) override { m_inner.warning(text); }
    void evaluatedValue(int index) override { m_inner.evaluatedValue(index); }
    void buffered(const Indiv& entry) override { m_inner.buffered(entry); }
    void generationEvaluated() override { m_inner.generationEvaluated(); }
    void statistics() override
    {
        m_inner.statistics();
        m_session.m_history->statisticsComputed(m_session.zyl(), m_session.m_stop,
                                                m_session.m_clock);
    }
    void plotUpdated(std::size_t plot) override { m_inner.plotUpdated(plot); }
    void populationChanged() override { m_inner.populationChanged(); }
    void generationDone() override
    {
        m_inner.generationDone();
        m_session.m_history->generationDone(m_session.zyl());
    }
    void evaluationFailed(int index, const std::string& message, bool timedOut) override
    {
        m_inner.evaluationFailed(index, message, timedOut);
    }
    void stopRuleMet(const std::string& reason) override { m_inner.stopRuleMet(reason); }

private:
    RunObserver& m_inner;
    RunSession& m_session;
};

// The scheduler jobs are submitted on the run's thread, but the store belongs to the thread
// of the front end: each record is made there while the run's thread waits.
class RunSession::SyncedJobLedger : public JobLedger {
public:
    SyncedJobLedger(Synchronizer& sync, JobLedger& inner) : m_sync(sync), m_inner(inner) {}
    std::int64_t jobSubmitting(const SchedulerJob& job) override
    {
        std::int64_t key = 0;
        m_sync.run([&] { key = m_inner.jobSubmitting(job); });
        return key;
    }
    void jobSubmitted(std::int64_t key, const std::string& id) override
    {
        m_sync.run([&] { m_inner.jobSubmitted(key, id); });
    }
    void jobEnded(std::int64_t key) override
    {
        m_sync.run([&] { m_inner.jobEnded(key); });
    }

private:
    Synchronizer& m_sync;
    JobLedger& m_inner;
};

std::unique_ptr<RunSession> RunSession::open(SessionRequest request, ProjectSettings& settings,
                                             SymbolTable& table)
{
    std::unique_ptr<RunSession> session(new RunSession(settings, table));
    session->load(request);
    return session;
}

RunSession::~RunSession() = default;

void RunSession::load(SessionRequest& request)
{
    if (request.store) {
        request.store->overrides = request.overrides;
        m_stored = StoredSession::open(*request.store, m_settings, m_table);
    } else {
        if (!request.script)
            throw Exception("No script to load.");
        m_script = std::move(*request.script);
        applyOverrides(m_script, request.overrides);
        m_overrides = request.overrides;
        if (request.seed)
            m_rng.reseed(*request.seed);
        m_project = loadProject(m_script, m_settings, m_table, m_rng);
        if (request.reuse) {
            const std::string path = request.reuse->empty() ? m_settings.reuseStore : *request.reuse;
            if (!path.empty())
                reuseEvaluations(*m_project.zyl,
                                 describeObjective(m_script, m_settings, *m_project.zyl), path);
        }
        if (request.keepHistory)
            m_history.emplace(m_script.ReadString("EXPORT_NAMES", "export_name", ""),
                              m_settings.exportEveryIteration);
    }
    if (request.workers && m_settings.functionMode == FunctionMode::External)
        m_settings.workers = *request.workers;
    // Named once: every Run of the project, and every resume of its store, works in it.
    // A stored run's folder is named by the store's own id, so that the store moved or renamed
    // after a kill still finds its folders.
    m_settings.runFolder = m_stored ? runFolderName(m_stored->created, m_stored->runId)
                                    : processRunFolder();
}

void RunSession::attach(FrontEnd frontEnd)
{
    m_frontEnd = std::move(frontEnd);
    RunObserver& inner = m_frontEnd.observer ? *m_frontEnd.observer : silentObserver();
    if (m_history)
        m_historyObserver = std::make_unique<HistoryObserver>(inner, *this);
    if (!m_stored)
        return;
    m_recording =
        std::make_unique<RecordingObserver>(m_stored->recorder(), inner, zyl(), m_settings);
    // A store that fails stops the run at once.
    m_recording->setStopHandler([this] {
        if (Task* task = m_runningTask.load())
            task->terminate();
    });
}

void RunSession::takeBackFinishedValues()
{
    if (m_finishedTaken)
        return;
    m_finishedTaken = true;
    // The programs of the generation in progress that had finished (those begin() took over
    // from the scheduler included) are not run again.
    if (m_settings.functionMode != FunctionMode::External)
        return;
    if (!m_stored->finishedEvaluations.empty())
        m_storedValues = std::make_unique<StoredValuesBackend>(zyl(), m_settings, nullptr,
                                                               m_stored->finishedEvaluations);
    std::vector<EvaluationRecord> recorded = m_stored->finishedEvaluations;
    recorded.insert(recorded.end(), m_stored->screenedEvaluations.begin(),
                    m_stored->screenedEvaluations.end());
    m_recording->setRecorded(std::move(recorded));
}

RunObserver& RunSession::observer()
{
    if (m_recording)
        return *m_recording;
    if (m_historyObserver)
        return *m_historyObserver;
    return m_frontEnd.observer ? *m_frontEnd.observer : silentObserver();
}

void RunSession::buildPrograms()
{
    // The workers may have changed since the last run (the desktop's Options).
    if (!needsBatchEvaluator(m_settings)) {
        m_programs.reset();
        return;
    }
    BatchEvaluator::Report notice = m_frontEnd.notice;
    if (!notice)
        notice = [](const std::string&) {};
    auto evaluator = makeBatchEvaluator(m_settings, std::move(notice));
    BatchEvaluator* counted = evaluator.get();
    evaluator->setActivityHandler(activityHook([counted] { return counted->progress(); }));
    auto programs = std::make_unique<ProgramEvaluation>(std::move(evaluator), zyl().generation,
                                                        zyl().bufferIndividuals);
    programs->setInputNames(externalProgram(m_settings, zyl().names).inputNames);
    if (m_frontEnd.schedulerNotice)
        programs->evaluator().setSchedulerNotice(m_frontEnd.schedulerNotice);
    std::unique_ptr<JobLedger> ledger;
    if (m_stored) {
        // Each value is committed as its program ends, in whatever order they end, not when
        // the run takes it back.
        m_recording->setRecordsEvaluations(false);
        ledger = std::make_unique<SyncedJobLedger>(sync(), m_stored->recorder());
        programs->evaluator().setJobLedger(ledger.get());
    }
    programs->setFinishedHook([this](const EvaluationResult& result) {
        if (m_frontEnd.evaluationsChanged)
            m_frontEnd.evaluationsChanged();
        if (!m_stored)
            return;
        sync().run([this, &result] {
            try {
                m_stored->recorder().evaluationFinished(evaluationRecord(result, zyl()));
            } catch (const std::exception& error) {
                m_recording->reportStoreFailure(error);
            }
        });
    });
    m_programs = std::move(programs);
    m_jobLedger = std::move(ledger);
}

std::function<void()> RunSession::activityHook(std::function<EvaluationProgress()> counts)
{
    return [this, counts = std::move(counts)] {
        if (m_frontEnd.activity)
            m_frontEnd.activity();
        if (!m_stored)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastActivity < std::chrono::seconds(1))
            return;
        m_lastActivity = now;
        // The store belongs to the front end's thread; the run's thread waits the moment it
        // takes to hand the counts over.
        sync().run([this, &counts] {
            RunActivity activity;
            activity.generation = zyl().generation + 1;
            activity.evaluations = stop().evaluations;
            activity.programs = counts();
            m_stored->recorder().activity(activity);
        });
    };
}

RunContext RunSession::beginRun()
{
    const bool external = m_settings.functionMode == FunctionMode::External;
    // Before anything is written, the store included; at every run, since the desktop's
    // dialogs may have changed the name.
    refuseExportOntoRunFiles(runScript(), m_settings, m_stored ? m_stored->store().file() : "");
    // Programs that share ZYL's folder share their files: a second run there is refused
    // before this one starts anything.
    if (external && !m_settings.usesWorkFolders() && m_fileHolds.empty())
        m_fileHolds = holdProgramFiles(m_settings);
    buildPrograms();
    if (m_stored) {
        // The work root is held: a resumed store is written from here on.
        m_stored->begin();
        takeBackFinishedValues();
    }
    RunContext context{zyl(), m_settings, runScript(), m_table, project().plots};
    context.backend = m_programs.get();
    if (!m_programs && external) {
        // One program after the other, counted for the signs of life.
        if (!m_sequential) {
            m_sequential.emplace(externalProgram(m_settings, zyl().names), &zyl().generation);
            const SequentialExternalBackend* counted = &*m_sequential;
            m_sequential->setActivityHandler(
                activityHook([counted] { return counted->progress(); }));
        }
        context.backend = &*m_sequential;
    }
    if (m_storedValues) {
        m_storedValues->setInner(context.backend);
        context.backend = m_storedValues.get();
    }
    context.stopState = &stop();
    context.clock = &clock();
    context.workspace = &m_workspace;
    clock().start();
    return context;
}

void RunSession::terminate()
{
    Task* task = m_runningTask.load();
    if (!task)
        return;
    // Programs running side by side (or queued on a cluster) may each take hours: they all
    // end, and their individuals stay unevaluated for the next run. One program at a time is
    // still let finish. A term_grace lets them all finish within it.
    if (m_settings.termGrace > 0)
        task->terminateWithin(m_settings.termGrace);
    else if (m_programs)
        task->abort();
    else
        task->terminate();
}

std::optional<RunEndFailure> RunSession::endRun()
{
    clock().stop();
    if (!m_stored)
        return std::nullopt;
    try {
        m_stored->recorder().finish();
    } catch (const std::exception& error) {
        return RunEndFailure{error.what(), m_recording && m_recording->alreadyReported(error.what())};
    }
    return std::nullopt;
}

void RunSession::releaseWorkRoot()
{
    for (const std::shared_ptr<WorkRootClaim>& hold : m_fileHolds)
        hold->release(/*removeEmptyRoot=*/false);
    m_fileHolds.clear();
    // The default work root is ZYL's own, and goes too when nothing is left in it (every
    // evaluation succeeded).
    if (m_programs)
        zyl::releaseWorkRoot(m_settings.workRoot, !script().HasKey("FUNCTION", "work_root"));
}

void RunSession::valueTyped(int index)
{
    if (!m_stored)
        return;
    // A value typed before the first Run (the desktop's Population window) starts the run as
    // much as a Run does: it is kept at once.
    m_stored->begin();
    m_stored->recorder().valueTyped(index);
}

void RunSession::saveStore(const std::string& path)
{
    if (m_stored) {
        // A consistent copy, whatever has been recorded so far (no commit half done).
        m_stored->recorder().settle();
        m_stored->store().copyTo(path);
        return;
    }
    // Written beside the file and renamed over it, so that a failure leaves the file that
    // was there.
    const std::string part = path + ".part";
    std::remove(part.c_str());
    const ProjectScript& script = runScript();
    RunHeader header = makeRunHeader(script, m_settings, m_project, std::nullopt, script.fileName());
    header.overrides = overridesText(m_overrides);
    RecordedRun run{*m_project.zyl, m_settings, m_table, m_project.plots, m_rng, m_stop, m_clock};
    std::vector<GenerationRecord> history;
    if (m_history) {
        history = m_history->records(m_settings.showBuffered);
        header.exportBase = m_history->exportBase();
    }
    std::int64_t exportSize = 0;
    if (header.exportEveryIteration) {
        std::error_code error;
        const auto size = std::filesystem::file_size(header.exportName, error);
        if (!error)
            exportSize = static_cast<std::int64_t>(size);
    }
    RunStore::create(part, header, initialSnapshot(run, std::move(history), exportSize));
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        throw Exception("Cannot create file " + path);
    }
}

} // namespace zyl
