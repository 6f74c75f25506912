#include "project/Loader.h"

#include "common/Exception.h"
#include "common/TextConvert.h"
#include "engine/StopRules.h"
#include "engine/backends/Backends.h"
#include "engine/backends/WorkFolders.h"
#include "engine/Formulas.h"
#include "engine/Objectives.h"
#include "engine/Statistics.h"
#include "expr/FreeNames.h"
#include "expr/Parser.h"
#include "expr/Statement.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>

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

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string absolutePath(const std::string& name)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(name, error);
    return error ? name : path.lexically_normal().string();
}

int checkedCount(int value, int lo, int hi, const char* what)
{
    if (value < lo || value > hi)
        throw Exception(std::string(what) + " ought to be a number from [" + std::to_string(lo) +
                        "; " + std::to_string(hi) + "]");
    return value;
}

// How the external program's evaluations run: how many at once, in which folders, what a
// failure does, and the CLUSTER section. Every field is set on every load, so that a script
// without these keys runs exactly as one always did.
void readEvaluationSettings(const ProjectScript& script, ProjectSettings& settings)
{
    settings.workers = 1;
    settings.workRoot.clear();
    settings.workFoldersAsked = false;
    settings.templateDir.clear();
    settings.keepWorkDirs = false;
    settings.retries = 0;
    settings.failureValue.reset();
    settings.termGrace = 0;
    settings.inputByName = false;
    settings.noRetryStatus = 0;
    settings.cluster = ClusterSettings{};
    settings.workRootOwner.clear();
    if (settings.functionMode != FunctionMode::External)
        return;

    settings.workers =
        checkedCount(script.ReadInteger("FUNCTION", "workers", 1), 1, 1024, "Workers");
    settings.retries =
        checkedCount(script.ReadInteger("FUNCTION", "retries", 0), 0, 100, "Retries");
    if (script.HasKey("FUNCTION", "failure_value")) {
        const std::string text = script.ReadString("FUNCTION", "failure_value", "");
        const std::optional<double> value = parseReal(text);
        if (!value)
            throw Exception("Failure value ought to be a number: " + text);
        settings.failureValue = value;
    }
    // Refused rather than defaulted: a preempted run would otherwise lose the values it was
    // told to save.
    const std::string grace = script.ReadString("FUNCTION", "term_grace", "");
    if (!grace.empty()) {
        const std::optional<double> seconds = parseReal(grace);
        if (!seconds || !(*seconds >= 0) || !(*seconds <= maxTermGrace))
            throw Exception("Term grace ought to be a number of seconds from [0; " +
                            std::to_string(static_cast<long>(maxTermGrace)) + "]");
        settings.termGrace = *seconds;
    }
    settings.inputByName = script.ReadBool("FUNCTION", "input_by_name", false);
    if (script.HasKey("FUNCTION", "no_retry_status"))
        settings.noRetryStatus = checkedCount(script.ReadInteger("FUNCTION", "no_retry_status", 0),
                                              1, 255, "No retry status");
    settings.keepWorkDirs = script.ReadBool("FUNCTION", "keep_work_dirs", false);
    const std::string templateDir = script.ReadString("FUNCTION", "template_dir", "");
    if (!templateDir.empty())
        settings.templateDir = absolutePath(templateDir);
    std::string workRoot = script.ReadString("FUNCTION", "work_root", "");
    settings.workFoldersAsked = !workRoot.empty() || !templateDir.empty();
    if (workRoot.empty()) {
        const std::filesystem::path file(script.fileName());
        workRoot = file.empty() ? std::string("zyl-runs")
                                : (file.parent_path() / (file.stem().string() + "-runs")).string();
    }
    settings.workRoot = absolutePath(workRoot);
    // Each copy of such a template would hold the copies made before it, deeper and deeper.
    if (!settings.templateDir.empty() && pathWithin(settings.workRoot, settings.templateDir))
        throw Exception("Work root ought to lie outside the template folder");

    ClusterSettings& cluster = settings.cluster;
    const std::string scheduler = lowerCase(script.ReadString("CLUSTER", "scheduler", ""));
    if (scheduler == "slurm")
        cluster.scheduler = Scheduler::Slurm;
    else if (!scheduler.empty())
        throw Exception("Unknown scheduler: " + script.ReadString("CLUSTER", "scheduler", ""));
    const std::string mode = lowerCase(script.ReadString("CLUSTER", "mode", ""));
    if (mode == "steps")
        cluster.mode = ClusterMode::Steps;
    else if (!mode.empty() && mode != "array")
        throw Exception("Unknown cluster mode: " + script.ReadString("CLUSTER", "mode", ""));
    cluster.partition = script.ReadString("CLUSTER", "partition", "");
    cluster.account = script.ReadString("CLUSTER", "account", "");
    // Absent: Slurm's default. Present: a count in range.
    if (script.HasKey("CLUSTER", "time_limit"))
        cluster.timeLimitMinutes =
            checkedCount(script.ReadInteger("CLUSTER", "time_limit", 0), 1, 525600, "Time limit");
    if (script.HasKey("CLUSTER", "cpus_per_task"))
        cluster.cpusPerTask = checkedCount(script.ReadInteger("CLUSTER", "cpus_per_task", 0), 1,
                                           4096, "CPUs per task");
    if (script.HasKey("CLUSTER", "memory"))
        cluster.memoryMiB =
            checkedCount(script.ReadInteger("CLUSTER", "memory", 0), 1, 1 << 24, "Memory");
    if (script.HasKey("CLUSTER", "scheduler_timeout")) {
        const std::string text = script.ReadString("CLUSTER", "scheduler_timeout", "");
        const std::optional<double> minutes = parseReal(text);
        if (!minutes || !(*minutes > 0) || *minutes > 525600)
            throw Exception("Scheduler timeout ought to be a number of minutes from (0; 525600]: " +
                            text);
        cluster.schedulerTimeoutMinutes = *minutes;
    }
    const std::string options = script.ReadString("CLUSTER", "options", "");
    for (std::size_t from = 0; from <= options.size();) {
        std::size_t comma = std::min(options.find(',', from), options.size());
        if (comma > from)
            cluster.options.push_back(options.substr(from, comma - from));
        from = comma + 1;
    }

    checkWorkFolderNames(settings);
}

// A reversed range holds no value at all: the variables would be drawn and mutated outside
// the interval the user wrote, and every reported value would lie outside it.
Exception reversedRange(const std::string& name, const std::string& type)
{
    return Exception("Lower bound of " + name + " ought to be at most its upper bound: " + type);
}

// The vectors of the four remembered individuals, defined at the end of a load.
const char* const individualVectors[] = {"GlobalMinIndiv", "GlobalMaxIndiv", "CurrentMinIndiv",
                                         "CurrentMaxIndiv"};

/// A parameter of METHOD, when given: a real within (lo; hi], or [lo; hi] when `closedBelow`.
void methodReal(const std::string& text, double lo, double hi, bool closedBelow,
                const char* what, double& value)
{
    if (text.empty())
        return;
    const std::optional<double> x = parseReal(text);
    if (!x || !(closedBelow ? *x >= lo : *x > lo) || !(*x <= hi))
        throw Exception(std::string(what) + " ought to be a number from " +
                        (closedBelow ? "[" : "(") + realToShortText(lo) + "; " +
                        realToShortText(hi) + "]");
    value = *x;
}

/// A parameter of METHOD, when given: a whole number within [lo; hi].
void methodCount(const std::string& text, int lo, int hi, const char* what, std::int32_t& value)
{
    if (text.empty())
        return;
    const std::optional<int> x = parseInteger(text);
    if (!x || *x < lo || *x > hi)
        throw Exception(std::string(what) + " ought to be a number from [" + std::to_string(lo) +
                        "; " + std::to_string(hi) + "]");
    value = *x;
}

// The statistics a run publishes in the language each generation.
bool statisticName(const std::string& name)
{
    static const char* const statistics[] = {
        "Average", "StdDev", "Generation", "Mutations", "Crossovers", "PopSize", "Different",
        "MeanDev", "MedianDev", "Range", "Q1", "Q2", "Q3", "IQR", "Entropy", "Discrepancy",
        "GlobalMax", "GlobalMin", "CurrentMax", "CurrentMin", "CrossPoints", "TourSize",
        "Buffered", "CrossUnifProb", "CrossProb", "MutProb", "Feasible", "MinViolation",
        "BestViolation", "GlobalMinIndiv", "GlobalMaxIndiv", "CurrentMinIndiv",
        "CurrentMaxIndiv", "Screened"};
    return std::any_of(std::begin(statistics), std::end(statistics),
                       [&](const char* r) { return name == r; });
}

// The names a constraint may not take: what the language, the statistics and the task
// already mean by them (a stop rule or a plot naming one must mean one thing).
bool reservedName(const std::string& name)
{
    return name == "f" || name == "I" || name == "pi" || name == "e" || name == "deg" ||
           statisticName(name);
}

bool listed(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A constraint is a property of the design alone. One that names another constraint or a
// statistic, even through a definition, would read the value left by the design or the
// generation before; a name nothing defines would fail only at the first evaluation, perhaps
// hours later. Both are refused now, naming the constraint. The objectives of a task with
// several are held to the same, and name no objective either.
void checkConstraintNames(const ConstraintFormulas& formulas,
                          const std::vector<std::string>& constraints, const ZYL& zyl,
                          const SymbolTable& table,
                          const std::vector<std::string>& objectives = {},
                          const std::vector<std::string>& frontStatistics = {})
{
    const std::string kind =
        formulas.role() == FormulaRole::Objective ? "Objective " : "Constraint ";
    for (std::size_t c = 0; c < formulas.count(); ++c) {
        const std::string& constraint = formulas.names()[c];
        for (const ReachedName& reached : reachedNames(formulas.tree(c), table)) {
            const std::string& name = reached.name;
            const std::string via =
                reached.through.empty() ? "" : " (through " + reached.through + ")";
            const char* what = listed(constraints, name)  ? "constraint "
                               : listed(objectives, name) ? "objective "
                               : statisticName(name) || listed(frontStatistics, name)
                                   ? "statistic "
                                   : nullptr;
            if (what)
                throw Exception(kind + constraint +
                                " ought to name variables and definitions only, not the " + what +
                                name + via);
            if (!table.lookup(name) && !listed(zyl.names, name))
                throw Exception(kind + constraint + ": Unknown variable: " + name + via);
        }
    }
}

// A name a script gives a constraint or an objective: a name of the language, not built in.
void checkFormulaName(const std::string& key, const char* kind)
{
    TensorPtr tree;
    bool isName = false;
    try {
        isName = parseExpression(key, tree) && tree && tree->isSymbolRef() && tree->text == key;
    } catch (const std::exception&) {
    }
    int code = 0, level = 0;
    if (lookupToken(key, code, level))
        throw Exception(std::string(kind) + " name " + key + " is a built-in name of the language");
    if (!isName)
        throw Exception(std::string(kind) + " name ought to be a name of the language: " + key);
}

// The CONSTRAINTS section and constraint_tolerance. Without the section nothing changes: no
// name is added to the table and every design stays feasible.
void readConstraints(const ProjectScript& script, ProjectSettings& settings, ZYL& zyl,
                     SymbolTable& table)
{
    const std::string toleranceText = script.ReadString("OPTIONS", "constraint_tolerance", "");
    double tolerance = 0;
    if (!toleranceText.empty()) {
        const std::optional<double> value = parseReal(toleranceText);
        if (!value || !(*value >= 0) || std::isinf(*value))
            throw Exception("Constraint tolerance ought to be a number not below 0");
        tolerance = *value;
    }
    settings.externalConstraints = 0;
    const std::string external = script.ReadString("FUNCTION", "external_constraints", "");
    if (settings.functionMode == FunctionMode::External && !external.empty()) {
        const std::optional<int> count = parseInteger(external);
        if (!count || *count < 0 || *count > 1000)
            throw Exception("External constraints ought to be a number from [0; 1000]");
        settings.externalConstraints = *count;
    }
    const std::vector<std::string> keys = script.ReadSection("CONSTRAINTS");
    std::vector<std::string> names, texts;
    for (const std::string& key : keys) {
        checkFormulaName(key, "Constraint");
        const bool taken = reservedName(key) ||
                           std::find(zyl.names.begin(), zyl.names.end(), key) != zyl.names.end() ||
                           std::find(names.begin(), names.end(), key) != names.end() ||
                           (settings.functionMode == FunctionMode::Analytical &&
                            script.HasKey("EQUATIONS", key));
        if (taken)
            throw Exception("Constraint name " + key +
                            " is taken by a variable, a definition or a statistic");
        names.push_back(key);
        texts.push_back(script.ReadString("CONSTRAINTS", key, ""));
    }
    if (!names.empty()) {
        auto formulas = std::make_shared<ConstraintFormulas>(names, texts);
        formulas->manualTable = &table;
        zyl.constraintFormulas = std::move(formulas);
    }
    // The program's values are named by their place, after the section's.
    for (int c = 1; c <= settings.externalConstraints; ++c) {
        const std::string name = "External" + std::to_string(c);
        if (std::find(zyl.names.begin(), zyl.names.end(), name) != zyl.names.end() ||
            std::find(names.begin(), names.end(), name) != names.end())
            throw Exception("Constraint name " + name +
                            " is taken by a variable, a definition or a statistic");
        names.push_back(name);
    }
    if (zyl.constraintFormulas)
        checkConstraintNames(*zyl.constraintFormulas, names, zyl, table);
    zyl.setConstraints(names, tolerance);
    // The section's formulas need nothing from the program (they may not name its values):
    // a design one of them rules out would cost a run of the program and teach nothing.
    const std::string prescreen = script.ReadString("FUNCTION", "prescreen", "");
    const std::optional<int> screening = prescreen.empty() ? 1 : parseInteger(prescreen);
    if (!screening || (*screening != 0 && *screening != 1))
        throw Exception("Prescreen ought to be 0 or 1");
    zyl.prescreen = *screening == 1 && zyl.constraintFormulas &&
                    settings.functionMode == FunctionMode::External;
    if (names.empty())
        return;
    // Known from the load on, so that a stop rule or a plot naming them is accepted.
    for (const char* statistic : {"Feasible", "MinViolation", "BestViolation"})
        setSymbolValue(table, statistic, 0);
    if (zyl.prescreen)
        setSymbolValue(table, "Screened", 0);
    for (const std::string& name : names)
        setSymbolValue(table, name, 0);
}

// The texts between the ";" of a list key; none for an empty text.
std::vector<std::string> listItems(const std::string& text)
{
    std::vector<std::string> items;
    for (std::size_t from = 0; !text.empty() && from <= text.size();) {
        const std::size_t to = std::min(text.find(';', from), text.size());
        items.push_back(text.substr(from, to - from));
        from = to + 1;
    }
    return items;
}

// The OBJECTIVES section, external_objectives, maximised_objectives and hv_reference. A task
// has several objectives with two or more of them in all: the section's formulas, then the
// values an external program writes (one unless external_objectives says more). Without the
// section and external_objectives nothing changes, and the keys that only several objectives
// give a meaning to are refused rather than passed over.
void readObjectives(const ProjectScript& script, ProjectSettings& settings, ZYL& zyl,
                    SymbolTable& table)
{
    settings.externalObjectives = 0;
    const bool external = settings.functionMode == FunctionMode::External;
    const std::vector<std::string> keys = script.ReadSection("OBJECTIVES");
    const std::string programText =
        external ? script.ReadString("FUNCTION", "external_objectives", "") : "";
    const std::string maximisedText = script.ReadString("OPTIONS", "maximised_objectives", "");
    const std::string referenceText = script.ReadString("OPTIONS", "hv_reference", "");
    if (keys.empty() && programText.empty()) {
        if (!maximisedText.empty() || !referenceText.empty())
            throw Exception(std::string(maximisedText.empty() ? "Hypervolume reference"
                                                              : "Maximised objectives") +
                            " needs a task with several objectives (OBJECTIVES)");
        return;
    }
    if (settings.functionMode == FunctionMode::Manual)
        throw Exception("A manual task has one objective: OBJECTIVES is not available");
    int program = external ? 1 : 0;
    if (!programText.empty()) {
        const int least = keys.empty() ? 2 : 1;
        const std::optional<int> count = parseInteger(programText);
        if (!count || *count < least || *count > 1000)
            throw Exception("External objectives ought to be a number from [" +
                            std::to_string(least) + "; 1000]");
        program = *count;
    }
    if (keys.size() + static_cast<std::size_t>(program) < 2)
        throw Exception("OBJECTIVES ought to hold two objectives or more");
    if (script.ReadBool("OPTIONS", "maximisation", false))
        throw Exception("A task with several objectives names the maximised ones in "
                        "maximised_objectives, not by maximisation");

    const bool analytical = settings.functionMode == FunctionMode::Analytical;
    std::vector<std::string> names, texts;
    auto taken = [&](const std::string& name) {
        return reservedName(name) || name == "FrontSize" || name == "Hypervolume" ||
               listed(zyl.names, name) || listed(zyl.constraintNames, name) ||
               listed(names, name) || (analytical && script.HasKey("EQUATIONS", name));
    };
    for (const std::string& key : keys) {
        checkFormulaName(key, "Objective");
        if (taken(key))
            throw Exception("Objective name " + key +
                            " is taken by a variable, a definition, a constraint or a statistic");
        names.push_back(key);
        texts.push_back(script.ReadString("OBJECTIVES", key, ""));
    }
    // The program's values are named by their place, after the section's.
    for (int k = 1; k <= program; ++k) {
        const std::string name = "Objective" + std::to_string(k);
        if (taken(name))
            throw Exception("Objective name " + name +
                            " is taken by a variable, a definition, a constraint or a statistic");
        names.push_back(name);
    }
    const std::vector<std::string> statistics = frontStatisticNames(names);
    for (const std::string& name : statistics)
        if (listed(zyl.names, name) || listed(zyl.constraintNames, name) ||
            (analytical && script.HasKey("EQUATIONS", name)))
            throw Exception("The statistic " + name +
                            " is taken by a variable, a definition or a constraint");

    std::vector<char> maximised(names.size(), 0);
    for (const std::string& name : listItems(maximisedText)) {
        const auto at = std::find(names.begin(), names.end(), name);
        if (at == names.end())
            throw Exception("Maximised objective " + name + " is not an objective of the task");
        maximised[static_cast<std::size_t>(at - names.begin())] = 1;
    }
    std::vector<double> reference;
    if (!referenceText.empty()) {
        const std::vector<std::string> items = listItems(referenceText);
        for (const std::string& item : items) {
            const std::optional<double> x = parseReal(item);
            if (x && std::isfinite(*x))
                reference.push_back(*x);
        }
        if (reference.size() != items.size() || reference.size() != names.size())
            throw Exception(
                "Hypervolume reference ought to hold one finite number per objective (" +
                std::to_string(names.size()) + "), separated by \";\"");
    }

    auto objectives = std::make_unique<Objectives>(names, maximised, zyl.count());
    objectives->reference = std::move(reference);
    if (!texts.empty()) {
        const std::vector<std::string> sectionNames(
            names.begin(), names.begin() + static_cast<std::ptrdiff_t>(texts.size()));
        objectives->formulas =
            std::make_shared<ConstraintFormulas>(sectionNames, texts, FormulaRole::Objective);
        objectives->formulas->manualTable = &table;
        checkConstraintNames(*objectives->formulas, zyl.constraintNames, zyl, table, names,
                             statistics);
    }
    settings.externalObjectives = external ? program : 0;
    // The value is the first objective: the statistics of values, the extremes and the
    // buffer follow it in its own direction.
    zyl.maximise = maximised[0] != 0;
    zyl.objectives = std::move(objectives);
    // Known from the load on, so that a stop rule or a plot naming them is accepted.
    for (const std::string& name : statistics)
        setSymbolValue(table, name, 0);
}

} // namespace

MethodSettings readMethodSettings(const ProjectScript& script, FunctionMode mode,
                                  bool multiObjective)
{
    MethodSettings methods;
    if (multiObjective)
        methods.method = Method::SmsEmoa;
    const std::string name = script.ReadString("OPTIONS", "method", "");
    if (!name.empty()) {
        const std::optional<Method> method = methodByName(lowerCase(name));
        if (!method)
            throw Exception("Unknown method: " + name +
                            " (ga, cmaes, de, trust, nsga2 or smsemoa)");
        methods.method = *method;
    }
    if (multiObjective && !searchesFront(methods.method))
        throw Exception("A task with several objectives runs with method nsga2 or smsemoa");
    if (!multiObjective && searchesFront(methods.method))
        throw Exception("Method " + std::string(methodName(methods.method)) +
                        " needs several objectives (OBJECTIVES)");
    // A person types every value of a manual task: the other methods pay off over thousands
    // of evaluations, far more than anyone types.
    if (mode == FunctionMode::Manual && methods.method != Method::Ga)
        throw Exception("A manual task runs with method ga only");
    methodReal(script.ReadString("METHOD", "cmaes_step", ""), 0, 1, false, "CMA-ES step",
               methods.cmaes.step);
    methodCount(script.ReadString("METHOD", "cmaes_restarts", ""), 0, kMostRestarts,
                "CMA-ES restarts", methods.cmaes.restarts);
    methodCount(script.ReadString("METHOD", "cmaes_growth", ""), 1, kMostGrowth, "CMA-ES growth",
                methods.cmaes.growth);
    methodReal(script.ReadString("METHOD", "cmaes_mean_rate", ""), 0, 1, true, "CMA-ES mean rate",
               methods.cmaes.meanRate);
    methodReal(script.ReadString("METHOD", "de_f", ""), 0, kMostWeight, false, "DE weight f",
               methods.de.f);
    methodReal(script.ReadString("METHOD", "de_cr", ""), 0, 1, true, "DE crossover rate cr",
               methods.de.cr);
    methodReal(script.ReadString("METHOD", "de_adaptation", ""), 0, 1, true, "DE adaptation",
               methods.de.adaptation);
    methodReal(script.ReadString("METHOD", "trust_radius", ""), 0, 1, false, "Trust radius",
               methods.trust.radius);
    const std::string after = script.ReadString("METHOD", "trust_after", "");
    if (!after.empty()) {
        const std::optional<double> share = parseReal(after);
        if (!share || !(*share >= 0) || !(*share < 1))
            throw Exception("Trust after ought to be a number from [0; 1)");
        methods.trust.after = *share;
    }
    if (mode == FunctionMode::Manual && methods.trust.after > 0)
        throw Exception("A manual task runs with method ga only");
    if (multiObjective && methods.trust.after > 0)
        throw Exception("A task with several objectives runs with method nsga2 or smsemoa");
    return methods;
}

namespace {

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
        // A task with several objectives has them in OBJECTIVES; f is then one more definition.
        if (!script.HasKey("EQUATIONS", "f") && script.ReadSection("OBJECTIVES").empty())
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
    readEvaluationSettings(script, settings);

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
            if (ranges[i].realLo > ranges[i].realHi)
                throw reversedRange(keys[i], value);
            // Every draw spans the width: one past the largest double would give infinite
            // values outside the range.
            if (!std::isfinite(ranges[i].realHi - ranges[i].realLo))
                throw Exception("Range of " + keys[i] + " ought to have a finite width: " +
                                value);
            gene = std::make_unique<Floating_>(0.0);
        } else if (value.find("integer") != std::string::npos) {
            ranges[i].intLo = strToInt(lower);
            ranges[i].intHi = strToInt(upper);
            if (ranges[i].intLo > ranges[i].intHi)
                throw reversedRange(keys[i], value);
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
    readConstraints(script, settings, zyl, table);
    readObjectives(script, settings, zyl, table);
    std::vector<std::string> ruleNames = zyl.names;
    ruleNames.insert(ruleNames.end(), std::begin(individualVectors), std::end(individualVectors));
    settings.stopRules = readStopRules(script, table, ruleNames);
    zyl.methodSettings =
        readMethodSettings(script, settings.functionMode, zyl.multiObjective());

    // 21. Plots.
    for (const std::string& key : script.ReadSection("PLOTS"))
        project.plots.push_back(createUserPlot(key, script.ReadString("PLOTS", key, "???")));

    // 23. The individuals as vectors of the language.
    for (const char* name : individualVectors)
        table.pushBack(makeSymbolFromStatement(vectorOfThrees(n), name, false, table));
    return project;
}

} // namespace zyl
