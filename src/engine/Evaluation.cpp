#include "engine/Evaluation.h"

#include "expr/Evaluator.h"

namespace zyl {

void evaluateAnalytical(Indiv& ind, const std::vector<std::string>& names, SymbolTable& table)
{
    for (int j = 0; j < ind.count(); ++j)
        setSymbolValue(table, names[j], ind.gene(j)->getValue());
    // Through a reference, so that a missing "f" reports itself like any unknown name.
    const Complex value = evaluateNumeric(*makeSymbolRef("f"), table);
    ind.value = value.re;
}

} // namespace zyl
