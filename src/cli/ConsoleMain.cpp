// zyl-console: the expression language at a terminal. Reads statements line by line from
// standard input and prints what the console window would show for each.
#include "cli/CommandLine.h"
#include "expr/Console.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#ifdef ZYL_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace {

bool readLine(bool interactive, std::string& line)
{
#ifdef ZYL_HAVE_READLINE
    if (interactive) {
        char* text = readline("zyl> ");
        if (!text)
            return false;
        line = text;
        if (*text)
            add_history(text);
        std::free(text);
        return true;
    }
#else
    if (interactive) {
        std::cout << "zyl> " << std::flush;
    }
#endif
    if (!std::getline(std::cin, line))
        return false;
    // Files written on other systems end their lines with CR LF.
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app("Reads statements of the ZYL expression language from standard input, one per "
                 "line, and prints the result of each. List[] lists the symbols, Clear[name] "
                 "removes one (Clear[] resets the table), Exit[] ends the session.",
                 "zyl-console");
    zyl::cli::addVersionFlag(app);
    if (std::optional<int> status = zyl::cli::parseArguments(app, argc, argv))
        return *status;
    std::ios::sync_with_stdio(false);
    const bool interactive = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);

    zyl::SymbolTable table;
    table.registerBuiltinSymbols();
    zyl::Console console(table);

    std::string line;
    while (readLine(interactive, line)) {
        zyl::ConsoleResult result = console.execute(line);
        for (const std::string& out : zyl::Console::screenOrder(result))
            std::cout << out << '\n';
        if (interactive)
            std::cout.flush();
        if (result.closeRequested)
            break;
    }
    std::cout.flush();
    return 0;
}
