#include "expr/Evaluator.h"

namespace zyl {

TensorPtr applyDerivative(const Tensor&, TensorPtr, const std::string&, SymbolTable&)
{
    throw InfoErr("Not implemented yet !");
}

} // namespace zyl
