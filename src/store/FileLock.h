#pragma once

#include <string>

namespace zyl {

/// An exclusive lock on a file that tells one running ZYL from another: an open-file-
/// description lock on one byte below the bytes SQLite locks, so the two never meet. The
/// kernel (or, on a network file system, its lock manager) drops the lock when the process
/// ends in any way, SIGKILL and a crashed node included, so a killed run never leaves a stale
/// lock behind: whoever finds the lock taken knows that a live process holds it.
///
/// NOTE: the descriptor must be closed only after every SQLite connection to the file is:
/// closing a descriptor drops the process's ordinary (POSIX) locks on the file, SQLite's
/// among them. Owners declare the lock before the connection, so it is destroyed last.
class FileLock {
public:
    FileLock() = default;
    FileLock(FileLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() { release(); }

    enum class Result { Locked, Busy };
    /// Opens `path` for reading and writing (creating it, empty, when `create` is set) and
    /// takes the lock, waiting half a second at most. Busy when another process holds it.
    /// \throws Exception with the system's message when the file cannot be opened or locked
    /// (a file system without locks, a read-only file).
    Result acquire(const std::string& path, bool create);
    bool held() const { return m_fd >= 0; }
    void release();

private:
    int m_fd = -1;
};

} // namespace zyl
