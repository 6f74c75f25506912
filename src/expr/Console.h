#pragma once

#include "expr/Tensor.h"

#include <functional>
#include <string>
#include <vector>

namespace zyl {

/// What one line typed into the console produces.
struct ConsoleResult {
    /// Lines inserted directly below the typed line, in their order on screen.
    std::vector<std::string> linesBelow;
    /// A line appended at the very end of the text (the message of a failure).
    std::vector<std::string> appended;
    /// "Exit[]": the console closes.
    bool closeRequested = false;
};

/// The console's handling of one typed line: statements and names are evaluated and
/// printed, List[] lists the symbol table, Clear[name] removes a symbol (Clear[] resets the
/// table), Exit[] closes. Lines with "=" are first recorded through `recordEquation`
/// (the project's EQUATIONS section) when one is given.
class Console {
public:
    using EquationRecorder = std::function<void(const std::string& key, const std::string& value)>;

    explicit Console(SymbolTable& table, EquationRecorder recordEquation = {})
        : m_table(table), m_recordEquation(std::move(recordEquation))
    {
    }

    ConsoleResult execute(const std::string& line);

    /// The lines in the order a reader sees them on screen, top to bottom.
    static std::vector<std::string> screenOrder(const ConsoleResult& result);

private:
    SymbolTable& m_table;
    EquationRecorder m_recordEquation;
};

} // namespace zyl
