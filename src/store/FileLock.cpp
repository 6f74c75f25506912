#include "store/FileLock.h"

#include "common/Exception.h"
#include "common/FileReplace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace zyl {

namespace {

// SQLite locks the bytes from 0x40000000 on; this byte lies just below them. A byte beyond
// the end of the file may be locked like any other.
constexpr off_t kLockByte = 0x40000000 - 0x100;
// How long a busy lock is asked again (see acquire): half a second in all.
constexpr int kBusyRetries = 20;
constexpr std::chrono::milliseconds kBusyPause{25};

} // namespace

FileLock& FileLock::operator=(FileLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

FileLock::Result FileLock::acquire(const std::string& path, bool create)
{
    release();
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0)
        throw Exception(systemMessage(errno));
    auto tryLock = [fd] {
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kLockByte;
        lock.l_len = 1;
        int error = ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
        if (error == EINVAL) {
            // A kernel without open-file-description locks: a whole-file flock() serves, since
            // on local file systems it never meets SQLite's fcntl() locks.
            error = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
        }
        return error;
    };
    auto busy = [](int error) { return error == EAGAIN || error == EACCES || error == EWOULDBLOCK; };
    int error = tryLock();
    // A process forked by the holder (its watchdog, a program about to start) shares the lock
    // until it closes its copy of the descriptor, which it does at once; when the holder has
    // just been killed, that copy may outlive it by a moment. So a busy lock is asked again
    // for a while before the store is called in use.
    for (int attempt = 0; busy(error) && attempt < kBusyRetries; ++attempt) {
        std::this_thread::sleep_for(kBusyPause);
        error = tryLock();
    }
    if (busy(error)) {
        ::close(fd);
        return Result::Busy;
    }
    if (error != 0) {
        ::close(fd);
        throw Exception(systemMessage(error));
    }
    m_fd = fd;
    return Result::Locked;
}

LockProbe::LockProbe(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
{
}

LockProbe& LockProbe::operator=(LockProbe&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

LockProbe::~LockProbe()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<bool> LockProbe::held() const
{
    if (m_fd < 0)
        return std::nullopt;
    // Asks what would stand in the way of the lock FileLock takes; nothing is taken.
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kLockByte;
    lock.l_len = 1;
    if (::fcntl(m_fd, F_OFD_GETLK, &lock) != 0)
        return std::nullopt;
    return lock.l_type != F_UNLCK;
}

void FileLock::release()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace zyl
