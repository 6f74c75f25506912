#include "engine/backends/WorkRoot.h"

#include "common/Exception.h"
#include "common/FileReplace.h"
#include "engine/backends/WorkFolders.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zyl {

namespace fs = std::filesystem;

namespace {

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return name;
}

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

/// What a lock file says: one "key text" line each.
struct Record {
    std::string process; ///< "process P on host H since T"
};

Record readRecord(int fd)
{
    std::string text;
    char chunk[1024];
    for (off_t at = 0; text.size() < 65536;) {
        const ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
        at += n;
    }
    Record record;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("process ", 0) == 0)
            record.process = line;
    }
    return record;
}

/// An exclusive lock on the whole file, taken without waiting: false when another holds it.
/// Open-file-description locks are dropped with the process, whatever ends it; a kernel
/// without them gets flock(), which behaves the same for this use.
bool lockFile(int fd, int& error)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    int result = ::fcntl(fd, F_OFD_SETLK, &lock);
    error = result == 0 ? 0 : errno;
    if (error == EINVAL) {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
        error = result == 0 ? 0 : errno;
    }
    if (error == EAGAIN || error == EACCES || error == EWOULDBLOCK) {
        error = 0;
        return false;
    }
    return error == 0;
}

// Recursive: a claim that fails while being made is released under the same lock.
std::recursive_mutex registryMutex;
/// This process's claims by the root's real path: the desktop program claims at every Run,
/// while the previous Run's evaluator still holds the root.
std::map<std::string, std::weak_ptr<WorkRootClaim>>& registry()
{
    static std::map<std::string, std::weak_ptr<WorkRootClaim>> claims;
    return claims;
}

std::string registryKey(const std::string& root)
{
    std::error_code error;
    const fs::path real = fs::canonical(root, error);
    return error ? root : real.string();
}

} // namespace

std::string processRunFolder()
{
    return runFolderName(utcNow(), "pid" + std::to_string(::getpid()));
}

std::shared_ptr<WorkRootClaim> WorkRootClaim::take(const std::string& root,
                                                   const std::string& owner,
                                                   const std::string& runFolder)
{
    std::lock_guard<std::recursive_mutex> guard(registryMutex);
    std::error_code error;
    const bool made = fs::create_directories(root, error);
    if (error || !fs::is_directory(root))
        throw Exception("Cannot create the work folder " + inQuotes(root) + ": " +
                        (error ? error.message() : "it is not a folder"));
    try {
        std::shared_ptr<WorkRootClaim> claim = takeMade(root, owner);
        if (!runFolder.empty() &&
            std::find(claim->m_runFolders.begin(), claim->m_runFolders.end(), runFolder) ==
                claim->m_runFolders.end())
            claim->m_runFolders.push_back(runFolder);
        return claim;
    } catch (...) {
        // A refused run leaves no trace: a root it made goes again.
        if (made)
            ::rmdir(root.c_str());
        throw;
    }
}

std::shared_ptr<WorkRootClaim> WorkRootClaim::takeMade(const std::string& root,
                                                       const std::string& owner)
{
    const std::string key = registryKey(root);
    if (std::shared_ptr<WorkRootClaim> live = registry()[key].lock(); live && live->m_fd >= 0) {
        live->record(owner);
        return live;
    }

    const std::string lockPath = (fs::path(root) / workRootLockName).string();
    auto cannotLock = [&](int code) {
        return Exception("Cannot lock the work folder " + inQuotes(root) + ": " +
                         systemMessage(code));
    };
    int fd = -1;
    // A holder that lets go removes the file: a lock taken on the file it unlinked holds
    // nothing, so the file is opened again until the lock is on the one the name leads to.
    for (int round = 0; fd < 0; ++round) {
        fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0)
            throw cannotLock(errno);
        int code = 0;
        if (!lockFile(fd, code)) {
            const Record holder = readRecord(fd);
            ::close(fd);
            if (code != 0)
                throw cannotLock(code);
            throw Exception("The work folder " + inQuotes(root) + " is in use by another ZYL" +
                            (holder.process.empty() ? "" : " (" + holder.process + ")") + ".");
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) != 0 || ::lstat(lockPath.c_str(), &named) != 0 ||
            held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            ::close(fd);
            fd = -1;
            if (round == 10)
                throw cannotLock(EBUSY);
        }
    }

    std::shared_ptr<WorkRootClaim> claim(new WorkRootClaim(root, fd));
    claim->record(owner);
    registry()[key] = claim;
    return claim;
}

void WorkRootClaim::record(const std::string& owner)
{
    const std::string text = "process " + std::to_string(::getpid()) + " on " + hostName() +
                             " since " + utcNow() + "\n" +
                             (owner.empty() ? "" : "owner " + owner + "\n");
    if (::ftruncate(m_fd, 0) != 0 ||
        ::pwrite(m_fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        const int code = errno;
        throw Exception("Cannot lock the work folder " + inQuotes(m_root) + ": " +
                        systemMessage(code));
    }
}

WorkRootClaim::~WorkRootClaim()
{
    release(false);
}

void WorkRootClaim::release(bool removeEmptyRoot)
{
    std::lock_guard<std::recursive_mutex> guard(registryMutex);
    if (m_fd < 0)
        return;
    // A run's folder goes when every evaluation in it succeeded; one that holds a failure's
    // folder stays, for a person to look into.
    for (const std::string& run : m_runFolders)
        ::rmdir((fs::path(m_root) / run).c_str());
    // Unlinked while still locked, so that nobody takes a lock on a file about to go.
    ::unlink((fs::path(m_root) / workRootLockName).c_str());
    ::close(m_fd);
    m_fd = -1;
    if (removeEmptyRoot)
        ::rmdir(m_root.c_str());
}

void releaseWorkRoot(const std::string& root, bool removeEmptyRoot)
{
    std::shared_ptr<WorkRootClaim> claim;
    {
        std::lock_guard<std::recursive_mutex> guard(registryMutex);
        auto it = registry().find(registryKey(root));
        if (it != registry().end())
            claim = it->second.lock();
    }
    if (claim)
        claim->release(removeEmptyRoot);
    else if (removeEmptyRoot)
        ::rmdir(root.c_str());
}

} // namespace zyl
