#include "project/Loader.h"

#include "common/Exception.h"
#include "common/TextConvert.h"
#include "engine/StopRules.h"
#include "expr/Statement.h"

#include <charconv>
#include <cstdint>

namespace zyl {

namespace {

// Texts between the first "[" and the first ";", and between that ";" and the first "]".
// A missing mark gives an empty bound, which then fails to convert.
void rangeBounds(const std::string& value, std::string& lower, std::string& upper)
{
    const std::size_t open = value.find('[');
    const std::size_t semicolon = value.find(';');
    const std::size_t close = value.find(']');
    auto between = [&](std::size_t from, std::size_t to) -> std::string {
        if (from == std::string::npos || to == std::string::npos || to <= from)
            return "";
        return value.substr(from + 1, to - from - 1);
    };
    lower = between(open, semicolon);
    upper = between(semicolon, close);
}

std::uint64_t seedValue(const std::string& text)
{
    std::uint64_t seed = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seed);
    if (text.empty() || error != std::errc() || stop != end)
        throw Exception("Seed ought to be a whole number from [0; 18446744073709551615]");
    return seed;
}

std::string vectorOfThrees(int n)
{
    std::string text = "{3";
    for (int i = 1; i < n; ++i)
        text += ",3";
    return text + "}";
}

} // namespace

LoadedProject loadProject(const ProjectScript& script, ProjectSettings& settings,
                          SymbolTable& table, Rng& rng)
{
    // 2. Display switches, read first so that even a failing load changes them.
    settings.statisticHistory = script.ReadBool("SHOW", "statistic_history", false);
    settings.showBuffered = script.ReadBool("SHOW", "buffered", false);
    settings.showPopulation = script.ReadBool("SHOW", "population", false);
    settings.populationHistory = script.ReadBool("SHOW", "population_history", false);
    settings.showVariables = script.ReadBool("SHOW", "variables", false);

    // 3-4. The objective.
    settings.functionMode = FunctionMode::Invalid;
    if (script.ReadBool("FUNCTION", "manual", false)) {
        settings.functionMode = FunctionMode::Manual;
        settings.showPopulation = true;
    } else if (script.ReadBool("FUNCTION", "analytical", false)) {
        settings.functionMode = FunctionMode::Analytical;
        if (!script.HasKey("EQUATIONS", "f"))
            throw Exception("Cannot find function f");
        for (const std::string& key : script.ReadSection("EQUATIONS"))
            makeSymbolFromStatement(key + "=" + script.ReadString("EQUATIONS", key, ""), "", false,
                                    table);
    } else if (script.ReadBool("FUNCTION", "external", false)) {
        settings.functionMode = FunctionMode::External;
        settings.inputName = script.ReadString("FUNCTION", "input_name", "");
        settings.externalName = script.ReadString("FUNCTION", "external_name", "");
        settings.outputName = script.ReadString("FUNCTION", "output_name", "");
        const double timeout = script.ReadFloat("FUNCTION", "external_timeout", 0);
        settings.externalTimeout = timeout > 0 ? timeout : 0;
    }
    if (settings.functionMode == FunctionMode::Invalid)
        throw Exception("Invalid function");

    // 5-7. Counts.
    const int popSize = script.ReadInteger("POPULATION", "size", -1);
    if (popSize > 1000 || popSize < 2 || popSize % 2 != 0)
        throw Exception("Population size ought to be an even number from [2; 1000]");
    settings.loopCounter = script.ReadInteger("OPTIONS", "loop_counter", 1);
    if (settings.loopCounter > 1000 || settings.loopCounter < 1)
        throw Exception("Loop counter ought to be a number from [1; 1000]");
    settings.exportEveryIteration = script.ReadBool("EXPORT_NAMES", "export_every_iteration", false);

    // A seed makes the task repeatable: every draw, from the first variable's starting value
    // on, follows from it. Without one the generator goes on as it stands (seeded from the
    // clock when the program started).
    if (script.HasKey("OPTIONS", "seed"))
        rng.reseed(seedValue(script.ReadString("OPTIONS", "seed", "")));

    // 8-9. Decision variables.
    const std::vector<std::string> keys = script.ReadSection("VARIABLES");
    if (keys.empty())
        throw Exception("Invalid number of variables.");
    const int n = static_cast<int>(keys.size());
    Indiv templateIndiv(n);
    std::vector<std::string> names(keys.begin(), keys.end());
    std::vector<VariableRange> ranges(n);
    for (int i = 0; i < n; ++i) {
        const std::string value = script.ReadString("VARIABLES", keys[i], "???");
        std::string lower, upper;
        rangeBounds(value, lower, upper);
        std::unique_ptr<Variable_> gene;
        if (value.find("real") != std::string::npos) {
            ranges[i].realLo = strToFloat(lower);
            ranges[i].realHi = strToFloat(upper);
            gene = std::make_unique<Floating_>(0.0);
        } else if (value.find("integer") != std::string::npos) {
            ranges[i].intLo = strToInt(lower);
            ranges[i].intHi = strToInt(upper);
            gene = std::make_unique<Integer_>(0);
        } else if (value.find("boolean") != std::string::npos) {
            gene = std::make_unique<Boolean_>(0);
        } else {
            throw Exception("Unknown variable type: " + value);
        }
        gene->randomInit(ranges[i], rng);
        templateIndiv.setGene(i, std::move(gene));
    }

    // 10-19. The engine object and its parameters.
    LoadedProject project;
    project.zyl = std::make_unique<ZYL>(popSize, std::move(templateIndiv), std::move(names),
                                        std::move(ranges), rng);
    ZYL& zyl = *project.zyl;
    zyl.bufferIndividuals = script.ReadBool("SHOW", "buffer_individuals", false);
    zyl.maximise = script.ReadBool("OPTIONS", "maximisation", false);
    zyl.maxIteration = script.ReadInteger("OPTIONS", "max_iteration", 100);
    if (zyl.maxIteration > 30000 || zyl.maxIteration < 1)
        throw Exception("Max iteration ought to be a number from [1; 30000]");
    if (script.ReadBool("SELECTION", "roulette", false)) {
        zyl.selection = 0;
        throw Exception("Roulette selection. Not implemented yet.");
    }
    if (script.ReadBool("SELECTION", "tournament", false)) {
        zyl.selection = 1;
        zyl.tourSize = script.ReadInteger("SELECTION", "tournament_size", 3);
        if (zyl.tourSize < 1 || zyl.tourSize > maxTournamentSize)
            throw Exception("Tournament size ought to be a number from [1; " +
                            std::to_string(maxTournamentSize) + "]");
    }
    zyl.elite = script.ReadBool("SELECTION", "elite", false);
    zyl.crossProb = script.ReadFloat("CROSSOVER", "probability", 0.7);
    if (!(zyl.crossProb >= 0 && zyl.crossProb <= 1))
        zyl.crossProb = 0.7;
    if (script.ReadBool("CROSSOVER", "multipoint", false)) {
        zyl.crossoverType = 0;
        zyl.crossPoints = script.ReadInteger("CROSSOVER", "points", 1);
        if (n != 1 && zyl.crossPoints >= n)
            zyl.crossPoints = n - 1;
        if (zyl.crossPoints < 0 || zyl.crossPoints > maxCrossoverPoints)
            throw Exception("Crossover points ought to be a number from [0; " +
                            std::to_string(maxCrossoverPoints) + "]");
    } else if (script.ReadBool("CROSSOVER", "arithmetical", false)) {
        zyl.crossoverType = 1;
    } else if (script.ReadBool("CROSSOVER", "uniform", false)) {
        zyl.crossoverType = 2;
        zyl.crossUnifProb = script.ReadFloat("CROSSOVER", "uniform_prob", 0.5);
        if (!(zyl.crossUnifProb >= 0 && zyl.crossUnifProb <= 1))
            zyl.crossUnifProb = 0.5;
    }
    zyl.mutProb = script.ReadFloat("MUTATION", "probability", 0.15);
    if (!(zyl.mutProb >= 0 && zyl.mutProb <= 1))
        zyl.mutProb = 0.15;
    if (script.ReadBool("MUTATION", "uniform", false)) {
        zyl.mutationType = 0;
    } else if (script.ReadBool("MUTATION", "nonuniform", false)) {
        zyl.mutationType = 1;
        double coeff = script.ReadFloat("MUTATION", "uniformity_coeff", 2);
        if (!(coeff >= 1 && coeff <= 100))
            coeff = 2;
        for (VariableRange& range : zyl.ranges)
            range.uniformityCoeff = coeff;
    }
    zyl.variablePopSize = !script.ReadBool("POPULATION", "constatnt", true);
    if (zyl.variablePopSize)
        throw Exception("Variable population size. Not implemented yet.");

    // Run store and stop rules: keys newer than the others, read after every older check so
    // that an old script fails, if it fails, with the message it always had.
    settings.reuseStore = script.ReadString("FUNCTION", "reuse_store", "");
    settings.stopRules = readStopRules(script);

    // 21. Plots.
    for (const std::string& key : script.ReadSection("PLOTS"))
        project.plots.push_back(createUserPlot(key, script.ReadString("PLOTS", key, "???")));

    // 23. The individuals as vectors of the language.
    for (const char* name : {"GlobalMinIndiv", "GlobalMaxIndiv", "CurrentMinIndiv",
                             "CurrentMaxIndiv"})
        table.pushBack(makeSymbolFromStatement(vectorOfThrees(n), name, false, table));
    return project;
}

} // namespace zyl
