#include "store/RunRecorder.h"

#include "engine/Statistics.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>
#include <cstdio>
#include <string>

namespace zyl {

namespace {

// A commit waits for this many times its own duration, so that even on one core commits take
// at most a twentieth of the run's time; and never longer than the cap, so that a kill loses
// little work.
constexpr double kPacingFactor = 19.0;
constexpr double kLongestWait = 10.0;

/// The bytes of a file from `offset` on ("" when the file is missing or shorter).
std::string fileTail(const std::string& name, std::int64_t offset)
{
    std::string bytes;
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (!file)
        return bytes;
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0) {
        char chunk[65536];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            bytes.append(chunk, got);
    }
    std::fclose(file);
    return bytes;
}

} // namespace

void fillSnapshot(Snapshot& s, const RecordedRun& run, codec::ByteWriter& writer)
{
    const ZYL& zyl = run.zyl;
    s.generation = zyl.generation;
    s.rngState = run.rng.state();
    s.mutations = zyl.mutations;
    s.crossovers = zyl.crossovers;
    s.stop = run.stop;
    s.runSeconds = run.clock.seconds();
    // Each blob is encoded into the writer and swapped into place, so that the buffers are
    // reused from one snapshot to the next instead of allocated again.
    auto encode = [&writer](std::string& target, auto&& write) {
        writer.clear();
        write(writer);
        target.swap(writer.bytes());
    };
    encode(s.parameters, [&](codec::ByteWriter& w) {
        codec::encodeParameters(w, zyl, run.settings.loopCounter);
    });
    encode(s.statistics, [&](codec::ByteWriter& w) { codec::encodeStatistics(w, zyl); });
    encode(s.population, [&](codec::ByteWriter& w) { codec::encodePopulation(w, zyl); });
    encode(s.extremes, [&](codec::ByteWriter& w) { codec::encodeExtremes(w, zyl); });
    encode(s.symbols, [&](codec::ByteWriter& w) { codec::encodeSymbols(w, run.table); });
    encode(s.method, [&](codec::ByteWriter& w) { codec::encodeMethod(w, zyl); });
}

Snapshot initialSnapshot(const RecordedRun& run, std::vector<GenerationRecord> history,
                         std::int64_t exportSize)
{
    Snapshot s;
    codec::ByteWriter writer;
    fillSnapshot(s, run, writer);
    s.exportSize = exportSize;
    s.generations = std::move(history);
    for (std::size_t p = 0; p < run.plots.size(); ++p)
        for (std::size_t i = 0; i < run.plots[p].series.size(); ++i)
            for (std::size_t k = 0; k < run.plots[p].series[i].size(); ++k)
                s.points.push_back({static_cast<std::int32_t>(p), static_cast<std::int32_t>(i),
                                    static_cast<std::int32_t>(k), run.plots[p].series[i][k].x,
                                    run.plots[p].series[i][k].y});
    std::vector<const Indiv*> entries;
    for (const Indiv& entry : run.zyl.buffer.entries())
        entries.push_back(&entry);
    s.bufferCount = static_cast<std::int64_t>(entries.size());
    if (!entries.empty()) {
        writer.clear();
        codec::encodeIndivs(writer, entries.data(), entries.size(), run.zyl.count(),
                            codec::constraintCount(run.zyl), codec::objectiveCount(run.zyl));
        s.bufferEntries.swap(writer.bytes());
    }
    return s;
}

RunRecorder::RunRecorder(RunStore& store, RecordedRun run, std::string exportName,
                         std::int64_t exportSize, std::int64_t storedBuffer)
    : m_store(store), m_run(run), m_exportName(std::move(exportName)), m_exportSize(exportSize),
      m_storedBuffer(storedBuffer < 0 ? run.zyl.buffer.size()
                                      : static_cast<std::size_t>(storedBuffer)),
      m_lastCommitEnd(std::chrono::steady_clock::now())
{
    for (const UserPlot& plot : run.plots) {
        m_storedPoints.emplace_back();
        for (const auto& series : plot.series)
            m_storedPoints.back().push_back(series.size());
    }
    // Started here, where a failure to start it is the store's failing to open, rather
    // than in the middle of a commit.
    m_thread = std::thread([this] { writerLoop(); });
}

GenerationFigures generationFigures(const ZYL& zyl, const StopRuleState& stop,
                                    const RunClock& clock)
{
    GenerationFigures f;
    f.different = zyl.different;
    f.average = zyl.average;
    f.stdDev = zyl.stdDev;
    f.meanDev = zyl.meanDev;
    f.medianDev = zyl.medianDev;
    f.range = zyl.range;
    f.q1 = zyl.q1;
    f.q2 = zyl.q2;
    f.q3 = zyl.q3;
    f.iqr = zyl.iqr;
    f.entropy = zyl.entropy;
    f.discrepancy = zyl.discrepancy;
    f.globalMin = zyl.globalMin.value;
    f.globalMax = zyl.globalMax.value;
    f.currentMin = zyl.currentMin.value;
    f.currentMax = zyl.currentMax.value;
    f.mutations = zyl.mutations;
    f.crossovers = zyl.crossovers;
    f.buffered = static_cast<std::int64_t>(zyl.buffer.size());
    f.evaluations = stop.evaluations;
    f.runSeconds = clock.seconds();
    return f;
}

void RunRecorder::statisticsComputed()
{
    GenerationRecord record;
    record.generation = m_run.zyl.generation + 1;
    record.figures = generationFigures(m_run.zyl, m_run.stop, m_run.clock);
    m_current = std::move(record);
    // Only the numbers are taken here; the writer makes the rows' texts, off this thread.
    takeStatisticsSnapshot(m_run.zyl, m_statistics);
}

std::optional<std::string> RunRecorder::exportBytes()
{
    if (m_exportName.empty())
        return std::nullopt;
    if (!m_run.settings.exportEveryIteration)
        return fileTail(m_exportName, 0);
    // NOTE: what the export step appended is read back from the file, so that the store
    // holds what the file holds; whole rows only, so that a resume never appends its next
    // row to half of one (the export step cuts a failed append back, but a file someone else
    // writes to may still end in part of a line).
    std::string tail = fileTail(m_exportName, m_exportSize);
    const std::size_t lineEnd = tail.rfind('\n');
    tail.resize(lineEnd == std::string::npos ? 0 : lineEnd + 1);
    m_exportSize += static_cast<std::int64_t>(tail.size());
    return tail;
}

void RunRecorder::generationDone()
{
    // A generation step that failed before its counter moved on never reaches here; one that
    // did but whose statistics were not seen (a recorder attached mid-generation) has no row.
    const bool hasStatistics = m_current.has_value();
    GenerationRecord record = m_current ? std::move(*m_current) : GenerationRecord{};
    m_current.reset();
    record.generation = m_run.zyl.generation;
    record.exportText = exportBytes();
    // The slots keep their memory from one commit to the next: swapping hands this one's
    // to the next generation's snapshot.
    const std::size_t slot = m_snapshot.generations.size();
    if (m_pendingStatistics.size() <= slot)
        m_pendingStatistics.resize(slot + 1);
    m_pendingStatistics[slot].first = hasStatistics;
    if (hasStatistics)
        std::swap(m_pendingStatistics[slot].second, m_statistics);
    m_snapshot.generations.push_back(std::move(record));
    m_atBoundary = true;
    m_held = std::exchange(m_holdNext, false);
    if (!m_held && due())
        commit();
}

bool RunRecorder::due()
{
    if (!m_pacing || m_forceNext || m_evaluationSinceCommit)
        return true;
    std::lock_guard lock(m_mutex);
    if (m_busy)
        return false;
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_lastCommitEnd).count();
    return waited >= std::min(kPacingFactor * m_averageCommitSeconds, kLongestWait);
}

void RunRecorder::evaluationFinished(const EvaluationRecord& record)
{
    m_atBoundary = false;
    // After the boundaries handed over before it, as a reader of the store expects; an
    // expensive value is committed even when the last boundary could not be.
    std::exception_ptr boundaryFailure;
    try {
        waitForWriter();
    } catch (...) {
        boundaryFailure = std::current_exception();
    }
    m_store.commitEvaluation(record);
    m_evaluationSinceCommit = true;
    if (boundaryFailure)
        std::rethrow_exception(boundaryFailure);
    // A long generation of programs commits only evaluations: the writer, idle now, keeps
    // their WAL small while the run goes on.
    if (m_store.walPages() >= RunStore::kCheckpointPages) {
        {
            std::lock_guard lock(m_mutex);
            m_busy = m_checkpointJob = true;
        }
        m_wake.notify_one();
    }
}

std::int64_t RunRecorder::jobSubmitting(const SchedulerJob& job)
{
    try {
        waitForWriter();
    } catch (const std::exception&) {
        // Put back by waitForWriter and committed with the next boundary.
    }
    return m_store.recordJob(job);
}

void RunRecorder::jobSubmitted(std::int64_t key, const std::string& id)
{
    try {
        waitForWriter();
    } catch (const std::exception&) {
    }
    m_store.setJobId(key, id);
}

void RunRecorder::jobEnded(std::int64_t key)
{
    try {
        waitForWriter();
    } catch (const std::exception&) {
    }
    m_store.endJob(key);
}

void RunRecorder::valueTyped(int index)
{
    const Indiv& ind = m_run.zyl.population[static_cast<std::size_t>(index)];
    EvaluationRecord record;
    record.generation = m_run.zyl.generation + 1;
    record.individual = index;
    record.variables = codec::toData(ind).variables;
    record.value = ind.value;
    record.kind = "manual";
    evaluationFinished(record);
}

void RunRecorder::finish()
{
    // A last commit that failed is tried once more, as the one that ends the run; when that
    // one succeeds, nothing is missing from the store.
    std::exception_ptr failure;
    try {
        waitForWriter();
    } catch (...) {
        failure = std::current_exception();
    }
    if (m_atBoundary && !m_held && !m_snapshot.generations.empty()) {
        commit();
        waitForWriter();
    } else if (failure) {
        std::rethrow_exception(failure);
    }
}

void RunRecorder::commit()
{
    // The writer may still be busy with the previous boundary only when this one must be
    // committed whatever the pacing says.
    waitForWriter();
    const auto start = std::chrono::steady_clock::now();
    const ZYL& zyl = m_run.zyl;
    Snapshot& s = m_snapshot;
    s.exportSize = m_exportSize;
    fillSnapshot(s, m_run, m_writer);
    auto encode = [this](std::string& target, auto&& write) {
        m_writer.clear();
        write(m_writer);
        target.swap(m_writer.bytes());
    };

    m_handedPoints = m_storedPoints;
    for (std::size_t p = 0; p < m_run.plots.size() && p < m_storedPoints.size(); ++p) {
        const UserPlot& plot = m_run.plots[p];
        for (std::size_t i = 0; i < plot.series.size() && i < m_storedPoints[p].size(); ++i) {
            for (std::size_t k = m_storedPoints[p][i]; k < plot.series[i].size(); ++k)
                s.points.push_back({static_cast<std::int32_t>(p), static_cast<std::int32_t>(i),
                                    static_cast<std::int32_t>(k), plot.series[i][k].x,
                                    plot.series[i][k].y});
            m_storedPoints[p][i] = plot.series[i].size();
        }
    }

    // The new entries are the newest ones: walked back from the end, so a commit costs what
    // was added, not what the buffer holds.
    const std::size_t size = zyl.buffer.size();
    s.bufferFirst = static_cast<std::int64_t>(m_storedBuffer);
    s.bufferCount = static_cast<std::int64_t>(size - m_storedBuffer);
    if (s.bufferCount > 0) {
        m_newEntries.assign(static_cast<std::size_t>(s.bufferCount), nullptr);
        const auto* node = zyl.buffer.entries().last();
        for (std::size_t k = m_newEntries.size(); k-- > 0; node = node->prev)
            m_newEntries[k] = node->item.get();
        encode(s.bufferEntries, [&](codec::ByteWriter& w) {
            codec::encodeIndivs(w, m_newEntries.data(), m_newEntries.size(), zyl.count(),
                                codec::constraintCount(zyl), codec::objectiveCount(zyl));
        });
    }
    m_handedBuffer = m_storedBuffer;
    m_storedBuffer = size;
    m_forceNext = false;
    m_evaluationSinceCommit = false;

    // The snapshot is complete and owes nothing to the engine any more: the writer commits
    // it while the run goes on (pacing off: the caller waits, so that every boundary is in
    // the store when generationDone returns).
    {
        std::lock_guard lock(m_mutex);
        std::swap(m_snapshot, m_inFlight);
        std::swap(m_pendingStatistics, m_inFlightStatistics);
        m_handOverSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        m_busy = true;
    }
    m_wake.notify_one();
    if (!m_pacing)
        waitForWriter();
}

void RunRecorder::checkpointSoon()
{
    waitForWriter();
    {
        std::lock_guard lock(m_mutex);
        m_busy = m_checkpointJob = true;
    }
    m_wake.notify_one();
}

void RunRecorder::activity(const RunActivity& activity)
{
    {
        std::lock_guard lock(m_mutex);
        m_activity = activity;
        // A busy writer records it after the job in hand.
        if (m_busy)
            return;
        m_busy = m_activityJob = true;
    }
    m_wake.notify_one();
}

void RunRecorder::recordActivity(std::unique_lock<std::mutex>& lock)
{
    if (!m_activity)
        return;
    const RunActivity activity = std::move(*m_activity);
    m_activity.reset();
    lock.unlock();
    // A sign of life only: a store that cannot be written says so at the next commit.
    try {
        m_store.recordActivity(activity);
    } catch (const std::exception&) {
    }
    lock.lock();
}

void RunRecorder::writerLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_busy || m_quit; });
        if (!m_busy)
            return;
        if (m_checkpointJob || m_activityJob) {
            if (m_checkpointJob) {
                lock.unlock();
                // Only the file's header depends on it; a store that cannot be written says
                // so at its next commit.
                try {
                    m_store.checkpoint();
                } catch (const std::exception&) {
                }
                lock.lock();
            }
            recordActivity(lock);
            m_busy = m_checkpointJob = m_activityJob = false;
            m_idle.notify_all();
            continue;
        }
        lock.unlock();
        const auto start = std::chrono::steady_clock::now();
        std::exception_ptr failure;
        try {
            Snapshot& s = m_inFlight;
            for (std::size_t g = 0; g < s.generations.size(); ++g) {
                GenerationRecord& record = s.generations[g];
                record.rowsText.clear();
                if (g < m_inFlightStatistics.size() && m_inFlightStatistics[g].first)
                    forEachStatisticsRow(m_inFlightStatistics[g].second,
                                         m_run.settings.showBuffered,
                                         [&record](std::string_view what, std::string_view value,
                                                   std::string_view info) {
                                             appendStatisticsLine(record.rowsText, what, value,
                                                                  info);
                                         });
            }
            m_store.commitSnapshot(s);
            s.clearIncrements();
            if (m_store.walPages() >= RunStore::kCheckpointPages) {
                // Part of this commit's time, which the pacing counts; a failure shows at the
                // next commit, which meets the same file.
                try {
                    m_store.checkpoint();
                } catch (const std::exception&) {
                }
            }
        } catch (...) {
            failure = std::current_exception();
        }
        const auto end = std::chrono::steady_clock::now();
        lock.lock();
        recordActivity(lock);
        m_busy = false;
        if (failure) {
            m_failure = failure;
        } else {
            ++m_commits;
            m_lastCommitEnd = end;
            const double took =
                m_handOverSeconds + std::chrono::duration<double>(end - start).count();
            // A slowly moving average: one slow commit (a checkpoint syncing the file) must
            // not stretch the pacing for long.
            m_averageCommitSeconds =
                m_commits == 1 ? took : 0.8 * m_averageCommitSeconds + 0.2 * took;
        }
        m_idle.notify_all();
    }
}

void RunRecorder::waitForWriter()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_busy; });
    if (!m_failure)
        return;
    // What failed goes back in front of what came since, and the next commit tries it
    // all again, as if it had never been handed over.
    std::exception_ptr failure = std::exchange(m_failure, nullptr);
    Snapshot& failed = m_inFlight;
    const std::size_t count = failed.generations.size();
    failed.generations.insert(failed.generations.end(),
                              std::make_move_iterator(m_snapshot.generations.begin()),
                              std::make_move_iterator(m_snapshot.generations.end()));
    m_snapshot.generations.swap(failed.generations);
    for (std::size_t g = 0; g < m_snapshot.generations.size() - count; ++g) {
        if (m_inFlightStatistics.size() <= count + g)
            m_inFlightStatistics.resize(count + g + 1);
        if (g < m_pendingStatistics.size())
            std::swap(m_inFlightStatistics[count + g], m_pendingStatistics[g]);
    }
    std::swap(m_pendingStatistics, m_inFlightStatistics);
    failed.clearIncrements();
    m_storedPoints = m_handedPoints;
    m_storedBuffer = m_handedBuffer;
    m_forceNext = true;
    std::rethrow_exception(failure);
}

RunRecorder::~RunRecorder()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

RecordingObserver::RecordingObserver(RunRecorder& recorder, RunObserver& inner, const ZYL& zyl,
                                     const ProjectSettings& settings)
    : m_recorder(recorder), m_inner(inner), m_zyl(zyl), m_settings(settings)
{
}

void RecordingObserver::warning(const std::string& text)
{
    // The prefix of the export step's failures.
    if (text.rfind("Export\n", 0) == 0)
        m_recorder.exportFailed();
    m_inner.warning(text);
}

void RecordingObserver::evaluationFailed(int index, const std::string& message, bool timedOut)
{
    m_failedIndex = index;
    m_failureMessage = message;
    m_failureTimedOut = timedOut;
    m_inner.evaluationFailed(index, message, timedOut);
}

void RecordingObserver::stopRuleMet(const std::string& reason)
{
    // The boundary that follows holds the finished task: it must reach the store.
    m_recorder.requestCommit();
    m_inner.stopRuleMet(reason);
}

void RecordingObserver::evaluatedValue(int index)
{
    // Called for every individual: an analytical run (a million calls in a second) must pay
    // no more than the flag.
    m_recorder.individualEvaluated();
    // A screened design reaches no program (and no program's hook): its row is made here.
    if (m_settings.functionMode == FunctionMode::External &&
        (m_recordsEvaluations || m_zyl.population[index].screened) && !recordEvaluation(index))
        return;
    m_inner.evaluatedValue(index);
}

bool RecordingObserver::recordEvaluation(int index)
{
    const Indiv& ind = m_zyl.population[index];
    EvaluationRecord record;
    record.generation = m_zyl.generation + 1;
    record.individual = index;
    record.variables = codec::toData(ind).variables;
    record.value = ind.value;
    // What the program gave; the CONSTRAINTS formulas are computed again from the variables.
    const auto program = static_cast<std::size_t>(m_settings.externalConstraints);
    if (program > 0 && ind.constraints.size() >= program && !ind.screened)
        record.constraints.assign(ind.constraints.end() - static_cast<std::ptrdiff_t>(program),
                                  ind.constraints.end());
    // Likewise its objective values, the last ones; its first is the value it wrote.
    const auto objectives = static_cast<std::size_t>(m_settings.externalObjectives);
    if (objectives > 0 && ind.objectives.size() >= objectives) {
        record.objectives.assign(ind.objectives.end() - static_cast<std::ptrdiff_t>(objectives),
                                 ind.objectives.end());
        record.value = record.objectives.front();
    }
    const bool failed = m_failedIndex == index;
    record.status = ind.screened        ? RecordStatus::Screened
                    : !failed           ? RecordStatus::Ok
                    : m_failureTimedOut ? RecordStatus::TimedOut
                                        : RecordStatus::Failed;
    record.kind = "external";
    if (failed)
        record.message = m_failureMessage;
    else if (ind.screened)
        record.message = "ruled out before evaluation by " + m_zyl.ruledOutBy(ind);
    m_failedIndex = -1;
    const auto stored = std::find_if(m_recorded.begin(), m_recorded.end(), [&](const auto& r) {
        return r.generation == record.generation && r.individual == index &&
               r.variables == record.variables && r.status == record.status &&
               (r.value == record.value || ind.screened) && !failed;
    });
    if (stored != m_recorded.end()) {
        m_recorded.erase(stored);
        m_inner.evaluatedValue(index);
        return false;
    }
    // A store that cannot be written is reported like any failing step; the value itself
    // is in the engine, and the run loop decides what comes next.
    try {
        m_recorder.evaluationFinished(record);
    } catch (const std::exception& error) {
        reportStoreFailure(error);
    }
    return true;
}

void RecordingObserver::reportStoreFailure(const std::exception& error)
{
    m_storeFailed = true;
    // A full disk refuses every commit with the same words: they are said once.
    if (!alreadyReported(error.what())) {
        m_reported.emplace_back(error.what());
        m_inner.warning(error.what());
    }
    if (dynamic_cast<const StoreLost*>(&error) && m_stop)
        m_stop();
}

bool RecordingObserver::alreadyReported(const std::string& text) const
{
    return std::find(m_reported.begin(), m_reported.end(), text) != m_reported.end();
}

void RecordingObserver::statistics()
{
    m_recorder.statisticsComputed();
    m_inner.statistics();
}

void RecordingObserver::generationDone()
{
    m_inner.generationDone();
    try {
        m_recorder.generationDone();
    } catch (const std::exception& error) {
        reportStoreFailure(error);
    }
}

} // namespace zyl
