#pragma once

#include "expr/Tensor.h"

#include <string>

namespace zyl {

/// True when the subtree mentions the variable, directly or through the definitions of the
/// symbols it names.
bool dependsOn(const Tensor& node, const std::string& name, const SymbolTable& table);

/// Appends the derivative of `node` with respect to `name` as text of the language, by the
/// templates of each rule; throws InfoErr "Not implemented yet !" for a node without a rule.
void derivativeText(const Tensor& node, const std::string& name, std::string& out,
                    const SymbolTable& table);

} // namespace zyl
