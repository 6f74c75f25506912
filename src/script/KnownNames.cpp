#include "script/KnownNames.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace zyl {

namespace {

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// Edits (insertions, deletions, substitutions) from one name to the other, ignoring case.
std::size_t editDistance(std::string_view from, std::string_view to)
{
    const std::string a = lowerCase(from), b = lowerCase(to);
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

template <class Names, class NameOf>
std::string_view nearest(std::string_view name, const Names& names, NameOf nameOf)
{
    std::string_view best;
    std::size_t bestDistance = std::numeric_limits<std::size_t>::max();
    for (const auto& candidate : names) {
        const std::size_t distance = editDistance(name, nameOf(candidate));
        if (distance < bestDistance) {
            best = nameOf(candidate);
            bestDistance = distance;
        }
    }
    return best;
}

bool sameName(std::string_view a, std::string_view b) { return lowerCase(a) == lowerCase(b); }

} // namespace

const std::vector<KnownSection>& knownSections()
{
    static const std::vector<KnownSection> sections = {
        {"FUNCTION",
         {"manual", "analytical", "external", "external_name", "input_name", "output_name",
          "external_timeout", "workers", "work_root", "template_dir", "keep_work_dirs", "retries",
          "failure_value", "term_grace", "reuse_store", "external_constraints", "input_by_name",
          "no_retry_status", "external_objectives", "prescreen"}},
        {"EQUATIONS", {}},
        {"CONSTRAINTS", {}},
        {"OBJECTIVES", {}},
        {"VARIABLES", {}},
        {"POPULATION", {"size", "constatnt"}},
        {"OPTIONS",
         {"maximisation", "loop_counter", "max_iteration", "close", "seed", "stop_when",
          "time_limit", "max_evaluations", "stall_generations", "stall_tolerance", "method",
          "constraint_tolerance", "maximised_objectives", "hv_reference"}},
        {"METHOD",
         {"cmaes_step", "cmaes_restarts", "cmaes_growth", "cmaes_mean_rate", "de_f", "de_cr",
          "de_adaptation", "trust_radius", "trust_after"}},
        {"SELECTION", {"roulette", "tournament", "tournament_size", "elite"}},
        {"CROSSOVER", {"probability", "multipoint", "points", "arithmetical", "uniform",
                       "uniform_prob"}},
        {"MUTATION", {"probability", "uniform", "nonuniform", "uniformity_coeff"}},
        {"PLOTS", {}},
        {"SHOW",
         {"statistic_history", "buffered", "population", "population_history", "variables",
          "buffer_individuals", "arrange"}},
        {"EXPORT", {}},
        {"EXPORT_NAMES", {"export_name", "export_every_iteration"}},
        {"CLUSTER",
         {"scheduler", "mode", "partition", "account", "time_limit", "cpus_per_task", "memory",
          "options", "scheduler_timeout"}},
    };
    return sections;
}

std::vector<std::string> unknownNameNotices(const ProjectScript& script)
{
    std::vector<std::string> notices;
    const std::vector<KnownSection>& sections = knownSections();
    std::vector<std::string> seen;
    for (const std::string& name : script.sectionNames()) {
        if (std::find_if(seen.begin(), seen.end(),
                         [&](const std::string& s) { return sameName(s, name); }) != seen.end()) {
            notices.push_back("Section [" + name +
                              "] is written twice: only its first occurrence is read.");
            continue;
        }
        seen.push_back(name);
        const auto known = std::find_if(sections.begin(), sections.end(),
                                        [&](const KnownSection& s) { return sameName(s.name, name); });
        if (known == sections.end()) {
            const std::string_view guess =
                nearest(name, sections, [](const KnownSection& s) { return s.name; });
            notices.push_back("Unknown section [" + name + "] is ignored; the nearest known one is [" +
                              std::string(guess) + "].");
            continue;
        }
        if (known->keys.empty())
            continue;
        std::vector<std::string> keys;
        for (const std::string& key : script.ReadSection(name)) {
            const bool repeated = std::find_if(keys.begin(), keys.end(), [&](const std::string& k) {
                                      return sameName(k, key);
                                  }) != keys.end();
            keys.push_back(key);
            if (repeated) {
                notices.push_back("Key \"" + key + "\" is written twice in [" + name +
                                  "]: only its first entry is read.");
                continue;
            }
            if (std::any_of(known->keys.begin(), known->keys.end(),
                            [&](std::string_view k) { return sameName(k, key); }))
                continue;
            if (key.empty()) {
                notices.push_back("A line without \"=\" in [" + name + "] is ignored.");
                continue;
            }
            // A key written under the wrong heading is no typing error: name its own.
            std::string homes;
            for (const KnownSection& other : sections)
                if (std::any_of(other.keys.begin(), other.keys.end(),
                                [&](std::string_view k) { return sameName(k, key); }))
                    homes += (homes.empty() ? "[" : " or [") + std::string(other.name) + "]";
            if (!homes.empty()) {
                notices.push_back("Key \"" + key + "\" in [" + name +
                                  "] is ignored: it belongs in " + homes + ".");
                continue;
            }
            const std::string_view guess =
                nearest(key, known->keys, [](std::string_view k) { return k; });
            notices.push_back("Unknown key \"" + key + "\" in [" + name +
                              "] is ignored; the nearest known key is \"" + std::string(guess) +
                              "\".");
        }
    }
    return notices;
}

} // namespace zyl
