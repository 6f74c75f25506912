#include "engine/backends/ChildProcess.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace zyl {

namespace {

int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
#else
    (void)pid;
    return -1;
#endif
}

ExitStatus decode(int raw)
{
    ExitStatus status;
    if (WIFEXITED(raw)) {
        status.exited = true;
        status.code = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        status.signal = WTERMSIG(raw);
    }
    return status;
}

void nap(std::chrono::microseconds length)
{
    timespec ts{static_cast<time_t>(length.count() / 1000000),
                static_cast<long>(length.count() % 1000000) * 1000};
    ::nanosleep(&ts, nullptr);
}

/// The file execvp would start for `name`: itself when it holds a slash, else the first
/// executable file of that name in PATH; empty when there is none.
std::string findInPath(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t from = 0; from <= folders.size();) {
        const std::size_t colon = std::min(folders.find(':', from), folders.size());
        const std::string folder = colon > from ? folders.substr(from, colon - from) : ".";
        const std::string candidate = folder + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        from = colon + 1;
    }
    return "";
}

/// What the forked child does before exec, all prepared by the parent.
struct ChildSetup {
    const char* path = nullptr;
    char** argv = nullptr;
    const char* workDir = nullptr;
    const char* logFile = nullptr;
    int stdoutFd = -1;
    int stderrFd = -1;
    int deathSignal = SIGKILL;
    pid_t parent = 0;
    int reportFd = -1;
};

/// Closes every descriptor from `from` on but `keep`.
void closeFrom(int from, int keep)
{
    auto closeRange = [](unsigned first, unsigned last) {
        if (first > last)
            return;
#ifdef SYS_close_range
        if (::syscall(SYS_close_range, first, last, 0) == 0)
            return;
#endif
        for (unsigned fd = first; fd <= std::min(last, 65535u); ++fd)
            ::close(static_cast<int>(fd));
    };
    if (keep >= from) {
        closeRange(static_cast<unsigned>(from), static_cast<unsigned>(keep) - 1);
        closeRange(static_cast<unsigned>(keep) + 1, ~0u);
    } else {
        closeRange(static_cast<unsigned>(from), ~0u);
    }
}

[[noreturn]] void childFails(int reportFd)
{
    const int code = errno;
    [[maybe_unused]] ssize_t ignored = ::write(reportFd, &code, sizeof code);
    ::_exit(127);
}

// Runs in the forked child: system calls only (see ChildProcess::start).
[[noreturn]] void execChild(const ChildSetup& setup)
{
    // The caller may block or ignore SIGINT/SIGTERM to handle them itself; the program must
    // still die of them. Its own process group lets us kill whatever it starts along with it.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            ::sigaction(signal, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::setpgid(0, 0);
    // Set before the check: a parent that died a moment earlier is seen by getppid().
    if (::prctl(PR_SET_PDEATHSIG, setup.deathSignal) != 0 || ::getppid() != setup.parent)
        childFails(setup.reportFd);

    // A program in a background process group that reads the terminal would be stopped, and a
    // program reading our standard input could eat what a person types for us.
    const int null = ::open("/dev/null", O_RDONLY);
    if (null < 0 || ::dup2(null, STDIN_FILENO) < 0)
        childFails(setup.reportFd);
    if (setup.workDir && ::chdir(setup.workDir) != 0)
        childFails(setup.reportFd);
    if (setup.stdoutFd >= 0 || setup.stderrFd >= 0) {
        if (setup.stdoutFd >= 0 && ::dup2(setup.stdoutFd, STDOUT_FILENO) < 0)
            childFails(setup.reportFd);
        if (setup.stderrFd >= 0 && ::dup2(setup.stderrFd, STDERR_FILENO) < 0)
            childFails(setup.reportFd);
    } else if (setup.logFile) {
        const int log = ::open(setup.logFile, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0666);
        if (log < 0 || ::dup2(log, STDOUT_FILENO) < 0 || ::dup2(log, STDERR_FILENO) < 0)
            childFails(setup.reportFd);
    }
    // Descriptors opened without O_CLOEXEC (the export file, a GUI's pipes) stay ours.
    closeFrom(STDERR_FILENO + 1, setup.reportFd);
    ::execve(setup.path, setup.argv, environ);
    childFails(setup.reportFd);
}

/// The watchdog: a forked copy of ZYL that holds the reading end of a pipe and a list of
/// process groups. When ZYL is gone, however it went, the pipe ends, and every group still
/// listed is ended: launchers first asked with SIGTERM (srun then cancels its step), then
/// everything killed. A parent-death signal alone would reach the program and not what it
/// started (a shell script's own children).
class GroupWatch {
public:
    static GroupWatch& instance()
    {
        static GroupWatch watch;
        return watch;
    }
    void add(pid_t group, bool gentle) { send({group, gentle ? 2 : 1}); }
    void remove(pid_t group) { send({group, 0}); }

private:
    struct Message {
        pid_t group;
        int kind; // 0: ended, 1: kill it, 2: ask it first
    };

    GroupWatch()
    {
        // A socket rather than a pipe: a watchdog that is gone must not kill ZYL with SIGPIPE.
        // One message a packet, each sent whole, whichever thread sends it.
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            return;
        // Forked twice, so that it is nobody's child here: whoever waits for "any child" of
        // ZYL (a test, a toolkit) never meets it.
        const pid_t middle = ::fork();
        if (middle == 0) {
            if (::fork() == 0) {
                ::close(ends[1]);
                watch(ends[0]);
            }
            ::_exit(0);
        }
        ::close(ends[0]);
        if (middle < 0) {
            ::close(ends[1]);
            return;
        }
        int raw = 0;
        while (::waitpid(middle, &raw, 0) < 0 && errno == EINTR) {
        }
        m_fd = ends[1];
    }

    void send(Message message)
    {
        if (m_fd < 0 || m_gone.load())
            return;
        ssize_t sent;
        while ((sent = ::send(m_fd, &message, sizeof message, MSG_NOSIGNAL)) < 0 &&
               errno == EINTR) {
        }
        if (sent < 0 && errno == EPIPE)
            m_gone = true; // someone ended the watchdog: the death signals still hold
    }

    // Runs in the forked watchdog: system calls only.
    [[noreturn]] static void watch(int fd)
    {
        // First of all: the copies of ZYL's descriptors (a run store's lock among them) must
        // not outlive ZYL, which may be killed at any moment.
        if (::dup2(fd, STDIN_FILENO) < 0)
            ::_exit(1);
        closeFrom(STDIN_FILENO + 1, -1);
        // Out of the terminal's process group: a Ctrl-C meant for ZYL must not end its watchdog.
        ::setpgid(0, 0);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE})
            ::sigaction(signal, &ignore, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::prctl(PR_SET_NAME, "zyl-watchdog");

        constexpr int capacity = 8192;
        static pid_t groups[capacity];
        static bool gentle[capacity];
        int count = 0;
        Message message{};
        for (;;) {
            const ssize_t got = ::recv(STDIN_FILENO, &message, sizeof message, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break; // ZYL is gone
            if (got != static_cast<ssize_t>(sizeof message))
                continue;
            if (message.kind == 0) {
                for (int k = 0; k < count; ++k)
                    if (groups[k] == message.group) {
                        groups[k] = groups[count - 1];
                        gentle[k] = gentle[count - 1];
                        --count;
                        break;
                    }
            } else if (count < capacity) {
                groups[count] = message.group;
                gentle[count] = message.kind == 2;
                ++count;
            }
        }
        bool asked = false;
        for (int k = 0; k < count; ++k) {
            ::kill(-groups[k], gentle[k] ? SIGTERM : SIGKILL);
            asked = asked || gentle[k];
        }
        if (asked) {
            timespec pause{2, 0};
            while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
            }
            for (int k = 0; k < count; ++k)
                ::kill(-groups[k], SIGKILL);
        }
        ::_exit(0);
    }

    int m_fd = -1;
    std::atomic<bool> m_gone{false};
};

} // namespace

std::string ExitStatus::text() const
{
    if (exited)
        return "exit code " + std::to_string(code);
    if (signal == 0)
        return "an unknown end";
    const char* name = ::strsignal(signal);
    return "killed by signal " + std::to_string(signal) +
           (name ? std::string(" (") + name + ")" : "");
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(other.m_pid), m_pidfd(other.m_pidfd)
{
    other.m_pid = -1;
    other.m_pidfd = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        kill();
        m_pid = other.m_pid;
        m_pidfd = other.m_pidfd;
        other.m_pid = -1;
        other.m_pidfd = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess()
{
    kill();
}

bool ChildProcess::start(const Launch& launch, int stdoutFd, int stderrFd)
{
    kill();
    m_startError = ENOENT;
    if (launch.argv.empty() || launch.argv[0].empty())
        return false;

    // Everything the child needs is made here: between fork and exec it may only make system
    // calls, since another thread may hold a lock (the allocator's) that it would wait for
    // forever.
    const std::string path = launch.searchPath ? findInPath(launch.argv[0]) : launch.argv[0];
    if (path.empty())
        return false;
    std::vector<std::string> args = launch.argv;
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    ChildSetup setup;
    setup.path = path.c_str();
    setup.argv = argv.data();
    setup.workDir = launch.workDir.empty() ? nullptr : launch.workDir.c_str();
    setup.logFile = launch.logFile.empty() ? nullptr : launch.logFile.c_str();
    setup.stdoutFd = stdoutFd;
    setup.stderrFd = stderrFd;
    setup.deathSignal = launch.deathSignal;
    setup.parent = ::getpid();
    // The child tells why it could not start through this pipe; exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        m_startError = errno;
        return false;
    }
    if (report[1] <= STDERR_FILENO) {
        // ZYL started without a standard descriptor: the child's own 0 to 2 would cover it.
        const int moved = ::fcntl(report[1], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        m_startError = errno;
        ::close(report[1]);
        if (moved < 0) {
            ::close(report[0]);
            return false;
        }
        report[1] = moved;
    }
    setup.reportFd = report[1];

    GroupWatch& watch = GroupWatch::instance();
    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(setup);
    m_startError = errno;
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return false;
    }
    // Also here, so that the group exists whatever the order the two processes run in.
    ::setpgid(pid, pid);
    int childErrno = 0;
    ssize_t got;
    while ((got = ::read(report[0], &childErrno, sizeof childErrno)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (got > 0) {
        // glibc's posix_spawn reported these failures the same way: as a program that never ran.
        m_startError = childErrno;
        int raw = 0;
        while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
        return false;
    }
    m_startError = 0;
    m_pid = pid;
    m_pidfd = openPidfd(pid);
    watch.add(pid, launch.deathSignal != SIGKILL);
    return true;
}

void ChildProcess::release()
{
    if (m_pid > 0)
        GroupWatch::instance().remove(m_pid);
    if (m_pidfd >= 0)
        ::close(m_pidfd);
    m_pidfd = -1;
    m_pid = -1;
}

bool ChildProcess::tryReap(ExitStatus& status)
{
    if (m_pid <= 0)
        return false;
    int raw = 0;
    pid_t got = ::waitpid(m_pid, &raw, WNOHANG);
    if (got == 0 || (got < 0 && errno == EINTR))
        return false;
    // got < 0 otherwise: not our child any more (SIGCHLD ignored, or reaped elsewhere), so
    // there is nothing left to wait for and its status is lost.
    status = got == m_pid ? decode(raw) : ExitStatus{};
    release();
    return true;
}

ExitStatus ChildProcess::wait()
{
    ExitStatus status;
    if (m_pid <= 0)
        return status;
    int raw = 0;
    pid_t got;
    while ((got = ::waitpid(m_pid, &raw, 0)) < 0 && errno == EINTR) {
    }
    if (got == m_pid)
        status = decode(raw);
    release();
    return status;
}

void ChildProcess::kill()
{
    if (m_pid <= 0)
        return;
    // The program itself too: it may have left its group (setsid) while its children stayed.
    ::kill(-m_pid, SIGKILL);
    ::kill(m_pid, SIGKILL);
    wait();
}

void ChildProcess::signalGroup(int signal) const
{
    if (m_pid > 0)
        ::kill(-m_pid, signal);
}

namespace {

/// Holds a little more than the tail a failure's message shows, so that the cut falls far
/// from the lines it quotes.
constexpr std::size_t echoKept = 1 << 16;

} // namespace

ErrorEcho::ErrorEcho(ErrorEcho&& other) noexcept
    : m_read(other.m_read), m_write(other.m_write), m_pending(std::move(other.m_pending)),
      m_kept(std::move(other.m_kept))
{
    other.m_read = other.m_write = -1;
}

ErrorEcho& ErrorEcho::operator=(ErrorEcho&& other) noexcept
{
    if (this != &other) {
        close();
        m_read = other.m_read;
        m_write = other.m_write;
        m_pending = std::move(other.m_pending);
        m_kept = std::move(other.m_kept);
        other.m_read = other.m_write = -1;
    }
    return *this;
}

ErrorEcho::~ErrorEcho()
{
    close();
}

void ErrorEcho::close()
{
    for (int* fd : {&m_read, &m_write})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

int ErrorEcho::programEnd()
{
    if (m_read < 0 && m_write < 0) {
        int ends[2];
        // Our end never blocks: a program that writes a lot is read as we pass by.
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return -1;
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
        m_read = ends[0];
        m_write = ends[1];
    }
    return m_write;
}

void ErrorEcho::started()
{
    if (m_write >= 0) {
        ::close(m_write);
        m_write = -1;
    }
}

void ErrorEcho::pass()
{
    // A pipe takes up to PIPE_BUF bytes whole once it says it can take any, so a write of that
    // much never blocks; a terminal or a file always can.
    auto passOn = [this] {
        while (!m_pending.empty()) {
            pollfd out{STDERR_FILENO, POLLOUT, 0};
            if (::poll(&out, 1, 0) != 1)
                return;
            // Nobody to pass it to: a pipe without a reader (a write would raise SIGPIPE), a
            // terminal that hung up, no standard error at all.
            if (out.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                m_pending.clear();
                return;
            }
            if ((out.revents & POLLOUT) == 0)
                return;
            const ssize_t n = ::write(STDERR_FILENO, m_pending.data(),
                                      std::min<std::size_t>(m_pending.size(), 4096));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_pending.clear();
                return;
            }
            m_pending.erase(0, static_cast<std::size_t>(n));
        }
    };
    char chunk[4096];
    for (;;) {
        passOn();
        if (m_read < 0 || m_pending.size() >= echoKept)
            return;
        const ssize_t n = ::read(m_read, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) { // every writer is gone
            ::close(m_read);
            m_read = -1;
            passOn();
            return;
        }
        if (n < 0)
            return; // nothing more for now
        m_pending.append(chunk, static_cast<std::size_t>(n));
        m_kept.append(chunk, static_cast<std::size_t>(n));
        if (m_kept.size() > 2 * echoKept)
            m_kept.erase(0, m_kept.size() - echoKept);
    }
}

void ErrorEcho::finish()
{
    started();
    // What the program wrote before it ended is all in the pipe; a process it left behind may
    // write on, and is not waited for.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    do {
        pass();
        if (m_pending.empty())
            break;
        nap(std::chrono::microseconds(1000));
    } while (std::chrono::steady_clock::now() < deadline);
    close();
    m_pending.clear();
}

void waitForAny(const std::vector<const ChildProcess*>& children, int timeoutMs)
{
    std::vector<pollfd> fds;
    bool allHavePidfds = true;
    for (const ChildProcess* child : children) {
        if (child->waitFd() >= 0)
            fds.push_back(pollfd{child->waitFd(), POLLIN, 0});
        else
            allHavePidfds = false;
    }
    if (allHavePidfds) {
        ::poll(fds.data(), fds.size(), std::max(timeoutMs, 0));
        return;
    }
    // Without pidfds a short nap keeps a quick program from waiting for a whole slice.
    nap(std::min(std::chrono::microseconds(500), std::chrono::microseconds(timeoutMs * 1000L)));
}

std::string CommandResult::failureText() const
{
    if (!started)
        return "cannot be started";
    if (timedOut)
        return "did not answer in time";
    std::string first = err.substr(0, err.find('\n'));
    if (!first.empty())
        return first;
    return status.text();
}

CommandResult runCommand(const std::vector<std::string>& argv, double timeoutSeconds)
{
    using Clock = std::chrono::steady_clock;
    CommandResult result;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }
    Launch launch;
    launch.argv = argv;
    launch.searchPath = true;
    ChildProcess child;
    result.started = child.start(launch, outPipe[1], errPipe[1]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = result.started ? 2 : 0;
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000))) < 0 &&
            errno != EINTR)
            break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char chunk[4096];
            ssize_t n = ::read(fds[k].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[k]->append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[k].fd = -1;
                --open;
            }
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (result.timedOut)
        child.kill();
    else
        result.status = child.wait();
    return result;
}

} // namespace zyl
