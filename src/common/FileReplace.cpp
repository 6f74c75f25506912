#include "common/FileReplace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace zyl {

namespace fs = std::filesystem;

namespace {

/// What a name finally stands for once its symbolic links are followed.
struct Destination {
    enum Kind { Missing, Regular, Directory, Special, Socket };
    Kind kind = Missing;
    fs::path path; // the name to write: the final target, or the link into /proc itself
};

/// Whether the symbolic link `link` lives in /proc, where a link names an open file rather
/// than a path (/dev/stdout leads to /proc/self/fd/1): following it by name would find the
/// wrong file, or one that no longer has a name.
bool isProcessLink(const fs::path& link)
{
#ifdef __linux__
    struct statfs info {};
    const fs::path folder = link.has_parent_path() ? link.parent_path() : fs::path(".");
    return statfs(folder.c_str(), &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
#else
    return link.string().rfind("/proc/", 0) == 0;
#endif
}

/// Follows the symbolic links of `name` one by one (so that a link whose target does not
/// exist yet still leads somewhere); returns an errno value on failure.
int resolve(const fs::path& name, Destination& out)
{
    fs::path path = name;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) {
            if (errno != ENOENT)
                return errno;
            out = {Destination::Missing, path};
            return 0;
        }
        if (S_ISLNK(info.st_mode)) {
            if (isProcessLink(path)) {
                out = {Destination::Special, path};
                return 0;
            }
            std::error_code ec;
            const fs::path target = fs::read_symlink(path, ec);
            if (ec)
                return ec.value();
            path = target.is_absolute() ? target : path.parent_path() / target;
            continue;
        }
        if (S_ISREG(info.st_mode))
            out = {Destination::Regular, path};
        else if (S_ISDIR(info.st_mode))
            out = {Destination::Directory, path};
        else if (S_ISSOCK(info.st_mode))
            out = {Destination::Socket, path};
        else
            out = {Destination::Special, path};
        return 0;
    }
    return ELOOP;
}

/// Writes all of `content` to the descriptor and closes it; returns 0 or the errno value.
int writeAllAndClose(int fd, const std::string& content)
{
    int error = 0;
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    return error;
}

int openInPlace(const fs::path& path)
{
    // Reading and writing, as an update of the file from its start; it also opens a FIFO
    // without waiting for a reader. Never O_TRUNC: a device or a pipe has nothing to cut, and
    // a file behind a /proc link is someone else's.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        // A device we may write but not read. Non-blocking, so that a FIFO without a reader
        // fails at once instead of hanging the run.
        fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0)
                ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        }
    }
    return fd;
}

std::optional<std::string> writeInPlace(const fs::path& path, const std::string& content)
{
    const int fd = openInPlace(path);
    if (fd < 0)
        return systemMessage(errno);
    if (int error = writeAllAndClose(fd, content))
        return systemMessage(error);
    return std::nullopt;
}

std::optional<std::string> writeToSocket(const fs::path& path, const std::string& content)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = path.string();
    if (name.size() >= sizeof(address.sun_path))
        return systemMessage(ENAMETOOLONG);
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    int error = 0;
    for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
        const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return systemMessage(errno);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            if (int writeError = writeAllAndClose(fd, content))
                return systemMessage(writeError);
            return std::nullopt;
        }
        error = errno;
        ::close(fd);
        if (error != EPROTOTYPE) // a datagram socket refuses a stream connection so
            break;
    }
    return systemMessage(error);
}

std::optional<std::string> replaceAtomically(const fs::path& target, bool exists,
                                             const std::string& content)
{
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
        file = std::fopen(temp.c_str(), "wbx"); // x: never reuse a file that exists
        if (!file && errno != EEXIST)
            break;
    }
    if (!file)
        return systemMessage(errno ? errno : EIO);

    std::error_code ec;
    if (int error = writeAndClose(file, content)) {
        fs::remove(temp, ec);
        return systemMessage(error);
    }

    // Keep the permissions of the file being replaced.
    if (exists) {
        fs::file_status old = fs::status(target, ec);
        if (!ec)
            fs::permissions(temp, old.permissions(), ec);
    }

    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return ec.message();
    }
    return std::nullopt;
}

} // namespace

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
    if (fileName.empty())
        return systemMessage(ENOENT);
    Destination destination;
    if (int error = resolve(fileName, destination))
        return systemMessage(error);
    switch (destination.kind) {
    case Destination::Directory:
        return "it is a directory";
    case Destination::Special:
        return writeInPlace(destination.path, content);
    case Destination::Socket:
        return writeToSocket(destination.path, content);
    case Destination::Regular:
        return replaceAtomically(destination.path, /*exists=*/true, content);
    case Destination::Missing:
        break;
    }
    return replaceAtomically(destination.path, /*exists=*/false, content);
}

} // namespace zyl
