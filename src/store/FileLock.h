#pragma once

#include <optional>
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

/// Tells whether some process holds the FileLock of a file, without taking it: whoever asks
/// must never stand in the way of a ZYL that takes the lock a moment later.
///
/// NOTE: it keeps a descriptor of the file open for its whole life, as FileLock does, and for
/// the same reason: destroy it only after every SQLite connection of this process to the file.
class LockProbe {
public:
    LockProbe() = default;
    /// Opens `path` for reading; a file that cannot be opened leaves the answers unknown.
    explicit LockProbe(const std::string& path);
    LockProbe(LockProbe&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    LockProbe& operator=(LockProbe&& other) noexcept;
    LockProbe(const LockProbe&) = delete;
    LockProbe& operator=(const LockProbe&) = delete;
    ~LockProbe();

    /// Whether the lock is held by another open file than any of this probe's; none when the
    /// system cannot tell (no open-file-description locks).
    std::optional<bool> held() const;

private:
    int m_fd = -1;
};

} // namespace zyl
