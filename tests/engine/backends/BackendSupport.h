#pragma once

#include "engine/backends/BatchEvaluator.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zyl::test {

namespace fs = std::filesystem;

/// A scratch folder with executable sh scripts, removed afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "zyl-backend-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    /// Writes an executable sh script; $D in `body` is the scratch folder.
    std::string script(const std::string& name, const std::string& body) const
    {
        fs::path path = dir / name;
        std::ofstream(path) << "#!/bin/sh\nD='" << dir.string() << "'\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    }

    static std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir;
};

/// The objective most tests use: a * a + b of the input line "a b ", reading its input and
/// writing its output by the names it is given, relative to where it starts.
inline const char* squarePlus = "read a b < \"$1\"; echo $((a * a + b)) > \"$2\"";

/// Requests for individuals 0..n-1 of `generation`, whose lines are "k k+1 " (value k*k+k+1).
inline std::vector<EvaluationRequest> requestsFor(int n, int generation = 1)
{
    std::vector<EvaluationRequest> requests;
    for (int k = 0; k < n; ++k)
        requests.push_back({generation, k, std::to_string(k) + " " + std::to_string(k + 1) + " "});
    return requests;
}

/// Whether process `pid` exists and is not a zombie.
inline bool processRunning(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string state;
    fields >> state;
    return state != "Z";
}

/// Whether any live (not zombie) process belongs to process group `group`.
inline bool groupAlive(int group)
{
    DIR* proc = ::opendir("/proc");
    bool alive = false;
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // After "pid (name) ": state, ppid, pgrp. The name may hold blanks, so skip to ')'.
        std::istringstream fields(line.substr(line.rfind(')') + 1));
        std::string state;
        int ppid = 0, pgrp = 0;
        fields >> state >> ppid >> pgrp;
        if (pgrp == group && state != "Z")
            alive = true;
    }
    if (proc)
        ::closedir(proc);
    return alive;
}

/// Whether process group `group` has no live process within two seconds: a killed process
/// takes a moment to leave the table on a loaded machine.
inline bool groupEnds(int group)
{
    for (int i = 0; i < 200 && groupAlive(group); ++i)
        ::usleep(10000);
    return !groupAlive(group);
}

} // namespace zyl::test
