#include "expr/Evaluator.h"

#include "expr/Functions.h"
#include "expr/StackGuard.h"

namespace zyl {

namespace {

bool isFunctionCode(int code)
{
    return code >= op::FirstFunction && code <= op::LastFunction && code != op::Negate &&
           code != 125 && code != 126;
}

/// Follows a chain of plain aliases (a = b, b = c, ...) without recursion.
const Tensor* followAliases(const Tensor* node, const SymbolTable& table)
{
    while (node->isSymbolRef() && node->dimension == 0) {
        const Funkcja* symbol = table.lookup(node->text);
        if (!symbol)
            break;
        node = symbol->definition.get();
    }
    return node;
}

TensorPtr evaluateNode(const Tensor& node, SymbolTable& table)
{
    checkStack();
    WorkBudget::spend();
    if (node.code == op::Number) {
        if (node.dimension == 0)
            return node.clone();
        auto result = std::make_unique<Tensor>();
        for (const TensorPtr& element : node.elements)
            result->appendElement(evaluateNode(*element, table));
        return result;
    }
    if (node.code == op::Symbol) {
        const Tensor* target = followAliases(&node, table);
        if (target == &node)
            return node.clone();
        return evaluateNode(*target, table);
    }
    const int code = node.code;
    if (op::isBinary(code) && code <= op::Or && node.left && node.right) {
        TensorPtr right = evaluateNode(*node.right, table);
        TensorPtr left = evaluateNode(*node.left, table);
        return applyBinaryOperator(code, std::move(left), std::move(right));
    }
    if ((code == op::Not || code == op::Negate) && node.left)
        return applyPrefixOperator(code, evaluateNode(*node.left, table));
    if (isFunctionCode(code) && node.left)
        return applyFunction(code, node.text, evaluateNode(*node.left, table));
    if (code == op::Derivative && node.left && node.right)
        return applyDerivative(
            node, evaluateDerivativeOperand(*node.left, node.right->text, table),
            node.right->text, table);
    if ((code == op::Sum || code == op::Product) && node.left && node.right) {
        TensorPtr range = evaluateNode(*node.right, table);
        return applySumOrProduct(node, std::move(range), node.left->clone(), table);
    }
    throw InfoErr("Syntax error!!");
}

Complex numericNode(const Tensor& node, const SymbolTable& table)
{
    checkStack();
    WorkBudget::spend();
    if (node.code == op::Number) {
        if (node.dimension > 0)
            throw InfoErr("Not a scalar value");
        return cleanZero({node.re, node.im});
    }
    if (node.code == op::Symbol) {
        const Funkcja* symbol = table.lookup(node.text);
        if (!symbol)
            throw InfoErr("Unknown variable: " + node.text);
        const Tensor* target = followAliases(symbol->definition.get(), table);
        if (target->isSymbolRef())
            throw InfoErr("Unknown variable: " + target->text);
        return numericNode(*target, table);
    }
    const int code = node.code;
    if (((code >= 1 && code <= 4) || (code >= 6 && code <= 15)) && node.left && node.right) {
        const Complex b = numericNode(*node.right, table);
        const Complex a = numericNode(*node.left, table);
        switch (code) {
        case op::Equal:
            return {a.re == b.re && a.im == b.im ? 1.0 : 0.0, 0.0};
        case op::NotEqual:
            return {a.re == b.re && a.im == b.im ? 0.0 : 1.0, 0.0};
        case op::Greater:
        case op::GreaterEq:
        case op::Less:
        case op::LessEq:
        case op::And:
        case op::Or: {
            if (a.im != 0 || b.im != 0)
                throw InfoErr("Not a real type");
            bool truth = false;
            if (code == op::Greater)
                truth = a.re > b.re;
            else if (code == op::GreaterEq)
                truth = a.re >= b.re;
            else if (code == op::Less)
                truth = a.re < b.re;
            else if (code == op::LessEq)
                truth = a.re <= b.re;
            else if (code == op::And)
                truth = a.re != 0 && b.re != 0;
            else
                truth = a.re != 0 || b.re != 0;
            return {truth ? 1.0 : 0.0, 0.0};
        }
        default:
            return arithmeticValue(code, a, b);
        }
    }
    if (code == op::Not && node.left) {
        const Complex a = numericNode(*node.left, table);
        if (a.im != 0)
            throw InfoErr("Not a real type");
        return {a.re == 0 ? 1.0 : 0.0, 0.0};
    }
    if (code == op::Negate && node.left) {
        const Complex a = numericNode(*node.left, table);
        return cleanZero({-a.re, -a.im});
    }
    if (isFunctionCode(code) && node.left) {
        const Complex a = numericNode(*node.left, table);
        if (code == 136) // ceil and round: the real part only
            return cleanZero({functionValue(code, a).re, 0.0});
        if (code == 137)
            return cleanZero({roundHalfAway(a.re), 0.0});
        return functionValue(code, a);
    }
    throw InfoErr("Syntax error!!!");
}

} // namespace

TensorPtr evaluate(const Tensor& node, SymbolTable& table)
{
    WorkBudget budget;
    return evaluateNode(node, table);
}

Complex evaluateNumeric(const Tensor& node, const SymbolTable& table)
{
    WorkBudget budget;
    return numericNode(node, table);
}

TensorPtr resolve(const Tensor& node, const SymbolTable& table)
{
    const Tensor* current = &node;
    // A chain of names is walked in a loop; a cycle cannot occur since definitions are acyclic,
    // but the step limit keeps a corrupted table from hanging us.
    for (std::size_t steps = 0; steps <= table.size() + 1; ++steps) {
        if (current->code == op::Number)
            return current->clone();
        const Funkcja* symbol = table.lookup(current->text);
        if (!symbol)
            throw InfoErr("Unknown variable!");
        current = symbol->definition.get();
    }
    throw InfoErr("Unknown variable!");
}

int nestingDepth(const Tensor& node)
{
    checkStack();
    if (node.dimension == 0)
        return 0;
    const int depth = nestingDepth(*node.elements[0]);
    for (std::size_t i = 1; i < node.elements.size(); ++i) {
        const Tensor& element = *node.elements[i];
        if (nestingDepth(element) == 0 || element.dimension != node.elements[i - 1]->dimension)
            return 1;
    }
    return depth + 1;
}

} // namespace zyl
