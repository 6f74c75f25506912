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

/// "gen3-ind7": the folder of individual 7 of generation 3.
std::string workFolderName(int generation, int index);

/// root/workFolderName(generation, index).
std::string workFolderPath(const WorkFolders& folders, int generation, int index);

/// Checks what a batch needs before anything starts: the template is a folder and the root
/// exists or can be created.
/// \throws Exception "Cannot find the template folder "X"" or
/// "Cannot create the work folder "X": reason".
void checkWorkFolders(const WorkFolders& folders);

/// Makes `path` afresh: whatever an earlier run or a failed attempt left there is removed, then
/// the template is copied in. Returns an empty text, or why the folder could not be made.
std::string prepareWorkFolder(const WorkFolders& folders, const std::string& path);

/// After an evaluation: the folder of a success is removed unless every folder is kept.
/// Returns true when the folder stays.
bool settleWorkFolder(const WorkFolders& folders, const std::string& path, bool succeeded);

/// `name` taken inside `folder` (an absolute name stays as it is).
std::string pathInFolder(const std::string& folder, const std::string& name);

/// A program name as ZYL resolves it, from the folder it runs in: a relative name is made
/// absolute (not looked up in PATH), so that a program started in another folder is the same
/// file. An empty name stays empty.
std::string absoluteProgramPath(const std::string& name);

} // namespace zyl
