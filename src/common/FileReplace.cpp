#include "common/FileReplace.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

namespace zyl {

namespace fs = std::filesystem;

std::string systemMessage(int error) { return std::generic_category().message(error); }

int writeAndClose(std::FILE* file, const std::string& content)
{
    int error = 0;
    if (std::fwrite(content.data(), 1, content.size(), file) != content.size())
        error = errno ? errno : EIO;
    if (std::fflush(file) != 0 && error == 0)
        error = errno ? errno : EIO;
    if (std::fclose(file) != 0 && error == 0)
        error = errno ? errno : EIO;
    return error;
}

std::optional<std::string> replaceFileContent(const std::string& fileName,
                                              const std::string& content)
{
    fs::path target(fileName);
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    if (fs::is_directory(target, ec))
        return "it is a directory";

    // The temporary file must sit beside the target: a rename only replaces atomically within
    // one file system.
    std::random_device seedSource;
    std::mt19937 pick(seedSource());
    fs::path temp;
    std::FILE* file = nullptr;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        temp = target;
        temp += ".~" + std::to_string(pick() % 1000000) + ".tmp";
        errno = 0;
        file = std::fopen(temp.string().c_str(), "wbx"); // x: never reuse a file that exists
        if (!file && errno != EEXIST)
            break;
    }
    if (!file)
        return systemMessage(errno ? errno : EIO);

    if (int error = writeAndClose(file, content)) {
        fs::remove(temp, ec);
        return systemMessage(error);
    }

    // Keep the permissions of the file being replaced.
    fs::file_status old = fs::status(target, ec);
    if (!ec && fs::exists(old))
        fs::permissions(temp, old.permissions(), ec);

    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return ec.message();
    }
    return std::nullopt;
}

} // namespace zyl
