#include "store/StoredSession.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
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
    header.seed = seed;
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

std::string workRootOwner(const std::string& storePath, const std::string& created)
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::weakly_canonical(storePath, error);
    if (error)
        path = std::filesystem::absolute(storePath, error).lexically_normal();
    return "run store " + inQuotes(path.string()) + " created " + created;
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
    const std::uint64_t seed = request.seed ? *request.seed : LcgRng::clockSeed();
    rng.reseed(seed);
    project = loadProject(script, m_settings, m_table, rng);

    const std::string reusePath =
        request.reusePath.empty() ? m_settings.reuseStore : request.reusePath;
    if (!reusePath.empty())
        reused = reuseEvaluations(*project.zyl, describeObjective(script, m_settings, *project.zyl),
                                  reusePath);

    RunHeader header = makeRunHeader(script, m_settings, project, seed, request.scriptName);
    m_store.emplace(RunStore::create(request.storePath, header,
                                     initialSnapshot(recorded(), {}, header.exportBase)));
    m_settings.workRootOwner = workRootOwner(m_store->file(), m_store->created());
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
    const std::vector<SchedulerJob> jobs = m_store->openJobs();
    if (request.script && !sameScript(*request.script, stored.header.scriptText))
        throw Exception("The script " + inQuotes(request.scriptName) +
                        " differs from the one the run store " + inQuotes(request.storePath) +
                        " holds.");
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
    if (!stored.generations.empty())
        lastFigures = stored.generations.back().figures;
    resumed = true;

    const ExportRepair exportRepair = planExportRepair(stored, request.storePath);

    // The folders its earlier process left in the work root are this run's to take back. By
    // the file's absolute name: the process may have changed into the run's folder.
    m_settings.workRootOwner = workRootOwner(m_store->file(), stored.header.created);

    // Every check has passed: from here on the store and the export file are written.
    // Before anything is written: a resume that cannot end them is refused as it stands.
    endEarlierJobs(request, jobs);
    std::error_code error;
    m_store->beginWriting(std::filesystem::current_path(error).string());
    repairExportFile(exportRepair);
    m_recorder.emplace(*m_store, recorded(), stored.header.exportName, exportRepair.size,
                       stored.bufferEntries);
    adoptEarlierResults(request, jobs);
}

void StoredSession::endEarlierJobs(const StoreRequest& request,
                                   const std::vector<SchedulerJob>& jobs)
{
    if (jobs.empty())
        return;
    slurm::SchedulerLink link(m_settings.cluster.schedulerTimeoutMinutes * 60,
                              [&request](const SchedulerNotice& notice) {
                                  if (request.notice)
                                      request.notice(schedulerNoticeText(notice));
                              });
    slurm::endEarlierJobs(link, jobs);
}

void StoredSession::adoptEarlierResults(const StoreRequest& request,
                                        const std::vector<SchedulerJob>& jobs)
{
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
            const OutputValues output = readOutputValues(
                pathInFolder(folder, m_settings.outputName), m_settings.externalConstraints);
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
    if (request.notice)
        request.notice("The Slurm jobs " + ids + " of the interrupted run have ended; " +
                       std::to_string(adopted) + (adopted == 1 ? " evaluation" : " evaluations") +
                       " they finished are taken as they are.");
}

} // namespace zyl
