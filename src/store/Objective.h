#pragma once

#include "engine/Zyl.h"
#include "script/ProjectScript.h"
#include "script/ProjectSettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zyl {

/// What decides an individual's value, so that two runs can tell whether their evaluations
/// are interchangeable: the mode; for a formula, every EQUATIONS entry (f may use the others);
/// for a program, its file (absolute path), size and modification time; and the variables'
/// names and kinds in order. The ranges are not part of it: a value does not depend on them.
struct Objective {
    std::string mode;
    std::string formula;
    std::string program;
    std::int64_t programSize = -1;
    std::int64_t programModified = -1;  ///< nanoseconds since the epoch; -1 when missing
    std::vector<std::string> variables; ///< "name:Kind"
    /// The CONSTRAINTS entries and the number of the program's constraint values; empty for a
    /// task without constraints (as in every store written before there were any).
    std::string constraints;
    /// The OBJECTIVES entries and the number of the program's objective values of a task with
    /// several; empty for a task with one.
    std::string objectives;

    /// The text kept in a run store (lines of key=value).
    std::string text() const;
    /// \throws Exception when `text` is not such a description.
    static Objective parse(const std::string& text);
};

Objective describeObjective(const ProjectScript& script, const ProjectSettings& settings,
                            const ZYL& zyl);

/// What changed from `before` to `now` in words ("the formula has changed", ...), or nothing
/// when the two are the same objective.
std::optional<std::string> objectiveChange(const Objective& before, const Objective& now);

/// Fills the buffer of `zyl` from the run store at `otherStore`: its buffer entries, then its
/// successful evaluations, oldest first, each one that the buffer does not hold yet. Switches
/// the buffer on, and gives every unevaluated member of the population its buffered value
/// when there is one, so the first generation profits too. Returns the entries added.
/// The other store is only read, and may be in use by a running ZYL.
/// \throws Exception with the store's own messages, or "Cannot reuse the evaluations of
/// \"<path>\": <what changed>." when its objective differs from `now`.
std::size_t reuseEvaluations(ZYL& zyl, const Objective& now, const std::string& otherStore);

} // namespace zyl
