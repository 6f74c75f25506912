#pragma once

#include <csignal>
#include <string>
#include <vector>

#include <sys/types.h>

namespace zyl {

/// How to start one program.
struct Launch {
    /// argv; argv[0] is also the file started.
    std::vector<std::string> argv;
    /// Look argv[0] up in PATH (scheduler commands). The objective program never is: its name is
    /// taken from the current folder like the data files.
    bool searchPath = false;
    /// Folder the program starts in; empty: ours.
    std::string workDir;
    /// File that receives the program's standard output and error (created or truncated);
    /// empty: they stay ours.
    std::string logFile;
    /// What the program gets when ZYL dies without ending it (kill -9, a crash): SIGKILL, or
    /// SIGTERM for a launcher such as srun that must tell its scheduler before it goes. A
    /// moment later whatever is left of its process group is killed outright.
    int deathSignal = SIGKILL;
};

/// How a program ended.
struct ExitStatus {
    bool exited = false; ///< ended by exit(); `code` holds the exit code
    int code = 0;
    int signal = 0; ///< the signal that ended it, when not `exited`

    bool succeeded() const { return exited && code == 0; }
    /// "exit code 3", "killed by signal 9 (Killed)".
    std::string text() const;
};

/// A started program in a process group of its own, with default signal dispositions, an
/// empty signal mask, standard input from /dev/null and none of our other descriptors.
/// Owning: destroying a running ChildProcess kills its group and reaps it, so that no
/// program outlives the object that started it.
///
/// Nor does any outlive ZYL: the program has a parent-death signal (Launch::deathSignal), and
/// a small watchdog process, forked once, ends the process groups of every program still
/// running when ZYL is gone, so that what a program started dies too. The death signal
/// follows the thread that started the program: start a program only on a thread that
/// lives at least as long as the ChildProcess (every backend waits for its programs on the
/// thread that started them).
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    /// Starts the program; false (and nothing running) when it cannot start: missing, not
    /// executable, a script without "#!", a folder or log file that cannot be used.
    /// `stdoutFd` and `stderrFd`, when not -1, become its standard output and error (the pipes
    /// of a captured command); they take precedence over launch.logFile.
    bool start(const Launch& launch, int stdoutFd = -1, int stderrFd = -1);
    /// Why the last start() failed (an errno value), or 0.
    int startError() const { return m_startError; }

    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    /// A descriptor that becomes readable when the program ends (a pidfd), or -1 on kernels
    /// without them; then poll with tryReap.
    int waitFd() const { return m_pidfd; }

    /// Reaps the program if it has ended. True once it has, with `status` filled.
    bool tryReap(ExitStatus& status);
    /// Blocks until the program has ended.
    ExitStatus wait();
    /// Kills the whole group at once (SIGKILL) and reaps the program.
    void kill();
    /// Sends `signal` to the whole group without waiting.
    void signalGroup(int signal) const;

private:
    void release();

    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_startError = 0;
};

/// A program's standard error passed on to ours as it comes, its last part kept for the
/// message of a failure: a program that fails says why there, and the user of a window never
/// sees our standard error.
class ErrorEcho {
public:
    ErrorEcho() = default;
    ErrorEcho(ErrorEcho&& other) noexcept;
    ErrorEcho& operator=(ErrorEcho&& other) noexcept;
    ErrorEcho(const ErrorEcho&) = delete;
    ErrorEcho& operator=(const ErrorEcho&) = delete;
    ~ErrorEcho();

    /// The descriptor the program writes into (for ChildProcess::start), made at the first
    /// call; -1 when no pipe can be made, and the program then writes to ours directly.
    int programEnd();
    /// Once the program has started: only the program holds its end now.
    void started();
    /// Passes on what has come, without waiting: a standard error that nobody reads holds up
    /// the program, as it would have without us, but never ZYL.
    void pass();
    /// After the program has ended: what is left passed on (for a second at most), the pipe
    /// closed.
    void finish();
    /// What the program wrote last: at most the last 64 KiB.
    const std::string& kept() const { return m_kept; }

private:
    void close();

    int m_read = -1;
    int m_write = -1;
    std::string m_pending;
    std::string m_kept;
};

/// Waits until one of `children` may have ended, `timeoutMs` has passed, or a signal arrived.
/// With pidfds this sleeps in poll(); without them it naps briefly.
void waitForAny(const std::vector<const ChildProcess*>& children, int timeoutMs);

/// What a scheduler command said.
struct CommandResult {
    bool started = false;
    bool timedOut = false;
    ExitStatus status;
    std::string out;
    std::string err;

    bool succeeded() const { return started && !timedOut && status.succeeded(); }
    /// The first line of the error output, or how it ended: for messages.
    std::string failureText() const;
};

/// Runs a command to its end, found in PATH, with its output captured; killed after
/// `timeoutSeconds`. No shell is involved, so arguments reach it literally.
CommandResult runCommand(const std::vector<std::string>& argv, double timeoutSeconds = 60);

} // namespace zyl
