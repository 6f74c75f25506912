#include "engine/backends/Slurm.h"

#include "common/Exception.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <thread>

namespace zyl::slurm {

std::vector<std::string> resourceOptions(const ClusterSettings& cluster, bool forSteps)
{
    std::vector<std::string> words;
    if (!forSteps && !cluster.partition.empty())
        words.push_back("--partition=" + cluster.partition);
    if (!forSteps && !cluster.account.empty())
        words.push_back("--account=" + cluster.account);
    if (cluster.timeLimitMinutes > 0)
        words.push_back("--time=" + std::to_string(cluster.timeLimitMinutes));
    if (cluster.cpusPerTask > 0)
        words.push_back("--cpus-per-task=" + std::to_string(cluster.cpusPerTask));
    if (cluster.memoryMiB > 0)
        words.push_back("--mem=" + std::to_string(cluster.memoryMiB) + "M");
    words.insert(words.end(), cluster.options.begin(), cluster.options.end());
    return words;
}

std::string arraySpec(const std::vector<int>& indices, int limit)
{
    std::string spec;
    for (std::size_t k = 0; k < indices.size();) {
        std::size_t last = k;
        while (last + 1 < indices.size() && indices[last + 1] == indices[last] + 1)
            ++last;
        if (!spec.empty())
            spec += ',';
        spec += std::to_string(indices[k]);
        if (last > k)
            spec += '-' + std::to_string(indices[last]);
        k = last + 1;
    }
    if (limit > 0)
        spec += '%' + std::to_string(limit);
    return spec;
}

std::map<std::string, QueueEntry> parseQueue(const std::string& text)
{
    std::map<std::string, QueueEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t bar1 = line.find('|');
        const std::size_t bar2 = line.find('|', bar1 == std::string::npos ? 0 : bar1 + 1);
        if (bar1 == std::string::npos || bar2 == std::string::npos)
            continue;
        const std::string id = line.substr(0, bar1);
        if (id.empty() || id.find('[') != std::string::npos)
            continue;
        QueueEntry entry;
        entry.state = line.substr(bar1 + 1, bar2 - bar1 - 1);
        // "CANCELLED by 0" in some listings: the state is the first word.
        entry.state = entry.state.substr(0, entry.state.find(' '));
        entry.seconds = parseElapsed(line.substr(bar2 + 1));
        entries[id] = entry;
    }
    return entries;
}

double parseElapsed(const std::string& text)
{
    double days = 0;
    std::string rest = text;
    if (const std::size_t dash = rest.find('-'); dash != std::string::npos) {
        try {
            days = std::stod(rest.substr(0, dash));
        } catch (...) {
            return 0;
        }
        rest = rest.substr(dash + 1);
    }
    double total = 0;
    std::istringstream parts(rest);
    std::string part;
    int count = 0;
    while (std::getline(parts, part, ':')) {
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos)
            return 0;
        total = total * 60 + std::stod(part);
        ++count;
    }
    if (count == 0 || count > 3)
        return 0;
    return days * 86400 + total;
}

bool isFinal(const std::string& state)
{
    for (const char* final :
         {"COMPLETED", "FAILED", "TIMEOUT", "CANCELLED", "NODE_FAIL", "OUT_OF_MEMORY", "BOOT_FAIL",
          "DEADLINE", "PREEMPTED", "SPECIAL_EXIT", "REVOKED"})
        if (state == final)
            return true;
    return false;
}

bool isWaiting(const std::string& state)
{
    return state == "PENDING" || state == "REQUEUED" || state == "REQUEUE_HOLD" ||
           state == "REQUEUE_FED" || state == "RESV_DEL_HOLD";
}

std::string scontrolField(const std::string& text, const std::string& key)
{
    const std::string mark = key + "=";
    std::size_t at = 0;
    while ((at = text.find(mark, at)) != std::string::npos) {
        if (at == 0 || text[at - 1] == ' ' || text[at - 1] == '\n') {
            const std::size_t from = at + mark.size();
            const std::size_t end = text.find_first_of(" \n", from);
            return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
        }
        at += mark.size();
    }
    return "";
}

namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string joined(const std::vector<std::string>& words, const char* separator)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : separator) + word;
    return text;
}

std::string minutesText(double seconds)
{
    std::ostringstream text;
    text << seconds / 60 << (seconds == 60 ? " minute" : " minutes");
    return text.str();
}

} // namespace

bool unreachable(const CommandResult& result)
{
    if (!result.started)
        return false;
    if (result.timedOut)
        return true;
    if (result.succeeded())
        return false;
    // The client library's words for a controller it cannot talk to, whichever command it is.
    const std::string said = lowered(result.err + "\n" + result.out);
    for (const char* sign :
         {"unable to contact slurm controller", "socket timed out on send/recv",
          "zero bytes were transmitted or received", "communication connection failure",
          "connection refused", "connection timed out", "backup controller in standby mode",
          "resource temporarily unavailable", "slurmctld is not responding"})
        if (said.find(sign) != std::string::npos)
            return true;
    return false;
}

SchedulerLink::SchedulerLink(double timeoutSeconds, SchedulerNoticeHook notice)
    : m_timeout(timeoutSeconds), m_notice(std::move(notice))
{
}

double SchedulerLink::downSeconds() const
{
    return m_downSince ? std::chrono::duration<double>(Clock::now() - *m_downSince).count() : 0;
}

bool SchedulerLink::expired() const
{
    return m_downSince && downSeconds() >= m_timeout;
}

double SchedulerLink::pause()
{
    const double cap = std::clamp(m_timeout / 8, 1.0, 60.0);
    const double pause = std::min({m_nextPause, cap, std::max(0.0, m_timeout - downSeconds())});
    m_nextPause = std::min(m_nextPause * 2, cap);
    return pause;
}

CommandResult SchedulerLink::tryRun(const std::vector<std::string>& argv)
{
    // A client may spend many seconds on its own tries before it gives up: the outage began
    // when the command was started.
    const Clock::time_point started = Clock::now();
    CommandResult result = runCommand(argv);
    if (unreachable(result)) {
        m_lastFailure = argv.front() + ": " + result.failureText();
        if (!m_downSince) {
            m_downSince = started;
            m_nextPause = 1;
            if (m_notice)
                m_notice({false, argv.front(), result.failureText(), downSeconds(), m_timeout});
        }
    } else if (m_downSince) {
        const double waited = downSeconds();
        m_downSince.reset();
        if (m_notice)
            m_notice({true, argv.front(), "", waited, m_timeout});
    }
    return result;
}

bool SchedulerLink::wait(double seconds, const std::function<bool()>& stop)
{
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (stop && stop())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !(stop && stop());
}

std::optional<CommandResult> SchedulerLink::run(const std::vector<std::string>& argv,
                                                const std::function<bool()>& stop)
{
    for (;;) {
        CommandResult result = tryRun(argv);
        if (!unreachable(result))
            return result;
        if (expired())
            throw Exception(givingUp());
        if (!wait(pause(), stop))
            return std::nullopt;
    }
}

std::string SchedulerLink::givingUp() const
{
    return "Slurm could not be reached for " + minutesText(m_timeout) + " (" + m_lastFailure +
           ")";
}

bool cancelAndWait(SchedulerLink& link, const std::vector<std::string>& ids,
                   double patienceSeconds)
{
    if (ids.empty())
        return true;
    std::vector<std::string> scancel = {"scancel"};
    scancel.insert(scancel.end(), ids.begin(), ids.end());
    // A refusal ("already completing or completed", "Invalid job id") leaves nothing to end.
    for (;;) {
        if (!unreachable(link.tryRun(scancel)))
            break;
        if (link.expired() || !SchedulerLink::wait(link.pause(), {}))
            return false;
    }
    // Cancelled tasks linger while their programs are being killed; they are over only when
    // none of them is listed as anything but ended.
    const std::vector<std::string> squeue = {"squeue", "--noheader", "--array",
                                             "--states=all", "--jobs=" + joined(ids, ","),
                                             "--format=%i|%T|%M"};
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration<double>(patienceSeconds);
    for (;;) {
        const CommandResult listed = link.tryRun(squeue);
        if (unreachable(listed)) {
            if (link.expired() || !SchedulerLink::wait(link.pause(), {}))
                return false;
            continue;
        }
        // Refused: jobs the controller has forgotten, so none of them runs.
        if (!listed.succeeded())
            return true;
        bool active = false;
        for (const auto& [id, entry] : parseQueue(listed.out))
            active = active || !isFinal(entry.state);
        if (!active)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

void endEarlierJobs(SchedulerLink& link, const std::vector<SchedulerJob>& jobs)
{
    std::vector<std::string> ids, names;
    for (const SchedulerJob& job : jobs)
        (job.id.empty() ? names : ids).push_back(job.id.empty() ? job.name : job.id);
    auto refuse = [&](const std::string& why) {
        std::vector<std::string> all = ids;
        all.insert(all.end(), names.begin(), names.end());
        return Exception(why + ": the Slurm jobs " + joined(all, ", ") +
                         " of the interrupted run may still be queued or running. Cancel them "
                         "(scancel " + joined(ids, " ") +
                         (names.empty() ? "" : " --name=" + joined(names, ",")) +
                         ") before the run is resumed.");
    };
    if (!names.empty()) {
        // A submission cut short may have gone through: its job carries the name chosen for it.
        std::optional<CommandResult> found;
        try {
            found = link.run({"squeue", "--noheader", "--states=all",
                              "--name=" + joined(names, ","), "--format=%F"});
        } catch (const Exception&) {
            throw refuse(link.givingUp());
        }
        if (found && found->succeeded()) {
            std::istringstream lines(found->out);
            std::string line;
            while (std::getline(lines, line)) {
                line.erase(std::remove_if(line.begin(), line.end(),
                                          [](unsigned char c) { return std::isspace(c); }),
                           line.end());
                if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos &&
                    std::find(ids.begin(), ids.end(), line) == ids.end())
                    ids.push_back(line);
            }
            names.clear();
        }
    }
    if (!cancelAndWait(link, ids))
        throw refuse(link.expired() ? link.givingUp() : std::string("Slurm did not end them"));
}

} // namespace zyl::slurm
