#include "store/Restore.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
#include "engine/Task.h"
#include "store/StateCodec.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

namespace zyl {

namespace {

void applyState(const StoredRun& stored, RestoredRun& run, ProjectSettings& settings,
                SymbolTable& table, LcgRng& rng)
{
    ZYL& zyl = *run.project.zyl;
    applySnapshot(stored.state, zyl, settings, table, rng);
    zyl.buffer.clear();
    for (const std::string& chunk : stored.bufferChunks)
        appendBufferChunk(zyl, chunk);
    for (const PlotPointRecord& p : stored.points)
        appendPlotPoint(run.project.plots, p);
}

// The generation in progress: typed values are entered again in their order (each entry
// records in the buffer at once, as it did); external values wait for the run.
void applyUnfinishedGeneration(const StoredRun& stored, RestoredRun& run)
{
    ZYL& zyl = *run.project.zyl;
    std::map<int, std::size_t> latest;
    RunObserver quiet;
    for (const EvaluationRecord& r : stored.unfinishedGeneration) {
        const bool screened = r.status == RecordStatus::Screened;
        if ((r.status != RecordStatus::Ok && !screened) || r.generation != zyl.generation + 1 ||
            r.individual < 0 || r.individual >= zyl.popSize)
            continue;
        // A value belongs to the individual it was computed for; one that does not match
        // (a store edited by hand) is computed again rather than trusted.
        if (codec::toData(zyl.population[r.individual]).variables != r.variables)
            continue;
        if (screened) {
            run.screenedEvaluations.push_back(r);
        } else if (r.kind == "manual") {
            enterManualValue(zyl, r.individual, r.value, quiet, &run.stop);
        } else {
            auto [it, inserted] = latest.try_emplace(r.individual, run.finishedEvaluations.size());
            if (inserted)
                run.finishedEvaluations.push_back(r);
            else
                run.finishedEvaluations[it->second] = r;
        }
    }
}

std::string readWholeFile(const std::string& name, bool& exists)
{
    std::ifstream in(name, std::ios::binary);
    exists = static_cast<bool>(in);
    return exists ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string();
}

} // namespace

void applySnapshot(const Snapshot& s, ZYL& zyl, ProjectSettings& settings, SymbolTable& table,
                   LcgRng& rng)
{
    const codec::Parameters parameters = codec::decodeParameters(s.parameters);
    codec::applyParameters(parameters, zyl);
    settings.loopCounter = parameters.loopCounter;
    if (!s.method.empty())
        codec::applyMethod(codec::decodeMethod(s.method), zyl);
    else if (zyl.methodSettings.method != Method::Ga)
        // The genetic algorithm keeps nothing between generations; another method started
        // afresh would give another result than the run it claims to continue.
        throw Exception("the state of the search method " +
                        std::string(methodName(zyl.methodSettings.method)) + " is missing");
    codec::applyStatistics(codec::decodeStatistics(s.statistics), zyl);

    const auto population = codec::decodeIndivs(s.population, "the population");
    if (population.size() != zyl.population.size())
        throw Exception("the population has " + std::to_string(population.size()) +
                        " individuals where the task has " + std::to_string(zyl.popSize));
    for (std::size_t i = 0; i < population.size(); ++i)
        codec::applyData(population[i], zyl.population[i]);
    const auto extremes = codec::decodeIndivs(s.extremes, "the best individuals");
    if (extremes.size() != 4)
        throw Exception("the best individuals are not four");
    codec::applyData(extremes[0], zyl.globalMin);
    codec::applyData(extremes[1], zyl.globalMax);
    codec::applyData(extremes[2], zyl.currentMin);
    codec::applyData(extremes[3], zyl.currentMax);

    zyl.generation = s.generation;
    zyl.mutations = s.mutations;
    zyl.crossovers = s.crossovers;
    rng.setState(s.rngState);

    // The table as it was: the statistics published last, the variables of the last
    // individual evaluated, whatever plot and export expressions defined on the way.
    auto symbols = codec::decodeSymbols(s.symbols);
    table.clear();
    for (auto& symbol : symbols)
        table.pushBack(std::move(symbol));
}

void appendBufferChunk(ZYL& zyl, std::string_view chunk)
{
    Indiv scratch = zyl.templateIndiv;
    for (const codec::IndivData& entry : codec::decodeIndivs(chunk, "the buffer")) {
        codec::applyData(entry, scratch);
        zyl.buffer.append(scratch);
    }
}

void appendPlotPoint(std::vector<UserPlot>& plots, const PlotPointRecord& p)
{
    if (p.plot < 0 || static_cast<std::size_t>(p.plot) >= plots.size())
        throw Exception("a plot point belongs to no plot");
    auto& series = plots[p.plot].series;
    if (p.series < 0 || static_cast<std::size_t>(p.series) >= series.size() ||
        static_cast<std::size_t>(p.point) != series[p.series].size())
        throw Exception("the plot points are out of order");
    series[p.series].push_back({p.x, p.y});
}

RestoredRun restoreRun(const StoredRun& stored, const std::string& path, ProjectSettings& settings,
                       SymbolTable& table, LcgRng& rng)
{
    RestoredRun run;
    run.script = ProjectScript::fromText(stored.header.scriptText);
    // The default work root is named after the script: a resume must find the folders there.
    run.script.SetFileName(stored.header.scriptName);
    run.script.StripBlanks();
    // The default work root is named after the script's file, as in the run that started.
    run.script.SetFileName(stored.header.scriptName);
    try {
        run.project = loadProject(run.script, settings, table, rng);
    } catch (const std::exception& error) {
        throw Exception("The run store \"" + path +
                        "\" holds a script that no longer loads: " + error.what());
    }
    // Before the typed values of the generation in progress, which count on top of it.
    run.stop = stored.state.stop;
    try {
        applyState(stored, run, settings, table, rng);
        applyUnfinishedGeneration(stored, run);
    } catch (const std::exception& error) {
        throw Exception("The run store \"" + path + "\" is damaged: " + error.what());
    }
    run.runSeconds = stored.state.runSeconds;
    for (const GenerationRecord& g : stored.generations)
        run.statistics.push_back(g.rows);
    return run;
}

ExportRepair planExportRepair(const StoredRun& stored, const std::string& storePath)
{
    const RunHeader& header = stored.header;
    ExportRepair repair;
    repair.name = header.exportName;
    if (header.exportName.empty())
        return repair;
    bool exists = false;
    const std::string current = readWholeFile(header.exportName, exists);
    std::string recorded;
    bool any = false;
    for (const GenerationRecord& g : stored.generations)
        if (g.exportText) {
            recorded = header.exportEveryIteration ? recorded + *g.exportText : *g.exportText;
            any = true;
        }
    // In overwrite mode a run that has stored no generation yet leaves the file as it is:
    // its first generation rewrites it whole anyway.
    if (!header.exportEveryIteration && !any) {
        repair.size = static_cast<std::int64_t>(current.size());
        return repair;
    }

    // A missing or empty file holds nothing to lose.
    bool own = !exists || current.empty();
    if (header.exportEveryIteration) {
        // The bytes from before the run are not stored, only their number; what follows them
        // is the run's, the part a kill kept from the store included.
        const std::size_t base = static_cast<std::size_t>(header.exportBase);
        own = own || (current.size() >= base && current.size() - base >= recorded.size() &&
                      current.compare(base, recorded.size(), recorded) == 0 &&
                      (!recorded.empty() || !header.folder.empty() || current.size() == base));
        repair.content = current.substr(0, std::min(base, current.size())) + recorded;
    } else {
        auto firstLine = [](const std::string& text) { return text.substr(0, text.find('\n')); };
        const auto breaks = std::count(current.begin(), current.end(), '\n');
        own = own || current == recorded ||
              (firstLine(current) == firstLine(recorded) && breaks == 2 && current.back() == '\n');
        repair.content = recorded;
    }
    if (!own)
        throw Exception("The export file \"" + header.exportName +
                        "\" holds something else than what the run store \"" + storePath +
                        "\" recorded for it: it is left as it is. Move it away to resume the "
                        "run.");
    repair.replace = exists ? current != repair.content : !repair.content.empty();
    repair.size = static_cast<std::int64_t>(repair.content.size());
    return repair;
}

void repairExportFile(const ExportRepair& repair)
{
    if (!repair.replace)
        return;
    if (auto reason = replaceFileContent(repair.name, repair.content))
        throw Exception("Cannot write the export file \"" + repair.name + "\": " + *reason);
}

} // namespace zyl
