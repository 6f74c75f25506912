// The same task through the session as zyl-batch drives it (one thread, one run to the end,
// values typed between generations) and as the desktop program does (the run on a thread of its
// own handing every step to the window's thread, Run after Run): both must show the same.
#include "engine/Statistics.h"
#include "engine/Task.h"
#include "session/RunSession.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace zyl {
namespace {

namespace fs = std::filesystem;

/// What a front end shows of a task.
struct Shown {
    std::vector<StatisticsRow> statistics;
    int generation = 0;
    double best = 0;
    std::string stopReason;
    std::int64_t failed = 0, failureValues = 0;
    std::vector<std::string> warnings;
};

class Screen : public RunObserver {
public:
    explicit Screen(const ProjectSettings& settings) : m_settings(settings) {}
    void attachTo(RunSession& session) { m_session = &session; }
    void warning(const std::string& text) override { shown.warnings.push_back(text); }
    void statistics() override
    {
        shown.statistics = statisticsRows(m_session->zyl(), m_settings.showBuffered);
    }

    Shown shown;

private:
    const ProjectSettings& m_settings;
    RunSession* m_session = nullptr;
};

/// The desktop's synchroniser: the run's thread waits while the step runs on the thread that
/// serves it.
class HandOver : public Synchronizer {
public:
    void run(const std::function<void()>& step) override
    {
        std::unique_lock lock(m_mutex);
        m_step = &step;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_step == nullptr; });
        if (std::exception_ptr error = std::exchange(m_error, nullptr))
            std::rethrow_exception(error);
    }
    void serveUntilEnd(const std::function<void()>& work)
    {
        bool over = false;
        std::thread worker([&] {
            work();
            std::lock_guard lock(m_mutex);
            over = true;
            m_changed.notify_all();
        });
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return over || m_step; });
            if (!m_step)
                break;
            try {
                (*m_step)();
            } catch (...) {
                m_error = std::current_exception();
            }
            m_step = nullptr;
            m_changed.notify_all();
        }
        lock.unlock();
        worker.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::function<void()>* m_step = nullptr;
    std::exception_ptr m_error;
};

enum class Style { Batch, Desktop };

class Session : public ::testing::Test {
protected:
    Session()
    {
        m_dir = fs::temp_directory_path() / ("zyl-session-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_left = fs::current_path();
        fs::current_path(m_dir);
    }
    ~Session() override
    {
        fs::current_path(m_left);
        fs::remove_all(m_dir);
    }

    static void program(const std::string& name, const std::string& body)
    {
        std::ofstream(name) << "#!/bin/sh\n" << body;
        ::chmod(name.c_str(), 0755);
    }

    /// Runs `text` as `style` does, typing x1^2 + x2^2 for each value a manual task awaits.
    static Shown run(Style style, const std::string& text)
    {
        std::ofstream("task.txt") << text;
        ProjectSettings settings;
        SymbolTable table;
        table.registerBuiltinSymbols();
        ProjectScript document("task.txt");
        document.StripBlanks();
        SessionRequest request;
        request.script = document;
        request.keepHistory = style == Style::Desktop;
        if (style == Style::Batch)
            request.reuse = "";
        std::unique_ptr<RunSession> session = RunSession::open(std::move(request), settings, table);
        Screen screen(settings);
        screen.attachTo(*session);
        HandOver handOver;
        FrontEnd frontEnd;
        frontEnd.observer = &screen;
        if (style == Style::Batch) {
            frontEnd.activity = [] {};
            frontEnd.evaluationsChanged = [] {};
        } else {
            frontEnd.sync = &handOver;
            frontEnd.script = &document;
        }
        session->attach(std::move(frontEnd));

        ZYL& zyl = session->zyl();
        const bool manual = settings.functionMode == FunctionMode::Manual;
        std::optional<RunContext> context;
        if (style == Style::Batch)
            context.emplace(session->beginRun());
        DirectSynchronizer direct;
        for (int runs = 0; runs < 100; ++runs) {
            if (zyl.generation >= zyl.maxIteration || session->stop().finished())
                break;
            if (manual) {
                settings.loopCounter = 1;
                for (int i = 0; i < zyl.popSize; ++i) {
                    if (zyl.population[i].evaluated)
                        continue;
                    const double a = zyl.population[i].gene(0)->getValue();
                    const double b = zyl.population[i].gene(1)->getValue();
                    // zyl-batch counts the value as it enters it, the desktop's window after.
                    if (style == Style::Batch) {
                        enterManualValue(zyl, i, a * a + b * b, session->observer(),
                                         &session->stop());
                    } else {
                        enterManualValue(zyl, i, a * a + b * b, screen);
                        ++session->stop().evaluations;
                    }
                    session->valueTyped(i);
                }
            }
            if (style == Style::Desktop)
                context.emplace(session->beginRun());
            const int before = zyl.generation;
            Task task(*context, style == Style::Batch ? static_cast<Synchronizer&>(direct)
                                                       : handOver,
                      session->observer());
            session->setRunningTask(&task);
            if (style == Style::Batch)
                task.execute();
            else
                handOver.serveUntilEnd([&task] { task.execute(); });
            session->setRunningTask(nullptr);
            if (style == Style::Desktop) {
                EXPECT_FALSE(session->endRun());
            }
            if (task.allFailedGeneration() || task.stopRequested() || zyl.generation == before)
                break;
        }
        if (style == Style::Batch) {
            EXPECT_FALSE(session->endRun());
        }
        screen.shown.generation = zyl.generation;
        screen.shown.best = zyl.globalMin.value;
        screen.shown.stopReason = session->stop().stopReason;
        screen.shown.failed = session->stop().failedEvaluations;
        screen.shown.failureValues = session->stop().failureValues;
        return screen.shown;
    }

    fs::path m_dir, m_left;
};

const std::string variables = "[VARIABLES]\nx1=real[-1;1]\nx2=real[-1;1]\n"
                              "[POPULATION]\nsize=8\n";
const std::string sumOfSquares = "read a b < \"$1\"\nLC_ALL=C awk -v a=\"$a\" -v b=\"$b\" "
                                 "'BEGIN { printf \"%.17g\\n\", a * a + b * b }' > \"$2\"\n";

TEST_F(Session, TheDesktopShowsWhatTheBatchShows)
{
    program("square.sh", sumOfSquares);
    program("fail.sh", "exit 3\n");
    const std::string external = "[FUNCTION]\nexternal=1\ninput_name=in.txt\noutput_name=out.txt\n";
    struct Case {
        const char* name;
        std::string script;
        int generation;
        bool stopped, failed;
    };
    const std::vector<Case> cases = {
        {"analytical",
         "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x1^2+x2^2\n[OPTIONS]\nseed=3\nloop_counter=4\n"
         "max_iteration=10\n" + variables,
         10, false, false},
        {"external, two workers",
         external + "external_name=./square.sh\nworkers=2\n[OPTIONS]\nseed=5\nloop_counter=2\n"
                    "max_iteration=3\n" + variables,
         3, false, false},
        {"manual", "[FUNCTION]\nmanual=1\n[OPTIONS]\nseed=7\nmax_iteration=3\n" + variables, 3,
         false, false},
        {"a first generation that fails, one program at a time",
         external + "external_name=./fail.sh\n[OPTIONS]\nseed=9\n" + variables, 0, false, true},
        {"a first generation that fails, with a failure value",
         external + "external_name=./fail.sh\nworkers=2\nfailure_value=7\n[OPTIONS]\nseed=9\n" +
             variables,
         0, false, true},
        {"a stop rule",
         "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x1^2+x2^2\n[OPTIONS]\nseed=11\n"
         "max_iteration=50\nmax_evaluations=20\n" + variables,
         3, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Shown batch = run(Style::Batch, c.script);
        const Shown shown = run(Style::Desktop, c.script);
        EXPECT_EQ(shown.generation, c.generation);
        EXPECT_EQ(!shown.stopReason.empty(), c.stopped) << shown.stopReason;
        EXPECT_EQ(shown.failed > 0, c.failed);
        EXPECT_EQ(shown.statistics, batch.statistics);
        EXPECT_EQ(shown.best, batch.best);
        EXPECT_EQ(shown.stopReason, batch.stopReason);
        EXPECT_EQ(shown.failed, batch.failed);
        EXPECT_EQ(shown.failureValues, batch.failureValues);
        EXPECT_EQ(shown.warnings, batch.warnings);
        EXPECT_EQ(shown.generation, batch.generation);
    }
}

// A resume refused at any point, however late, leaves its store as it found it.
TEST_F(Session, AResumeRefusedItsWorkRootLeavesTheStoreAsItWas)
{
    program("square.sh", sumOfSquares);
    std::ofstream("task.txt") << "[FUNCTION]\nexternal=1\ninput_name=in.txt\noutput_name=out.txt\n"
                                 "external_name=./square.sh\nworkers=2\nwork_root=shared\n"
                                 "[OPTIONS]\nmax_iteration=3\n" + variables;
    auto open = [](bool resume) {
        ProjectSettings settings;
        SymbolTable table;
        table.registerBuiltinSymbols();
        SessionRequest request;
        StoreRequest& store = request.store.emplace();
        store.storePath = "run.zyl";
        store.resume = resume;
        store.script = ProjectScript("task.txt");
        store.script->StripBlanks();
        store.scriptName = "task.txt";
        std::unique_ptr<RunSession> session = RunSession::open(std::move(request), settings, table);
        session->attach({});
        std::string refusal;
        try {
            session->beginRun();
        } catch (const std::exception& error) {
            refusal = error.what();
        }
        return refusal;
    };
    EXPECT_EQ(open(false), "");
    // As a process that was killed left it: a resume that starts names itself the owner.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open("run.zyl", &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE run SET owner_pid = 1", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    std::ifstream in("run.zyl", std::ios::binary);
    const std::string before{std::istreambuf_iterator<char>(in), {}};

    // Another ZYL holds the work root.
    fs::create_directories("shared");
    const int held = ::open("shared/zyl-work.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &lock), 0);
    EXPECT_NE(open(true).find("is in use by another ZYL"), std::string::npos);
    ::close(held);
    std::ifstream after("run.zyl", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), before);
    EXPECT_FALSE(fs::exists("run.zyl-wal"));
}

} // namespace
} // namespace zyl
