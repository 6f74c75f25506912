#pragma once

#include "expr/Operators.h"
#include "expr/Tensor.h"

namespace zyl {

/// The symbolic evaluator: a new tree in which known symbols are replaced by their
/// evaluated definitions and every operation on numbers or vectors is computed; unknown
/// names and the operations on them stay symbolic. Never changes its argument.
TensorPtr evaluate(const Tensor& node, SymbolTable& table);

/// The numeric evaluator: one complex number. Every name must be known; vectors,
/// assignments, derivatives, sums and products are refused.
Complex evaluateNumeric(const Tensor& node, const SymbolTable& table);

/// A copy of the number or vector that a chain of names finally stands for.
TensorPtr resolve(const Tensor& node, const SymbolTable& table);

/// 0 for a non-vector, 1 for a vector of non-vectors or a ragged vector, n for an
/// n-dimensional rectangular array.
int nestingDepth(const Tensor& node);

/// Handlers that live with the features they belong to (sums, products, derivatives).
TensorPtr applySumOrProduct(const Tensor& node, TensorPtr range, TensorPtr body,
                            SymbolTable& table);
TensorPtr applyDerivative(const Tensor& node, TensorPtr expression, const std::string& variable,
                          SymbolTable& table);
/// The D operator's expression, evaluated with its variable taken out of the table.
TensorPtr evaluateDerivativeOperand(const Tensor& operand, const std::string& variable,
                                    SymbolTable& table);

} // namespace zyl
