#pragma once

#include "expr/Tensor.h"

#include <memory>
#include <string>
#include <string_view>

namespace zyl {

/// Runs one statement through the pipeline: parse, substitute the known names, make the
/// definitions (name = expression) into symbols, evaluate and simplify. Returns a new symbol
/// (not put into the table) whose definition is the statement's result.
/// Throws InfoErr with the language's messages, and the math errors.
std::unique_ptr<Funkcja> makeSymbolFromStatement(std::string_view statementText,
                                                 std::string name, bool isProtected,
                                                 SymbolTable& table);

/// Replaces every known name by a copy of its definition ("I" by the imaginary unit);
/// the name on the left of "=" is left alone.
void substituteKnownSymbols(TensorPtr& node, const SymbolTable& table);

/// Turns each assignment, innermost and leftmost first, into a symbol at the back of the
/// table, and the assignment node into its right-hand side.
void applyDefinitions(TensorPtr& node, SymbolTable& table);

/// One pass of algebraic rewriting; adds the number of rewrites to `counter`.
void simplify(TensorPtr& node, int& counter, SymbolTable& table);

/// Repeats simplify until a pass rewrites nothing.
void simplifyFully(TensorPtr& node, SymbolTable& table);

/// False when the tree, followed through the definitions it names, reaches `name`.
bool isAcyclic(const Tensor& node, const std::string& name, const SymbolTable& table);

} // namespace zyl
