#include "expr/Parser.h"

#include "common/TextConvert.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace zyl {

namespace {

struct TokenInfo {
    std::string_view name;
    int code;
    int level;
};

constexpr TokenInfo tokenTable[] = {
    {"=", op::Assign, 1},      {"||", op::Or, 2},        {"&&", op::And, 3},
    {"==", op::Equal, 7},      {"!=", op::NotEqual, 7},  {">", op::Greater, 8},
    {">=", op::GreaterEq, 8},  {"<", op::Less, 8},       {"<=", op::LessEq, 8},
    {"+", op::Plus, 9},        {"-", op::Minus, 9},      {"*", op::Times, 10},
    {"/", op::Divide, 10},     {":", op::Divide, 10},    {"!", op::Not, 11},
    {"~", op::Negate, 11},     {"^", op::Power, 12},     {"log", op::Log, 13},
    {"D", op::Derivative, 13}, {"sum", op::Sum, 13},     {"product", op::Product, 13},
    {"sin", 108, 13},          {"cos", 109, 13},         {"tg", 110, 13},
    {"ctg", 111, 13},          {"ln", 112, 13},          {"exp", 114, 13},
    {"abs", 115, 13},          {"arcsin", 116, 13},      {"arccos", 117, 13},
    {"arctg", 118, 13},        {"arcctg", 119, 13},      {"sqrt", 120, 13},
    {"re", 121, 13},           {"im", 122, 13},          {"arg", 123, 13},
    {"conj", 124, 13},         {"sinh", 127, 13},        {"cosh", 128, 13},
    {"tgh", 129, 13},          {"ctgh", 130, 13},        {"arsinh", 131, 13},
    {"arcosh", 132, 13},       {"artgh", 133, 13},       {"arctgh", 134, 13},
    {"floor", 135, 13},        {"ceil", 136, 13},        {"round", 137, 13},
    {"vect", op::Vect, 13},
};

constexpr int bracketLevel = -1;
constexpr int markerLevel = -4;

bool isSign(char c) { return c == '+' || c == '-'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// Sign folding to its fixed point in one pass. The rewrites (+- and -+ to -, -- and ++ to
/// +, ~~ to nothing) are confluent, so a stack reaches the same text that repeating them
/// would, in linear time instead of quadratic.
std::string foldSigns(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (isSign(c) && !out.empty() && isSign(out.back())) {
            bool negative = (out.back() == '-') != (c == '-');
            out.back() = negative ? '-' : '+';
        } else if (c == '~' && !out.empty() && out.back() == '~') {
            out.pop_back();
        } else {
            out.push_back(c);
        }
    }
    return out;
}

TensorPtr makeTokenNode(std::string_view token, int code, int level)
{
    auto node = std::make_unique<Tensor>();
    node->code = code;
    node->level = level;
    node->text = std::string(token);
    return node;
}

/// Owns the nodes of the output queue and the operator stack; whatever is left when the
/// parse ends, successfully or not, is destroyed with it.
struct ParseState {
    std::vector<TensorPtr> output;
    std::vector<TensorPtr> stack;

    void moveTopToOutput()
    {
        output.push_back(std::move(stack.back()));
        stack.pop_back();
    }
    // Moves operators to the output until a "(" is on top; false when none was found.
    bool unwindToBracket()
    {
        while (!stack.empty() && stack.back()->level != bracketLevel)
            moveTopToOutput();
        return !stack.empty();
    }
};

void addOperator(ParseState& state, TensorPtr node)
{
    const int level = node->level;
    if (node->code == op::Not || node->code == op::Negate) {
        state.stack.push_back(std::move(node));
        return;
    }
    const bool rightAssoc = node->code == op::Assign || node->code == op::Power;
    if (rightAssoc && !state.stack.empty() && state.stack.back()->level == level) {
        state.stack.push_back(std::move(node));
        return;
    }
    while (!state.stack.empty() && state.stack.back()->level >= level) {
        state.moveTopToOutput();
        if (rightAssoc && !state.stack.empty() && state.stack.back()->level == level)
            break;
    }
    state.stack.push_back(std::move(node));
}

bool isMarker(const TensorPtr& node) { return node->code == op::VectorStart; }

bool buildTree(std::vector<TensorPtr>& queue, TensorPtr& result)
{
    std::vector<TensorPtr> operands;
    for (TensorPtr& node : queue) {
        if (node->level == bracketLevel)
            return false;
        const int code = node->code;
        if (code == op::Number) {
            if (isDecimalLiteral(node->text)) {
                errno = 0;
                double value = std::strtod(node->text.c_str(), nullptr);
                if (std::isinf(value))
                    throw InfoErr("Too large value");
                node->re = value;
                node->im = 0.0;
            } else {
                node->code = op::Symbol;
            }
            operands.push_back(std::move(node));
        } else if (code == op::VectorStart) {
            operands.push_back(std::move(node));
        } else if (op::isBinary(code)) {
            // A vector-start marker is never an operand: "{1+}" must fail, not nest it.
            if (operands.size() < 2 || isMarker(operands.back()) ||
                isMarker(operands[operands.size() - 2]))
                return false;
            node->right = std::move(operands.back());
            operands.pop_back();
            node->left = std::move(operands.back());
            operands.pop_back();
            operands.push_back(std::move(node));
        } else if (op::isUnary(code)) {
            if (operands.empty() || isMarker(operands.back()))
                return false;
            node->left = std::move(operands.back());
            operands.pop_back();
            operands.push_back(std::move(node));
        } else if (code > 1000) {
            auto vector = std::make_unique<Tensor>();
            std::vector<TensorPtr> items;
            bool foundMarker = false;
            while (!operands.empty()) {
                TensorPtr top = std::move(operands.back());
                operands.pop_back();
                if (top->level == markerLevel) {
                    foundMarker = true;
                    break;
                }
                items.push_back(std::move(top));
            }
            if (!foundMarker || items.empty())
                return false;
            for (auto it = items.rbegin(); it != items.rend(); ++it)
                vector->appendElement(std::move(*it));
            operands.push_back(std::move(vector));
        } else {
            return false;
        }
    }
    if (operands.size() != 1 || isMarker(operands.back()))
        return false;
    result = std::move(operands.back());
    return true;
}

} // namespace

bool lookupToken(std::string_view token, int& code, int& level)
{
    for (const TokenInfo& info : tokenTable) {
        if (info.name == token) {
            code = info.code;
            level = info.level;
            return true;
        }
    }
    return false;
}

std::string normalizeStatement(std::string_view input)
{
    // 1. Blanks never separate tokens.
    std::string text;
    text.reserve(input.size());
    for (char c : input)
        if (c != ' ')
            text.push_back(c);
    // 2. Sign folding.
    text = foldSigns(text);
    // 3. A leading minus is a prefix negation; a leading plus is dropped.
    if (!text.empty() && text[0] == '-')
        text[0] = '~';
    if (!text.empty() && text[0] == '+')
        text.erase(0, 1);
    // 4. Braces become the vector function.
    std::string braced;
    braced.reserve(text.size());
    for (char c : text) {
        if (c == '}')
            braced.push_back(')');
        else if (c == '{')
            braced += "vect(";
        else
            braced.push_back(c);
    }
    // 5. A minus after punctuation other than ")" is a prefix negation.
    for (std::size_t i = 1; i < braced.size(); ++i) {
        unsigned char before = static_cast<unsigned char>(braced[i - 1]);
        if (braced[i] == '-' && isPunctuation(before) && before != ')')
            braced[i] = '~';
    }
    return braced;
}

bool parseExpression(std::string_view input, TensorPtr& result)
{
    const std::string text = normalizeStatement(input);
    ParseState state;
    const std::size_t n = text.size();
    std::size_t pos = 0;
    while (pos < n) {
        // A run of non-punctuation characters ("." and "_" included) is a name or a number.
        std::size_t end = pos;
        while (end < n) {
            unsigned char c = static_cast<unsigned char>(text[end]);
            if (isPunctuation(c) && c != '.' && c != '_') {
                // The sign of an exponent belongs to the number: 1.5e-3.
                if (isSign(text[end]) && end > pos + 1 &&
                    (text[end - 1] == 'e' || text[end - 1] == 'E') && isDigit(text[end - 2])) {
                    ++end;
                    continue;
                }
                break;
            }
            ++end;
        }
        std::string_view token;
        if (end > pos) {
            token = std::string_view(text).substr(pos, end - pos);
            pos = end;
        } else {
            char c = text[pos];
            char next = pos + 1 < n ? text[pos + 1] : '\0';
            std::size_t length = 1;
            if ((c == '>' || c == '<' || c == '=' || c == '!') && next == '=')
                length = 2;
            else if ((c == '&' || c == '|') && next == c)
                length = 2;
            else if (std::string_view("!()*+,-/:<=>^~").find(c) == std::string_view::npos)
                throw InfoErr("Syntax error!!!");
            token = std::string_view(text).substr(pos, length);
            pos += length;
        }

        if (token == "(") {
            state.stack.push_back(makeTokenNode(token, 0, bracketLevel));
            continue;
        }
        if (token == ",") {
            state.unwindToBracket();
            continue;
        }
        if (token == ")") {
            if (!state.unwindToBracket())
                return false;
            state.stack.pop_back();
            continue;
        }
        int code = 0, level = 0;
        if (!lookupToken(token, code, level)) {
            state.output.push_back(makeTokenNode(token, op::Number, 0));
            continue;
        }
        if (code == op::Vect)
            state.output.push_back(makeTokenNode("#", op::VectorStart, markerLevel));
        addOperator(state, makeTokenNode(token, code, level));
    }
    while (!state.stack.empty())
        state.moveTopToOutput();
    return buildTree(state.output, result);
}

} // namespace zyl
