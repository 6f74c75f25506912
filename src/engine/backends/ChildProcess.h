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
