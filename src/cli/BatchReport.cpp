#include "cli/BatchReport.h"

#include "common/TextConvert.h"
#include "engine/Objectives.h"

#include <algorithm>
#include <cmath>
#include <ostream>

namespace zyl::cli {

Json jsonNumber(double value)
{
    if (!std::isfinite(value))
        return nullptr;
    return value;
}

const char* runEndName(RunEnd end)
{
    switch (end) {
    case RunEnd::Finished:
        return "finished";
    case RunEnd::Failed:
    case RunEnd::AllFailed:
        return "failed";
    case RunEnd::Interrupted:
        return "interrupted";
    case RunEnd::InputEnded:
        return "input-ended";
    case RunEnd::LoadFailed:
        return "load-failed";
    case RunEnd::Stopped:
        return "stopped";
    }
    return "unknown";
}

namespace {

/// The members of the front in the order the reports give them, the archive's: by the first
/// objective, its best value first, then the next.
std::vector<std::size_t> orderedFront(const Objectives& objectives)
{
    std::vector<std::size_t> members = objectives.front();
    const std::size_t m = objectives.count();
    std::vector<double> keys(objectives.kept.size() * m);
    for (std::size_t i : members)
        objectives.keys(objectives.kept[i], &keys[i * m]);
    std::stable_sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
        return std::lexicographical_compare(&keys[a * m], &keys[a * m] + m, &keys[b * m],
                                            &keys[b * m] + m);
    });
    return members;
}

Json variablesJson(const ZYL& zyl, const Indiv& ind)
{
    // An array rather than an object keyed by name: names may repeat, and the order is the
    // order of the script's VARIABLES section.
    Json variables = Json::array();
    for (int j = 0; j < ind.count(); ++j) {
        const Variable_* gene = ind.gene(j);
        const std::string& name = j < static_cast<int>(zyl.names.size()) ? zyl.names[j] : "";
        variables.push_back(
            {{"name", name}, {"value", gene ? jsonNumber(gene->getValue()) : nullptr}});
    }
    return variables;
}

} // namespace

Json statisticsJson(const ZYL& zyl, bool showBuffered)
{
    Json stats = Json::object();
    stats["Generation"] = static_cast<std::int64_t>(zyl.generation) + 1;
    stats["GlobalMax"] = jsonNumber(zyl.globalMax.value);
    stats["GlobalMin"] = jsonNumber(zyl.globalMin.value);
    stats["CurrentMax"] = jsonNumber(zyl.currentMax.value);
    stats["CurrentMin"] = jsonNumber(zyl.currentMin.value);
    stats["Average"] = jsonNumber(zyl.average);
    stats["Q2"] = jsonNumber(zyl.q2);
    stats["Range"] = jsonNumber(zyl.range);
    stats["IQR"] = jsonNumber(zyl.iqr);
    stats["StdDev"] = jsonNumber(zyl.stdDev);
    stats["MeanDev"] = jsonNumber(zyl.meanDev);
    stats["MedianDev"] = jsonNumber(zyl.medianDev);
    stats["Entropy"] = jsonNumber(zyl.entropy);
    stats["Discrepancy"] = jsonNumber(zyl.discrepancy);
    stats["Different"] = zyl.different;
    if (showBuffered)
        stats["Buffered"] = zyl.buffer.size();
    stats["Mutations"] = zyl.mutations;
    stats["Crossovers"] = zyl.crossovers;
    if (zyl.constrained()) {
        stats["Feasible"] = zyl.feasible;
        stats["MinViolation"] = jsonNumber(zyl.minViolation);
        stats["BestViolation"] =
            jsonNumber((zyl.maximise ? zyl.globalMax : zyl.globalMin).violation);
    }
    if (const Objectives* objectives = zyl.objectives.get()) {
        stats["FrontSize"] = objectives->frontSize;
        stats["Hypervolume"] = jsonNumber(objectives->hypervolume);
        for (std::size_t k = 0; k < objectives->count(); ++k) {
            const std::string& name = objectives->names[k];
            stats[name + "_FrontMin"] =
                jsonNumber(k < objectives->frontMin.size() ? objectives->frontMin[k] : NAN);
            stats[name + "_FrontMax"] =
                jsonNumber(k < objectives->frontMax.size() ? objectives->frontMax[k] : NAN);
        }
    }
    if (zyl.prescreen)
        stats["Screened"] = zyl.screened;
    return stats;
}

Json frontJson(const ZYL& zyl)
{
    Json front = Json::array();
    const Objectives* objectives = zyl.objectives.get();
    if (!objectives)
        return front;
    for (std::size_t i : orderedFront(*objectives)) {
        const Indiv& ind = objectives->kept[i];
        Json values = Json::object();
        for (std::size_t k = 0; k < objectives->count(); ++k)
            values[objectives->names[k]] =
                jsonNumber(k < ind.objectives.size() ? ind.objectives[k] : NAN);
        front.push_back({{"objectives", std::move(values)},
                         {"variables", variablesJson(zyl, ind)},
                         {"feasible", ind.violation == 0},
                         {"violation", jsonNumber(ind.violation)}});
    }
    return front;
}

Json bestJson(const ZYL& zyl)
{
    const Indiv& best = zyl.maximise ? zyl.globalMax : zyl.globalMin;
    Json json = {{"value", jsonNumber(best.value)}, {"variables", variablesJson(zyl, best)}};
    if (zyl.constrained()) {
        Json constraints = Json::array();
        for (std::size_t c = 0; c < zyl.constraintNames.size(); ++c)
            constraints.push_back(
                {{"name", zyl.constraintNames[c]},
                 {"value", c < best.constraints.size() ? jsonNumber(best.constraints[c])
                                                       : Json(nullptr)}});
        json["feasible"] = best.violation == 0;
        // An infinite violation (a constraint that is not a number) has no JSON number.
        json["violation"] = jsonNumber(best.violation);
        json["constraints"] = std::move(constraints);
    }
    if (zyl.prescreen)
        json["screened"] = best.screened;
    return json;
}

namespace {

void printFront(std::ostream& out, const ZYL& zyl, const Objectives& objectives)
{
    const std::vector<std::size_t> members = orderedFront(objectives);
    const bool feasible = !members.empty() && objectives.kept[members.front()].violation == 0;
    out << "Front: " << members.size() << (members.size() == 1 ? " design" : " designs");
    if (feasible)
        out << " (feasible)\n";
    else if (members.empty())
        out << "\n";
    else
        out << " (no feasible design found; their violation is "
            << realToText(objectives.kept[members.front()].violation) << ")\n";
    std::string line;
    for (const std::string& name : objectives.names)
        line += (line.empty() ? "" : "\t") + name;
    for (const std::string& name : zyl.names)
        line += "\t" + name;
    out << line << "\n";
    for (std::size_t i : members) {
        const Indiv& ind = objectives.kept[i];
        line.clear();
        for (std::size_t k = 0; k < objectives.count(); ++k)
            line += (k ? "\t" : "") +
                    realToText(k < ind.objectives.size() ? ind.objectives[k] : NAN);
        for (int j = 0; j < ind.count(); ++j)
            line += "\t" + (ind.gene(j) ? ind.gene(j)->valueText() : std::string("?"));
        out << line << "\n";
    }
}

} // namespace

void printTextReport(std::ostream& out, const std::vector<StatisticsRow>& rows, const ZYL& zyl,
                     const RunOutcome& outcome)
{
    if (rows.empty()) {
        out << "No generation was computed.\n";
    } else {
        out << "What?\tValue\tInfo\n";
        for (const StatisticsRow& row : rows)
            if (!row.what.empty())
                out << row.what << "\t" << row.value << "\t" << row.info << "\n";
        const Indiv& best = zyl.maximise ? zyl.globalMax : zyl.globalMin;
        if (const Objectives* objectives = zyl.objectives.get()) {
            printFront(out, zyl, *objectives);
        } else {
            out << "Best: " << realToText(best.value) << " " << best.text();
            if (zyl.constrained()) {
                if (best.violation == 0)
                    out << " (feasible)";
                else
                    out << " (no feasible design found; its violation is "
                        << realToText(best.violation)
                        << (best.screened
                                ? ", ruled out before evaluation by " + zyl.ruledOutBy(best)
                                : std::string())
                        << ")";
            }
            out << "\n";
        }
    }
    // A run that cannot hide a failure and had none reads as it always did; the JSON report
    // always has both numbers.
    if (outcome.failedEvaluations &&
        (*outcome.failedEvaluations > 0 || outcome.failureValueSet))
        out << "Failed evaluations: " << *outcome.failedEvaluations << ", of which "
            << outcome.failureValues << " took the failure value\n";
    if (outcome.end == RunEnd::Stopped)
        out << "Stopped: " << outcome.message << "\n";
    else if (outcome.end == RunEnd::AllFailed)
        out << outcome.message << "\n";
}

void printJsonReport(std::ostream& out, const Json& statistics, const ZYL* zyl,
                     const RunOutcome& outcome)
{
    Json report = Json::object();
    report["generation"] = zyl ? zyl->generation : 0;
    report["maxIteration"] = zyl ? Json(zyl->maxIteration) : Json(nullptr);
    report["populationSize"] = zyl ? Json(zyl->popSize) : Json(nullptr);
    report["maximisation"] = zyl ? Json(zyl->maximise) : Json(nullptr);
    report["statistics"] = statistics;
    report["best"] = zyl && !statistics.is_null() ? bestJson(*zyl) : Json(nullptr);
    if (zyl && zyl->multiObjective())
        report["front"] = statistics.is_null() ? Json(nullptr) : frontJson(*zyl);
    report["failedEvaluations"] =
        outcome.failedEvaluations ? Json(*outcome.failedEvaluations) : Json(nullptr);
    report["failureValues"] =
        outcome.failedEvaluations ? Json(outcome.failureValues) : Json(nullptr);
    report["end"] = runEndName(outcome.end);
    report["message"] = outcome.message.empty() ? Json(nullptr) : Json(outcome.message);
    report["exitStatus"] = outcome.exitStatus;
    // Text from scripts is 8-bit and need not be UTF-8: replace what is not, rather than fail.
    out << report.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

} // namespace zyl::cli
