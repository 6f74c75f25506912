#pragma once

#include "expr/Tensor.h"

#include <string>

namespace zyl {

/// Appends the text of `node` in the language's own notation, with as few brackets as the
/// precedence levels allow; the text reads back as the same tree. Never writes blanks.
void printExpression(const Tensor& node, std::string& out, int parentLevel = 0);

/// The printed text of a tree.
std::string printToString(const Tensor& node);

} // namespace zyl
