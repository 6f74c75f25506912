#pragma once

#include "script/ProjectScript.h"

#include <string>
#include <string_view>
#include <vector>

namespace zyl {

/// The sections of a project script, each with the keys ZYL reads in it; an empty key list
/// marks a section whose keys the user names (EQUATIONS, VARIABLES, PLOTS, EXPORT).
struct KnownSection {
    std::string_view name;
    std::vector<std::string_view> keys;
};
const std::vector<KnownSection>& knownSections();

/// One line for each name of `script` that ZYL would pass over without a word: a section or
/// key it does not know (with the nearest known one), and a section or key written twice (only
/// the first is read). A misspelt stop rule or `workers` would otherwise run as if absent.
std::vector<std::string> unknownNameNotices(const ProjectScript& script);

} // namespace zyl
