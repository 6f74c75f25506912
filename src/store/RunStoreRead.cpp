#include "store/RunStore.h"

#include "common/Exception.h"
#include "store/StateCodec.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace zyl {

namespace {

std::vector<StatisticsRow> parseRows(const std::string& text)
{
    std::vector<StatisticsRow> rows;
    std::vector<std::string> cells(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            cells.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else if (c == '\t') {
            cells.emplace_back();
        } else if (c == '\n') {
            if (cells.size() != 3)
                throw Exception("a statistics row does not have three cells");
            rows.push_back({cells[0], cells[1], cells[2]});
            cells.assign(1, "");
        } else {
            cells.back() += c;
        }
    }
    if (cells.size() != 1 || !cells[0].empty())
        throw Exception("a statistics row does not end");
    return rows;
}

void decodeExactEvaluation(std::string_view bytes, EvaluationRecord& record)
{
    codec::ByteReader in(bytes, "an evaluation");
    record.variables.resize(in.count(8));
    for (double& x : record.variables)
        x = in.f64();
    record.value = in.f64();
    if (!in.atEnd()) {
        record.constraints.resize(in.count(8));
        for (double& x : record.constraints)
            x = in.f64();
    }
    if (!in.atEnd()) {
        record.objectives.resize(in.count(8));
        for (double& x : record.objectives)
            x = in.f64();
    }
    in.expectEnd();
}

RecordStatus parseStatus(const std::string& text)
{
    for (RecordStatus status : {RecordStatus::Ok, RecordStatus::Failed, RecordStatus::TimedOut,
                                RecordStatus::Cancelled, RecordStatus::FailureValue,
                                RecordStatus::Screened})
        if (statusText(status) == text)
            return status;
    throw Exception("an evaluation has the unknown status \"" + text + "\"");
}

} // namespace

RunStore::ReadTransaction::ReadTransaction(RunStore& store) : m_store(store)
{
    try {
        m_store.m_db.exec("BEGIN");
    } catch (const std::exception& error) {
        m_store.failed(error);
    }
}

RunStore::ReadTransaction::~ReadTransaction()
{
    try {
        m_store.m_db.exec("COMMIT");
    } catch (const std::exception&) {
        // A read transaction holds nothing to keep; it ends with the connection at worst.
    }
}

std::int64_t RunStore::dataVersion()
{
    try {
        return m_db.queryInt("PRAGMA data_version");
    } catch (const std::exception& error) {
        failed(error);
    }
}

RunHeader RunStore::readHeader()
{
    RunHeader h;
    try {
        // A store of the first two layouts has no folder: the run's folder is unknown; one
        // before the fifth has no id.
        const std::string columns = std::string(m_version >= 3 ? "folder" : "NULL") + ", " +
                                    (m_version >= 5 ? "run_id" : "NULL") + ", " +
                                    (m_version >= 6 ? "overrides" : "NULL");
        sql::Statement q(m_db, ("SELECT created, program, script_name, seed, export_name, "
                                "export_every_iteration, export_base, objective, script, " +
                                columns + " FROM run")
                                   .c_str());
        if (!q.step())
            damaged("the run is missing");
        h.created = q.columnText(0);
        h.program = q.columnText(1);
        h.scriptName = q.columnText(2);
        if (!q.isNull(3))
            h.seed = static_cast<std::uint64_t>(q.columnInt(3));
        h.exportName = q.columnText(4);
        h.exportEveryIteration = q.columnInt(5) != 0;
        h.exportBase = q.columnInt(6);
        h.objective = q.columnText(7);
        h.scriptText = q.columnText(8);
        if (!q.isNull(9))
            h.folder = q.columnText(9);
        if (!q.isNull(10))
            h.runId = q.columnText(10);
        if (!q.isNull(11))
            h.overrides = q.columnText(11);
        if (h.exportBase < 0)
            damaged("the export file's starting size is negative");
        sql::Statement plots(m_db, "SELECT plot, series, title, expression FROM plots "
                                   "ORDER BY plot, series");
        while (plots.step()) {
            const std::int64_t p = plots.columnInt(0), s = plots.columnInt(1);
            if (p < 0 || s < 0 || p > static_cast<std::int64_t>(h.plots.size()))
                damaged("the plots are out of order");
            if (p == static_cast<std::int64_t>(h.plots.size()))
                h.plots.push_back({plots.columnText(2), {}});
            if (s != static_cast<std::int64_t>(h.plots[p].expressions.size()))
                damaged("the plots are out of order");
            h.plots[p].expressions.push_back(plots.columnText(3));
        }
    } catch (const std::exception& error) {
        failed(error);
    }
    return h;
}

StoreOwner RunStore::readOwner()
{
    StoreOwner owner;
    try {
        sql::Statement q(m_db, "SELECT owner_pid, owner_host, owner_since FROM run");
        if (!q.step())
            damaged("the run is missing");
        if (!q.isNull(0))
            owner = {q.columnInt(0), q.columnText(1), q.columnText(2)};
    } catch (const std::exception& error) {
        failed(error);
    }
    return owner;
}

Snapshot RunStore::readState(std::int64_t& bufferEntries, std::int64_t& lastEvaluation)
{
    Snapshot s;
    try {
        sql::Statement q(m_db, "SELECT generation, rng, mutations, crossovers, evaluations, "
                               "run_seconds, stall_count, stop_reason, export_size, "
                               "buffer_entries, last_evaluation, stall_best, parameters, "
                               "statistics, extremes, symbols, population FROM state");
        if (!q.step())
            damaged("the run is missing");
        s.generation = static_cast<std::int32_t>(q.columnInt(0));
        s.rngState = static_cast<std::uint64_t>(q.columnInt(1));
        s.mutations = q.columnInt(2);
        s.crossovers = q.columnInt(3);
        s.stop.evaluations = q.columnInt(4);
        s.runSeconds = q.columnReal(5);
        s.stop.stallCount = static_cast<int>(q.columnInt(6));
        if (!q.isNull(7))
            s.stop.stopReason = q.columnText(7);
        s.exportSize = q.columnInt(8);
        bufferEntries = q.columnInt(9);
        lastEvaluation = q.columnInt(10);
        if (!q.isNull(11)) {
            codec::ByteReader best(q.columnBlob(11), "the stall rule's best value");
            s.stop.stallBest = best.f64();
            best.expectEnd();
            s.stop.hasStallBest = true;
        }
        s.parameters = q.columnBlob(12);
        s.statistics = q.columnBlob(13);
        s.extremes = q.columnBlob(14);
        s.symbols = q.columnBlob(15);
        s.population = q.columnBlob(16);
        if (m_db.queryInt("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND "
                          "name = 'method'") == 1) {
            sql::Statement method(m_db, "SELECT state FROM method");
            if (method.step())
                s.method = method.columnBlob(0);
        }
        if (q.columnInt(0) != s.generation || s.generation < 0 || s.stop.evaluations < 0 ||
            s.stop.stallCount < 0 || s.exportSize < 0 || bufferEntries < 0 ||
            !(s.runSeconds >= 0) || (s.stop.finished() && s.stop.stopReason.empty()))
            damaged("the state holds impossible counts");
    } catch (const std::exception& error) {
        failed(error);
    }
    return s;
}

std::vector<GenerationRecord> RunStore::readGenerations(std::int32_t after)
{
    std::vector<GenerationRecord> generations;
    try {
        sql::Statement q(m_db, "SELECT generation, average, std_dev, mean_dev, median_dev, "
                               "range, q1, q2, q3, iqr, entropy, discrepancy, different, "
                               "global_min, global_max, current_min, current_max, "
                               "mutations, crossovers, buffered, evaluations, run_seconds, "
                               "statistics, export FROM generations WHERE generation > ? "
                               "ORDER BY generation");
        q.bind(1, after);
        while (q.step()) {
            GenerationRecord g;
            g.generation = static_cast<std::int32_t>(q.columnInt(0));
            if (!generations.empty() && g.generation != generations.back().generation + 1)
                damaged("generation " + std::to_string(generations.back().generation + 1) +
                        " is missing");
            GenerationFigures& f = g.figures;
            int i = 1;
            for (double* x : {&f.average, &f.stdDev, &f.meanDev, &f.medianDev, &f.range, &f.q1,
                              &f.q2, &f.q3, &f.iqr, &f.entropy, &f.discrepancy})
                *x = q.columnReal(i++);
            f.different = static_cast<std::int32_t>(q.columnInt(i++));
            for (double* x : {&f.globalMin, &f.globalMax, &f.currentMin, &f.currentMax})
                *x = q.columnReal(i++);
            for (std::int64_t* x : {&f.mutations, &f.crossovers, &f.buffered, &f.evaluations})
                *x = q.columnInt(i++);
            f.runSeconds = q.columnReal(i++);
            g.rows = parseRows(q.columnText(i++));
            if (!q.isNull(i))
                g.exportText = q.columnText(i);
            generations.push_back(std::move(g));
        }
    } catch (const std::exception& error) {
        failed(error);
    }
    return generations;
}

namespace {

PlotPointRecord pointOf(const sql::Statement& q)
{
    PlotPointRecord p;
    p.plot = static_cast<std::int32_t>(q.columnInt(0));
    p.series = static_cast<std::int32_t>(q.columnInt(1));
    p.point = static_cast<std::int32_t>(q.columnInt(2));
    p.x = static_cast<float>(q.columnReal(3));
    p.y = static_cast<float>(q.columnReal(4));
    return p;
}

} // namespace

std::vector<PlotPointRecord> RunStore::readPoints(std::int32_t plot, std::int32_t series,
                                                  std::int64_t first)
{
    std::vector<PlotPointRecord> points;
    try {
        sql::Statement q(m_db, "SELECT plot, series, point, x, y FROM plot_points "
                               "WHERE plot = ? AND series = ? AND point >= ? ORDER BY point");
        q.bind(1, plot).bind(2, series).bind(3, first);
        while (q.step())
            points.push_back(pointOf(q));
    } catch (const std::exception& error) {
        failed(error);
    }
    return points;
}

std::vector<std::string> RunStore::readBuffer(std::int64_t first, std::int64_t& entries)
{
    std::vector<std::string> chunks;
    entries = 0;
    try {
        sql::Statement q(m_db, "SELECT first, count, entries FROM buffer WHERE first >= ? "
                               "ORDER BY first");
        q.bind(1, first);
        while (q.step()) {
            const std::int64_t count = q.columnInt(1);
            if (q.columnInt(0) != first + entries || count <= 0)
                damaged("the buffer has a gap");
            // The count a row claims must be the one its entries hold: the buffer is
            // rebuilt from the entries, the recorder continues from the counts.
            const std::string_view bytes = q.columnBlob(2);
            codec::ByteReader header(bytes, "the buffer");
            if (header.u32() != static_cast<std::uint64_t>(count))
                damaged("the buffer's counts disagree");
            entries += count;
            chunks.emplace_back(bytes);
        }
    } catch (const std::exception& error) {
        failed(error);
    }
    return chunks;
}

StoredRun RunStore::read()
{
    StoredRun run;
    try {
        run.header = readHeader();
        std::int64_t lastEvaluation = 0;
        run.state = readState(run.bufferEntries, lastEvaluation);
        run.generations = readGenerations(0);
        // A store saved from a project that ran before it had a store may lack the
        // first generations, never the latest.
        if (!run.generations.empty() &&
            run.generations.back().generation != run.state.generation)
            damaged("its last generation is " +
                    std::to_string(run.generations.back().generation) +
                    " where its state has " + std::to_string(run.state.generation));
        {
            sql::Statement q(m_db, "SELECT plot, series, point, x, y FROM plot_points "
                                   "ORDER BY plot, series, point");
            while (q.step())
                run.points.push_back(pointOf(q));
        }
        std::int64_t total = 0;
        run.bufferChunks = readBuffer(0, total);
        if (total != run.bufferEntries)
            damaged("the buffer holds " + std::to_string(total) + " entries where " +
                    std::to_string(run.bufferEntries) + " are expected");
        run.unfinishedGeneration = evaluations(lastEvaluation, /*successfulOnly=*/false);
    } catch (const std::exception& error) {
        failed(error);
    }
    return run;
}

std::vector<EvaluationRecord> RunStore::evaluations(std::int64_t afterId, bool successfulOnly)
{
    std::vector<EvaluationRecord> records;
    try {
        // Individuals are counted in the population, whose blob starts with its size.
        std::int64_t populationSize = 0;
        {
            sql::Statement q(m_db, "SELECT substr(population, 1, 4) FROM state");
            if (!q.step())
                damaged("the run is missing");
            codec::ByteReader size(q.columnBlob(0), "the population");
            populationSize = size.u32();
        }
        sql::Statement q(m_db, successfulOnly
                                   ? "SELECT id, generation, individual, status, kind, seconds, "
                                     "attempts, host, folder, message, exact FROM evaluations "
                                     "WHERE id > ? AND status = 'ok' ORDER BY id"
                                   : "SELECT id, generation, individual, status, kind, seconds, "
                                     "attempts, host, folder, message, exact FROM evaluations "
                                     "WHERE id > ? ORDER BY id");
        q.bind(1, afterId);
        while (q.step()) {
            EvaluationRecord r;
            r.id = q.columnInt(0);
            const std::int64_t generation = q.columnInt(1), individual = q.columnInt(2);
            if (generation < 1 || generation > std::numeric_limits<std::int32_t>::max())
                damaged("an evaluation belongs to generation " + std::to_string(generation));
            if (individual < 0 || individual >= populationSize)
                damaged("an evaluation belongs to individual " + std::to_string(individual) +
                        " of a population of " + std::to_string(populationSize));
            r.generation = static_cast<std::int32_t>(generation);
            r.individual = static_cast<std::int32_t>(individual);
            r.status = parseStatus(q.columnText(3));
            r.kind = q.columnText(4);
            r.seconds = q.columnReal(5);
            r.attempts = q.isNull(6) ? 0 : static_cast<std::int32_t>(q.columnInt(6));
            r.host = q.columnText(7);
            r.folder = q.columnText(8);
            r.message = q.columnText(9);
            decodeExactEvaluation(q.columnBlob(10), r);
            records.push_back(std::move(r));
        }
    } catch (const std::exception& error) {
        failed(error);
    }
    return records;
}

std::vector<SchedulerJob> RunStore::openJobs()
{
    std::vector<SchedulerJob> jobs;
    if (m_version < 2)
        return jobs;
    try {
        sql::Statement q(m_db, "SELECT id, name, job, generation, individuals, folder FROM jobs "
                               "WHERE ended IS NULL ORDER BY id");
        while (q.step()) {
            SchedulerJob job;
            job.key = q.columnInt(0);
            job.name = q.columnText(1);
            job.id = q.columnText(2);
            const std::int64_t generation = q.columnInt(3);
            if (generation < 1 || generation > std::numeric_limits<int>::max())
                damaged("a job's generation is out of range");
            job.generation = static_cast<int>(generation);
            const std::string list = q.columnText(4);
            for (std::size_t from = 0; from < list.size();) {
                const std::size_t comma = std::min(list.find(',', from), list.size());
                int index = -1;
                const auto [end, error] =
                    std::from_chars(list.data() + from, list.data() + comma, index);
                if (error != std::errc() || end != list.data() + comma || index < 0)
                    damaged("a job's individuals are not a list of indices");
                job.individuals.push_back(index);
                from = comma + 1;
            }
            job.folder = q.columnText(5);
            jobs.push_back(std::move(job));
        }
    } catch (const std::exception& error) {
        failed(error);
    }
    return jobs;
}

std::pair<std::int64_t, std::int64_t> RunStore::failureCounts(std::int32_t throughGeneration)
{
    std::int64_t failures = 0, failureValues = 0;
    try {
        sql::Statement q(m_db, "SELECT status, COUNT(*) FROM (SELECT status, ROW_NUMBER() OVER "
                               "(PARTITION BY generation, individual ORDER BY id DESC) AS latest "
                               "FROM evaluations WHERE generation <= ?) "
                               "WHERE latest = 1 GROUP BY status");
        q.bind(1, static_cast<std::int64_t>(throughGeneration));
        while (q.step()) {
            const RecordStatus status = parseStatus(q.columnText(0));
            const std::int64_t count = q.columnInt(1);
            if (status == RecordStatus::Ok || status == RecordStatus::Cancelled ||
                status == RecordStatus::Screened)
                continue;
            failures += count;
            // In a generation that was completed, a timeout can only have taken the failure
            // value: one without it stopped the run, and the resume ran its individual again.
            if (status != RecordStatus::Failed)
                failureValues += count;
        }
    } catch (const std::exception& error) {
        failed(error);
    }
    return {failures, failureValues};
}

StoredRun inspectRunStore(const std::string& path)
{
    RunStore store = RunStore::openExisting(path, /*lock=*/false);
    StoredRun run = store.read();
    store.openJobs();
    try {
        codec::decodeParameters(run.state.parameters);
        codec::decodeStatistics(run.state.statistics);
        const auto population = codec::decodeIndivs(run.state.population, "the population");
        const auto extremes = codec::decodeIndivs(run.state.extremes, "the best individuals");
        if (extremes.size() != 4)
            throw Exception("the best individuals are not four");
        for (const std::string& chunk : run.bufferChunks)
            codec::decodeIndivs(chunk, "the buffer");
        codec::decodeSymbols(run.state.symbols);
        if (!run.state.method.empty())
            codec::decodeMethod(run.state.method);
    } catch (const Exception& error) {
        throw Exception("The run store \"" + path + "\" is damaged: " + error.what());
    }
    return run;
}

} // namespace zyl
