#pragma once

#include <memory>
#include <string>

namespace zyl {

/// The file in a work root that tells which run holds it and which run its folders belong to.
inline constexpr const char* workRootLockName = "zyl-work.lock";

/// One run's hold on a work root. While it is held no other ZYL can use the root (a lock that
/// the kernel drops when the process ends in any way, kill -9 included, so a killed run leaves
/// no stale lock). The lock file also records the owner of the evaluations' folders left in
/// the root, so that a later run can tell its own from another's: a new run never deletes a
/// folder it did not make.
///
/// The folders in the root belong to the claiming run when none is there, when this process
/// made them, or when `owner` (the identity of a run with a store) is the one recorded: a
/// resume takes back what its earlier process left. Anything else is refused.
class WorkRootClaim {
public:
    /// Creates the root when missing and holds it for this process. A second claim of the same
    /// root in this process shares the first (the desktop program claims it at each Run).
    /// `owner`: the identity of a run with a store; empty for a run without one, which owns
    /// only what this process made.
    /// \throws Exception "Cannot create the work folder "R": reason", "The work folder "R" is
    /// in use by another ZYL (process P on host H since T)." or "The work folder "R" holds the
    /// folders of another run (...): remove them, or choose another work_root."
    static std::shared_ptr<WorkRootClaim> take(const std::string& root, const std::string& owner);

    WorkRootClaim(const WorkRootClaim&) = delete;
    WorkRootClaim& operator=(const WorkRootClaim&) = delete;
    /// release(false).
    ~WorkRootClaim();

    const std::string& root() const { return m_root; }

    /// Lets the root go. The lock file goes too when no evaluation's folder is left (nothing
    /// then needs an owner); with `removeEmptyRoot` the root itself goes when that leaves it
    /// empty. Later calls do nothing.
    void release(bool removeEmptyRoot);

private:
    WorkRootClaim(std::string root, int fd) : m_root(std::move(root)), m_fd(fd) {}
    static std::shared_ptr<WorkRootClaim> takeMade(const std::string& root,
                                                   const std::string& owner);
    void record(const std::string& owner);

    std::string m_root;
    int m_fd = -1;
};

/// Releases this process's hold on `root`, if it has one (see WorkRootClaim::release): the
/// end of a zyl-batch run, while the evaluator that holds the claim may still be alive.
void releaseWorkRoot(const std::string& root, bool removeEmptyRoot);

} // namespace zyl
