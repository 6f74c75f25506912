#pragma once

#include <string>

namespace zyl {

/// Where the objective value of an individual comes from.
enum class FunctionMode { Invalid = -1, Manual = 0, Analytical = 1, External = 2 };

/// The task settings held outside the engine object. One instance lives as long as the
/// program; a load overwrites what it reads and leaves the rest, also when it fails.
struct ProjectSettings {
    FunctionMode functionMode = FunctionMode::External;
    int loopCounter = 1;
    bool showVariables = false;
    bool showBuffered = false;
    bool showPopulation = false;
    bool statisticHistory = false;
    bool populationHistory = false;
    bool exportEveryIteration = false;
    std::string inputName;
    std::string externalName;
    std::string outputName;
    /// Seconds an external program may run before it is killed; 0 waits as long as it takes.
    double externalTimeout = 0;
};

} // namespace zyl
