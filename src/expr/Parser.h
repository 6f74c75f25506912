#pragma once

#include "expr/Tensor.h"

#include <string>
#include <string_view>

namespace zyl {

/// The text after the parser's textual rewrites: blanks removed, signs folded, a leading
/// minus made a prefix negation, braces turned into vect( ), and every minus that follows
/// an operator, "(" or "," made a prefix negation.
std::string normalizeStatement(std::string_view text);

/// Parses one statement into a tree. Returns false for malformed input (the caller's
/// "Syntax error!"); throws InfoErr "Syntax error!!!" for a character no token may hold and
/// "Too large value" for a number literal beyond the range of a double.
/// Only decimal literals are numbers: every other operand token is a name.
bool parseExpression(std::string_view text, TensorPtr& result);

/// The code and level of an operator or function name, or false for an operand.
bool lookupToken(std::string_view token, int& code, int& level);

/// True for the characters of the C locale's punctuation class.
inline bool isPunctuation(unsigned char c)
{
    return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) ||
           (c >= 123 && c <= 126);
}

} // namespace zyl
