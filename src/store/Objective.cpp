#include "store/Objective.h"

#include "common/Exception.h"
#include "store/RunStore.h"
#include "engine/Formulas.h"
#include "engine/Objectives.h"
#include "store/StateCodec.h"

#include <sys/stat.h>

#include <filesystem>

namespace zyl {

namespace {

std::string joined(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i ? ";" : "") + items[i];
    return text;
}

// A value on one line: line breaks and backslashes escaped.
std::string escaped(const std::string& value)
{
    std::string out;
    for (char c : value)
        out += c == '\\' ? std::string("\\\\") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

std::string unescaped(const std::string& value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            ++i;
            out += value[i] == 'n' ? '\n' : value[i];
        } else {
            out += value[i];
        }
    }
    return out;
}

} // namespace

std::string Objective::text() const
{
    std::string out = "mode=" + mode + "\n";
    if (!formula.empty())
        out += "formula=" + escaped(formula) + "\n";
    if (!program.empty())
        out += "program=" + escaped(program) + "\nsize=" + std::to_string(programSize) +
               "\nmodified=" + std::to_string(programModified) + "\n";
    if (!constraints.empty())
        out += "constraints=" + escaped(constraints) + "\n";
    if (!objectives.empty())
        out += "objectives=" + escaped(objectives) + "\n";
    return out + "variables=" + escaped(joined(variables)) + "\n";
}

Objective Objective::parse(const std::string& text)
{
    Objective objective;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            throw Exception("the objective's description is unreadable");
        const std::string key = line.substr(0, equals), value = unescaped(line.substr(equals + 1));
        try {
            if (key == "mode")
                objective.mode = value;
            else if (key == "formula")
                objective.formula = value;
            else if (key == "constraints")
                objective.constraints = value;
            else if (key == "objectives")
                objective.objectives = value;
            else if (key == "program")
                objective.program = value;
            else if (key == "size")
                objective.programSize = std::stoll(value);
            else if (key == "modified")
                objective.programModified = std::stoll(value);
            else if (key == "variables") {
                objective.variables.clear();
                std::size_t from = 0;
                while (from <= value.size() && !value.empty()) {
                    std::size_t to = value.find(';', from);
                    if (to == std::string::npos)
                        to = value.size();
                    objective.variables.push_back(value.substr(from, to - from));
                    from = to + 1;
                }
            }
        } catch (const std::logic_error&) {
            throw Exception("the objective's description is unreadable");
        }
    }
    return objective;
}

Objective describeObjective(const ProjectScript& script, const ProjectSettings& settings,
                            const ZYL& zyl)
{
    Objective objective;
    switch (settings.functionMode) {
    case FunctionMode::Analytical: {
        objective.mode = "analytical";
        std::vector<std::string> lines;
        for (const std::string& key : script.ReadSection("EQUATIONS"))
            lines.push_back(key + "=" + script.ReadString("EQUATIONS", key, ""));
        objective.formula = joined(lines);
        break;
    }
    case FunctionMode::External: {
        objective.mode = "external";
        std::error_code error;
        const std::filesystem::path program = std::filesystem::weakly_canonical(
            std::filesystem::absolute(settings.externalName, error), error);
        objective.program = program.string();
        struct stat info {};
        if (::stat(objective.program.c_str(), &info) == 0) {
            objective.programSize = info.st_size;
            objective.programModified =
                static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        }
        break;
    }
    default:
        objective.mode = "manual";
    }
    if (zyl.constrained()) {
        std::vector<std::string> lines;
        for (const std::string& key : script.ReadSection("CONSTRAINTS"))
            lines.push_back(key + "=" + script.ReadString("CONSTRAINTS", key, ""));
        lines.push_back("external=" + std::to_string(zyl.constraintNames.size() -
                                                     (zyl.constraintFormulas
                                                          ? zyl.constraintFormulas->count()
                                                          : 0)));
        objective.constraints = joined(lines);
    }
    if (zyl.multiObjective()) {
        std::vector<std::string> lines;
        for (const std::string& key : script.ReadSection("OBJECTIVES"))
            lines.push_back(key + "=" + script.ReadString("OBJECTIVES", key, ""));
        lines.push_back("external=" + std::to_string(settings.externalObjectives));
        objective.objectives = joined(lines);
    }
    for (int j = 0; j < zyl.count(); ++j)
        objective.variables.push_back(
            zyl.names[j] + ":" +
            (zyl.templateIndiv.gene(j) ? zyl.templateIndiv.gene(j)->typeText() : "?"));
    return objective;
}

std::optional<std::string> objectiveChange(const Objective& before, const Objective& now)
{
    if (before.mode != now.mode)
        return "the objective is now " + now.mode + ", it was " + before.mode;
    if (before.formula != now.formula)
        return "the formula has changed";
    if (before.constraints != now.constraints)
        return "the constraints have changed";
    if (before.objectives != now.objectives)
        return "the objectives have changed";
    if (before.program != now.program)
        return "the program is now \"" + now.program + "\", it was \"" + before.program + "\"";
    if (now.mode == "external" && now.programSize < 0)
        return "the program \"" + now.program + "\" cannot be found";
    if (before.programSize != now.programSize)
        return "the program's size has changed";
    if (before.programModified != now.programModified)
        return "the program's modification time has changed";
    if (before.variables != now.variables)
        return "the variables are now " + joined(now.variables) + ", they were " +
               joined(before.variables);
    return std::nullopt;
}

std::size_t reuseEvaluations(ZYL& zyl, const Objective& now, const std::string& otherStore)
{
    RunStore store = RunStore::openExisting(otherStore, /*lock=*/false);
    const StoredRun other = store.read();
    // Every evaluation, not only those after the last snapshot.
    const std::vector<EvaluationRecord> evaluations = store.evaluations(0, /*successfulOnly=*/true);
    Objective before;
    try {
        before = Objective::parse(other.header.objective);
    } catch (const Exception& error) {
        throw Exception("The run store \"" + otherStore + "\" is damaged: " + error.what());
    }
    if (auto change = objectiveChange(before, now))
        throw Exception("Cannot reuse the evaluations of \"" + otherStore + "\": " + *change + ".");

    std::size_t added = 0;
    Indiv scratch = zyl.templateIndiv;
    auto offer = [&](const codec::IndivData& data) {
        codec::applyData(data, scratch);
        scratch.evaluated = true;
        // The violation follows this run's tolerance; the objective check above made the
        // constraints themselves the same.
        if (zyl.constrained()) {
            if (scratch.constraints.size() != zyl.constraintNames.size())
                return;
            zyl.setConstraintValues(scratch, scratch.constraints.data());
        }
        if (zyl.objectives && scratch.objectives.size() != zyl.objectives->count())
            return;
        if (!zyl.buffer.find(scratch)) {
            zyl.buffer.append(scratch);
            ++added;
        }
    };
    try {
        for (const std::string& chunk : other.bufferChunks)
            for (const codec::IndivData& data : codec::decodeIndivs(chunk, "the buffer"))
                offer(data);
        // A record holds the program's values only; the section's follow from the variables,
        // into `values` before the program's. False when they cannot be had now: the run
        // computes the design again when it meets it.
        auto sectionThenProgram = [&](const ConstraintFormulas* formulas, std::size_t count,
                                      const EvaluationRecord& record,
                                      const std::vector<double>& program,
                                      std::vector<double>& values) {
            const std::size_t section = formulas ? formulas->count() : 0;
            if (section + program.size() != count)
                return false;
            values.assign(section, 0.0);
            if (formulas) {
                if (!formulas->manualTable)
                    return false;
                codec::applyData({record.value, true, record.variables, 0, {}}, scratch);
                try {
                    formulas->evaluateTree(scratch, zyl.names, *formulas->manualTable,
                                           values.data());
                } catch (const std::exception&) {
                    return false;
                }
            }
            values.insert(values.end(), program.begin(), program.end());
            return true;
        };
        std::vector<double> constraints, objectives;
        for (const EvaluationRecord& record : evaluations) {
            if (zyl.constrained() &&
                !sectionThenProgram(zyl.constraintFormulas.get(), zyl.constraintNames.size(),
                                    record, record.constraints, constraints))
                continue;
            double value = record.value;
            objectives.clear();
            if (zyl.objectives) {
                if (!sectionThenProgram(zyl.objectives->formulas.get(), zyl.objectives->count(),
                                        record, record.objectives, objectives))
                    continue;
                value = objectives.front();
            }
            offer({value, true, record.variables, 0, constraints, objectives});
        }
    } catch (const Exception& error) {
        throw Exception("The run store \"" + otherStore + "\" is damaged: " + error.what());
    }
    zyl.bufferIndividuals = true;
    for (Indiv& ind : zyl.population)
        if (!ind.evaluated)
            zyl.bufferLookup(ind);
    return added;
}

} // namespace zyl
