#include "cli/CommandLine.h"

#include "ZylVersion.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace zyl::cli {

std::string versionText(const std::string& program)
{
    return program + " " + ZYL_VERSION;
}

void addVersionFlag(CLI::App& app)
{
    app.set_version_flag("--version", versionText(app.get_name()), "Print the version and exit");
}

std::optional<int> parseArguments(CLI::App& app, int argc, char** argv)
{
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& request) {
        return app.exit(request, std::cout, std::cerr);
    } catch (const CLI::CallForVersion& request) {
        return app.exit(request, std::cout, std::cerr);
    } catch (const CLI::ParseError& error) {
        // One line, so that a calling program can pass it on as it is; CLI11's own failure
        // text adds a second line pointing at --help.
        std::string reason = error.what();
        for (char& c : reason)
            if (c == '\n')
                c = ' ';
        std::cerr << app.get_name() << ": " << reason << "\n";
        return usageErrorStatus;
    }
    return std::nullopt;
}

} // namespace zyl::cli
