#include "expr/Evaluator.h"

namespace zyl {

TensorPtr applySumOrProduct(const Tensor&, TensorPtr, TensorPtr, SymbolTable&)
{
    throw InfoErr("Not implemented yet !");
}

} // namespace zyl
