#include "engine/backends/SlurmArrayBackend.h"
#include "engine/backends/SlurmStepsBackend.h"

#include "BackendSupport.h"
#include "engine/backends/ChildProcess.h"
#include "engine/backends/Slurm.h"

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace zyl;
using namespace zyl::test;

namespace {

/// Why the Slurm tests cannot run here, or "" when a cluster answers. Without SLURM_CONF the
/// cluster of scripts/local-slurm.sh is looked for in its folder.
std::string slurmUnavailable()
{
    static const std::string reason = [] {
        if (!std::getenv("SLURM_CONF")) {
            const char* folder = std::getenv("ZYL_SLURM_DIR");
            const fs::path conf = fs::path(folder ? folder : "/tmp/zyl-slurm") / "slurm.conf";
            if (fs::exists(conf))
                ::setenv("SLURM_CONF", conf.c_str(), 0);
        }
        const CommandResult ping = runCommand({"scontrol", "ping"}, 5);
        if (!ping.started)
            return std::string("no Slurm commands here (the package slurm-wlm)");
        if (!ping.succeeded() || ping.out.find("UP") == std::string::npos)
            return "no Slurm cluster answers (start one with scripts/local-slurm.sh start): " +
                   ping.failureText();
        return std::string();
    }();
    return reason;
}

/// The job id of "Slurm job 12_3".
std::string jobOf(const EvaluationResult& result)
{
    const std::string where = result.where;
    const std::size_t from = where.rfind(' ') + 1;
    return where.substr(from, where.find('_') - from);
}

/// The states squeue still lists for a job that are not final.
std::vector<std::string> activeStates(const std::string& job, bool steps = false)
{
    const CommandResult listed =
        runCommand({"squeue", "--noheader", steps ? "--steps" : "--array", "--states=all",
                    "--jobs=" + job, steps ? "--format=%i|%j|%M" : "--format=%i|%T|%M"});
    std::vector<std::string> active;
    for (const auto& [id, entry] : slurm::parseQueue(listed.out))
        if (steps || !slurm::isFinal(entry.state))
            active.push_back(id + " " + entry.state);
    return active;
}

class SlurmBatch : public ScratchTest {
protected:
    void SetUp() override
    {
        const std::string reason = slurmUnavailable();
        if (!reason.empty())
            GTEST_SKIP() << "Slurm tests skipped: " << reason;
        ScratchTest::SetUp();
        options.program = {"in.txt", script("square.sh", squarePlus), "out.txt", 0};
        options.workers = 4;
        options.folders = WorkFolders{(dir / "runs").string(), "", false};
        options.pollSeconds = 0.2;
    }

    void prepare(std::unique_ptr<ProgramBackend> backend, FailurePolicy policy = {})
    {
        evaluator = std::make_unique<BatchEvaluator>(
            std::move(backend), policy,
            [this](const std::string& line) { reports.push_back(line); });
    }
    BatchOutcome run(std::vector<EvaluationRequest> requests,
                     const std::atomic<bool>* cancel = nullptr)
    {
        BatchControl control;
        control.cancel = cancel;
        return evaluator->evaluate(std::move(requests), nullptr, control);
    }
    BatchOutcome evaluate(std::vector<EvaluationRequest> requests, FailurePolicy policy = {})
    {
        prepare(std::make_unique<SlurmArrayBackend>(options), policy);
        return run(std::move(requests));
    }

    SlurmArrayOptions options;
    std::unique_ptr<BatchEvaluator> evaluator;
    std::vector<std::string> reports;
};

/// Cancels once `ready` holds, from another thread; joins on destruction.
class Canceller {
public:
    template <class Ready>
    explicit Canceller(Ready ready)
        : m_thread([this, ready] {
              for (int i = 0; i < 3000 && !ready(); ++i)
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              flag = true;
          })
    {
    }
    ~Canceller() { m_thread.join(); }
    std::atomic<bool> flag{false};

private:
    std::thread m_thread;
};

} // namespace

TEST_F(SlurmBatch, AnArrayGivesTheValuesOfTheLocalRun)
{
    BatchOutcome outcome = evaluate(requestsFor(6, 3));
    ASSERT_EQ(outcome.results.size(), 6u);
    for (int k = 0; k < 6; ++k) {
        const EvaluationResult& result = outcome.results[k];
        EXPECT_EQ(result.status, EvaluationStatus::Succeeded) << result.failure;
        EXPECT_EQ(result.value, k * k + k + 1);
        EXPECT_EQ(result.where, "Slurm job " + jobOf(outcome.results[0]) + "_" + std::to_string(k));
    }
    EXPECT_FALSE(fs::exists(dir / "runs" / "gen3-ind0"));
    EXPECT_EQ(evaluator->progress().done, 6);
    EXPECT_TRUE(activeStates(jobOf(outcome.results[0])).empty());
}

TEST_F(SlurmBatch, FailedTasksRetriesAndFailureValues)
{
    options.program.timeoutSeconds = 2;
    // 0 fails on its first run only; 1 exits 3; 2 writes NaN; 3 outlives external_timeout.
    options.program.externalName =
        script("mixed.sh", "read a b < \"$1\"; case $a in\n"
                           "0) [ -e \"$D/tried\" ] || { touch \"$D/tried\"; exit 1; };;\n"
                           "1) exit 3;; 2) echo nan > \"$2\"; exit 0;; 3) sleep 60;; esac\n"
                           "echo $((a * a + b)) > \"$2\"");
    BatchOutcome outcome = evaluate(requestsFor(4), FailurePolicy{1, 99});
    const std::vector<std::string> failures = {"", "exit code 3", "output is NaN",
                                               "past external_timeout (2 s)"};
    for (int k = 0; k < 4; ++k) {
        const EvaluationResult& result = outcome.results[k];
        EXPECT_EQ(result.failure, failures[k]) << k;
        EXPECT_EQ(result.attempts, 2) << k;
        EXPECT_EQ(result.status,
                  k == 0 ? EvaluationStatus::Succeeded : EvaluationStatus::FailureValue);
        EXPECT_EQ(result.value, k == 0 ? 1 : 99);
        EXPECT_EQ(result.workDirKept, k != 0);
    }
    EXPECT_FALSE(outcome.failed);
    // One line per failed run, the last ones naming the kept folder.
    EXPECT_EQ(reports.size(), 7u);
    EXPECT_NE(reports.back().find("Work folder: " + (dir / "runs").string()), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "runs" / "gen1-ind1" / "zyl-log.txt"));
}

TEST_F(SlurmBatch, ATaskPastItsTimeLimitIsATimeout)
{
    // Slurm's limits are whole minutes: this test takes one at least, so it runs once in CI,
    // in the release suite; the code it checks is the same in the sanitizer build.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the one-minute time limit is checked in the release build only";
#endif
    options.cluster.timeLimitMinutes = 1;
    options.program.externalName = script("long.sh", "sleep 600");
    BatchOutcome outcome = evaluate(requestsFor(1));
    EXPECT_EQ(outcome.results[0].status, EvaluationStatus::Failed);
    EXPECT_EQ(outcome.results[0].failure, "Slurm state TIMEOUT");
    EXPECT_TRUE(outcome.results[0].timedOut);
    EXPECT_TRUE(outcome.failed);
    // The controller counts whole seconds: a task may end a fraction of one short of the minute.
    EXPECT_GE(outcome.results[0].seconds, 59);
}

TEST_F(SlurmBatch, CancellingLeavesNothingRunningOrQueued)
{
    options.workers = 1;
    options.program.externalName =
        script("hang.sh", "sleep 300 & echo $! > \"$D/sleep.pid\"; wait");
    prepare(std::make_unique<SlurmArrayBackend>(options));
    Canceller canceller(
        [this] { return evaluator->progress().running == 1 && fs::exists(dir / "sleep.pid"); });
    BatchOutcome outcome = run(requestsFor(4), &canceller.flag);
    EXPECT_TRUE(outcome.cancelled);
    for (const EvaluationResult& result : outcome.results)
        EXPECT_EQ(result.status, EvaluationStatus::Cancelled);
    ASSERT_NE(outcome.results[0].where, "");
    EXPECT_EQ(activeStates(jobOf(outcome.results[0])), std::vector<std::string>{});
    EXPECT_FALSE(processRunning(std::stoi(read(dir / "sleep.pid"))));
    EXPECT_EQ(evaluator->progress().running + evaluator->progress().queued, 0);
}

TEST_F(SlurmBatch, StoppingStartsLetsTheRunningTaskFinishAndNeverFailsTheOthers)
{
    // The grace after SIGTERM: the array's pending tasks are taken back, the running one ends.
    options.workers = 1;
    options.program.externalName =
        script("slow.sh", "touch \"$D/started\"; sleep 2; " + std::string(squarePlus));
    prepare(std::make_unique<SlurmArrayBackend>(options));
    Canceller stopper([this] { return fs::exists(dir / "started"); });
    BatchControl control;
    control.stopStarting = &stopper.flag;
    BatchOutcome outcome = evaluator->evaluate(requestsFor(3), nullptr, control);
    EXPECT_FALSE(outcome.failed);
    EXPECT_EQ(outcome.results[0].status, EvaluationStatus::Succeeded);
    EXPECT_EQ(outcome.results[1].status, EvaluationStatus::NotRun);
    EXPECT_EQ(outcome.results[2].status, EvaluationStatus::NotRun);
    EXPECT_TRUE(reports.empty()) << reports[0];
    EXPECT_EQ(activeStates(jobOf(outcome.results[0])), std::vector<std::string>{});
}

TEST_F(SlurmBatch, StepsRunInsideAnAllocation)
{
    const CommandResult granted = runCommand(
        {"salloc", "--no-shell", "--ntasks=1", "--time=5", "--job-name=zyl-steps-test"}, 120);
    const std::size_t at = granted.err.find("Granted job allocation ");
    ASSERT_NE(at, std::string::npos) << granted.err;
    const std::string job =
        granted.err.substr(at + 23, granted.err.find_first_of(" \n", at + 23) - at - 23);

    SlurmStepsOptions steps{options.program, 2, options.folders, options.cluster, job};
    prepare(std::make_unique<SlurmStepsBackend>(steps));
    BatchOutcome outcome = run(requestsFor(3));
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(outcome.results[k].value, k * k + k + 1) << outcome.results[k].failure;
        EXPECT_EQ(outcome.results[k].where.rfind("Slurm step " + job + ".", 0), 0u)
            << outcome.results[k].where;
    }

    // Cancelled steps do not outlive the batch.
    steps.program.externalName = script("hang.sh", "touch \"$D/started\"; sleep 300");
    prepare(std::make_unique<SlurmStepsBackend>(steps));
    Canceller canceller([this] { return fs::exists(dir / "started"); });
    outcome = run(requestsFor(2), &canceller.flag);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(activeStates(job, /*steps=*/true), std::vector<std::string>{});
    runCommand({"scancel", job});
}

TEST_F(SlurmBatch, AStepEndedByItsTimeLimitSaysSo)
{
    // Steps get whole minutes too, and the controller looks at them every half minute or so.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the one-minute time limit is checked in the release build only";
#endif
    const CommandResult granted = runCommand(
        {"salloc", "--no-shell", "--ntasks=1", "--time=5", "--job-name=zyl-steps-limit"}, 120);
    const std::size_t at = granted.err.find("Granted job allocation ");
    ASSERT_NE(at, std::string::npos) << granted.err;
    const std::string job =
        granted.err.substr(at + 23, granted.err.find_first_of(" \n", at + 23) - at - 23);
    options.cluster.timeLimitMinutes = 1;
    SlurmStepsOptions steps{options.program, 1, options.folders, options.cluster, job};
    steps.program.externalName = script("long.sh", "sleep 600");
    prepare(std::make_unique<SlurmStepsBackend>(steps));
    BatchOutcome outcome = run(requestsFor(1));
    runCommand({"scancel", job});
    EXPECT_EQ(outcome.results[0].status, EvaluationStatus::Failed);
    EXPECT_EQ(outcome.results[0].failure, "Slurm state TIMEOUT");
    // The controller counts whole seconds: a task may end a fraction of one short of the minute.
    EXPECT_GE(outcome.results[0].seconds, 59);
}

TEST(SlurmText, ArraySpecsAndQueueListings)
{
    EXPECT_EQ(slurm::arraySpec({0, 1, 2, 3, 5, 9, 10}, 4), "0-3,5,9-10%4");
    EXPECT_EQ(slurm::arraySpec({7}, 0), "7");

    EXPECT_EQ(slurm::parseElapsed("0:07"), 7);
    EXPECT_EQ(slurm::parseElapsed("3:04:05"), 3 * 3600 + 4 * 60 + 5);
    EXPECT_EQ(slurm::parseElapsed("2-03:04:05"), 2 * 86400 + 3 * 3600 + 4 * 60 + 5);
    EXPECT_EQ(slurm::parseElapsed("INVALID"), 0);

    const auto queue = slurm::parseQueue("12_3|RUNNING|1:02\n12_[4-9%2]|PENDING|0:00\n"
                                         "12_1|CANCELLED by 0|0:05\n13.4|zyl-1-gen1-ind0|0:01\n");
    ASSERT_EQ(queue.size(), 3u);
    EXPECT_EQ(queue.at("12_3").state, "RUNNING");
    EXPECT_EQ(queue.at("12_3").seconds, 62);
    EXPECT_EQ(queue.at("12_1").state, "CANCELLED");
    EXPECT_EQ(queue.at("13.4").state, "zyl-1-gen1-ind0");

    EXPECT_EQ(
        slurm::scontrolField("JobId=5 ArrayJobId=5 JobState=TIMEOUT Reason=TimeLimit", "JobState"),
        "TIMEOUT");
    EXPECT_EQ(slurm::scontrolField("JobId=5 ArrayJobId=7", "JobId"), "5");
}

TEST(SlurmText, AnOutageIsToldApartFromARefusal)
{
    auto failed = [](const std::string& err) {
        CommandResult result;
        result.started = true;
        result.status.exited = true;
        result.status.code = 1;
        result.err = err;
        return result;
    };
    // What the clients say with the controller stopped, hung or restarting.
    EXPECT_TRUE(slurm::unreachable(failed("slurm_load_jobs error: Unable to contact slurm "
                                          "controller (connect failure)")));
    EXPECT_TRUE(slurm::unreachable(
        failed("sbatch: error: Batch job submission failed: Socket timed out on send/recv "
               "operation")));
    CommandResult hung = failed("");
    hung.timedOut = true;
    EXPECT_TRUE(slurm::unreachable(hung));
    // Refusals: the same answer would come again.
    EXPECT_FALSE(slurm::unreachable(
        failed("sbatch: error: Batch job submission failed: Invalid partition name specified")));
    EXPECT_FALSE(slurm::unreachable(failed("slurm_load_jobs error: Invalid job id specified")));
    EXPECT_FALSE(slurm::unreachable(CommandResult{}));
    CommandResult fine = failed("");
    fine.status.code = 0;
    EXPECT_FALSE(slurm::unreachable(fine));
}
