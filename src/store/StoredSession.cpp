#include "store/StoredSession.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
#include "engine/Export.h"
#include "engine/External.h"
#include "engine/backends/Backends.h"
#include "engine/backends/BatchEvaluator.h"
#include "engine/backends/Slurm.h"
#include "engine/backends/WorkFolders.h"
#include "store/Objective.h"
#include "store/Restore.h"
#include "store/StateCodec.h"

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <tuple>

namespace zyl {

namespace {

std::string inQuotes(const std::string& path)
{
    return "\"" + path + "\"";
}

std::int64_t fileSize(const std::string& name)
{
    struct stat info {};
    return !name.empty() && ::stat(name.c_str(), &info) == 0 ? info.st_size : 0;
}

/// The script's own seed, which the loader starts the generator from (it has checked that it
/// is a whole number).
std::optional<std::uint64_t> scriptSeed(const ProjectScript& script)
{
    if (!script.HasKey("OPTIONS", "seed"))
        return std::nullopt;
    const std::string text = script.ReadString("OPTIONS", "seed", "");
    std::uint64_t seed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return seed;
}

// The seed only chooses where a run starts; a resumed run continues from the generator's
// stored state, so the seed a command line wrote into the script (zyl-batch --seed) is not
// asked for again.
bool sameScript(const ProjectScript& given, const std::string& storedText)
{
    if (given.text() == storedText)
        return true;
    ProjectScript stored = ProjectScript::fromText(storedText);
    ProjectScript reseeded = given;
    reseeded.WriteString("OPTIONS", "seed", stored.ReadString("OPTIONS", "seed", ""));
    stored.WriteString("OPTIONS", "seed", stored.ReadString("OPTIONS", "seed", ""));
    return reseeded.text() == stored.text();
}

} // namespace

RunHeader makeRunHeader(const ProjectScript& script, const ProjectSettings& settings,
                        const LoadedProject& project, std::optional<std::uint64_t> seed,
                        const std::string& scriptName)
{
    RunHeader header;
    header.scriptName = scriptName;
    header.scriptText = script.text();
    // As in the loader, the script's own seed wins.
    const std::optional<std::uint64_t> own = scriptSeed(script);
    header.seed = own ? own : seed;
    header.objective = describeObjective(script, settings, *project.zyl).text();
    header.exportName = script.ReadString("EXPORT_NAMES", "export_name", "");
    header.exportEveryIteration = settings.exportEveryIteration;
    header.exportBase = header.exportEveryIteration ? fileSize(header.exportName) : 0;
    header.program = "ZYL";
    for (const UserPlot& plot : project.plots)
        header.plots.push_back({plot.title, plot.expressions});
    return header;
}

StoredSession::~StoredSession() = default;

void StoredSession::WorkingFolder::enter(const std::string& folder)
{
    std::error_code error;
    const std::string left = std::filesystem::current_path(error).string();
    if (::chdir(folder.c_str()) != 0)
        throw Exception("Cannot work in the folder " + inQuotes(folder) + ": " +
                        systemMessage(errno));
    m_left = left;
}

StoredSession::WorkingFolder::~WorkingFolder()
{
    if (!m_left.empty())
        (void)!::chdir(m_left.c_str());
}

std::string workRootOwner(const std::string& runId, const std::string& created)
{
    return "run store created " + created + " (run " + runId + ")";
}

void refuseExportOntoRunFiles(const ProjectScript& script, const ProjectSettings& settings,
                              const std::string& storeFile)
{
    // The WAL and its index are the store as much as the file is.
    refuseExportOnto(script.ReadString("EXPORT_NAMES", "export_name", ""),
                     {{"run store", storeFile},
                      {"run store", storeFile.empty() ? storeFile : storeFile + "-wal"},
                      {"run store", storeFile.empty() ? storeFile : storeFile + "-shm"},
                      {"script", script.fileName()},
                      {"program", settings.functionMode == FunctionMode::External
                                      ? settings.externalName
                                      : std::string()}});
}

RecordedRun StoredSession::recorded()
{
    return RecordedRun{*project.zyl, m_settings, m_table, project.plots, rng, stop, clock};
}

bool StoredSession::finished() const
{
    return stop.finished() || project.zyl->generation >= project.zyl->maxIteration;
}

std::unique_ptr<StoredSession> StoredSession::open(const StoreRequest& request,
                                                   ProjectSettings& settings, SymbolTable& table)
{
    std::unique_ptr<StoredSession> session(new StoredSession(settings, table));
    if (RunStore::probe(request.storePath) == RunStore::Content::Run) {
        if (!request.resume) {
            inspectRunStore(request.storePath); // a damaged store is refused as such
            throw Exception("The run store " + inQuotes(request.storePath) +
                            " already holds a run: resume it, or choose another file.");
        }
        session->resume(request);
        session->m_folder.keep();
    } else {
        if (!request.script)
            throw Exception("The run store " + inQuotes(request.storePath) +
                            " holds no run to resume, and no script was given to start one.");
        session->start(request);
    }
    return session;
}

void StoredSession::start(const StoreRequest& request)
{
    script = *request.script;
    applyOverrides(script, request.overrides);
    const std::uint64_t seed = request.seed ? *request.seed : LcgRng::clockSeed();
    rng.reseed(seed);
    project = loadProject(script, m_settings, m_table, rng);
    refuseExportOntoRunFiles(script, m_settings, request.storePath);

    const std::string reusePath =
        request.reusePath.empty() ? m_settings.reuseStore : request.reusePath;
    if (!reusePath.empty())
        reused = reuseEvaluations(*project.zyl, describeObjective(script, m_settings, *project.zyl),
                                  reusePath);

    RunHeader header = makeRunHeader(script, m_settings, project, seed, request.scriptName);
    header.overrides = overridesText(request.overrides);
    header.runId = runId = newRunId();
    m_store.emplace(RunStore::create(request.storePath, header,
                                     initialSnapshot(recorded(), {}, header.exportBase)));
    created = m_store->created();
    m_settings.workRootOwner = workRootOwner(runId, created);
    m_recorder.emplace(*m_store, recorded(), header.exportName, header.exportBase);
    // The first page, with the application id, goes into the file itself, so that tools
    // which read only the file's header (file(1), the desktop's MIME magic) know a store
    // from its first moments, even one whose WAL a kill left behind; its syncs need not
    // hold up the run.
    m_recorder->checkpointSoon();
}

void StoredSession::enterRunFolder(const std::string& folder, const std::string& storePath)
{
    if (folder.empty())
        return; // an older store: as before, the current folder
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    if (std::filesystem::equivalent(folder, current, error))
        return;
    if (!std::filesystem::is_directory(folder, error))
        throw Exception("The run store " + inQuotes(storePath) +
                        " holds a run started in the folder " + inQuotes(folder) +
                        ", which no longer exists (the current folder is " +
                        inQuotes(current.string()) + ").");
    m_folder.enter(folder);
}

void StoredSession::resume(const StoreRequest& request)
{
    m_store.emplace(RunStore::openExisting(request.storePath, /*lock=*/true));
    const StoredRun stored = m_store->read();
    // Read with the rest, so that a damaged record is refused before anything is written.
    m_jobs = m_store->openJobs();
    const std::vector<ScriptOverride> overrides = recordedOverrides(request, stored);
    if (request.script) {
        // The recorded overrides are in the stored script, and not in the file given.
        ProjectScript given = *request.script;
        applyOverrides(given, overrides);
        if (!sameScript(given, stored.header.scriptText))
            throw Exception("The script " + inQuotes(request.scriptName) +
                            " differs from the one the run store " +
                            inQuotes(request.storePath) + " holds.");
    }
    refuseAnotherSeed(request, stored);
    enterRunFolder(stored.header.folder, request.storePath);
    RestoredRun restored = restoreRun(stored, request.storePath, m_settings, m_table, rng);
    script = std::move(restored.script);
    project = std::move(restored.project);
    stop = restored.stop;
    // Not kept with the state: the evaluations table holds them.
    std::tie(stop.failedEvaluations, stop.failureValues) =
        m_store->failureCounts(project.zyl->generation);
    clock = RunClock(restored.runSeconds);
    statistics = std::move(restored.statistics);
    finishedEvaluations = std::move(restored.finishedEvaluations);
    screenedEvaluations = std::move(restored.screenedEvaluations);
    if (!stored.generations.empty())
        lastFigures = stored.generations.back().figures;
    resumed = true;

    m_exportRepair = planExportRepair(stored, request.storePath);

    // The folders its earlier process left in the work root are this run's to take back,
    // wherever the store has gone since.
    runId = stored.header.runId.empty() ? newRunId() : stored.header.runId;
    created = stored.header.created;
    m_settings.workRootOwner = workRootOwner(runId, created);
    if (stored.header.folder.empty()) {
        std::error_code error;
        m_store->recordFolderOnceProven(std::filesystem::current_path(error).string());
    }
    m_notice = request.notice;
    m_recorder.emplace(*m_store, recorded(), stored.header.exportName, m_exportRepair.size,
                       stored.bufferEntries);
    m_beginPending = true;
}

std::vector<ScriptOverride> StoredSession::recordedOverrides(const StoreRequest& request,
                                                             const StoredRun& stored)
{
    std::vector<ScriptOverride> recorded;
    try {
        recorded = overridesFromText(stored.header.overrides);
    } catch (const std::exception& error) {
        throw Exception("The run store " + inQuotes(request.storePath) +
                        " is damaged: the overrides of the script are unreadable: " +
                        error.what());
    }
    // As with the seed, the command that started the run continues it, and so does one that
    // leaves them out; another set would make the rest of the run another task.
    if (!request.overrides.empty() && !sameOverrides(request.overrides, recorded))
        throw Exception("The run store " + inQuotes(request.storePath) +
                        " holds a run started with " + overridesCommand(recorded) +
                        ": a resume continues it, and cannot take " +
                        overridesCommand(request.overrides) + ".");
    return recorded;
}

void StoredSession::refuseAnotherSeed(const StoreRequest& request, const StoredRun& stored)
{
    // The same command starts a run and continues it, so the seed that started it is welcome.
    // What the first command line wrote into the script is the run's seed, also where an older
    // ZYL recorded a clock seed beside it.
    const std::optional<std::uint64_t> own =
        scriptSeed(ProjectScript::fromText(stored.header.scriptText));
    const std::optional<std::uint64_t> seed = own ? own : stored.header.seed;
    const std::optional<std::uint64_t>& given = request.seed;
    if (!given || given == seed)
        return;
    throw Exception("The run store " + inQuotes(request.storePath) + " holds a run " +
                    (seed ? "started with the seed " + std::to_string(*seed)
                          : std::string("whose seed is not recorded")) +
                    ": a resume continues it, and cannot take the seed " +
                    std::to_string(*given) + ".");
}

void StoredSession::begin()
{
    if (!m_beginPending)
        return;
    // Before anything is written: a resume that cannot end them is refused as it stands.
    endEarlierJobs();
    m_store->beginWriting(runId);
    repairExportFile(m_exportRepair);
    adoptEarlierResults();
    // Only now: each step above may be taken again by a later Run after a failure (a store
    // that was made writable stays so, a job ended or a value taken is not ended or taken twice).
    m_beginPending = false;
}

void StoredSession::endEarlierJobs()
{
    if (m_jobs.empty())
        return;
    slurm::SchedulerLink link(m_settings.cluster.schedulerTimeoutMinutes * 60,
                              [this](const SchedulerNotice& notice) {
                                  if (m_notice)
                                      m_notice(schedulerNoticeText(notice));
                              });
    slurm::endEarlierJobs(link, m_jobs);
}

void StoredSession::adoptEarlierResults()
{
    const std::vector<SchedulerJob>& jobs = m_jobs;
    if (jobs.empty())
        return;

    // An array task of the generation in progress that ended with a value before the resume
    // is that individual's evaluation: taken as it is, not run a second time.
    ZYL& engine = *project.zyl;
    const int current = engine.generation + 1;
    int adopted = 0;
    for (const SchedulerJob& job : jobs) {
        if (job.generation != current)
            continue;
        const WorkFolders folders{job.folder, "", m_settings.keepWorkDirs};
        for (int index : job.individuals) {
            if (index >= engine.popSize ||
                std::any_of(finishedEvaluations.begin(), finishedEvaluations.end(),
                            [index](const EvaluationRecord& r) { return r.individual == index; }))
                continue;
            const Indiv& ind = engine.population[static_cast<std::size_t>(index)];
            const std::string folder = workFolderPath(folders, current, index);
            int status = -1;
            std::ifstream(pathInFolder(folder, "zyl-exit-status")) >> status;
            std::ifstream input(pathInFolder(folder, m_settings.inputName));
            std::ostringstream line;
            line << input.rdbuf();
            const OutputValues output =
                readOutputValues(pathInFolder(folder, m_settings.outputName),
                                 m_settings.externalConstraints, m_settings.externalObjectives);
            const std::optional<double>& value = output.value;
            if (status != 0 || !value || std::isnan(*value) || !output.problem.empty() ||
                line.str() != inputText(externalProgram(m_settings, engine.names), ind) + "\n")
                continue;
            EvaluationRecord record;
            record.generation = current;
            record.individual = index;
            record.variables = codec::toData(ind).variables;
            record.value = *value;
            record.constraints = output.constraints;
            record.objectives = output.objectives;
            record.host = "Slurm job " + (job.id.empty() ? job.name : job.id) + "_" +
                          std::to_string(index);
            record.folder = folder;
            m_recorder->evaluationFinished(record);
            finishedEvaluations.push_back(record);
            settleWorkFolder(folders, folder, /*succeeded=*/true);
            ++adopted;
        }
    }
    for (const SchedulerJob& job : jobs)
        m_store->endJob(job.key);
    std::string ids;
    for (const SchedulerJob& job : jobs)
        ids += (ids.empty() ? "" : ", ") + (job.id.empty() ? job.name : job.id);
    if (m_notice)
        m_notice("The Slurm jobs " + ids + " of the interrupted run have ended; " +
                 std::to_string(adopted) + (adopted == 1 ? " evaluation" : " evaluations") +
                 " they finished are taken as they are.");
}

} // namespace zyl
