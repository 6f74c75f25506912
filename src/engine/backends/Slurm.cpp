#include "engine/backends/Slurm.h"

#include <sstream>

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

} // namespace zyl::slurm
