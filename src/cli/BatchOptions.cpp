#include "cli/BatchOptions.h"

#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <iostream>

namespace zyl::cli {

namespace {

// Decimal only, as the option has always been read: CLI11's own integer conversion would take
// "010" as octal and so silently change a seed that scripts already pass.
std::optional<std::uint64_t> decimalSeed(const std::string& text)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0)
        return std::nullopt;
    return value;
}

// --workers in decimal too: "010" is ten workers, not eight, and "0x10" no number at all.
std::optional<int> decimalWorkers(const std::string& text)
{
    const std::optional<std::uint64_t> value = decimalSeed(text);
    if (!value || *value < 1 || *value > 1024)
        return std::nullopt;
    return static_cast<int>(*value);
}

// "text" or "json", checked by CLI11 so that a wrong name is an error in the arguments.
CLI::Validator formatName()
{
    return CLI::Validator(
        [](std::string& text) {
            return text == "text" || text == "json" ? std::string()
                                                    : "'" + text + "' is not text or json";
        },
        "");
}

OutputFormat formatOf(const std::string& name)
{
    return name == "json" ? OutputFormat::Json : OutputFormat::Text;
}

} // namespace

std::optional<int> parseBatchArguments(int argc, char** argv, BatchOptions& options)
{
    CLI::App app("Loads the project script SCRIPT and runs its task to the end: generations until\n"
                 "max_iteration, or until a step fails or the program is interrupted. Prints the\n"
                 "statistics of the last generation and the best individual on standard output.",
                 "zyl-batch");
    app.footer("Exit status: 0 done, 1 a step failed, 2 wrong arguments or a script that cannot\n"
               "be loaded, 130/143/129 interrupted by SIGINT/SIGTERM/SIGHUP.\n");
    addVersionFlag(app);

    std::string seedText, progressName = "text", reportName = "text";
    app.add_option("--seed", seedText, "Seed the random generator (same seed, same run)")
        ->type_name("N")
        ->check([](const std::string& text) {
            return decimalSeed(text) ? std::string() : "'" + text + "' is not a valid seed";
        });
    CLI::Option* quiet = app.add_flag("-q,--quiet", options.quiet, "No progress on standard error");
    app.add_option("--progress", progressName, "Progress on standard error, one per generation")
        ->type_name("text|json")
        ->check(formatName())
        ->excludes(quiet);
    app.add_option("--report", reportName, "The final report on standard output")
        ->type_name("text|json")
        ->check(formatName());
    CLI::Option* plots =
        app.add_option("--plots", options.plotDirectory, "Draw each plot as DIR/<title>.png, .svg")
            ->type_name("DIR");
    CLI::Option* front =
        app.add_option("--front", options.frontFile,
                       "Write every non-dominated design found to FILE (several objectives)")
            ->type_name("FILE");
    std::string workersText;
    app.add_option("--workers", workersText,
                   "External programs run at once (1 to 1024), over the script's workers key")
        ->type_name("N")
        ->check([](const std::string& text) {
            return decimalWorkers(text) ? std::string()
                                        : "'" + text + "' is not a number from 1 to 1024";
        });
    CLI::Option* store =
        app.add_option("--store", options.store, "Record the run in the run store FILE")
            ->type_name("FILE");
    app.add_flag("--resume", options.resume,
                 "Continue the run in the --store FILE (start it when FILE does not exist)")
        ->needs(store);
    CLI::Option* reuse = app.add_option("--reuse", options.reuse,
                   "Fill the buffer with the evaluations of the run store FILE")
        ->type_name("FILE");
    std::vector<std::string> setArguments;
    // One value per --set, so that the script after the last one is not taken for another.
    app.add_option("--set", setArguments,
                   "Set a key of the script as if the script said it (repeatable)")
        ->type_name("SECTION.key=value")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    CLI::Option* script = app.add_option("SCRIPT", options.script, "The project script");
    CLI::Option* follow =
        app.add_option("--follow", options.follow,
                       "Print the progress of the run that another process records in the run "
                       "store FILE, until it ends")
            ->type_name("FILE");
    // Following runs nothing: only the form of the progress goes with it.
    for (const char* name : {"SCRIPT", "--store", "--resume", "--reuse", "--seed", "--workers",
                             "--plots", "--quiet", "--report", "--front", "--set"})
        follow->excludes(app.get_option(name));

    if (std::optional<int> status = parseArguments(app, argc, argv))
        return status;
    // Only a resume can do without a script: the store holds one.
    if (script->count() == 0 && !options.resume && follow->count() == 0) {
        std::cerr << "zyl-batch: SCRIPT is required (it may be left out only with --resume)\n";
        return usageErrorStatus;
    }
    // An empty file name would silently mean "no store" (or no pictures), and a resume
    // without a store has nothing to read.
    for (const auto& [option, value] :
         {std::pair<CLI::Option*, const std::string*>{store, &options.store},
          {reuse, &options.reuse},
          {front, &options.frontFile},
          {follow, &options.follow},
          {plots, &options.plotDirectory}}) {
        if (option->count() > 0 && value->empty()) {
            std::cerr << "zyl-batch: " << option->get_name() << " needs a file name\n";
            return usageErrorStatus;
        }
    }
    try {
        options.overrides = zyl::parseOverrides(setArguments);
    } catch (const std::exception& error) {
        std::cerr << "zyl-batch: " << error.what() << "\n";
        return usageErrorStatus;
    }
    if (!seedText.empty())
        options.seed = decimalSeed(seedText);
    for (const zyl::ScriptOverride& o : options.overrides) {
        // Two seeds for one run: which one started it could not be told at a resume.
        if (options.seed && o == zyl::ScriptOverride{"OPTIONS", "seed", o.value}) {
            std::cerr << "zyl-batch: --seed and --set OPTIONS.seed cannot be given together\n";
            return usageErrorStatus;
        }
    }
    if (!workersText.empty())
        options.workers = decimalWorkers(workersText);
    options.progress = formatOf(progressName);
    options.report = formatOf(reportName);
#ifndef ZYL_HAVE_PLOTS
    if (plots->count() > 0) {
        std::cerr << "zyl-batch: this build cannot draw plots (built without Qt)\n";
        return usageErrorStatus;
    }
#else
    (void)plots;
#endif
    return std::nullopt;
}

} // namespace zyl::cli
