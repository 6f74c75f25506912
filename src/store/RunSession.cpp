#include "store/RunSession.h"

#include "common/Exception.h"
#include "store/Objective.h"
#include "store/Restore.h"

#include <sys/stat.h>

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
    m_recorder.emplace(*m_store, recorded(), header.exportName, header.exportBase);
    // The first page, with the application id, goes into the file itself, so that tools
    // which read only the file's header (file(1), the desktop's MIME magic) know a store
    // from its first moments, even one whose WAL a kill left behind; its syncs need not
    // hold up the run.
    m_recorder->checkpointSoon();
}

void StoredSession::resume(const StoreRequest& request)
{
    m_store.emplace(RunStore::openExisting(request.storePath, /*lock=*/true));
    const StoredRun stored = m_store->read();
    if (request.script && !sameScript(*request.script, stored.header.scriptText))
        throw Exception("The script " + inQuotes(request.scriptName) +
                        " differs from the one the run store " + inQuotes(request.storePath) +
                        " holds.");
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

    // Every check has passed: from here on the store and the export file are written.
    m_store->beginWriting();
    const std::int64_t exportSize = restoreExportFile(stored);
    m_recorder.emplace(*m_store, recorded(), stored.header.exportName, exportSize,
                       stored.bufferEntries);
}

} // namespace zyl
