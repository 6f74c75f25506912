#pragma once

#include "expr/Operators.h"
#include "expr/Tensor.h"

namespace zyl {

/// The value of the one-argument function with the given code (108 to 137) at z, as both
/// evaluators compute it. ceil and round act on both parts here; the numeric evaluator
/// applies its own real-part rule for them.
Complex functionValue(int code, Complex z);

/// The handler of the one-argument functions: vectors element by element, a symbolic
/// argument kept as a function node, numbers computed. Takes ownership of the argument.
TensorPtr applyFunction(int code, const std::string& name, TensorPtr argument);

/// Rounds half away from zero to a signed 32-bit integer. Parts beyond that range saturate
/// at its ends; NaN stays NaN.
double roundHalfAway(double x);

} // namespace zyl
