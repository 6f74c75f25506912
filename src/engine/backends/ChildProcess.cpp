#include "engine/backends/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
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

    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    if ((m_startError = posix_spawnattr_init(&attr)) != 0)
        return false;
    if ((m_startError = posix_spawn_file_actions_init(&actions)) != 0) {
        posix_spawnattr_destroy(&attr);
        return false;
    }

    // The caller may block or ignore SIGINT/SIGTERM to handle them itself; the program must
    // still die of them. Its own process group lets us kill whatever it starts along with it.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETPGROUP);

    // A program in a background process group that reads the terminal would be stopped, and a
    // program reading our standard input could eat what a person types for us.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!launch.workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, launch.workDir.c_str());
    if (stdoutFd >= 0 || stderrFd >= 0) {
        if (stdoutFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
        if (stderrFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    } else if (!launch.logFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, launch.logFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0666);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors opened without O_CLOEXEC (the export file, a GUI's pipes) stay ours.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif

    std::vector<std::string> args = launch.argv;
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    // glibc reports a failed exec (and a failed chdir or open) as the result of the call.
    int rc = launch.searchPath
                 ? posix_spawnp(&pid, args[0].c_str(), &actions, &attr, argv.data(), environ)
                 : posix_spawn(&pid, args[0].c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    m_startError = rc;
    if (rc != 0)
        return false;
    m_pid = pid;
    m_pidfd = openPidfd(pid);
    return true;
}

void ChildProcess::release()
{
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
