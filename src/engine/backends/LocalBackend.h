#pragma once

#include "engine/External.h"
#include "engine/backends/ChildProcess.h"
#include "engine/backends/ProgramBackend.h"
#include "engine/backends/WorkFolders.h"

#include <optional>
#include <string>
#include <vector>

namespace zyl {

struct LocalBackendOptions {
    /// The names as the script gives them, and external_timeout.
    ExternalProgram program;
    /// How many programs run at once (1 to 1024).
    int workers = 1;
    /// Absent: the program runs in ZYL's own folder with the names exactly as given, as a run
    /// without workers always did (the files are shared, so `workers` must be 1). Present:
    /// each evaluation runs in its own folder (see WorkFolders); the program starts there with
    /// the input and output names taken inside it, its own name resolved from ZYL's folder,
    /// and its standard output and error in the folder's "zyl-log.txt".
    std::optional<WorkFolders> folders;
    /// Words put before the program on its command line (srun and its options); the first is
    /// looked up in PATH. Empty: the program is started directly.
    std::vector<std::string> launcher;
};

/// Runs the program on this machine, up to `workers` at once, each in a process group of its
/// own; all waiting happens on the calling thread, without a thread per program. A timed-out
/// or cancelled program is killed with its whole group.
class LocalBackend : public ProgramBackend {
public:
    explicit LocalBackend(LocalBackendOptions options);

    void run(const std::vector<EvaluationRequest>& requests, const AttemptDone& done,
             const BatchControl& control, ProgressCounters& progress) override;

    const LocalBackendOptions& options() const { return m_options; }

protected:
    /// Extra launcher words for one attempt (a step name); none by default.
    virtual std::vector<std::string> launcherExtras(const EvaluationRequest& request) const;
    /// Where an attempt ran, once it has ended: "host NAME" by default.
    virtual std::string describeWhere(const std::string& workDir) const;
    /// Called once the batch has ended and every program is reaped (leftover scheduler state
    /// is cleared here).
    virtual void afterBatch(bool cancelled);
    /// Why an attempt that ended with `status` (not a success) failed: status.text() by
    /// default; a launcher may know better from the log in `workDir`.
    virtual std::string failureOf(const std::string& workDir, const ExitStatus& status) const;

private:
    struct Attempt;

    /// Returns why the batch could not go on (see start), or an empty text.
    std::string runAttempts(const std::vector<EvaluationRequest>& requests, const AttemptDone& done,
                            const BatchControl& control, ProgressCounters& progress);
    /// Makes the attempt's folder and files ready and starts the program.
    /// \throws Exception when the program could not be started at all: a folder or file that
    /// cannot be made, a program that cannot be executed. Such a failure is no value of the
    /// objective, so that no retry or failure_value hides it.
    Attempt start(const EvaluationRequest& request);
    /// \throws Exception "Cannot start the external program "X": reason" when the program is
    /// missing, a folder, or not executable.
    void checkProgram() const;
    AttemptOutcome finish(Attempt& attempt, const ExitStatus& status, bool timedOut) const;

    LocalBackendOptions m_options;
    /// The program's name as started: absolute when it runs in work folders.
    std::string m_programPath;
    std::string m_host;
};

} // namespace zyl
