#include "cli/BatchObserver.h"

#include "common/TextConvert.h"

#include <unistd.h>

#include <iostream>

namespace zyl::cli {

BatchObserver::BatchObserver(const ZYL& zyl, const ProjectSettings& settings,
                             const StopRuleState& stop, std::optional<OutputFormat> progress,
                             OutputFormat report)
    : m_zyl(zyl), m_settings(settings), m_stop(stop), m_progress(progress), m_report(report),
      m_tty(isatty(STDERR_FILENO)), m_startGeneration(zyl.generation),
      m_start(std::chrono::steady_clock::now()),
      m_lastActivity(m_start - std::chrono::hours(1))
{
}

void BatchObserver::warning(const std::string& text)
{
    endProgressLine();
    std::cerr << text << "\n";
    if (!m_failed)
        m_failureMessage = text;
    m_failed = true;
}

void BatchObserver::statistics()
{
    if (!m_statistics)
        m_statistics.emplace();
    if (m_statisticsSource)
        *m_statistics = m_statisticsSource();
    else
        takeStatisticsSnapshot(m_zyl, *m_statistics);
    if (m_report == OutputFormat::Json)
        m_statisticsJson = cli::statisticsJson(m_zyl, m_settings.showBuffered);
}

std::vector<StatisticsRow> BatchObserver::rows() const
{
    if (!m_statistics)
        return {};
    return statisticsRows(*m_statistics, m_settings.showBuffered);
}

std::string countsText(const EvaluationProgress& counts)
{
    return "  running " + std::to_string(counts.running) + "  queued " +
           std::to_string(counts.queued) + "  done " + std::to_string(counts.done) +
           "  failed " + std::to_string(counts.failed);
}

std::string progressText(const ProgressLine& p)
{
    std::string text = "generation " + std::to_string(p.generation) + " of " +
                       std::to_string(p.maxIteration) + "  CurrentMin " +
                       realToText(p.currentMin) + "  GlobalMin " + realToText(p.globalMin) +
                       "  evaluations " + std::to_string(p.evaluations) +
                       (p.buffer ? "  from buffer " + std::to_string(p.fromBuffer)
                                 : std::string()) +
                       "  elapsed " + realToText(p.elapsed) + " s  left " + realToText(p.left) +
                       " s";
    return p.counts ? text + countsText(*p.counts) : text;
}

Json progressJson(const ProgressLine& p)
{
    Json line = {{"generation", p.generation},
                 {"maxIteration", p.maxIteration},
                 {"evaluations", p.evaluations},
                 {"fromBuffer", p.fromBuffer},
                 {"CurrentMin", jsonNumber(p.currentMin)},
                 {"GlobalMin", jsonNumber(p.globalMin)},
                 {"elapsed", p.elapsed},
                 {"estimated", p.left}};
    if (p.counts) {
        line["running"] = p.counts->running;
        line["queued"] = p.counts->queued;
        line["done"] = p.counts->done;
        line["failed"] = p.counts->failed;
    }
    return line;
}

void printStopRule(std::ostream& out, OutputFormat format, const std::string& reason)
{
    if (format == OutputFormat::Json) {
        const Json line = {{"stopRule", reason}};
        out << line.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
        return;
    }
    out << "Stop rule\n" << reason << "\n";
}

void BatchObserver::generationDone()
{
    if (!m_progress)
        return;
    ProgressLine p;
    p.elapsed = secondsSinceStart();
    p.generation = m_zyl.generation;
    p.maxIteration = m_zyl.maxIteration;
    // From this process's own pace: a resumed run's earlier generations took no time here.
    const int computed = p.generation - m_startGeneration;
    p.left = computed > 0 ? p.elapsed / computed * (p.maxIteration - p.generation) : 0;
    p.evaluations = m_stop.evaluations;
    p.fromBuffer = valuesFromBuffer();
    p.buffer = m_zyl.bufferIndividuals;
    p.currentMin = m_zyl.currentMin.value;
    p.globalMin = m_zyl.globalMin.value;
    if (m_counts)
        p.counts = m_counts();
    if (*m_progress == OutputFormat::Json) {
        // One object per line, never rewritten in place, so that a reader can parse each line.
        std::cerr << progressJson(p).dump() << "\n";
        showStopReason();
        return;
    }
    const std::string line = progressText(p);
    if (m_tty) {
        std::cerr << "\r\033[K" << line << std::flush;
        m_lineOpen = true;
    } else {
        std::cerr << line << "\n";
    }
    showStopReason();
}

void BatchObserver::stopRuleMet(const std::string& reason)
{
    m_stopReason = reason;
}

// After the generation's own progress line, the one it ended the task in.
void BatchObserver::showStopReason()
{
    if (m_stopReason.empty() || m_stopShown)
        return;
    m_stopShown = true;
    endProgressLine();
    printStopRule(std::cerr, *m_progress, m_stopReason);
}

void BatchObserver::endProgressLine()
{
    if (m_lineOpen) {
        std::cerr << "\n";
        m_lineOpen = false;
    }
}

void BatchObserver::evaluationsChanged()
{
    if (!m_counts || m_progress != OutputFormat::Text || !m_tty)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastCounts < std::chrono::milliseconds(250))
        return;
    m_lastCounts = now;
    std::cerr << "\r\033[Kgeneration " << m_zyl.generation + 1 << " of " << m_zyl.maxIteration
              << "  elapsed " << realToText(secondsSinceStart()) << " s" << countsText()
              << std::flush;
    m_lineOpen = true;
}

void BatchObserver::schedulerNotice(const SchedulerNotice& notice)
{
    if (m_progress != OutputFormat::Json)
        return;
    Json line = {{"scheduler", notice.answering ? "answering" : "unreachable"},
                 {"waited", notice.waitedSeconds},
                 {"timeout", notice.timeoutSeconds}};
    if (!notice.answering) {
        line["command"] = notice.command;
        line["message"] = notice.message;
    }
    std::cerr << line.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

void BatchObserver::programActivity()
{
    if (m_progress != OutputFormat::Json || !m_activityCounts)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastActivity < std::chrono::seconds(1))
        return;
    m_lastActivity = now;
    const EvaluationProgress counts = m_activityCounts();
    const Json line = {{"evaluating", m_zyl.generation + 1},
                       {"maxIteration", m_zyl.maxIteration},
                       {"evaluations", m_stop.evaluations},
                       {"running", counts.running},
                       {"queued", counts.queued},
                       {"done", counts.done},
                       {"failed", counts.failed},
                       {"elapsed", secondsSinceStart()}};
    std::cerr << line.dump() << "\n" << std::flush;
}

std::int64_t BatchObserver::valuesFromBuffer() const
{
    // Every individual of a completed generation has a value, computed (and counted) or
    // taken from the buffer when the generation was bred.
    const std::int64_t values = static_cast<std::int64_t>(m_zyl.generation) * m_zyl.popSize;
    return values > m_stop.evaluations ? values - m_stop.evaluations : 0;
}

std::string BatchObserver::countsText() const
{
    return m_counts ? cli::countsText(m_counts()) : std::string();
}

double BatchObserver::secondsSinceStart() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

} // namespace zyl::cli
