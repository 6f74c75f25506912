#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace zyl::cli {

/// The exit status of every error in a program's arguments.
inline constexpr int usageErrorStatus = 2;

/// "<program> <version>", the answer to --version.
std::string versionText(const std::string& program);

/// Adds the --version flag every ZYL program answers.
void addVersionFlag(CLI::App& app);

/// Parses the arguments with `app`. Returns the status to end with at once: 0 when --help or
/// --version was answered on standard output, usageErrorStatus after a one-line message
/// "<program>: <reason>" on standard error. std::nullopt when the program is to go on.
std::optional<int> parseArguments(CLI::App& app, int argc, char** argv);

} // namespace zyl::cli
