#pragma once

#include "script/ProjectScript.h"

#include <string>
#include <string_view>
#include <vector>

namespace zyl {

/// A key of the project script set on the command line (`--set SECTION.key=value`), as if the
/// script said it: written over the script's own entry, or added to its section.
struct ScriptOverride {
    /// Blanks stripped, as the script's lines are.
    std::string section, key, value;

    /// "SECTION.key=value".
    std::string text() const;
    /// The same key (section and key without regard to letter case) with the same value.
    bool operator==(const ScriptOverride& other) const;
};

/// Reads one argument of `--set`. Blanks are stripped as from a line of a script, so
/// `"EQUATIONS.f = x^2"` sets what the line `f = x^2` under [EQUATIONS] would.
/// \throws Exception `--set "ARG" is not SECTION.key=value: REASON` for an argument that is not
/// of that form or would not read back as one entry of the section.
ScriptOverride parseOverride(std::string_view argument);
/// Every argument of a command line's `--set`, in order.
/// \throws Exception as parseOverride, or `--set SECTION.key is given twice` when two of them
/// set one key: which one was meant cannot be told.
std::vector<ScriptOverride> parseOverrides(const std::vector<std::string>& arguments);

/// Writes each override into `script`, in order.
void applyOverrides(ProjectScript& script, const std::vector<ScriptOverride>& overrides);

/// The words of unknownNameNotices for the overrides that name a section or key ZYL does not
/// know, each after "--set ": a misspelt key on the command line would otherwise pass unseen.
std::vector<std::string> overrideNotices(const std::vector<ScriptOverride>& overrides);

/// Whether two command lines set the same keys to the same values, in whatever order.
bool sameOverrides(const std::vector<ScriptOverride>& a, const std::vector<ScriptOverride>& b);

/// The form a run store keeps them in: one text() a line; "" for none.
std::string overridesText(const std::vector<ScriptOverride>& overrides);
/// What overridesText wrote. \throws Exception as parseOverride for a line it could not have
/// written.
std::vector<ScriptOverride> overridesFromText(std::string_view text);
/// "--set A --set B" for messages; "no --set" for none.
std::string overridesCommand(const std::vector<ScriptOverride>& overrides);

} // namespace zyl
