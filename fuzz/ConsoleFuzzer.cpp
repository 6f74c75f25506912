// The console as a person uses it: each line of the input is typed into one console that
// lives for the whole input, with the project's EQUATIONS recording what is defined.
//
// Contracts beyond "no crash": every statement line gets exactly one answer, beginning with
// ">> "; a result that the console prints reads back: it parses, printing the parsed tree
// again reaches a fixed point, and a printed real number reads back as its value.
#include "FuzzSupport.h"

#include "common/TextConvert.h"
#include "expr/Console.h"
#include "expr/Evaluator.h"
#include "expr/Parser.h"
#include "expr/Printer.h"

#include <cmath>
#include <exception>
#include <map>

using namespace zyl;

namespace {

void checkReadsBack(const std::string& printed, SymbolTable& table)
{
    TensorPtr tree;
    bool parsed = false;
    try {
        parsed = parseExpression(printed, tree);
    } catch (const std::exception& e) {
        FUZZ_CHECK(false, "printed result does not parse: " + printed + ": " + e.what());
    }
    FUZZ_CHECK(parsed, "printed result does not parse: " + printed);
    const std::string again = printToString(*tree);
    TensorPtr second;
    FUZZ_CHECK(parseExpression(again, second) && printToString(*second) == again,
               "printing is no fixed point: " + printed + " -> " + again);

    // A real number reads back as the value of its text (a literal keeps the text it was
    // typed with, ".5" or "2.50"; a computed number has the six-digit text of its value).
    std::optional<double> value = parseReal(printed);
    if (!value)
        return;
    try {
        const Complex back = evaluateNumeric(*tree, table);
        FUZZ_CHECK(back.im == 0 && back.re == *value, "printed number changes: " + printed);
    } catch (const std::exception& e) {
        FUZZ_CHECK(false, "printed number does not evaluate: " + printed + ": " + e.what());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    SymbolTable table;
    table.registerBuiltinSymbols();
    std::map<std::string, std::string> equations;
    Console console(table, [&](const std::string& key, const std::string& value) {
        equations[key] = value;
    });
    for (const std::string& line : fuzz::linesOf(fuzz::asText(data, size), 8)) {
        const ConsoleResult result = console.execute(line);
        std::string statement;
        for (char c : line)
            if (c != ' ')
                statement += c;
        if (statement.find('[') != std::string::npos) {
            if (result.closeRequested)
                break;
            continue;
        }
        const std::vector<std::string> shown = Console::screenOrder(result);
        FUZZ_CHECK(shown.size() == 1 && shown[0].rfind(">> ", 0) == 0,
                   "a statement without exactly one answer: " + line);
        if (!result.linesBelow.empty())
            checkReadsBack(shown[0].substr(3), table);
    }
    return 0;
}
