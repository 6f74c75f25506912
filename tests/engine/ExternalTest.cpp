#include "engine/External.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zyl;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

/// A scratch directory with its own scripts, removed afterwards.
class ExternalTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "zyl-external-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        program.inputName = (dir / "in.txt").string();
        program.outputName = (dir / "out.txt").string();
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    /// Writes an executable sh script; $D in `body` is this test's directory.
    std::string script(const std::string& name, const std::string& body)
    {
        fs::path path = dir / name;
        std::ofstream(path) << "#!/bin/sh\nD='" << dir.string() << "'\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }
    std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool run(const std::string& body, double timeout = 0)
    {
        program.externalName = script("objective.sh", body);
        program.timeoutSeconds = timeout;
        return evaluateExternal(program, ind, cancel, &timedOut);
    }

    fs::path dir;
    bool timedOut = true;
    ExternalProgram program;
    Indiv ind = reals({1, 0.25, 7});
    std::atomic<bool> cancel{false};

    static Indiv reals(std::initializer_list<double> values)
    {
        Indiv result(static_cast<int>(values.size()));
        int j = 0;
        for (double x : values)
            result.setGene(j++, std::make_unique<Floating_>(x));
        return result;
    }
};

/// No child of this process is left, running or as a zombie.
bool noChildLeft()
{
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

/// The process is gone or a zombie waiting for a reaper that is not us.
bool processDead(pid_t pid)
{
    for (int i = 0; i < 200; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidText, name, state;
        if (!(stat >> pidText >> name >> state) || state == "Z")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

TEST(ExternalOutput, ReadsTheLeadingNumberInAnyForm)
{
    EXPECT_EQ(parseOutputValue("  3.5e2\n"), 350);
    EXPECT_EQ(parseOutputValue("\t\r\n-2.5E-1 trailing words"), -0.25);
    EXPECT_EQ(parseOutputValue("+7"), 7);
    EXPECT_EQ(parseOutputValue(".5"), 0.5);
    EXPECT_EQ(parseOutputValue("12,5"), 12); // a comma ends the number
    EXPECT_EQ(parseOutputValue("1e-310"), 1e-310);
    EXPECT_EQ(parseOutputValue("1e400"), HUGE_VAL);
    EXPECT_EQ(parseOutputValue("-1e400"), -HUGE_VAL);
    EXPECT_EQ(parseOutputValue("1e-400"), 0.0);
    EXPECT_EQ(parseOutputValue("-Infinity"), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(parseOutputValue("nan").value_or(0)));

    for (const char* bad : {"", "   \n", "abc", "+-1", "++1", "--1", ".", "e5"})
        EXPECT_FALSE(parseOutputValue(bad).has_value()) << '"' << bad << '"';
}

TEST(ExternalOutput, ConstraintValuesFollowTheObjective)
{
    OutputValues out = parseOutputValues(" 4\n-1.5\t2e1 ignored", 2);
    EXPECT_EQ(out.value, 4);
    EXPECT_EQ(out.constraints, (std::vector<double>{-1.5, 20}));
    EXPECT_EQ(out.problem, "");
    EXPECT_EQ(parseOutputValues("4 -1", 2).problem, "output holds 1 of 2 constraint values");
    EXPECT_EQ(parseOutputValues("4 x 1", 2).problem,
              "constraint value 1 of the output is not a number");
    EXPECT_EQ(parseOutputValues("4 1 nan", 2).problem, "constraint value 2 of the output is NaN");
    EXPECT_EQ(parseOutputValues("", 1).problem, "output holds 0 of 1 constraint values");
    EXPECT_TRUE(parseOutputValues("4", 0).constraints.empty());
}

TEST_F(ExternalTest, AMissingConstraintValueFailsTheEvaluation)
{
    program.constraints = 2;
    EXPECT_TRUE(run("printf '3 -1 0.5' > \"$2\""));
    EXPECT_EQ(ind.constraints, (std::vector<double>{-1, 0.5}));
    EXPECT_FALSE(run("printf '3 -1' > \"$2\""));
}

TEST_F(ExternalTest, WritesTheLineFormAndReadsTheValueBack)
{
    EXPECT_TRUE(run("cp \"$1\" \"$D/seen.txt\"; printf '  3.5e2\\n' > \"$2\""));
    EXPECT_EQ(read(dir / "seen.txt"), "1 0.25 7 \n");
    EXPECT_EQ(ind.value, 350);

    // Every digit of the design reaches the program; integers and Booleans as integers.
    Indiv mixed(3);
    mixed.setGene(0, std::make_unique<Floating_>(3.14159265));
    mixed.setGene(1, std::make_unique<Integer_>(-12));
    mixed.setGene(2, std::make_unique<Boolean_>(1));
    EXPECT_TRUE(evaluateExternal(program, mixed, cancel));
    EXPECT_EQ(read(dir / "seen.txt"), "3.14159265 -12 1 \n");
    EXPECT_FALSE(mixed.evaluated); // the run loop sets the flag, not the evaluation

    // Or by name, one line each.
    program.inputNames = {"r", "n", "b"};
    EXPECT_TRUE(evaluateExternal(program, mixed, cancel));
    EXPECT_EQ(read(dir / "seen.txt"), "r=3.14159265\nn=-12\nb=1\n");
}

TEST_F(ExternalTest, AFailureSaysWhyWithTheProgramsLastWords)
{
    ExternalFailure why;
    program.externalName = script("talk.sh", "echo progress >&2; printf 'mesh 1\\rmesh 2\\n\\n"
                                             "\\033[1mno convergence\\n' >&2; exit 3");
    EXPECT_FALSE(evaluateExternal(program, ind, cancel, nullptr, &why));
    EXPECT_EQ(why.reason, "exit code 3");
    EXPECT_EQ(why.words, "Its standard error ended with:\n  progress\n  mesh 1\n  mesh 2\n"
                         "  ?[1mno convergence");

    program.externalName = (dir / "missing.sh").string();
    EXPECT_FALSE(evaluateExternal(program, ind, cancel, nullptr, &why));
    EXPECT_EQ(why.reason, "cannot start the external program \"" + program.externalName +
                              "\": No such file or directory");
    program.externalName = script("few.sh", "echo 1 > \"$2\"");
    program.constraints = 2;
    EXPECT_FALSE(evaluateExternal(program, ind, cancel, nullptr, &why));
    EXPECT_EQ(why.reason, "output holds 0 of 2 constraint values");
    EXPECT_EQ(why.words, "");

    // At most five lines, each cut within its width and never inside a character.
    const std::string many = "1\n2\n3\n4\n5\n6\n" + std::string(200, 'x') + "\n";
    EXPECT_EQ(lastLines(many), "  3\n  4\n  5\n  6\n  " + std::string(160, 'x') + "...\n");
    EXPECT_EQ(lastLines(std::string(159, 'a') + "\u00e9\u00e9"),
              "  " + std::string(159, 'a') + "...\n");
    EXPECT_EQ(lastLines(" \n\t\n"), "");
}

TEST_F(ExternalTest, ProgramThatCannotRunFailsAndKeepsTheValue)
{
    ind.value = 8;
    program.externalName = (dir / "missing.sh").string();
    EXPECT_FALSE(evaluateExternal(program, ind, cancel));
    program.externalName = "";
    EXPECT_FALSE(evaluateExternal(program, ind, cancel));

    std::string plain = script("plain.sh", "echo 1 > \"$2\"");
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    program.externalName = plain;
    EXPECT_FALSE(evaluateExternal(program, ind, cancel));

    // No "#!" line: we do not hand it to a shell.
    std::ofstream(dir / "bare") << "echo 1 > \"$2\"\n";
    fs::permissions(dir / "bare", fs::perms::owner_all);
    program.externalName = (dir / "bare").string();
    EXPECT_FALSE(evaluateExternal(program, ind, cancel));
    EXPECT_EQ(ind.value, 8);

    // Not looked up in PATH, like the data files the name is taken from the current directory.
    program.externalName = "true";
    EXPECT_FALSE(evaluateExternal(program, ind, cancel));

    // Files named like the program itself would destroy it.
    std::string self = script("self.sh", "echo 1 > \"$2\"");
    std::string before = read(self);
    program.externalName = self;
    for (std::string* name : {&program.inputName, &program.outputName}) {
        std::string kept = *name;
        *name = self;
        EXPECT_FALSE(evaluateExternal(program, ind, cancel));
        EXPECT_EQ(read(self), before);
        *name = kept;
    }

    // Without its input file the program is not started at all.
    program.inputName = (dir / "no-such-dir" / "in.txt").string();
    EXPECT_FALSE(run("touch \"$D/started\"; echo 1 > \"$2\""));
    EXPECT_FALSE(fs::exists(dir / "started"));
    EXPECT_EQ(ind.value, 8);
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ExternalTest, FailedProgramStillHasItsOutputRead)
{
    EXPECT_FALSE(run("echo 4.5 > \"$2\"; exit 1"));
    EXPECT_EQ(ind.value, 4.5);
    EXPECT_FALSE(run("echo 5.5 > \"$2\"; kill -KILL $$"));
    EXPECT_EQ(ind.value, 5.5);
    EXPECT_TRUE(noChildLeft());
}

TEST_F(ExternalTest, OutputThatIsNoNumberLeavesTheValue)
{
    ind.value = 3;
    EXPECT_TRUE(run("echo 'not a number' > \"$2\""));
    EXPECT_EQ(ind.value, 3);
    EXPECT_TRUE(run("rm -f \"$2\""));
    EXPECT_EQ(ind.value, 3);
    EXPECT_TRUE(run(": > \"$2\""));
    EXPECT_EQ(ind.value, 3);

    // The previous individual's output must not pass for this one's.
    std::ofstream(program.outputName) << "99\n";
    EXPECT_TRUE(run("exit 0"));
    EXPECT_EQ(ind.value, 3);
    // ... nor shadow the number of a program that appends.
    std::ofstream(program.outputName) << "99\n";
    EXPECT_TRUE(run("echo 6 >> \"$2\""));
    EXPECT_EQ(ind.value, 6);
}

TEST_F(ExternalTest, NanIsAFailureWhileInfinitiesAreValues)
{
    ind.value = 3;
    EXPECT_FALSE(run("echo nan > \"$2\""));
    EXPECT_EQ(ind.value, 3);
    EXPECT_FALSE(run("echo -NaN > \"$2\"; exit 1"));
    EXPECT_EQ(ind.value, 3);
    EXPECT_TRUE(run("echo inf > \"$2\""));
    EXPECT_EQ(ind.value, HUGE_VAL);
    EXPECT_TRUE(run("echo -inf > \"$2\""));
    EXPECT_EQ(ind.value, -HUGE_VAL);
}

TEST_F(ExternalTest, TimeoutKillsTheProgramAndWhatItStarted)
{
    ind.value = 8;
    const char* hang = "echo 1 > \"$2\"; sleep 100 & echo $! > \"$D/sleep.pid\"; wait";
    auto start = Clock::now();
    EXPECT_FALSE(run(hang, 0.3));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(seconds, 0.3);
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(ind.value, 1); // a timed-out program's output is read like a failed one's
    EXPECT_TRUE(timedOut);
    EXPECT_TRUE(noChildLeft());
    pid_t grandchild = std::stoi(read(dir / "sleep.pid"));
    EXPECT_TRUE(processDead(grandchild));

    // A timeout does not cut short a program that ends in time.
    EXPECT_TRUE(run("sleep 0.2; echo 2 > \"$2\"", 5));
    EXPECT_EQ(ind.value, 2);
    EXPECT_FALSE(timedOut);
    EXPECT_FALSE(run("exit 3", 5));
    EXPECT_FALSE(timedOut);
}

TEST_F(ExternalTest, CancelKillsTheProgramAtOnceWithoutReadingItsOutput)
{
    ind.value = 8;
    program.externalName =
        script("hang.sh", "echo 1 > \"$2\"; sleep 100 & echo $! > \"$D/sleep.pid\"; wait");
    auto start = Clock::now();
    std::thread canceller([&] {
        // Cancel only once the program is surely under way.
        for (int i = 0; i < 1000 && !fs::exists(dir / "sleep.pid"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cancel = true;
    });
    bool ok = evaluateExternal(program, ind, cancel);
    canceller.join();
    EXPECT_FALSE(ok);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
    EXPECT_EQ(ind.value, 8);
    EXPECT_TRUE(noChildLeft());
    EXPECT_TRUE(processDead(std::stoi(read(dir / "sleep.pid"))));

    // Already cancelled: nothing is started.
    EXPECT_FALSE(run("touch \"$D/started\"; echo 1 > \"$2\""));
    EXPECT_FALSE(fs::exists(dir / "started"));
    EXPECT_EQ(ind.value, 8);
}

TEST_F(ExternalTest, NamesReachTheProgramLiterally)
{
    fs::path odd = dir / "a b;$(x)";
    fs::create_directory(odd);
    program.inputName = (odd / "in put;$(touch pwned).txt").string();
    program.outputName = (odd / "out'put\"|&*.txt").string();
    program.externalName = (odd / "my prog;$(touch pwned)").string();
    std::ofstream(program.externalName)
        << "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$1\" \"$2\" > \"$(dirname \"$0\")/args\"\n"
           "echo 3 > \"$2\"\n";
    fs::permissions(program.externalName, fs::perms::owner_all);

    EXPECT_TRUE(evaluateExternal(program, ind, cancel));
    EXPECT_EQ(read(odd / "args"),
              program.externalName + "\n" + program.inputName + "\n" + program.outputName + "\n");
    EXPECT_EQ(read(program.inputName), "1 0.25 7 \n");
    EXPECT_EQ(ind.value, 3);
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists(odd / "pwned"));
}

TEST_F(ExternalTest, ProgramDiesOfSignalsThatWeIgnoreOrBlock)
{
    // zyl-batch handles SIGINT and SIGTERM itself; the program must not inherit that.
    struct sigaction ignore = {};
    struct sigaction saved = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGTERM, &ignore, &saved);
    sigset_t block, savedMask;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &block, &savedMask);

    bool term = run("kill -TERM $$; echo 1 > \"$2\"");
    bool interrupt = run("kill -INT $$; echo 1 > \"$2\"");
    ::pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
    ::sigaction(SIGTERM, &saved, nullptr);
    EXPECT_FALSE(term);
    EXPECT_FALSE(interrupt);
}

TEST_F(ExternalTest, ProgramDoesNotShareOurInputOrDescriptors)
{
    // Our input stays open and silent, as a person at the terminal would leave it: a program
    // reading it must see its end at once rather than wait (or take what is typed for us).
    // Nor may it hold our other files open (the pipe's write end stands for them).
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int savedInput = ::dup(STDIN_FILENO);
    ::dup2(fds[0], STDIN_FILENO);
    auto start = Clock::now();
    std::string leakCheck =
        "[ -e /proc/$$/fd/" + std::to_string(fds[1]) + " ] && touch \"$D/leak\"";
    bool ok = run(leakCheck + "; cat > \"$D/stdin\"; echo 1 > \"$2\"", 3);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::dup2(savedInput, STDIN_FILENO);
    for (int fd : {savedInput, fds[0], fds[1]})
        ::close(fd);
    EXPECT_TRUE(ok);
    EXPECT_LT(seconds, 3.0);
    EXPECT_EQ(read(dir / "stdin"), "");
    EXPECT_FALSE(fs::exists(dir / "leak"));
}
