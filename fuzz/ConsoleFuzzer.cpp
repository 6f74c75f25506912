// The console as a person uses it: each line of the input is typed into one console that
// lives for the whole input, with the project's EQUATIONS recording what is defined.
//
// Contracts beyond "no crash": every statement line gets exactly one answer, beginning with
// ">> "; a result that the console prints reads back: it parses, and printing the parsed
// tree and parsing that again gives the same tree up to the grouping within chains of
// additions, multiplications or logical operators; a printed real number reads back as its
// value.
#include "FuzzSupport.h"

#include "common/TextConvert.h"
#include "expr/Console.h"
#include "expr/Evaluator.h"
#include "expr/Parser.h"
#include "expr/Printer.h"
#include "expr/StackGuard.h"

#include <cmath>
#include <exception>
#include <map>

using namespace zyl;

namespace {

/// The family of an operator whose grouping printing may change: a+(b-c) prints as a+b-c,
/// which reads back as (a+b)-c; a*(b/c) as a*b/c; a&&(b&&c) as a&&b&&c. 0 for the others.
int family(const Tensor& node) {
    if (!node.left || !node.right)
        return 0;
    switch (node.code) {
    case op::Plus:
    case op::Minus:
        return op::Plus;
    case op::Times:
    case op::Divide:
        return op::Times;
    case op::And:
    case op::Or:
        return node.code;
    default:
        return 0;
    }
}

/// The operands of a chain of one family, in order, each with its sign (or its place above or
/// below the fraction bar): a+(b-c) and (a+b)-c both give +a, +b, -c.
void chainOperands(const Tensor& node, int kind, bool inverted,
                   std::vector<std::pair<bool, const Tensor*>>& out) {
    checkStack();
    const bool flips = node.code == op::Minus || node.code == op::Divide;
    const std::pair<const Tensor*, bool> sides[] = {{node.left.get(), inverted},
                                                    {node.right.get(), inverted != flips}};
    for (const auto& [side, sign] : sides) {
        if (family(*side) == kind)
            chainOperands(*side, kind, sign, out);
        else
            out.emplace_back(sign, side);
    }
}

/// A structural form in which only what printing does not keep is lost: the grouping within
/// a chain of additions and subtractions, of multiplications and divisions, of && or of ||.
std::string canonical(const Tensor& node) {
    checkStack();
    std::string out;
    if (node.dimension > 0) {
        out = "{";
        for (const TensorPtr& element : node.elements)
            out += canonical(*element) + ",";
        return out + "}";
    }
    if (node.code == op::Symbol || node.code == op::Number)
        return (node.code == op::Symbol ? "$" : "#") + node.text;
    if (const int kind = family(node)) {
        std::vector<std::pair<bool, const Tensor*>> operands;
        chainOperands(node, kind, false, operands);
        out = "chain" + std::to_string(kind) + "(";
        for (const auto& [inverted, operand] : operands)
            out += (inverted ? "~" : "") + canonical(*operand) + ",";
        return out + ")";
    }
    out = node.text + "(";
    if (node.left)
        out += canonical(*node.left) + ",";
    if (node.right)
        out += canonical(*node.right);
    return out + ")";
}

TensorPtr parsedOrAbort(const std::string& text, const char* what) {
    TensorPtr tree;
    bool parsed = false;
    try {
        parsed = parseExpression(text, tree);
    } catch (const std::exception& e) {
        FUZZ_CHECK(false, std::string(what) + " does not parse: " + text + ": " + e.what());
    }
    FUZZ_CHECK(parsed, std::string(what) + " does not parse: " + text);
    return tree;
}

void checkReadsBack(const std::string& printed, SymbolTable& table) {
    const TensorPtr tree = parsedOrAbort(printed, "a printed result");
    const std::string again = printToString(*tree);
    const TensorPtr second = parsedOrAbort(again, "a reprinted result");
    try {
        FUZZ_CHECK(canonical(*second) == canonical(*tree),
                   "printing changes the tree: " + printed + " -> " + again);
    } catch (const InfoErr&) {
        // Deeper than this stack walks: the printer said so too for trees deeper still.
    }

    // A real number reads back as the value of its text (a literal keeps the text it was
    // typed with, ".5" or "2.50"; a computed number has the six-digit text of its value).
    const bool negative = !printed.empty() && printed[0] == '-';
    if (!isDecimalLiteral(std::string_view(printed).substr(negative ? 1 : 0)))
        return;
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SymbolTable table;
    table.registerBuiltinSymbols();
    std::map<std::string, std::string> equations;
    Console console(
        table, [&](const std::string& key, const std::string& value) { equations[key] = value; });
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
