#pragma once

#include "engine/Indiv.h"
#include "expr/Tensor.h"

#include <string>
#include <vector>

namespace zyl {

/// Gives each variable's value to the language under its name (a new symbol when the name is
/// not defined) and evaluates the objective "f" numerically; the real part becomes
/// `ind.value`. \throws InfoErr or a math error; `ind.value` is then unchanged.
void evaluateAnalytical(Indiv& ind, const std::vector<std::string>& names, SymbolTable& table);

} // namespace zyl
