#pragma once

#include "common/Rng.h"
#include "engine/UserPlots.h"
#include "engine/Zyl.h"
#include "expr/Tensor.h"
#include "script/ProjectScript.h"
#include "script/ProjectSettings.h"

#include <memory>
#include <vector>

namespace zyl {

/// The largest tournament and the most crossover points a script may ask for. Each contestant
/// and each point takes a random draw of its own for every pair or slot of every generation,
/// so a typing slip of a few digits would keep a run from ever ending; far larger values than
/// any population (at most 1000) or sensible crossover needs are still allowed.
constexpr int maxTournamentSize = 10000;
constexpr int maxCrossoverPoints = 10000;

/// The key `method` of OPTIONS and the parameters of the methods in METHOD; absent keys keep
/// their defaults. Every parameter is checked, whichever method is chosen: the Options dialog
/// can switch methods later, and a typing slip should show at once.
/// A task with several objectives runs with nsga2 or smsemoa (the default), one with a single
/// objective with the others (ga the default).
/// \throws Exception "Unknown method: ..." or "<parameter> ought to be a number from ...", and
/// "A manual task runs with method ga only" for another method in `mode` Manual, "A task with
/// several objectives runs with method nsga2 or smsemoa" or "Method NAME needs several
/// objectives (OBJECTIVES)" for a method of the other kind.
MethodSettings readMethodSettings(const ProjectScript& script, FunctionMode mode,
                                  bool multiObjective = false);

/// What a successful load builds besides the settings.
struct LoadedProject {
    std::unique_ptr<ZYL> zyl;
    std::vector<UserPlot> plots;
};

/// Turns a project script into a runnable task: validates it in a fixed order, fills
/// `settings`, runs the EQUATIONS through the expression language, builds the decision
/// variables and the engine object (whose random draws come from `rng`), sets the plots up
/// and appends the four individual vectors (GlobalMinIndiv, ...) to the symbol table.
/// Opening windows is the caller's business once this has returned.
/// \throws Exception with the message of the first failing check. Settings read before the
/// failure keep their new values and definitions already made stay in the table; nothing
/// else is left behind.
LoadedProject loadProject(const ProjectScript& script, ProjectSettings& settings,
                          SymbolTable& table, Rng& rng);

} // namespace zyl
