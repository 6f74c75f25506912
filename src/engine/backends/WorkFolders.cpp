#include "engine/backends/WorkFolders.h"

#include "common/Exception.h"
#include "common/FileReplace.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zyl {

namespace fs = std::filesystem;

namespace {

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

/// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release()
    {
        const int f = fd;
        fd = -1;
        return f;
    }
};

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

/// The folder that holds `name`'s last part, opened without following any link on the way,
/// and that last part. -1 with `why` set for a name that would leave the folder.
int openParent(const std::string& folder, const std::string& name, std::string& leaf,
               std::string& why)
{
    std::vector<std::string> parts;
    for (std::size_t from = 0; from <= name.size();) {
        const std::size_t slash = std::min(name.find('/', from), name.size());
        const std::string part = name.substr(from, slash - from);
        if (part == "..") {
            why = inQuotes(pathInFolder(folder, name)) + ": it leads out of the work folder";
            errno = EINVAL;
            return -1;
        }
        if (!part.empty() && part != ".")
            parts.push_back(part);
        from = slash + 1;
    }
    if (parts.empty() || (!name.empty() && name.front() == '/')) {
        why = inQuotes(pathInFolder(folder, name)) + ": it names no file inside the work folder";
        errno = EINVAL;
        return -1;
    }
    leaf = parts.back();
    parts.pop_back();
    int dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& part : parts) {
        if (dir < 0)
            break;
        int next = ::openat(dir, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        // With O_PATH a link itself could be opened: only a real folder leads on.
        if (next >= 0 && (::fstat(next, &st) != 0 || !S_ISDIR(st.st_mode))) {
            ::close(next);
            next = -1;
            errno = ENOTDIR;
        }
        const int error = errno;
        ::close(dir);
        dir = next;
        errno = error;
    }
    if (dir < 0)
        why = inQuotes(pathInFolder(folder, name)) + ": " +
              (errno == ENOTDIR || errno == ELOOP ? std::string("a link or a file is in the way")
                                                  : systemMessage(errno));
    return dir;
}

/// Copies the regular file `from` to the new file `to`, with its permissions.
std::string copyFile(const fs::path& from, const fs::path& to)
{
    Descriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0)
        return inQuotes(from.string()) + ": " + systemMessage(errno);
    if (!S_ISREG(st.st_mode))
        return inQuotes(from.string()) + " is no longer a file";
    Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          st.st_mode & 07777));
    if (out.fd < 0)
        return inQuotes(to.string()) + ": " + systemMessage(errno);
    // The kernel copies without a trip through us where it can; a file system that cannot
    // takes the plain loop.
    bool plain = false;
    for (;;) {
        const ssize_t n = ::copy_file_range(in.fd, nullptr, out.fd, nullptr, 1 << 30, 0);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
                plain = true;
                break;
            }
            return inQuotes(to.string()) + ": " + systemMessage(errno);
        }
    }
    if (plain) {
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::read(in.fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return inQuotes(from.string()) + ": " + systemMessage(errno);
            if (n == 0)
                break;
            if (!writeAll(out.fd, buffer, static_cast<std::size_t>(n)))
                return inQuotes(to.string()) + ": " + systemMessage(errno);
        }
    }
    // The mode asked for at creation is cut by the umask; the template's own is wanted.
    ::fchmod(out.fd, st.st_mode & 07777);
    if (::close(out.release()) != 0)
        return inQuotes(to.string()) + ": " + systemMessage(errno);
    return "";
}

/// Copies what the folder `from` holds into the existing folder `to`.
std::string copyTree(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    fs::directory_iterator it(from, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path source = it->path();
        const fs::path target = to / source.filename();
        const fs::file_status status = it->symlink_status(error);
        if (error)
            break;
        std::string why;
        if (fs::is_symlink(status)) {
            fs::copy_symlink(source, target, error);
        } else if (fs::is_directory(status)) {
            struct stat st {};
            const mode_t mode = ::lstat(source.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0777;
            if (::mkdir(target.c_str(), 0700) != 0)
                return inQuotes(target.string()) + ": " + systemMessage(errno);
            why = copyTree(source, target);
            ::chmod(target.c_str(), mode);
        } else if (fs::is_regular_file(status)) {
            why = copyFile(source, target);
        } else {
            why = inQuotes(source.string()) + " is neither a file, a folder nor a link";
        }
        if (error)
            return inQuotes(source.string()) + ": " + error.message();
        if (!why.empty())
            return why;
    }
    if (error)
        return inQuotes(from.string()) + ": " + error.message();
    return "";
}

/// The first entry of the folder `from` that a copy would refuse, or an empty text.
std::string uncopyable(const fs::path& from)
{
    std::error_code error;
    fs::recursive_directory_iterator it(from, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::file_status status = it->symlink_status(error);
        if (error)
            break;
        if (!fs::is_symlink(status) && !fs::is_directory(status) && !fs::is_regular_file(status))
            return inQuotes(it->path().string()) + " is neither a file, a folder nor a link";
    }
    return error ? error.message() : "";
}

} // namespace

std::string attemptLogName(int attempt)
{
    return "zyl-log-" + std::to_string(attempt) + ".txt";
}

bool isOwnFileName(const std::string& name)
{
    const std::string plain = fs::path(name).lexically_normal().string();
    if (plain == workLogName || plain == "zyl-exit-status")
        return true;
    // zyl-log-N.txt
    const std::string head = "zyl-log-", tail = ".txt";
    if (plain.size() <= head.size() + tail.size() || plain.rfind(head, 0) != 0 ||
        plain.compare(plain.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    for (std::size_t i = head.size(); i < plain.size() - tail.size(); ++i)
        if (plain[i] < '0' || plain[i] > '9')
            return false;
    return true;
}

std::string runFolderName(const std::string& startedUtc, const std::string& tag)
{
    // "2026-05-01T12:30:05Z" as "2026-05-01_12-30-05": no colon, which some file systems
    // and the shares between them refuse.
    std::string when = startedUtc;
    if (!when.empty() && when.back() == 'Z')
        when.pop_back();
    for (char& c : when)
        c = c == 'T' ? '_' : c == ':' ? '-' : c;
    std::string name = "run-" + when + "-" + tag;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    return name;
}

std::string workFolderName(int generation, int index)
{
    return "gen" + std::to_string(generation) + "-ind" + std::to_string(index);
}

bool isWorkFolderName(const std::string& name)
{
    auto digits = [&name](std::size_t from, std::size_t to) {
        if (from >= to)
            return false;
        for (std::size_t i = from; i < to; ++i)
            if (name[i] < '0' || name[i] > '9')
                return false;
        return true;
    };
    const std::size_t dash = name.find("-ind");
    return name.rfind("gen", 0) == 0 && dash != std::string::npos && digits(3, dash) &&
           digits(dash + 4, name.size());
}

std::string workFolderPath(const WorkFolders& folders, int generation, int index)
{
    return (fs::path(folders.root) / workFolderName(generation, index)).string();
}

void checkWorkFolders(const WorkFolders& folders)
{
    std::error_code error;
    if (!folders.templateDir.empty()) {
        if (!fs::is_directory(folders.templateDir, error))
            throw Exception("Cannot find the template folder " + inQuotes(folders.templateDir));
        // Copied into a folder inside itself, the template would hold its copies, their copies...
        std::string why = pathWithin(folders.root, folders.templateDir)
                              ? "it holds the work folder " + inQuotes(folders.root)
                              : uncopyable(folders.templateDir);
        if (!why.empty())
            throw Exception("Cannot copy the template folder " + inQuotes(folders.templateDir) +
                            ": " + why);
    }
    fs::create_directories(folders.root, error);
    if (error || !fs::is_directory(folders.root))
        throw Exception("Cannot create the work folder " + inQuotes(folders.root) + ": " +
                        (error ? error.message() : "it is not a folder"));
}

std::string prepareWorkFolder(const WorkFolders& folders, const std::string& path, int attempt)
{
    std::error_code error;
    // The logs of earlier attempts stay: why a program failed before matters most when it
    // fails again. The old folder is set aside whole and only its logs taken back.
    const std::string aside = path + ".earlier";
    fs::remove_all(aside, error);
    const bool setAside = attempt > 1 && fs::is_directory(fs::symlink_status(path, error)) &&
                          ::rename(path.c_str(), aside.c_str()) == 0;
    fs::remove_all(path, error);
    if (error)
        return "cannot clear the work folder: " + error.message();
    if (::mkdir(path.c_str(), 0777) != 0)
        return "cannot create the work folder: " + systemMessage(errno);
    if (!folders.templateDir.empty()) {
        const std::string why = copyTree(folders.templateDir, path);
        if (!why.empty())
            return "cannot copy the template folder: " + why;
        // These are ours to write (or the scheduler's on our behalf), never through a link the
        // template brought.
        for (const char* name : {workLogName, "zyl-exit-status"}) {
            const std::string stale = removeFileInFolder(path, name);
            if (!stale.empty())
                return "cannot remove " + stale;
        }
    }
    if (setAside) {
        for (int earlier = 1; earlier < attempt; ++earlier) {
            const std::string from = earlier + 1 == attempt ? workLogName : attemptLogName(earlier);
            const std::string to = attemptLogName(earlier);
            // Whatever the template brought by that name gives way (it is ours to write).
            (void)removeFileInFolder(path, to);
            const fs::path log = fs::path(aside) / from;
            if (fs::is_regular_file(fs::symlink_status(log, error)))
                ::rename(log.c_str(), (fs::path(path) / to).c_str());
        }
        fs::remove_all(aside, error);
    }
    return "";
}

bool settleWorkFolder(const WorkFolders& folders, const std::string& path, bool succeeded)
{
    if (!succeeded || folders.keepAll)
        return true;
    std::error_code error;
    fs::remove_all(path, error);
    return fs::exists(path, error);
}

std::string pathInFolder(const std::string& folder, const std::string& name)
{
    return (fs::path(folder) / name).string();
}

int createFileInFolder(const std::string& folder, const std::string& name, bool append,
                       std::string& why)
{
    std::string leaf;
    Descriptor dir(openParent(folder, name, leaf, why));
    if (dir.fd < 0)
        return -1;
    if (::unlinkat(dir.fd, leaf.c_str(), 0) != 0 && errno != ENOENT) {
        why = inQuotes(pathInFolder(folder, name)) + ": " + systemMessage(errno);
        return -1;
    }
    const int fd = ::openat(
        dir.fd, leaf.c_str(),
        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : 0), 0666);
    if (fd < 0)
        why = inQuotes(pathInFolder(folder, name)) + ": " + systemMessage(errno);
    return fd;
}

std::string writeFileInFolder(const std::string& folder, const std::string& name,
                              const std::string& text)
{
    std::string why;
    Descriptor file(createFileInFolder(folder, name, false, why));
    if (file.fd < 0)
        return why;
    if (!writeAll(file.fd, text.data(), text.size()) || ::close(file.release()) != 0)
        return inQuotes(pathInFolder(folder, name)) + ": " + systemMessage(errno);
    return "";
}

std::string removeFileInFolder(const std::string& folder, const std::string& name)
{
    std::string leaf, why;
    Descriptor dir(openParent(folder, name, leaf, why));
    if (dir.fd < 0)
        // No folder on the way: nothing by that name either, unless a link stands there.
        return errno == ENOENT ? "" : why;
    if (::unlinkat(dir.fd, leaf.c_str(), 0) != 0 && errno != ENOENT)
        return inQuotes(pathInFolder(folder, name)) + ": " + systemMessage(errno);
    return "";
}

std::string absoluteProgramPath(const std::string& name)
{
    if (name.empty())
        return name;
    std::error_code error;
    fs::path absolute = fs::absolute(name, error);
    return error ? name : absolute.lexically_normal().string();
}

bool pathWithin(const std::string& inner, const std::string& outer)
{
    auto within = [](const fs::path& in, const fs::path& out) {
        const fs::path relative = in.lexically_relative(out);
        return !relative.empty() && *relative.begin() != "..";
    };
    std::error_code error;
    const fs::path in = fs::absolute(inner, error).lexically_normal();
    const fs::path out = fs::absolute(outer, error).lexically_normal();
    if (within(in, out))
        return true;
    const fs::path realIn = fs::weakly_canonical(in, error);
    if (error)
        return false;
    const fs::path realOut = fs::weakly_canonical(out, error);
    return !error && within(realIn, realOut);
}

} // namespace zyl
