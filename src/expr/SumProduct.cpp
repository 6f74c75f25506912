#include "expr/Evaluator.h"

#include "expr/StackGuard.h"

#include <cmath>

namespace zyl {

namespace {

/// Removes the index symbol from the table however the loop ends.
class IndexSymbol {
public:
    IndexSymbol(SymbolTable& table, std::string name, double start) : m_table(table)
    {
        auto symbol = makeSymbolFromValue(start, 0, std::move(name), false);
        m_symbol = symbol.get();
        // In front, so that the index shadows an older symbol of the same name for the
        // duration of the loop and leaves it untouched afterwards.
        m_table.pushFront(std::move(symbol));
    }
    ~IndexSymbol() { m_table.remove(m_symbol); }
    IndexSymbol(const IndexSymbol&) = delete;
    IndexSymbol& operator=(const IndexSymbol&) = delete;
    Funkcja& symbol() { return *m_symbol; }

private:
    SymbolTable& m_table;
    Funkcja* m_symbol;
};

double bound(const Tensor& element, const SymbolTable& table)
{
    return std::trunc(resolve(element, table)->re);
}

} // namespace

TensorPtr applySumOrProduct(const Tensor& node, TensorPtr range, TensorPtr term, SymbolTable& table)
{
    const bool isSum = node.code == op::Sum;
    if (nestingDepth(*range) != 1 || range->dimension != 3)
        throw InfoErr(isSum ? "Syntax error: sum !" : "Syntax error: product !");
    // The index is a bound name: take it as written, even when a symbol of that name
    // already holds a value (the range was evaluated, which replaced it by that value).
    std::string name = range->elements[0]->text;
    if (node.right && node.right->dimension == 3 && node.right->elements[0]->isSymbolRef())
        name = node.right->elements[0]->text;

    double k = bound(*range->elements[1], table);
    IndexSymbol index(table, name, k);
    TensorPtr acc = makeNumber(isSum ? 0.0 : 1.0, 0);
    const int combine = isSum ? op::Plus : op::Times;
    for (;;) {
        // Re-read every pass: the bound may name something the term changes.
        const double end = bound(*range->elements[2], table);
        if (!(end >= k))
            break;
        WorkBudget::spend();
        TensorPtr value = evaluate(*term, table);
        acc = applyBinaryOperator(combine, std::move(acc), std::move(value));
        TensorPtr& definition = index.symbol().definition;
        definition = applyBinaryOperator(op::Plus, std::move(definition), makeNumber(1, 0));
        k = k + 1;
    }
    return acc;
}

} // namespace zyl
