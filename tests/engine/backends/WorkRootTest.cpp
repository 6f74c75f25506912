#include "engine/backends/WorkRoot.h"

#include "BackendSupport.h"
#include "common/Exception.h"

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

using namespace zyl;
using namespace zyl::test;

namespace {

class WorkRoot : public ScratchTest {
protected:
    /// The message take() refuses with, or "" when it holds the root.
    std::string refusal(const std::string& owner)
    {
        try {
            WorkRootClaim::take(root().string(), owner);
        } catch (const Exception& error) {
            return error.what();
        }
        return "";
    }

    /// A lock file as another process, killed since, would have left it.
    void leftBy(const std::string& owner)
    {
        std::ofstream(root() / workRootLockName)
            << "process 1 on elsewhere since 2020-01-01T00:00:00Z\ntoken 1234\n"
            << (owner.empty() ? "" : "owner " + owner + "\n");
    }

    fs::path root() const { return dir / "runs"; }
};

} // namespace

TEST_F(WorkRoot, AClaimIsSharedInTheProcessAndLeavesNothingWhenLetGo)
{
    auto first = WorkRootClaim::take(root().string(), "");
    EXPECT_TRUE(fs::exists(root() / workRootLockName));
    // The desktop program claims again at every Run while the last Run's evaluator holds it.
    auto second = WorkRootClaim::take(root().string(), "run store \"s\" created t");
    EXPECT_EQ(first, second);
    EXPECT_NE(read(root() / workRootLockName).find("owner run store \"s\" created t"),
              std::string::npos);
    first->release(/*removeEmptyRoot=*/true);
    EXPECT_FALSE(fs::exists(root()));

    // Folders left: the record stays with them, and this process may take them again.
    auto again = WorkRootClaim::take(root().string(), "");
    fs::create_directories(root() / "gen2-ind5"); // a failed evaluation's, kept
    again->release(true);
    EXPECT_TRUE(fs::exists(root() / workRootLockName));
    EXPECT_NO_THROW(WorkRootClaim::take(root().string(), ""));
}

TEST_F(WorkRoot, AnotherRunsFoldersAreRefusedAndLeftAsTheyAre)
{
    const std::string store = "run store \"/x/run.zyl\" created 2020-01-01T00:00:00Z";
    fs::create_directories(root() / "gen1-ind3");
    std::ofstream(root() / "gen1-ind3" / "thesis.tex") << "chapter 1\n";
    fs::create_directories(root() / "notes");

    // Folders nobody claimed: refused, and no lock file is left behind.
    EXPECT_EQ(refusal(""), "The work folder \"" + root().string() +
                               "\" holds the folders of another run (gen1-ind3): remove them, "
                               "or choose another work_root.");
    EXPECT_FALSE(fs::exists(root() / workRootLockName));

    leftBy(store);
    fs::create_directories(root() / "gen1-ind4");
    EXPECT_EQ(refusal(""), "The work folder \"" + root().string() +
                               "\" holds the folders of another run (gen1-ind3 and 1 more, left "
                               "by the " +
                               store + "): remove them, or choose another work_root.");
    EXPECT_NE(refusal("run store \"/x/other.zyl\" created 2020-01-01T00:00:00Z"), "");
    EXPECT_EQ(read(root() / "gen1-ind3" / "thesis.tex"), "chapter 1\n");

    // The resume of that store takes them back; a run without one never does.
    EXPECT_EQ(refusal(store), "");
    leftBy("");
    EXPECT_NE(refusal("").find("left by process 1 on elsewhere since 2020-01-01T00:00:00Z"),
              std::string::npos);
}

TEST_F(WorkRoot, AHeldRootIsRefusedNamingTheHolderUntilItDies)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        auto claim = WorkRootClaim::take(root().string(), "");
        char byte = 1;
        (void)::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_NE(refusal("").find("The work folder \"" + root().string() +
                               "\" is in use by another ZYL (process " + std::to_string(holder) +
                               " on "),
              std::string::npos);
    // The kernel drops the lock with the process, kill -9 included.
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(refusal(""), "");
}
