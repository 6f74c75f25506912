#pragma once

#include <stdexcept>
#include <string>

namespace zyl {

/// A failure to show to the user; what() is the exact text, shown as it stands.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// An error of the expression language (parser, evaluators, handlers, statements).
/// Code that must let math errors pass catches InfoErr alone; the front ends catch Exception.
class InfoErr : public Exception {
public:
    using Exception::Exception;
};

} // namespace zyl
