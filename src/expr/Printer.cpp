#include "expr/Printer.h"

#include "expr/StackGuard.h"

namespace zyl {

namespace {

bool isNegativeOrComplex(const Tensor& node) { return node.im != 0 || node.re < 0; }

bool isCallForm(const Tensor& node)
{
    return node.code == op::Derivative || node.code == op::Sum || node.code == op::Product ||
           node.text == "log";
}

int childBump(const Tensor& node)
{
    const int code = node.code;
    // "==" and "!=" are not associative either: a==(b==c) must not print as a==b==c.
    if (node.right && node.right->level == node.level &&
        (code == op::Minus || code == op::Divide || (code >= op::Greater && code <= op::NotEqual)))
        return 1;
    if (code == op::Power && node.left && node.left->code == op::Power)
        return 1;
    return 0;
}

/// True when the printed text of the node, printed under parentLevel, begins with a minus.
/// After "+" or "-" such a sign would be folded into the operator when read back
/// (a-(-b) would read as a+b), so the operand gets brackets there. Walks the leftmost path
/// of the subtree, which is where the first character comes from.
bool printsLeadingMinus(const Tensor* node, int parentLevel)
{
    for (;;) {
        if (node->dimension > 0 || node->code == op::Symbol)
            return false;
        if (node->code == op::Number)
            return !(node->level < parentLevel && isNegativeOrComplex(*node)) &&
                   !node->text.empty() && node->text[0] == '-';
        if (node->level < parentLevel || isCallForm(*node))
            return false;
        if (node->code == op::Negate)
            return true;
        if (!op::isBinary(node->code) || !node->left)
            return false;
        parentLevel = node->level + childBump(*node);
        node = node->left.get();
    }
}

void printBracketed(const Tensor& node, std::string& out)
{
    out += '(';
    printExpression(node, out, 0);
    out += ')';
}

void printOperand(const Tensor& node, std::string& out, int parentLevel, bool afterSign)
{
    if (afterSign && printsLeadingMinus(&node, parentLevel))
        printBracketed(node, out);
    else
        printExpression(node, out, parentLevel);
}

} // namespace

void printExpression(const Tensor& node, std::string& out, int parentLevel)
{
    checkStack();
    if (node.dimension > 0) {
        out += '{';
        for (std::size_t i = 0; i < node.elements.size(); ++i) {
            if (i > 0)
                out += ',';
            printExpression(*node.elements[i], out, 0);
        }
        out += '}';
        return;
    }
    if (node.code == op::Symbol) {
        out += node.text;
        return;
    }
    if (node.code == op::Number) {
        if (node.level < parentLevel && isNegativeOrComplex(node)) {
            out += '(';
            out += node.text;
            out += ')';
        } else {
            out += node.text;
        }
        return;
    }
    if (node.text == "log" && node.left && node.right) {
        out += "log(";
        printExpression(*node.left, out, 0);
        out += ',';
        printExpression(*node.right, out, 0);
        out += ')';
        return;
    }
    const bool bracketed = node.level < parentLevel;
    // D, sum and product are written as calls, so that their text reads back.
    if (op::isBinary(node.code) && !isCallForm(node) && node.left && node.right) {
        const int bump = childBump(node);
        const int code = node.code;
        const bool sign = code == op::Plus || code == op::Minus;
        if (bracketed)
            out += '(';
        printExpression(*node.left, out, node.level + bump);
        out += node.text;
        printOperand(*node.right, out, node.level + bump, sign);
        if (bracketed)
            out += ')';
        return;
    }
    if ((node.code == op::Negate || node.code == op::Not) && node.left) {
        if (bracketed)
            out += '(';
        out += node.code == op::Negate ? '-' : '!';
        printOperand(*node.left, out, node.level, node.code == op::Negate);
        if (bracketed)
            out += ')';
        return;
    }
    out += node.text;
    out += '(';
    if (node.left)
        printExpression(*node.left, out, 0);
    if (node.right) {
        out += ',';
        printExpression(*node.right, out, 0);
    }
    out += ')';
}

std::string printToString(const Tensor& node)
{
    std::string out;
    printExpression(node, out, 0);
    return out;
}

} // namespace zyl
