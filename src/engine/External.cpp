#include "engine/External.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <locale.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace zyl {

namespace {

/// How often a waiting call looks at the cancel flag: short enough that Terminate feels
/// immediate, long enough that a long-running program costs no measurable CPU.
constexpr int cancelPollMs = 2;

/// The number must begin within this much of the output file; it bounds what we read from a
/// program that writes far more than one number.
constexpr std::size_t maxOutputRead = 1 << 20;

enum class Outcome { Succeeded, Failed, Cancelled };

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

/// O_NONBLOCK keeps a FIFO given as a file name from hanging us: opening one without a partner
/// fails (writing) or reads as empty (reading) instead of waiting for ever.
bool writeInputFile(const std::string& name, const std::string& text)
{
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, text);
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

std::string readOutputPrefix(const std::string& name)
{
    std::string text;
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return text;
    char chunk[4096];
    while (text.size() < maxOutputRead) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

/// Empties a stale output file. Only regular files: a device or FIFO named here is left alone.
void clearOutputFile(const std::string& name)
{
    struct stat st {};
    if (!name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        (void)::truncate(name.c_str(), 0);
}

/// True when `name` is the program itself. Writing the input there, or emptying the output
/// there, would destroy the user's program.
bool isProgramFile(const std::string& name, const struct stat& program)
{
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && st.st_dev == program.st_dev &&
           st.st_ino == program.st_ino;
}

/// Starts the program; returns its pid, or -1 when it cannot start (missing, not executable,
/// no "#!" line, ...). posix_spawn reports a failed exec to us, so -1 covers all of these.
pid_t spawnProgram(const ExternalProgram& program)
{
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    if (posix_spawnattr_init(&attr) != 0)
        return -1;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        posix_spawnattr_destroy(&attr);
        return -1;
    }

    // The run's own thread may block or ignore SIGINT/SIGTERM to handle them itself; the
    // program must still die of them. Its own process group lets us kill whatever a script
    // starts along with it.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETPGROUP);

    // A program in a background process group that reads the terminal would be stopped, and a
    // program reading our standard input could eat what a person types for zyl-batch.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors we opened without O_CLOEXEC (the export file, a GUI's pipes) stay ours.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif

    std::string arg0 = program.externalName;
    std::string arg1 = program.inputName;
    std::string arg2 = program.outputName;
    char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};

    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.externalName.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

/// Blocks until `pid` has ended and is reaped. False when its status cannot be had (SIGCHLD
/// ignored by the process, or reaped by someone else).
bool reap(pid_t pid, int& status)
{
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

void killGroupAndReap(pid_t pid)
{
    // The program itself too: it may have left its group (setsid) while its children stayed.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status = 0;
    reap(pid, status);
}

int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

/// Waits for the program to end, for the timeout, or for `cancel`, whichever comes first.
/// A pidfd wakes us the moment the program ends; on kernels without one we fall back to
/// WNOHANG polls whose interval grows from 50 us, so a quick program is not slowed by a
/// fixed sleep.
Outcome waitForProgram(pid_t pid, double timeoutSeconds, const std::atomic<bool>& cancel)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const bool timed = timeoutSeconds > 0 && std::isfinite(timeoutSeconds);
    const int pidfd = openPidfd(pid);
    auto backoff = std::chrono::microseconds(50);
    Outcome outcome = Outcome::Failed;
    int status = 0;

    for (;;) {
        if (cancel.load()) {
            killGroupAndReap(pid);
            outcome = Outcome::Cancelled;
            break;
        }
        int sliceMs = cancelPollMs;
        if (timed) {
            double left =
                timeoutSeconds - std::chrono::duration<double>(Clock::now() - start).count();
            if (left <= 0) {
                killGroupAndReap(pid);
                break;
            }
            if (left * 1000 < sliceMs)
                sliceMs = static_cast<int>(left * 1000) + 1;
        }

        bool ended = false;
        if (pidfd >= 0) {
            pollfd pfd{pidfd, POLLIN, 0};
            int n = ::poll(&pfd, 1, sliceMs);
            ended = n > 0;
            if (n < 0 && errno != EINTR) {
                killGroupAndReap(pid);
                break;
            }
        } else {
            pid_t got = ::waitpid(pid, &status, WNOHANG);
            if (got == pid) {
                outcome = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Outcome::Succeeded
                                                                        : Outcome::Failed;
                break;
            }
            if (got < 0 && errno != EINTR)
                break; // not our child any more: nothing left to wait for
            auto nap =
                std::min<std::chrono::nanoseconds>(backoff, std::chrono::milliseconds(sliceMs));
            timespec ts{0, static_cast<long>(nap.count())};
            ::nanosleep(&ts, nullptr);
            backoff = std::min<std::chrono::microseconds>(2 * backoff,
                                                          std::chrono::milliseconds(cancelPollMs));
        }
        if (ended) {
            if (reap(pid, status) && WIFEXITED(status) && WEXITSTATUS(status) == 0)
                outcome = Outcome::Succeeded;
            break;
        }
    }
    if (pidfd >= 0)
        ::close(pidfd);
    return outcome;
}

} // namespace

std::optional<double> parseOutputValue(std::string_view text)
{
    std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string_view::npos)
        return std::nullopt;
    text.remove_prefix(i);
    // from_chars takes no "+"; a second sign after it is no number.
    if (text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '-' || text.front() == '+')
            return std::nullopt;
    }
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc())
        return value;
    if (ec != std::errc::result_out_of_range)
        return std::nullopt;
    // from_chars leaves the value alone when the magnitude does not fit; strtod says which way
    // it fell. The C locale keeps the point a decimal point whatever the process locale is.
    static const locale_t cLocale = ::newlocale(LC_NUMERIC_MASK, "C", locale_t{});
    if (!cLocale)
        return std::nullopt;
    std::string number(text.data(), end);
    return ::strtod_l(number.c_str(), nullptr, cLocale);
}

bool evaluateExternal(const ExternalProgram& program, Indiv& ind, const std::atomic<bool>& cancel)
{
    if (cancel.load())
        return false;

    struct stat self {};
    if (::stat(program.externalName.c_str(), &self) == 0 &&
        (isProgramFile(program.inputName, self) || isProgramFile(program.outputName, self)))
        return false;

    clearOutputFile(program.outputName);
    Outcome outcome = Outcome::Failed;
    // Without the input file the program would read stale or no variables: never start it then.
    if (writeInputFile(program.inputName, ind.lineText() + "\n")) {
        pid_t pid = spawnProgram(program);
        if (pid > 0)
            outcome = waitForProgram(pid, program.timeoutSeconds, cancel);
    }
    // The program ran in a process of its own, so its floating-point settings ended with it;
    // ours need no resetting.
    if (outcome == Outcome::Cancelled)
        return false;
    if (auto value = parseOutputValue(readOutputPrefix(program.outputName)))
        ind.value = *value;
    return outcome == Outcome::Succeeded;
}

} // namespace zyl
