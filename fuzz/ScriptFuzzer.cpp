// The project script as the programs read it: parsed, stripped of blanks and loaded; an
// analytical task then runs a few generations, its work capped so that one input stays
// quick. Nothing is written to disk: the export file name is cleared, and an external
// program is never started.
//
// Contracts beyond "no crash": the script's text reads back as the same script; a load that
// succeeds leaves every count and probability within the bounds the loader promises; a load
// that fails does so with the program's own exception; a run keeps the population's size.
#include "FuzzSupport.h"

#include "common/Exception.h"
#include "common/Rng.h"
#include "engine/Export.h"
#include "engine/Task.h"
#include "project/Loader.h"

#include <exception>

using namespace zyl;

namespace {

/// Nodes a numeric evaluation of `root` visits, following the names it uses, counted up to
/// `cap` (a definition used twice is visited twice, as the evaluator does).
long long evaluationCost(const Tensor& root, const SymbolTable& table, long long cap) {
    long long visited = 0;
    std::vector<const Tensor*> work{&root};
    while (!work.empty() && visited <= cap) {
        const Tensor* node = work.back();
        work.pop_back();
        ++visited;
        for (const TensorPtr& element : node->elements)
            work.push_back(element.get());
        if (node->left)
            work.push_back(node->left.get());
        if (node->right)
            work.push_back(node->right.get());
        if (node->code == op::Symbol)
            if (const Funkcja* symbol = table.lookup(node->text))
                work.push_back(symbol->definition.get());
    }
    return visited;
}

void checkBounds(const ZYL& zyl, const ProjectSettings& settings) {
    FUZZ_CHECK(zyl.popSize >= 2 && zyl.popSize <= 1000 && zyl.popSize % 2 == 0, "population");
    FUZZ_CHECK(settings.loopCounter >= 1 && settings.loopCounter <= 1000, "loop counter");
    FUZZ_CHECK(zyl.maxIteration >= 1 && zyl.maxIteration <= 30000, "max iteration");
    FUZZ_CHECK(zyl.tourSize >= 1 && zyl.tourSize <= maxTournamentSize, "tournament size");
    FUZZ_CHECK(zyl.crossPoints >= 0 && zyl.crossPoints <= maxCrossoverPoints, "points");
    for (double p : {zyl.crossProb, zyl.crossUnifProb, zyl.mutProb})
        FUZZ_CHECK(p >= 0 && p <= 1, "probability");
    for (const VariableRange& range : zyl.ranges)
        FUZZ_CHECK(range.uniformityCoeff >= 1 && range.uniformityCoeff <= 100, "coefficient");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProjectScript script = ProjectScript::fromText(fuzz::asText(data, size));
    FUZZ_CHECK(ProjectScript::fromText(script.text()).text() == script.text(),
               "the script's text does not read back");
    script.StripBlanks();
    FUZZ_CHECK(ProjectScript::fromText(script.text()).text() == script.text(),
               "the stripped script's text does not read back");
    // Each statement may use a whole expression budget: a few of them keep an input quick.
    if (script.ReadSection("EQUATIONS").size() > 8)
        return 0;

    SymbolTable table;
    table.registerBuiltinSymbols();
    ProjectSettings settings;
    LcgRng rng(1);
    LoadedProject project;
    try {
        project = loadProject(script, settings, table, rng);
    } catch (const Exception&) {
        return 0;
    }
    ZYL& zyl = *project.zyl;
    checkBounds(zyl, settings);
    if (settings.functionMode != FunctionMode::Analytical)
        return 0;

    // A few generations when one costs little; two series of the plots at most.
    const Funkcja* f = table.lookup("f");
    if (!f || evaluationCost(*f->definition, table, 2000) * zyl.popSize > 200'000)
        return 0;
    std::size_t series = 0;
    for (std::size_t i = 0; i < project.plots.size(); ++i) {
        series += project.plots[i].series.size();
        if (series > 2) {
            project.plots.resize(i);
            break;
        }
    }
    script.WriteString("EXPORT_NAMES", "export_name", "");
    settings.loopCounter = 2;
    DirectSynchronizer sync;
    RunObserver observer;
    Task task(RunContext{zyl, settings, script, table, project.plots}, sync, observer);
    task.execute();
    FUZZ_CHECK(static_cast<int>(zyl.population.size()) == zyl.popSize, "population size");

    // The export columns, computed as an export would, without a file.
    int columns = 0;
    for (const std::string& key : script.ReadSection("EXPORT")) {
        if (++columns > 2)
            break;
        try {
            exportColumnText(script.ReadString("EXPORT", key, "???"), table);
        } catch (const std::exception&) {
        }
    }
    return 0;
}
