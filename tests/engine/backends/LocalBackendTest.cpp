#include "engine/backends/LocalBackend.h"

#include "BackendSupport.h"
#include "common/Exception.h"
#include "engine/Indiv.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>

using namespace zyl;
using namespace zyl::test;

namespace {

class LocalBatch : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        options.program = {"in.txt", "", "out.txt", 0};
        options.folders = WorkFolders{(dir / "runs").string(), "", false};
    }

    void prepare(FailurePolicy policy = {})
    {
        evaluator = std::make_unique<BatchEvaluator>(
            std::make_unique<LocalBackend>(options), policy,
            [this](const std::string& line) { reports.push_back(line); });
    }

    BatchOutcome evaluate(std::vector<EvaluationRequest> requests, FailurePolicy policy = {})
    {
        prepare(policy);
        return evaluatePrepared(std::move(requests));
    }

    BatchOutcome evaluatePrepared(std::vector<EvaluationRequest> requests,
                                  const std::atomic<bool>* cancel = nullptr)
    {
        finished.clear();
        reports.clear();
        BatchControl control;
        control.cancel = cancel;
        return evaluator->evaluate(
            std::move(requests), [this](const EvaluationResult& r) { finished.push_back(r); },
            control);
    }

    static std::vector<double> values(const BatchOutcome& outcome)
    {
        std::vector<double> out;
        for (const EvaluationResult& result : outcome.results)
            out.push_back(result.value.value_or(-1));
        return out;
    }

    LocalBackendOptions options;
    std::unique_ptr<BatchEvaluator> evaluator;
    std::vector<EvaluationResult> finished;
    std::vector<std::string> reports;
};

} // namespace

TEST_F(LocalBatch, ResultsInIndexOrderWhateverOrderTheProgramsEnd)
{
    // Each program waits for the next individual's to end first, and a while more so that no
    // two end together: they end last to first.
    options.program.externalName = script(
        "chain.sh", "read a b < \"$1\"; while [ $a -lt 5 ] && [ ! -e \"$D/done$((a + 1))\" ]; do "
                    "sleep 0.01; done; sleep 0.1; echo $((a * a + b)) > \"$2\"; "
                    "touch \"$D/done$a\"");
    options.workers = 6;
    BatchOutcome outcome = evaluate(requestsFor(6));
    ASSERT_EQ(outcome.results.size(), 6u);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(outcome.results[k].index, k);
        EXPECT_EQ(outcome.results[k].status, EvaluationStatus::Succeeded);
        EXPECT_EQ(outcome.results[k].value, k * k + k + 1);
    }
    ASSERT_EQ(finished.size(), 6u);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(finished[k].index, 5 - k) << "callbacks come as the programs end";
    EXPECT_FALSE(outcome.failed);
    const EvaluationProgress progress = evaluator->progress();
    EXPECT_EQ(progress.done, 6);
    EXPECT_EQ(progress.running + progress.queued + progress.failed, 0);
}

TEST_F(LocalBatch, ValuesDoNotDependOnWorkersOrFolders)
{
    options.program.externalName = script("square.sh", squarePlus);
    std::vector<double> expected;
    for (int k = 0; k < 16; ++k)
        expected.push_back(k * k + k + 1);
    for (int workers : {1, 3, 16}) {
        options.workers = workers;
        EXPECT_EQ(values(evaluate(requestsFor(16))), expected) << workers << " workers";
        EXPECT_TRUE(fs::is_empty(dir / "runs")) << "folders of successes are removed";
    }

    // In ZYL's own folder: the names exactly as given, and no work folder at all.
    options.folders.reset();
    options.workers = 4; // shared files admit one program at a time
    options.program.inputName = (dir / "shared-in.txt").string();
    options.program.outputName = (dir / "shared-out.txt").string();
    fs::remove_all(dir / "runs");
    EXPECT_EQ(values(evaluate(requestsFor(16))), expected);
    EXPECT_EQ(read(dir / "shared-in.txt"), "15 16 \n");
    EXPECT_FALSE(fs::exists(dir / "runs"));
    EXPECT_EQ(finished.at(0).workDir, "");
}

TEST_F(LocalBatch, WorkFoldersTemplatesAndWhatIsKept)
{
    fs::create_directories(dir / "deck" / "sub");
    std::ofstream(dir / "deck" / "sub" / "offset") << "100\n";
    options.folders->templateDir = (dir / "deck").string();
    // The program starts in its folder, sees the deck there, and fails for individual 2.
    options.program.externalName =
        script("deck.sh", "read a b < \"$1\"; read o < sub/offset; pwd; echo $((a + o)) > \"$2\"; "
                          "[ $a -ne 2 ]");
    options.workers = 2;
    BatchOutcome outcome = evaluate(requestsFor(3), FailurePolicy{0, 7.5});

    const fs::path failedDir = dir / "runs" / "gen1-ind2";
    EXPECT_EQ(values(outcome), (std::vector<double>{100, 101, 7.5}));
    EXPECT_EQ(outcome.results[2].status, EvaluationStatus::FailureValue);
    EXPECT_EQ(outcome.results[2].workDir, failedDir.string());
    EXPECT_TRUE(outcome.results[2].workDirKept);
    EXPECT_FALSE(fs::exists(dir / "runs" / "gen1-ind0"));
    // The failed folder keeps the input, the copied deck and what the program said.
    EXPECT_EQ(read(failedDir / "in.txt"), "2 3 \n");
    EXPECT_TRUE(fs::exists(failedDir / "sub" / "offset"));
    EXPECT_EQ(read(failedDir / "zyl-log.txt"), failedDir.string() + "\n");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Evaluation of individual 2 (generation 1) failed: exit code 1; it takes "
                          "the value 7.5. Work folder: " +
                              failedDir.string() + "\nIts log ended with:\n  " +
                              failedDir.string());

    options.folders->keepAll = true;
    evaluate(requestsFor(3, 4), FailurePolicy{0, 0});
    EXPECT_TRUE(fs::exists(dir / "runs" / "gen4-ind0" / "out.txt"));

    // A missing template stops the batch before anything starts.
    options.folders->templateDir = (dir / "no-deck").string();
    EXPECT_THROW(evaluate(requestsFor(1)), std::exception);
}

TEST_F(LocalBatch, EveryKindOfFailureIsOne)
{
    options.workers = 4;
    // Long enough that no quick case runs out of time on a loaded machine.
    const double timeout = 2;
    options.program.timeoutSeconds = timeout;
    struct Case {
        const char* body;
        const char* failure;
        std::optional<double> value;
    } cases[] = {
        {"echo nan > \"$2\"", "output is NaN", std::nullopt},
        {"echo inf > \"$2\"", "", HUGE_VAL},
        {"echo -inf > \"$2\"", "", -HUGE_VAL},
        {"echo 'not a number' > \"$2\"", "output is not a number", std::nullopt},
        {"echo 4.5 > \"$2\"; exit 3", "exit code 3", 4.5},
        {"kill -KILL $$", "killed by signal 9 (Killed)", std::nullopt},
        {"sleep 30", "past external_timeout (2 s)", std::nullopt},
        {"exit 0", "no output file", std::nullopt},
    };
    for (const Case& c : cases) {
        options.program.externalName = script("case.sh", c.body);
        BatchOutcome outcome = evaluate(requestsFor(1));
        const EvaluationResult& result = outcome.results.at(0);
        EXPECT_EQ(result.failure.substr(0, std::string(c.failure).size()), c.failure) << c.body;
        EXPECT_EQ(result.status,
                  *c.failure ? EvaluationStatus::Failed : EvaluationStatus::Succeeded)
            << c.body;
        EXPECT_EQ(result.value, c.value) << c.body;
        EXPECT_EQ(outcome.failed, *c.failure != 0);
        EXPECT_EQ(result.timedOut, std::string(c.body) == "sleep 30") << c.body;
    }
}

TEST_F(LocalBatch, WhatFailsBeforeTheProgramRunsEndsTheBatchWhateverTheFailurePolicy)
{
    // The message of the exception a batch ends with, or "" when it ends normally.
    auto setupFailure = [this](int n) -> std::string {
        try {
            evaluate(requestsFor(n), FailurePolicy{2, 7.5});
        } catch (const Exception& error) {
            return error.what();
        }
        return "";
    };
    const std::string square = script("square.sh", squarePlus);
    options.workers = 2;
    struct Case {
        std::string program;
        std::string reason;
    } cases[] = {
        {(dir / "missing").string(), "No such file or directory"},
        {script("plain.txt", "exit 0"), "Permission denied"},
        {dir.string(), "Is a directory"},
    };
    fs::permissions(dir / "plain.txt", fs::perms::owner_read | fs::perms::owner_write);
    for (const Case& c : cases) {
        options.program.externalName = c.program;
        EXPECT_EQ(setupFailure(3),
                  "Cannot start the external program \"" + c.program + "\": " + c.reason);
        EXPECT_TRUE(finished.empty()) << "no failure value, no retry";
        EXPECT_TRUE(fs::is_empty(dir / "runs")) << "no folder made";
    }
    // In ZYL's own folder too, and a name that is the program itself.
    options.folders.reset();
    options.program.inputName = square;
    options.program.externalName = square;
    EXPECT_EQ(setupFailure(1), "The input or output file is the program itself");
    EXPECT_EQ(read(square).substr(0, 9), "#!/bin/sh");

    // A template found uncopyable halfway: what runs finishes and is reported first, and the
    // folder that could not be made goes.
    options.folders = WorkFolders{(dir / "runs").string(), (dir / "deck").string(), false};
    options.program.inputName = "in.txt";
    fs::create_directories(dir / "deck");
    options.program.externalName = script(
        "spoil.sh", "read a b < \"$1\"; [ $a -eq 1 ] && mkfifo \"$D/deck/pipe\"; [ $a -eq 0 ] && "
                    "sleep 0.5; echo $((a * a + b)) > \"$2\"");
    const std::string message = setupFailure(4);
    EXPECT_NE(message.find("Cannot prepare the work folder \"" +
                           (dir / "runs" / "gen1-ind2").string() +
                           "\": cannot copy the template folder: "),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("pipe\" is neither a file, a folder nor a link"), std::string::npos);
    ASSERT_EQ(finished.size(), 2u);
    EXPECT_EQ(finished[0].index, 1);
    EXPECT_EQ(finished[1].value, 1.0) << "the slow program's value is not lost";
    EXPECT_TRUE(fs::is_empty(dir / "runs"));
    // Found before anything starts once it is there.
    EXPECT_NE(setupFailure(1).find("Cannot copy the template folder"), std::string::npos);
}

TEST_F(LocalBatch, LinksInTheTemplateAreReadNeverWrittenThrough)
{
    fs::create_directories(dir / "outside");
    fs::create_directories(dir / "deck");
    for (const char* name : {"in.txt", "out.txt", "zyl-log.txt"}) {
        std::ofstream(dir / "outside" / name) << "precious\n";
        fs::create_symlink(dir / "outside" / name, dir / "deck" / name);
    }
    std::ofstream(dir / "outside" / "offset") << "100\n";
    fs::create_symlink(dir / "outside" / "offset", dir / "deck" / "offset");
    fs::create_directory_symlink(dir / "outside", dir / "deck" / "sub");
    options.folders->templateDir = (dir / "deck").string();
    options.folders->keepAll = true;
    options.program.externalName = script(
        "deck.sh", "read a b < \"$1\"; read o < offset; echo said; echo $((a + o)) > \"$2\"");
    options.workers = 3;
    EXPECT_EQ(values(evaluate(requestsFor(3))), (std::vector<double>{100, 101, 102}));
    for (const char* name : {"in.txt", "out.txt", "zyl-log.txt"})
        EXPECT_EQ(read(dir / "outside" / name), "precious\n") << name;
    const fs::path folder = dir / "runs" / "gen1-ind1";
    EXPECT_FALSE(fs::is_symlink(folder / "in.txt"));
    EXPECT_EQ(read(folder / "zyl-log.txt"), "said\n");
    EXPECT_TRUE(fs::is_symlink(folder / "offset")) << "links are copied as links";

    // A name through a linked folder would lead outside: refused, nothing written there.
    options.program.inputName = "sub/in.txt";
    try {
        evaluate(requestsFor(1, 2));
        ADD_FAILURE() << "a name through a link was written";
    } catch (const Exception& error) {
        EXPECT_NE(std::string(error.what()).find("a link or a file is in the way"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_EQ(read(dir / "outside" / "in.txt"), "precious\n");
}

TEST_F(LocalBatch, RetriesAndAFailureThatStopsTheRun)
{
    // Individual 1 fails on its first run only; individual 3 always fails.
    options.program.externalName =
        script("flaky.sh",
               "read a b < \"$1\"; if [ $a -eq 1 ] && [ ! -e \"$D/tried\" ]; then touch "
               "\"$D/tried\"; exit 1; fi; if [ $a -eq 3 ]; then echo \"try $(cat \"$D/try\" "
               "2>/dev/null)\" >&2; echo again >> \"$D/try\"; exit 2; fi; "
               "echo $((a * a + b)) > \"$2\"");
    options.workers = 1;
    BatchOutcome outcome = evaluate(requestsFor(6), FailurePolicy{1, std::nullopt});
    EXPECT_EQ(outcome.results[1].status, EvaluationStatus::Succeeded);
    EXPECT_EQ(outcome.results[1].attempts, 2);
    EXPECT_EQ(outcome.results[1].value, 3);
    EXPECT_EQ(outcome.results[3].status, EvaluationStatus::Failed);
    EXPECT_EQ(outcome.results[3].attempts, 2);
    EXPECT_TRUE(outcome.failed);
    // One worker stops at the failure, as a run one program at a time always has.
    EXPECT_EQ(outcome.results[4].status, EvaluationStatus::NotRun);
    EXPECT_EQ(outcome.results[5].status, EvaluationStatus::NotRun);
    EXPECT_EQ(finished.size(), 4u);
    // The first runs of individuals 1 and 3; the last one of 3 is the run's message.
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(evaluator->progress().failed, 1);
    // Each attempt's log stays beside the next one's.
    const fs::path failed = dir / "runs" / "gen1-ind3";
    EXPECT_EQ(read(failed / "zyl-log-1.txt"), "try \n");
    EXPECT_EQ(read(failed / "zyl-log.txt"), "try again\n");
    EXPECT_NE(reports[1].find("exit code 2; starting it again (2 of 2). Work folder: " +
                              failed.string() + "\nIts log ended with:\n  try "),
              std::string::npos)
        << reports[1];

    // An exit status that asks for no retry spends none; other failures are retried as before.
    fs::remove(dir / "tried");
    options.program.noRetryStatus = 2;
    outcome = evaluate(requestsFor(6), FailurePolicy{1, 9.0});
    EXPECT_EQ(outcome.results[3].status, EvaluationStatus::FailureValue);
    EXPECT_EQ(outcome.results[3].attempts, 1);
    EXPECT_EQ(outcome.results[3].failure, "exit code 2 (no_retry_status)");
    EXPECT_EQ(outcome.results[1].attempts, 2);
    options.program.noRetryStatus = 0;

    // In ZYL's folder without the new keys a failure says nothing beyond the caller's message.
    options.folders.reset();
    options.program.inputName = (dir / "in.txt").string();
    options.program.outputName = (dir / "out.txt").string();
    EXPECT_TRUE(evaluate(requestsFor(6)).failed);
    EXPECT_TRUE(reports.empty());
}

TEST_F(LocalBatch, DuplicatesRunOnceAndShareTheValue)
{
    Indiv a(1), b(1), c(1);
    a.setGene(0, std::make_unique<Floating_>(0.5));
    b.setGene(0, std::make_unique<Floating_>(0.25));
    c.setGene(0, std::make_unique<Floating_>(0.5));
    EXPECT_EQ(findDuplicates({&a, &b, &c, &b}), (std::vector<int>{-1, -1, 0, 1}));

    options.program.externalName = script(
        "count.sh", "read a b < \"$1\"; echo x >> \"$D/runs.log\"; echo $((a + b)) > \"$2\"");
    options.workers = 4;
    std::vector<EvaluationRequest> requests = requestsFor(4);
    requests[2].line = requests[0].line;
    requests[2].duplicateOf = 0;
    requests[3].line = requests[1].line;
    requests[3].duplicateOf = 1;
    BatchOutcome outcome = evaluate(requests);
    EXPECT_EQ(read(dir / "runs.log"), "x\nx\n");
    EXPECT_EQ(values(outcome), (std::vector<double>{1, 3, 1, 3}));
    EXPECT_EQ(outcome.results[2].duplicateOf, 0);
    EXPECT_EQ(outcome.results[2].attempts, 0);
    EXPECT_EQ(finished.size(), 4u);
    EXPECT_EQ(evaluator->progress().done, 2);
}

TEST_F(LocalBatch, CancelEndsEveryProcessGroupAndStartsNothingMore)
{
    // Each program leaves a grandchild behind in its group, as a simulation's tool would.
    options.program.externalName =
        script("hang.sh", "sleep 100 & echo $$ > \"$D/group$(cut -d' ' -f1 < \"$1\")\"; wait");
    options.workers = 3;
    std::atomic<bool> cancel{false};
    prepare();
    std::thread canceller([&] {
        for (int i = 0; i < 1000 && !(fs::exists(dir / "group0") && fs::exists(dir / "group1") &&
                                      fs::exists(dir / "group2"));
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EvaluationProgress seen = evaluator->progress();
        EXPECT_EQ(seen.running, 3);
        EXPECT_EQ(seen.queued, 2);
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    BatchOutcome outcome = evaluatePrepared(requestsFor(5), &cancel);
    canceller.join();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              10.0);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.failed);
    for (const EvaluationResult& result : outcome.results)
        EXPECT_EQ(result.status, EvaluationStatus::Cancelled);
    EXPECT_TRUE(finished.empty());
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(groupEnds(std::stoi(read(dir / ("group" + std::to_string(k))))));
    EXPECT_FALSE(fs::exists(dir / "group3"));
    EvaluationProgress after = evaluator->progress();
    EXPECT_EQ(after.running + after.queued, 0);
}
