#include "store/StoreWatch.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
#include "engine/Formulas.h"
#include "store/Restore.h"
#include "store/StateCodec.h"
#include "store/StoreFiles.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <limits>

namespace zyl {

namespace {

bool processGone(std::int64_t pid)
{
    return pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
}

/// The program a process runs, by its file's name ("" when the system does not say).
std::string programOf(std::int64_t pid)
{
    std::error_code error;
    const auto target =
        std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    return error ? std::string() : target.filename().string();
}

std::string processText(const StoreOwner& owner)
{
    return "process " + std::to_string(owner.pid) + " on " + owner.host;
}

} // namespace

bool WriterStatus::operator==(const WriterStatus& other) const
{
    auto same = [](const std::optional<EvaluationProgress>& a,
                   const std::optional<EvaluationProgress>& b) {
        return a.has_value() == b.has_value() &&
               (!a || (a->running == b->running && a->queued == b->queued &&
                       a->done == b->done && a->failed == b->failed));
    };
    return state == other.state && owner.pid == other.owner.pid &&
           owner.host == other.owner.host && owner.since == other.owner.since &&
           local == other.local && ownerGone == other.ownerGone &&
           generation == other.generation && maxIteration == other.maxIteration &&
           evaluations == other.evaluations && same(programs, other.programs) &&
           stopReason == other.stopReason;
}

std::string describeWriter(const WriterStatus& s)
{
    const std::string where =
        "generation " + std::to_string(s.generation) + " of " + std::to_string(s.maxIteration);
    switch (s.state) {
    case WriterStatus::State::Finished:
        return s.stopReason.empty() ? "finished in " + where : "finished: " + s.stopReason;
    case WriterStatus::State::Stopped:
        return "stopped without finishing in " + where +
               (s.owner.pid > 0 ? " (" + processText(s.owner) + " no longer " +
                                      (s.local ? "exists)" : "holds it)")
                                : std::string());
    case WriterStatus::State::Running:
        break;
    }
    std::string text = "running: " + where + ", " + std::to_string(s.evaluations) +
                       (s.evaluations == 1 ? " evaluation" : " evaluations");
    if (s.ownerGone) {
        text += " (open in another ZYL";
    } else if (s.owner.pid > 0) {
        text += " (" + processText(s.owner);
    } else {
        return text;
    }
    if (s.programs)
        text += "; " + std::to_string(s.programs->running) + " programs running, " +
                std::to_string(s.programs->queued) + " queued";
    return text + ")";
}

StoreWatch::StoreWatch(RunStore store, ProjectSettings& settings, SymbolTable& table)
    : m_settings(settings), m_table(table), m_lock(store.file()), m_store(std::move(store))
{
}

StoreWatch::~StoreWatch() = default;

std::unique_ptr<StoreWatch> StoreWatch::open(const std::string& path, ProjectSettings& settings,
                                             SymbolTable& table)
{
    std::unique_ptr<StoreWatch> watch(
        new StoreWatch(RunStore::openForWatching(path), settings, table));
    StoreWatch& w = *watch;
    struct stat info {};
    if (::stat(w.file().c_str(), &info) == 0) {
        w.m_device = info.st_dev;
        w.m_inode = info.st_ino;
        w.m_size = info.st_size;
    }
    // Both taken before the reading: a commit in between is read again at the next look,
    // never missed; and a writer lets its lock go only once it has committed all it has.
    const std::optional<bool> held = w.m_lock.held();
    w.m_dataVersion = w.m_store.dataVersion();
    StoredRun stored;
    std::vector<EvaluationRecord> inProgress;
    {
        RunStore::ReadTransaction transaction(w.m_store);
        stored = w.m_store.read();
        std::int64_t entries = 0;
        w.m_store.readState(entries, w.m_lastEvaluation);
        w.m_owner = w.m_store.readOwner();
        w.m_activity = w.m_store.readActivity();
    }
    // The values of the generation in progress are shown, not entered: entering a typed
    // value would put it in the buffer, which follows the store's own.
    inProgress.swap(stored.unfinishedGeneration);
    RestoredRun restored = restoreRun(stored, path, settings, table, w.m_rng);
    w.m_script = std::move(restored.script);
    w.m_project = std::move(restored.project);
    w.m_stop = restored.stop;
    w.m_generations = std::move(stored.generations);
    w.m_generation = stored.state.generation;
    w.m_bufferEntries = stored.bufferEntries;
    w.m_parameters = stored.state.parameters;
    w.showValues(inProgress, nullptr);
    w.m_status = w.lookAtWriter(held);
    return watch;
}

void StoreWatch::checkStillThere()
{
    // The file only grows while it is written (no vacuum; checkpoints add pages).
    struct stat info {};
    if (::stat(file().c_str(), &info) == 0 && info.st_dev == m_device &&
        info.st_ino == m_inode && info.st_size >= m_size) {
        m_size = info.st_size;
        return;
    }
    throw Exception("The run store " + storefile::inQuotes(path()) +
                    " is no longer the file the watch opened (it was deleted, replaced or cut "
                    "short): the watch stops.");
}

bool StoreWatch::update(WatchObserver& observer)
{
    checkStillThere();
    // Asked before the store is read: a writer commits everything before it lets its lock go,
    // so a lock found free means that what is read next is all there is. (Asked after, a
    // writer that committed its end and went in between would pass for one that stopped.)
    const std::optional<bool> held = m_lock.held();
    bool told = false;
    const std::int64_t version = m_store.dataVersion();
    if (version != m_dataVersion) {
        m_dataVersion = version;
        told = readNew(observer);
    }
    // The lock changes hands without a commit (a writer killed, a resume starting).
    const WriterStatus status = lookAtWriter(held);
    if (!(status == m_status)) {
        m_status = status;
        observer.writerChanged();
        told = true;
    }
    return told;
}

bool StoreWatch::readNew(WatchObserver& observer)
{
    ZYL& zyl = *m_project.zyl;
    Snapshot state;
    std::int64_t bufferEntries = 0, lastEvaluation = 0;
    std::vector<GenerationRecord> generations;
    std::vector<std::vector<std::vector<PlotPointRecord>>> points(m_project.plots.size());
    std::vector<std::string> chunks;
    std::vector<EvaluationRecord> evaluations;
    {
        RunStore::ReadTransaction transaction(m_store);
        state = m_store.readState(bufferEntries, lastEvaluation);
        if (state.generation < m_generation)
            throw Exception("The run store " + storefile::inQuotes(path()) +
                            " is damaged: its state went back from generation " +
                            std::to_string(m_generation) + " to " +
                            std::to_string(state.generation));
        generations = m_store.readGenerations(m_generation);
        for (std::size_t p = 0; p < points.size(); ++p) {
            const auto& series = m_project.plots[p].series;
            for (std::size_t s = 0; s < series.size(); ++s)
                points[p].push_back(
                    m_store.readPoints(static_cast<std::int32_t>(p), static_cast<std::int32_t>(s),
                                       static_cast<std::int64_t>(series[s].size())));
        }
        std::int64_t added = 0;
        chunks = m_store.readBuffer(m_bufferEntries, added);
        if (m_bufferEntries + added != bufferEntries)
            throw Exception("The run store " + storefile::inQuotes(path()) +
                            " is damaged: the buffer holds " +
                            std::to_string(m_bufferEntries + added) + " entries where " +
                            std::to_string(bufferEntries) + " are expected");
        evaluations = m_store.evaluations(m_lastEvaluation, /*successfulOnly=*/false);
        m_owner = m_store.readOwner();
        m_activity = m_store.readActivity();
    }
    if ((!generations.empty() && (generations.front().generation != m_generation + 1 ||
                                  generations.back().generation != state.generation)) ||
        (generations.empty() && state.generation != m_generation))
        throw Exception("The run store " + storefile::inQuotes(path()) +
                        " is damaged: generation " + std::to_string(m_generation + 1) +
                        " is missing");

    bool told = false;
    try {
        // 1. What the generations added to the buffer, entry by entry as a run tells it.
        const std::size_t before = zyl.buffer.size();
        for (const std::string& chunk : chunks)
            appendBufferChunk(zyl, chunk);
        if (zyl.buffer.size() > before) {
            std::vector<const Indiv*> entries(zyl.buffer.size() - before);
            const auto* node = zyl.buffer.entries().last();
            for (std::size_t k = entries.size(); k-- > 0; node = node->prev)
                entries[k] = node->item.get();
            for (const Indiv* entry : entries)
                observer.buffered(*entry);
            told = true;
        }
        m_bufferEntries = bufferEntries;
        // 2. Each generation's statistics, then the plots' new points.
        for (const GenerationRecord& g : generations) {
            observer.storedGeneration(g);
            told = true;
        }
        for (std::size_t p = 0; p < points.size(); ++p) {
            bool gained = false;
            for (const auto& series : points[p])
                for (const PlotPointRecord& point : series) {
                    appendPlotPoint(m_project.plots, point);
                    gained = true;
                }
            if (gained) {
                observer.plotUpdated(p);
                told = true;
            }
        }
        // 3. The engine at the new boundary, with the next population. A desktop's Options
        // may change the parameters between runs without a new generation.
        if (state.generation != m_generation || state.parameters != m_parameters ||
            state.stop.stopReason != m_stop.stopReason) {
            applySnapshot(state, zyl, m_settings, m_table, m_rng);
            m_stop = state.stop;
            m_generation = state.generation;
            m_parameters = state.parameters;
            observer.populationChanged();
            observer.generationDone();
            told = true;
        }
    } catch (const std::exception& error) {
        const std::string text = error.what();
        if (text.rfind("The run store ", 0) == 0)
            throw;
        throw Exception("The run store " + storefile::inQuotes(path()) + " is damaged: " + text);
    }
    // 4. The values of the generation in progress committed since the last look.
    m_lastEvaluation = std::max(m_lastEvaluation, lastEvaluation);
    if (!evaluations.empty())
        m_lastEvaluation = std::max(m_lastEvaluation, evaluations.back().id);
    return showValues(evaluations, &observer) || told;
}

bool StoreWatch::showValues(const std::vector<EvaluationRecord>& records, WatchObserver* observer)
{
    ZYL& zyl = *m_project.zyl;
    bool shown = false;
    for (const EvaluationRecord& r : records) {
        // A failure without a value leaves the individual as it was, as in the run.
        if (r.generation != zyl.generation + 1 || r.individual < 0 ||
            r.individual >= zyl.popSize ||
            (r.status != RecordStatus::Ok && r.status != RecordStatus::FailureValue &&
             r.status != RecordStatus::Screened))
            continue;
        Indiv& ind = zyl.population[static_cast<std::size_t>(r.individual)];
        if (codec::toData(ind).variables != r.variables)
            continue;
        if (r.status == RecordStatus::Screened) {
            // Ruled out by the section's formulas, which the watch computes as the run did.
            if (!zyl.constraintFormulas)
                continue;
            std::vector<double> values(zyl.constraintFormulas->count(),
                                       std::numeric_limits<double>::quiet_NaN());
            try {
                zyl.constraintFormulas->evaluateTree(ind, zyl.names, m_table, values.data());
            } catch (const std::exception&) {
                // Not a number: an infinite violation, as the run counted it.
            }
            zyl.screen(ind, values.data());
            if (observer)
                observer->evaluatedValue(r.individual);
            shown = true;
            continue;
        }
        ind.value = r.value;
        ind.evaluated = true;
        if (zyl.constrained()) {
            // The section's formulas first, then the program's values, as the run orders them.
            std::vector<double> values(zyl.constraintNames.size(),
                                       std::numeric_limits<double>::quiet_NaN());
            const std::size_t formulas =
                zyl.constraintFormulas ? zyl.constraintFormulas->count() : 0;
            if (formulas > 0) {
                try {
                    zyl.constraintFormulas->evaluateTree(ind, zyl.names, m_table, values.data());
                } catch (const std::exception&) {
                    // Shown as not a number; the run itself says why at its own time.
                }
            }
            for (std::size_t c = 0; c < r.constraints.size() && formulas + c < values.size(); ++c)
                values[formulas + c] = r.constraints[c];
            zyl.setConstraintValues(ind, values.data());
        }
        if (observer)
            observer->evaluatedValue(r.individual);
        shown = true;
    }
    return shown;
}

WriterStatus StoreWatch::lookAtWriter(std::optional<bool> held) const
{
    const ZYL& zyl = *m_project.zyl;
    WriterStatus s;
    s.generation = zyl.generation;
    s.maxIteration = zyl.maxIteration;
    s.evaluations = m_stop.evaluations;
    s.stopReason = m_stop.stopReason;
    if (m_owner)
        s.owner = *m_owner;
    s.local = !s.owner.host.empty() && s.owner.host == storefile::hostName();
    s.ownerGone = s.local && processGone(s.owner.pid);
    // Where the system cannot tell about the lock, the owner on this machine tells.
    const bool running = held ? *held : !s.ownerGone;
    if (m_stop.finished() || zyl.generation >= zyl.maxIteration)
        s.state = WriterStatus::State::Finished;
    else if (running)
        s.state = WriterStatus::State::Running;
    else
        s.state = WriterStatus::State::Stopped;
    // A count of the generation in progress, from the process that writes now.
    if (s.state == WriterStatus::State::Running && m_activity &&
        m_activity->generation == zyl.generation + 1 && m_activity->pid == s.owner.pid &&
        m_activity->host == s.owner.host) {
        s.programs = m_activity->programs;
        s.evaluations = std::max(s.evaluations, m_activity->evaluations);
    }
    return s;
}

void StoreWatch::terminateWriter()
{
    const WriterStatus& s = m_status;
    if (s.state != WriterStatus::State::Running || s.ownerGone || s.owner.pid <= 0)
        throw Exception("The run store " + storefile::inQuotes(path()) +
                        " has no running ZYL to stop.");
    if (!s.local)
        throw Exception("The run of the run store " + storefile::inQuotes(path()) +
                        " goes on on " + s.owner.host + ", not on this machine: stop it there.");
    // A process number is used again once its process has gone: only a ZYL is asked.
    const std::string program = programOf(s.owner.pid);
    if (!program.empty() && program.rfind("zyl", 0) != 0)
        throw Exception("The run store " + storefile::inQuotes(path()) +
                        " has no running ZYL to stop.");
    if (::kill(static_cast<pid_t>(s.owner.pid), SIGTERM) != 0)
        throw Exception("The run of the run store " + storefile::inQuotes(path()) +
                        " cannot be stopped: " + systemMessage(errno));
}

} // namespace zyl
