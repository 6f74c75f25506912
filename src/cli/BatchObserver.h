#pragma once

#include "cli/BatchOptions.h"
#include "cli/BatchReport.h"
#include "engine/RunHooks.h"
#include "engine/Statistics.h"
#include "engine/StopRules.h"
#include "engine/Zyl.h"
#include "engine/backends/ProgramBackend.h"
#include "script/ProjectSettings.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace zyl::cli {

/// What one progress line says about a completed generation.
struct ProgressLine {
    int generation = 0, maxIteration = 0;
    std::int64_t evaluations = 0;
    /// The individuals that took their value from the buffer; shown when the buffer is on.
    std::int64_t fromBuffer = 0;
    bool buffer = false;
    double currentMin = 0, globalMin = 0;
    /// Seconds so far, and the estimate of those left.
    double elapsed = 0, left = 0;
    /// The programs of an external task, when they run several at once.
    std::optional<EvaluationProgress> counts;
};
/// "  running R  queued Q  done D  failed F", as the progress lines end.
std::string countsText(const EvaluationProgress& counts);
/// The line for people ("generation 3 of 100  CurrentMin ..."), and the JSON object.
std::string progressText(const ProgressLine& line);
Json progressJson(const ProgressLine& line);
/// After the progress line of the generation a stop rule ended the task in: "Stop rule" and
/// the reason on lines of their own, or the JSON object {"stopRule": reason}.
void printStopRule(std::ostream& out, OutputFormat format, const std::string& reason);

/// zyl-batch's view of a run: the progress on standard error (a text line or a JSON object
/// per generation, or nothing) and the latest statistics for the final report.
class BatchObserver : public RunObserver {
public:
    /// `progress` is std::nullopt for no progress at all (--quiet). `stop` holds the task's
    /// count of computed values (the one max_evaluations compares).
    BatchObserver(const ZYL& zyl, const ProjectSettings& settings, const StopRuleState& stop,
                  std::optional<OutputFormat> progress, OutputFormat report);

    void warning(const std::string& text) override;
    void statistics() override;
    void generationDone() override;
    void stopRuleMet(const std::string& reason) override;

    /// Ends a progress line that is being rewritten in place, before other text follows it.
    void endProgressLine();
    /// Programs run several at once, or on a cluster: the progress tells how many of the
    /// generation's evaluations are running, queued, done and failed.
    void setEvaluationCounts(std::function<EvaluationProgress()> counts)
    {
        m_counts = std::move(counts);
    }
    /// Shows the counts while a generation is evaluated (a text line on a terminal, rewritten
    /// at most 4 times a second); nothing without counts or progress.
    void evaluationsChanged();
    /// The scheduler stopped or started answering: with JSON progress, an object that says so
    /// (the line for people comes through the evaluator's report).
    void schedulerNotice(const SchedulerNotice& notice);
    /// The counts of the programs of the generation being evaluated, for the signs of life
    /// of --progress json (see programActivity); the same as setEvaluationCounts when given.
    void setActivityCounts(std::function<EvaluationProgress()> counts)
    {
        m_activityCounts = std::move(counts);
    }
    /// A program started or ended: with --progress json, an object with the counts, at most
    /// one a second, so that an hour-long generation shows signs of life.
    void programActivity();
    /// Where to copy each generation's statistics from instead of taking them from the
    /// engine again (a run store's recorder has them already when this observer is told).
    void setStatisticsSource(std::function<const StatisticsSnapshot&()> source)
    {
        m_statisticsSource = std::move(source);
    }
    bool failed() const { return m_failed; }
    /// The text of the first warning, the one that stopped the run.
    const std::string& failureMessage() const { return m_failureMessage; }
    /// The Statistics window's rows of the latest generation; empty before the first one.
    std::vector<StatisticsRow> rows() const;
    /// The same statistics as JSON numbers (with a JSON report only); null before the first.
    const Json& statisticsJson() const { return m_statisticsJson; }
    /// Why a stop rule ended the task, "" while none has.
    const std::string& stopReason() const { return m_stopReason; }

private:
    double secondsSinceStart() const;
    void showStopReason();
    std::string countsText() const;

    /// The individuals of the generations completed so far that took their value from the
    /// buffer instead of having it computed.
    std::int64_t valuesFromBuffer() const;

    const ZYL& m_zyl;
    const ProjectSettings& m_settings;
    const StopRuleState& m_stop;
    std::optional<OutputFormat> m_progress;
    OutputFormat m_report;
    bool m_tty;
    // The generation the engine stood at when this process took it over (a resume's).
    int m_startGeneration;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastCounts;
    std::chrono::steady_clock::time_point m_lastActivity;
    std::function<EvaluationProgress()> m_counts;
    std::function<EvaluationProgress()> m_activityCounts;
    bool m_failed = false;
    bool m_lineOpen = false;
    std::string m_failureMessage;
    std::string m_stopReason;
    bool m_stopShown = false;
    // Only the last generation's rows are ever printed: its numbers are kept, and the texts
    // made once, at the end.
    std::optional<StatisticsSnapshot> m_statistics;
    std::function<const StatisticsSnapshot&()> m_statisticsSource;
    Json m_statisticsJson;
};

} // namespace zyl::cli
