#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace zyl {

/// Replaces the content of `fileName` through a temporary file beside it that is renamed over
/// it, so that a failure at any point leaves the old file as it was and a reader never sees
/// half a file. A symbolic link is followed (its target is replaced) and the replaced file's
/// permissions are kept. Returns the reason of a failure ("it is a directory", the system's
/// message), or nothing on success.
std::optional<std::string> replaceFileContent(const std::string& fileName,
                                              const std::string& content);

/// Writes `content` to `file` and closes it; returns 0 or the first error number.
int writeAndClose(std::FILE* file, const std::string& content);

/// The system's message for an errno value.
std::string systemMessage(int error);

} // namespace zyl
