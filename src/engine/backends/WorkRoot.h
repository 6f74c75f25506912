#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zyl {

/// The file in a work root that tells which run holds it.
inline constexpr const char* workRootLockName = "zyl-work.lock";

/// One run's hold on a work root, or on the folder of the files that programs run one at a
/// time share. While it is held no other ZYL can use the folder (a lock that the kernel drops
/// when the process ends in any way, kill -9 included, so a killed run leaves no stale lock).
/// Each run keeps its evaluations' folders in a folder of its own inside the root
/// (runFolderName), so the folders an earlier run left, a failed one's say, neither stand in
/// a new run's way nor are ever deleted by it.
class WorkRootClaim {
public:
    /// Creates the root when missing and holds it for this process. A second claim of the same
    /// root in this process shares the first (the desktop program claims it at each Run).
    /// `owner`, the identity of a run with a store, is written into the lock file for a person
    /// to read. `runFolder`, the run's folder inside the root, goes at release when empty.
    /// \throws Exception "Cannot create the work folder "R": reason" or "The work folder "R" is
    /// in use by another ZYL (process P on host H since T)."
    static std::shared_ptr<WorkRootClaim> take(const std::string& root, const std::string& owner,
                                               const std::string& runFolder = "");

    WorkRootClaim(const WorkRootClaim&) = delete;
    WorkRootClaim& operator=(const WorkRootClaim&) = delete;
    /// release(false).
    ~WorkRootClaim();

    const std::string& root() const { return m_root; }

    /// Lets the root go, with its lock file and the run's folders that are empty; with
    /// `removeEmptyRoot` the root itself goes when that leaves it empty. Later calls do
    /// nothing.
    void release(bool removeEmptyRoot);

private:
    WorkRootClaim(std::string root, int fd) : m_root(std::move(root)), m_fd(fd) {}
    static std::shared_ptr<WorkRootClaim> takeMade(const std::string& root,
                                                   const std::string& owner);
    void record(const std::string& owner);

    std::string m_root;
    int m_fd = -1;
    std::vector<std::string> m_runFolders;
};

/// The folder of a run without a store in the work root: runFolderName of the time now and
/// "pid" with the process id.
std::string processRunFolder();

/// Releases this process's hold on `root`, if it has one (see WorkRootClaim::release): the
/// end of a zyl-batch run, while the evaluator that holds the claim may still be alive.
void releaseWorkRoot(const std::string& root, bool removeEmptyRoot);

} // namespace zyl
