#include "engine/backends/WorkFolders.h"

#include "common/Exception.h"

#include <filesystem>
#include <system_error>

namespace zyl {

namespace fs = std::filesystem;

std::string workFolderName(int generation, int index)
{
    return "gen" + std::to_string(generation) + "-ind" + std::to_string(index);
}

std::string workFolderPath(const WorkFolders& folders, int generation, int index)
{
    return (fs::path(folders.root) / workFolderName(generation, index)).string();
}

void checkWorkFolders(const WorkFolders& folders)
{
    std::error_code error;
    if (!folders.templateDir.empty() && !fs::is_directory(folders.templateDir, error))
        throw Exception("Cannot find the template folder \"" + folders.templateDir + "\"");
    fs::create_directories(folders.root, error);
    if (error || !fs::is_directory(folders.root))
        throw Exception("Cannot create the work folder \"" + folders.root +
                        "\": " + (error ? error.message() : "it is not a folder"));
}

std::string prepareWorkFolder(const WorkFolders& folders, const std::string& path)
{
    std::error_code error;
    fs::remove_all(path, error);
    if (error)
        return "cannot clear the work folder: " + error.message();
    if (!fs::create_directories(path, error) || error)
        return "cannot create the work folder: " + error.message();
    if (!folders.templateDir.empty()) {
        fs::copy(folders.templateDir, path,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
        if (error)
            return "cannot copy the template folder: " + error.message();
    }
    return "";
}

bool settleWorkFolder(const WorkFolders& folders, const std::string& path, bool succeeded)
{
    if (!succeeded || folders.keepAll)
        return true;
    std::error_code error;
    fs::remove_all(path, error);
    return fs::exists(path, error);
}

std::string pathInFolder(const std::string& folder, const std::string& name)
{
    return (fs::path(folder) / name).string();
}

std::string absoluteProgramPath(const std::string& name)
{
    if (name.empty())
        return name;
    std::error_code error;
    fs::path absolute = fs::absolute(name, error);
    return error ? name : absolute.lexically_normal().string();
}

} // namespace zyl
