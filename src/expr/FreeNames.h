#pragma once

#include "expr/Tensor.h"

#include <string>
#include <vector>

namespace zyl {

/// The names a tree refers to that it does not bind itself (the index of a sum or product, the
/// variable of a derivative), each once, from the left. The tree is walked with a stack of its
/// own: a hostile formula may nest deeper than the call stack allows.
std::vector<std::string> freeNames(const Tensor& tree);

/// A name that a tree reaches: directly, or through the definitions of `table` it names.
struct ReachedName {
    std::string name;
    /// The definition through which it is reached; empty when the tree names it itself.
    std::string through;
};

/// freeNames of the tree, then those of the definitions in `table` of the names found, and so
/// on; each name once, the nearest first. A definition that is a plain number (a variable's or
/// a statistic's value) is not followed.
std::vector<ReachedName> reachedNames(const Tensor& tree, const SymbolTable& table);

} // namespace zyl
