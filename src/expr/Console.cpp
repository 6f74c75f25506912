#include "expr/Console.h"

#include "expr/Evaluator.h"
#include "expr/Printer.h"
#include "expr/StackGuard.h"
#include "expr/Statement.h"

#include <exception>

namespace zyl {

ConsoleResult Console::execute(const std::string& line)
{
    ConsoleResult result;
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos && m_recordEquation)
        m_recordEquation(line.substr(0, equals), line.substr(equals + 1));

    std::string statement;
    statement.reserve(line.size());
    for (char c : line)
        if (c != ' ')
            statement.push_back(c);

    // Output collected so far; a failure appends its message to it as the last line.
    std::string output;
    try {
        // One budget for the whole line: the statement and the evaluation of its result.
        WorkBudget budget;
        if (statement.find('[') == std::string::npos) {
            output = ">> ";
            if (const Funkcja* symbol = m_table.lookup(statement)) {
                printExpression(*evaluate(*symbol->definition, m_table), output);
            } else {
                auto temporary = makeSymbolFromStatement(statement, "", false, m_table);
                printExpression(*evaluate(*temporary->definition, m_table), output);
            }
            result.linesBelow.push_back(std::move(output));
        } else if (statement == "List[]") {
            // Each line goes directly below the typed one, so the table shows reversed.
            for (const Funkcja& symbol : m_table.symbols()) {
                output = ">> " + symbol.name + " = ";
                printExpression(*symbol.definition, output);
                result.linesBelow.insert(result.linesBelow.begin(), std::move(output));
                output.clear();
            }
        } else if (statement == "Exit[]") {
            result.closeRequested = true;
        } else if (statement.find("Clear[") != std::string::npos) {
            std::string name = statement.substr(statement.find('[') + 1);
            const std::size_t bracket = name.find(']');
            if (bracket != std::string::npos)
                name.erase(bracket, 1);
            if (!name.empty()) {
                if (Funkcja* symbol = m_table.lookup(name))
                    m_table.remove(symbol);
            } else {
                m_table.clear();
                m_table.registerBuiltinSymbols();
            }
        } else {
            result.linesBelow.push_back(">> " + statement);
        }
    } catch (const std::exception& error) {
        result.appended.push_back(output + error.what());
    }
    return result;
}

std::vector<std::string> Console::screenOrder(const ConsoleResult& result)
{
    std::vector<std::string> lines = result.linesBelow;
    lines.insert(lines.end(), result.appended.begin(), result.appended.end());
    return lines;
}

} // namespace zyl
