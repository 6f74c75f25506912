#pragma once

#include "expr/Evaluator.h"
#include "expr/Parser.h"
#include "expr/Printer.h"
#include "expr/Statement.h"
#include "expr/Tensor.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>

namespace zyl::test {

/// Structural form of a tree: numbers as their text, names as $name, operators as
/// text(children...), vectors as {..}. Distinguishes trees that print alike.
inline std::string dump(const Tensor& node)
{
    if (node.dimension > 0) {
        std::string out = "{";
        for (std::size_t i = 0; i < node.elements.size(); ++i)
            out += (i ? "," : "") + dump(*node.elements[i]);
        return out + "}";
    }
    if (node.code == op::Number)
        return node.text;
    if (node.code == op::Symbol)
        return "$" + node.text;
    std::string out = node.text + "(";
    if (node.left)
        out += dump(*node.left);
    if (node.right)
        out += "," + dump(*node.right);
    return out + ")";
}

/// Parses or fails the test.
inline TensorPtr parsed(const std::string& text)
{
    TensorPtr tree;
    EXPECT_TRUE(parseExpression(text, tree)) << text;
    return tree;
}

inline std::string parsedDump(const std::string& text)
{
    TensorPtr tree;
    try {
        if (!parseExpression(text, tree))
            return "FAIL";
    } catch (const std::exception& e) {
        return std::string("THROW:") + e.what();
    }
    return dump(*tree);
}

/// A fresh symbol table with the built-in symbols, as the program starts with.
class LanguageTest : public ::testing::Test {
protected:
    LanguageTest() { table.registerBuiltinSymbols(); }

    /// Runs a statement and prints its evaluated result, or returns the error message.
    std::string run(const std::string& statement)
    {
        try {
            auto symbol = makeSymbolFromStatement(statement, "", false, table);
            return printToString(*evaluate(*symbol->definition, table));
        } catch (const std::exception& e) {
            return e.what();
        }
    }

    /// The numeric value of a parsed expression (no statement pipeline).
    Complex numeric(const std::string& text) { return evaluateNumeric(*parsed(text), table); }

    std::string numericError(const std::string& text)
    {
        try {
            numeric(text);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no error";
    }

    SymbolTable table;
};

} // namespace zyl::test
