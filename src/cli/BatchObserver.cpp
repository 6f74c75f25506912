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

void BatchObserver::generationDone()
{
    if (!m_progress)
        return;
    const double elapsed = secondsSinceStart();
    const int done = m_zyl.generation, total = m_zyl.maxIteration;
    // From this process's own pace: a resumed run's earlier generations took no time here.
    const int computed = done - m_startGeneration;
    const double left = computed > 0 ? elapsed / computed * (total - done) : 0;
    if (*m_progress == OutputFormat::Json) {
        // One object per line, never rewritten in place, so that a reader can parse each line.
        Json line = {{"generation", done},
                           {"maxIteration", total},
                           {"evaluations", m_stop.evaluations},
                           {"fromBuffer", valuesFromBuffer()},
                           {"CurrentMin", jsonNumber(m_zyl.currentMin.value)},
                           {"GlobalMin", jsonNumber(m_zyl.globalMin.value)},
                           {"elapsed", elapsed},
                           {"estimated", left}};
        if (m_counts) {
            const EvaluationProgress counts = m_counts();
            line["running"] = counts.running;
            line["queued"] = counts.queued;
            line["done"] = counts.done;
            line["failed"] = counts.failed;
        }
        std::cerr << line.dump() << "\n";
        showStopReason();
        return;
    }
    std::string line = "generation " + std::to_string(done) + " of " + std::to_string(total) +
                       "  CurrentMin " + realToText(m_zyl.currentMin.value) + "  GlobalMin " +
                       realToText(m_zyl.globalMin.value) + "  evaluations " +
                       std::to_string(m_stop.evaluations) +
                       (m_zyl.bufferIndividuals
                            ? "  from buffer " + std::to_string(valuesFromBuffer())
                            : std::string()) +
                       "  elapsed " + realToText(elapsed) + " s  left " + realToText(left) + " s" +
                       countsText();
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
    if (*m_progress == OutputFormat::Json) {
        const Json line = {{"stopRule", m_stopReason}};
        std::cerr << line.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
        return;
    }
    endProgressLine();
    std::cerr << "Stop rule\n" << m_stopReason << "\n";
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
    if (!m_counts)
        return "";
    const EvaluationProgress counts = m_counts();
    return "  running " + std::to_string(counts.running) + "  queued " +
           std::to_string(counts.queued) + "  done " + std::to_string(counts.done) +
           "  failed " + std::to_string(counts.failed);
}

double BatchObserver::secondsSinceStart() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

} // namespace zyl::cli
