#include "expr/Statement.h"

#include "expr/Evaluator.h"
#include "expr/Parser.h"
#include "expr/Printer.h"
#include "expr/StackGuard.h"

#include <unordered_set>

namespace zyl {

namespace {

bool isNumberWithValue(const TensorPtr& node, double value)
{
    return node && node->isNumber() && node->re == value && node->im == 0;
}

bool isNumberWithText(const TensorPtr& node, const char* text)
{
    return node && node->isNumber() && node->text == text;
}

bool sameExpression(const Tensor& a, const Tensor& b, PrintComparer& comparer)
{
    return a.text == b.text && comparer.samePrint(a, b);
}

void replaceWith(TensorPtr& slot, TensorPtr replacement, int& counter)
{
    slot = std::move(replacement);
    ++counter;
}

} // namespace

namespace {

bool isBound(const std::vector<std::string>& bound, const std::string& name)
{
    for (const std::string& b : bound)
        if (b == name)
            return true;
    return false;
}

/// The name that a sum, product or D node binds, or nullptr: the index of a sum or product
/// and the variable of D stand for themselves inside the node, never for an older value.
const Tensor* boundName(const Tensor& node)
{
    if ((node.code == op::Sum || node.code == op::Product) && node.right &&
        node.right->dimension > 0 && node.right->elements[0]->isSymbolRef())
        return node.right->elements[0].get();
    if (node.code == op::Derivative && node.right && node.right->isSymbolRef())
        return node.right.get();
    return nullptr;
}

void substitute(TensorPtr& node, const SymbolTable& table, std::vector<std::string>& bound)
{
    checkStack();
    for (TensorPtr& element : node->elements)
        substitute(element, table, bound);
    if (const Tensor* name = boundName(*node)) {
        // The bound name itself is left alone, the rest of the range as usual.
        const std::string boundText = name->text;
        if (node->code != op::Derivative)
            for (std::size_t i = 1; i < node->right->elements.size(); ++i)
                substitute(node->right->elements[i], table, bound);
        bound.push_back(boundText);
        try {
            substitute(node->left, table, bound);
        } catch (...) {
            bound.pop_back();
            throw;
        }
        bound.pop_back();
        return;
    }
    if (node->left && node->code != op::Assign)
        substitute(node->left, table, bound);
    if (node->right)
        substitute(node->right, table, bound);
    if (node->code == op::Symbol && !node->left && !node->right && !isBound(bound, node->text)) {
        if (node->text == "I") {
            TensorPtr unit = makeNumber(0, 1);
            unit->text.assign(1, 'I');
            node = std::move(unit);
        } else if (const Funkcja* symbol = table.lookup(node->text)) {
            node = symbol->definition->clone();
        }
    }
}

} // namespace

void substituteKnownSymbols(TensorPtr& node, const SymbolTable& table)
{
    std::vector<std::string> bound;
    substitute(node, table, bound);
}

void applyDefinitions(TensorPtr& node, SymbolTable& table)
{
    checkStack();
    // Visiting a subtree without assignments changes nothing, so every subtree is visited:
    // the order (inner before outer, left before right) is the same as searching first.
    for (TensorPtr& element : node->elements)
        applyDefinitions(element, table);
    if (node->left)
        applyDefinitions(node->left, table);
    if (node->right)
        applyDefinitions(node->right, table);
    if (node->code != op::Assign || !node->left || !node->right)
        return;

    if (node->left->code != op::Symbol)
        throw InfoErr(node->left->text + " must be scalar Lvalue !");
    const std::string name = node->left->text;
    if (Funkcja* old = table.lookup(name)) {
        if (old->isProtected)
            throw InfoErr("Symbol " + name + " is protected!");
        table.remove(old);
    }
    auto symbol = std::make_unique<Funkcja>();
    symbol->name = name;
    symbol->definition = evaluate(*node->right, table);
    simplifyFully(symbol->definition, table);
    if (!isAcyclic(*symbol->definition, name, table))
        throw InfoErr("Recursion error !");
    table.pushBack(std::move(symbol));
    TensorPtr value = std::move(node->right);
    node = std::move(value);
}

namespace {

void simplifyNode(TensorPtr& node, int& counter, SymbolTable& table, PrintComparer& comparer)
{
    checkStack();
    WorkBudget::spend();
    // 1. Vectors element by element.
    if (node->isVector()) {
        for (TensorPtr& element : node->elements)
            simplifyNode(element, counter, table, comparer);
        return;
    }
    // 2. Products with 0 or 1 (by value).
    if (node->code == op::Times && node->left && node->right) {
        if (isNumberWithValue(node->left, 0))
            replaceWith(node, std::move(node->left), counter);
        else if (isNumberWithValue(node->right, 0))
            replaceWith(node, std::move(node->right), counter);
        else if (isNumberWithValue(node->left, 1))
            replaceWith(node, std::move(node->right), counter);
        else if (isNumberWithValue(node->right, 1))
            replaceWith(node, std::move(node->left), counter);
    }
    // 3. Quotients.
    if (node->code == op::Divide && node->left && node->right) {
        if (isNumberWithValue(node->left, 0))
            replaceWith(node, std::move(node->left), counter);
        else if (isNumberWithText(node->right, "1"))
            replaceWith(node, std::move(node->left), counter);
        else if (sameExpression(*node->left, *node->right, comparer))
            replaceWith(node, makeNumber(1, 0), counter);
    }
    // 4. Sums with a literal 0.
    if (node->code == op::Plus && node->left && node->right) {
        if (isNumberWithText(node->left, "0"))
            replaceWith(node, std::move(node->right), counter);
        else if (isNumberWithText(node->right, "0"))
            replaceWith(node, std::move(node->left), counter);
    }
    // 5. Differences.
    if (node->code == op::Minus && node->left && node->right) {
        if (isNumberWithText(node->right, "0")) {
            replaceWith(node, std::move(node->left), counter);
        } else if (isNumberWithText(node->left, "0")) {
            TensorPtr negation = makeOperator(op::Negate, 11, "~");
            negation->left = std::move(node->right);
            replaceWith(node, std::move(negation), counter);
        } else if (sameExpression(*node->left, *node->right, comparer)) {
            replaceWith(node, makeNumber(0, 0), counter);
        }
    }
    // 6. Powers.
    if (node->code == op::Power && node->left && node->right) {
        if (isNumberWithText(node->right, "1"))
            replaceWith(node, std::move(node->left), counter);
        else if (isNumberWithText(node->left, "1") && !node->right->isVector())
            replaceWith(node, std::move(node->left), counter);
        else if (isNumberWithText(node->right, "0"))
            replaceWith(node, makeNumber(1, 0), counter);
        else if (isNumberWithText(node->left, "0"))
            replaceWith(node, std::move(node->left), counter);
    }
    // 7. The operands.
    if (node->left && (node->left->isVector() || !node->left->isNumber()))
        simplifyNode(node->left, counter, table, comparer);
    if (node->right && (node->right->isVector() || !node->right->isNumber()))
        simplifyNode(node->right, counter, table, comparer);
    // 8. Folding of an operation on numbers.
    if (node->left && node->left->isNumber() && (!node->right || node->right->isNumber()))
        replaceWith(node, evaluate(*node, table), counter);
}

} // namespace

void simplify(TensorPtr& node, int& counter, SymbolTable& table)
{
    PrintComparer comparer;
    simplifyNode(node, counter, table, comparer);
}

void simplifyFully(TensorPtr& node, SymbolTable& table)
{
    for (;;) {
        int counter = 0;
        simplify(node, counter, table);
        if (counter == 0)
            break;
    }
}

bool isAcyclic(const Tensor& root, const std::string& name, const SymbolTable& table)
{
    // An explicit work list, and each symbol's definition explored once: a long chain of
    // definitions, or definitions that name one another many times over, stay cheap.
    std::vector<const Tensor*> work{&root};
    std::unordered_set<const Funkcja*> explored;
    while (!work.empty()) {
        const Tensor* node = work.back();
        work.pop_back();
        if (node->isVector()) {
            for (const TensorPtr& element : node->elements)
                work.push_back(element.get());
        } else if (node->code == op::Symbol) {
            const Funkcja* symbol = table.lookup(node->text);
            if (!symbol) {
                if (node->text == name)
                    return false;
            } else if (explored.insert(symbol).second) {
                work.push_back(symbol->definition.get());
            }
        } else if (node->code != op::Number) {
            if (node->left)
                work.push_back(node->left.get());
            if (node->right)
                work.push_back(node->right.get());
        }
    }
    return true;
}

std::unique_ptr<Funkcja> makeSymbolFromStatement(std::string_view statementText,
                                                 std::string name, bool isProtected,
                                                 SymbolTable& table)
{
    WorkBudget budget;
    auto symbol = std::make_unique<Funkcja>();
    symbol->isProtected = isProtected;
    TensorPtr tree;
    if (!parseExpression(statementText, tree))
        throw InfoErr("Syntax error!");
    symbol->name = std::move(name);
    substituteKnownSymbols(tree, table);
    applyDefinitions(tree, table);
    tree = evaluate(*tree, table);
    simplifyFully(tree, table);
    symbol->definition = std::move(tree);
    return symbol;
}

} // namespace zyl
