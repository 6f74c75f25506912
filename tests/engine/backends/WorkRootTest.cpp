#include "engine/backends/WorkRoot.h"

#include "BackendSupport.h"
#include "common/Exception.h"
#include "engine/backends/Backends.h"
#include "engine/backends/WorkFolders.h"

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

    fs::path root() const { return dir / "runs"; }
};

} // namespace

TEST_F(WorkRoot, AClaimIsSharedInTheProcessAndLeavesNothingWhenLetGo)
{
    auto first = WorkRootClaim::take(root().string(), "", "run-a");
    EXPECT_TRUE(fs::exists(root() / workRootLockName));
    // The desktop program claims again at every Run while the last Run's evaluator holds it.
    auto second = WorkRootClaim::take(root().string(), "run store \"s\" created t", "run-a");
    EXPECT_EQ(first, second);
    EXPECT_NE(read(root() / workRootLockName).find("owner run store \"s\" created t"),
              std::string::npos);
    fs::create_directories(root() / "run-a");
    first->release(/*removeEmptyRoot=*/true);
    EXPECT_FALSE(fs::exists(root()));
}

TEST_F(WorkRoot, WhatEarlierRunsLeftIsNeitherInTheWayNorTouched)
{
    // A failed evaluation's folder of an earlier run, one of an older layout, a person's notes.
    fs::create_directories(root() / "run-a" / "gen2-ind5");
    fs::create_directories(root() / "gen1-ind3");
    std::ofstream(root() / "gen1-ind3" / "thesis.tex") << "chapter 1\n";
    fs::create_directories(root() / "run-b");
    auto claim = WorkRootClaim::take(root().string(), "", "run-c");
    fs::create_directories(root() / "run-c" / "gen1-ind0");
    claim->release(/*removeEmptyRoot=*/true);
    EXPECT_FALSE(fs::exists(root() / workRootLockName));
    EXPECT_EQ(read(root() / "gen1-ind3" / "thesis.tex"), "chapter 1\n");
    EXPECT_TRUE(fs::exists(root() / "run-a" / "gen2-ind5"));
    EXPECT_TRUE(fs::exists(root() / "run-b")); // empty, but not this run's
    EXPECT_TRUE(fs::exists(root() / "run-c" / "gen1-ind0"));

    // The run's own folder goes once nothing is left in it.
    fs::remove(root() / "run-c" / "gen1-ind0");
    WorkRootClaim::take(root().string(), "", "run-c")->release(false);
    EXPECT_FALSE(fs::exists(root() / "run-c"));
}

TEST(RunFolders, NamedForTheirRunAndItsTime)
{
    EXPECT_EQ(runFolderName("2026-05-01T12:30:05Z", "pid4321"), "run-2026-05-01_12-30-05-pid4321");
    EXPECT_EQ(runFolderName("", "a/b c"), "run--a_b_c");
    EXPECT_NE(processRunFolder().find("-pid" + std::to_string(::getpid())), std::string::npos);
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
