#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "script/ScriptOverrides.h"

namespace zyl::cli {

/// How zyl-batch writes its progress and its final report.
enum class OutputFormat { Text, Json };

/// What the command line of zyl-batch asks for.
struct BatchOptions {
    std::optional<std::uint64_t> seed;
    bool quiet = false;
    OutputFormat progress = OutputFormat::Text;
    OutputFormat report = OutputFormat::Text;
    std::string plotDirectory;
    /// --front FILE: the archive of a task with several objectives, as a table.
    std::string frontFile;
    /// --workers: how many external programs run at once, over the script's `workers`.
    std::optional<int> workers;
    /// Empty only with --resume, which may take the script from the store.
    std::string script;
    /// --store FILE, --resume, --reuse FILE.
    std::string store;
    bool resume = false;
    std::string reuse;
    /// --set SECTION.key=value, in order.
    std::vector<ScriptOverride> overrides;
    /// --follow FILE: the progress of a run that another process records in FILE.
    std::string follow;
};

/// Reads zyl-batch's arguments into `options`. Returns the status to end with at once (after
/// --help, --version or an error in the arguments), std::nullopt when the run is to go on.
std::optional<int> parseBatchArguments(int argc, char** argv, BatchOptions& options);

} // namespace zyl::cli
