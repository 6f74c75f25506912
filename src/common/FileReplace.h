#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace zyl {

/// Replaces the content of `fileName`. What that means depends on what the name is:
/// - a regular file, or nothing yet: the content goes to a temporary file beside it that is
///   renamed over it, so that a failure at any point leaves the old file as it was and a
///   reader never sees half a file; the replaced file's permissions are kept;
/// - a symbolic link: the same for the file it leads to (created there when it does not exist
///   yet); the link itself stays;
/// - a device, a FIFO or a link into /proc (/dev/stdout, say): written in place, opened for
///   reading and writing without truncation, because renaming over it would replace a system
///   name or leave the program writing to a deleted file;
/// - a socket: connected to and written to.
/// Returns the reason of a failure ("it is a directory", the system's message), or nothing on
/// success.
std::optional<std::string> replaceFileContent(const std::string& fileName,
                                              const std::string& content);

/// Writes `content` to `file` and closes it; returns 0 or the first error number.
int writeAndClose(std::FILE* file, const std::string& content);

/// The system's message for an errno value.
std::string systemMessage(int error);

} // namespace zyl
