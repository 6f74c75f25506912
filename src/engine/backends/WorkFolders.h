#pragma once

#include <string>

namespace zyl {

/// Where evaluations that run side by side keep their files: one folder per evaluation under
/// `root`, named by generation and individual.
struct WorkFolders {
    /// Absolute path of the folder that holds the evaluations' folders.
    std::string root;
    /// Absolute path of a folder copied into every evaluation's folder first; empty: none.
    std::string templateDir;
    /// Keep the folders of successful evaluations too (those of failures are always kept).
    bool keepAll = false;
};

/// The file in each evaluation's folder that receives the program's standard output and error.
inline constexpr const char* workLogName = "zyl-log.txt";

/// "zyl-log-2.txt": the log of attempt 2, kept beside the log of a later attempt.
std::string attemptLogName(int attempt);

/// Whether `name` (a name as input_name or output_name give it, taken inside an evaluation's
/// folder) is a file ZYL itself writes there: the log of the program (and of its earlier
/// attempts), or the exit status a scheduler's job leaves.
bool isOwnFileName(const std::string& name);

/// The folder, inside the work root, of one run's evaluations: "run-2026-05-01_12-30-05-TAG",
/// from the time the run started (UTC, as "2026-05-01T12:30:05Z") and a tag that tells it from
/// another run started in the same second ("pid4321" for a process, a run store's id), so
/// that a person can tell which run left which folders. Characters that have no place in a
/// file name become "_".
std::string runFolderName(const std::string& startedUtc, const std::string& tag);

/// "gen3-ind7": the folder of individual 7 of generation 3.
std::string workFolderName(int generation, int index);

/// Whether `name` has the form of workFolderName's names.
bool isWorkFolderName(const std::string& name);

/// root/workFolderName(generation, index).
std::string workFolderPath(const WorkFolders& folders, int generation, int index);

/// Checks what a batch needs before anything starts: the template is a folder that lies
/// outside the root and holds only what can be copied (files, folders, links), and the root
/// exists or can be created.
/// \throws Exception "Cannot find the template folder "X"", "Cannot copy the template folder
/// "X": reason" or "Cannot create the work folder "X": reason".
void checkWorkFolders(const WorkFolders& folders);

/// Makes `path` afresh for attempt `attempt` of its evaluation: whatever an earlier attempt left
/// there is removed but its logs, which are kept as attemptLogName; then the template is
/// copied in, each entry created new (links are copied as links, so the program may read what
/// they point to, and never followed). Returns an empty text, or why the folder could not be
/// made.
std::string prepareWorkFolder(const WorkFolders& folders, const std::string& path,
                              int attempt = 1);

/// After an evaluation: the folder of a success is removed unless every folder is kept.
/// Returns true when the folder stays.
bool settleWorkFolder(const WorkFolders& folders, const std::string& path, bool succeeded);

/// `name` taken inside `folder` (an absolute name stays as it is).
std::string pathInFolder(const std::string& folder, const std::string& name);

/// Creates the file `name` (a relative name without "..") inside `folder` as a new file:
/// whatever had that name (a file, a link from the template) is unlinked first, and no link
/// is followed on the way, so that nothing outside the folder is ever written through one.
/// Returns the descriptor (close-on-exec), or -1 with `why` set ("\"path\": reason").
int createFileInFolder(const std::string& folder, const std::string& name, bool append,
                       std::string& why);

/// createFileInFolder, then `text` written and the file closed. Returns an empty text, or why
/// it failed ("\"path\": reason").
std::string writeFileInFolder(const std::string& folder, const std::string& name,
                              const std::string& text);

/// Unlinks `name` inside `folder` (a stale output file, or a link the template brought),
/// following no link on the way. Returns an empty text when nothing is left by that name, else
/// "\"path\": reason".
std::string removeFileInFolder(const std::string& folder, const std::string& name);

/// A program name as ZYL resolves it, from the folder it runs in: a relative name is made
/// absolute (not looked up in PATH), so that a program started in another folder is the same
/// file. An empty name stays empty.
std::string absoluteProgramPath(const std::string& name);

/// Whether `inner` is `outer` or lies below it, by their names and by the folders they
/// resolve to.
bool pathWithin(const std::string& inner, const std::string& outer);

} // namespace zyl
