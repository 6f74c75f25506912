#include "engine/Export.h"

#include "common/Exception.h"
#include "engine/Statistics.h"
#include "engine/Zyl.h"
#include "expr/Statement.h"
#include "script/ProjectScript.h"
#include "support/EngineHelpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

using namespace zyl;
using namespace zyl::test;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const fs::path& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> directoryEntries(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

/// A task of two real variables and four individuals, a symbol table as a loaded project has
/// it, and a fresh directory for the export file, removed afterwards.
class ExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("zyl-export-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_file = m_dir / "export.txt";

        m_zyl = makeZyl(4, "ff", m_rng);
        for (int i = 0; i < 4; ++i)
            setValues(m_zyl->population[i], {10.0 + i, 20.0 + i});
        m_table.registerBuiltinSymbols();
        for (const char* name :
             {"GlobalMinIndiv", "GlobalMaxIndiv", "CurrentMinIndiv", "CurrentMaxIndiv"})
            m_table.pushBack(makeSymbolFromStatement("{3,3}", name, false, m_table));

        m_script.WriteString("EXPORT_NAMES", "export_name", m_file.string());
    }
    void TearDown() override { fs::remove_all(m_dir); }

    /// One generation as the run does it: values, statistics, publication, export, then the
    /// generation counter advances (also when the export failed).
    void step(const std::vector<double>& objective, bool everyIteration)
    {
        for (std::size_t i = 0; i < objective.size(); ++i) {
            m_zyl->population[i].value = objective[i];
            m_zyl->population[i].evaluated = true;
        }
        computeStatistics(*m_zyl);
        publishStatistics(*m_zyl, m_table);
        struct Advance {
            ZYL& zyl;
            ~Advance() { ++zyl.generation; }
        } advance{*m_zyl};
        exportStatistics(*m_zyl, m_script, m_table, everyIteration);
    }

    void columns(std::initializer_list<std::pair<const char*, const char*>> keys)
    {
        for (const auto& [key, value] : keys)
            m_script.WriteString("EXPORT", key, value);
    }

    fs::path m_dir, m_file;
    LcgRng m_rng{5};
    std::unique_ptr<ZYL> m_zyl;
    SymbolTable m_table;
    ProjectScript m_script;
};

} // namespace

TEST_F(ExportTest, AppendModeWritesTheHeaderOnceAndOneRowPerGeneration)
{
    columns({{"avg", "Average"}, {"best", "GlobalMin"}});
    step({3, 1, 4, 2}, true);
    EXPECT_EQ(slurp(m_file), "avg\tbest\t\n2.5\t1\t\n");
    step({0.5, 7, 7, 7}, true);
    EXPECT_EQ(slurp(m_file), "avg\tbest\t\n2.5\t1\t\n5.375\t0.5\t\n");
}

TEST_F(ExportTest, AppendModeAddsToAnExistingFileAndASecondRunHasNoHeader)
{
    columns({{"avg", "Average"}});
    spit(m_file, "earlier\t\n");
    step({3, 1, 4, 2}, true);
    EXPECT_EQ(slurp(m_file), "earlier\t\navg\t\n2.5\t\n");
    // A second Run of the same task: generation is no longer 0.
    m_zyl->generation = 5;
    step({1, 1, 1, 1}, true);
    EXPECT_EQ(slurp(m_file), "earlier\t\navg\t\n2.5\t\n1\t\n");
}

TEST_F(ExportTest, OverwriteModeHoldsTheHeaderAndTheLatestRow)
{
    columns({{"avg", "Average"}, {"best", "GlobalMin"}});
    spit(m_file, std::string(500, 'x') + "\n"); // longer than what is written: no remnants
    step({3, 1, 4, 2}, false);
    EXPECT_EQ(slurp(m_file), "avg\tbest\t\n2.5\t1\t\n");
    step({0.5, 7, 7, 7}, false);
    EXPECT_EQ(slurp(m_file), "avg\tbest\t\n5.375\t0.5\t\n");
    m_zyl->generation = 20;
    step({9, 9, 9, 9}, false);
    EXPECT_EQ(slurp(m_file), "avg\tbest\t\n9\t0.5\t\n");
    // Only the file itself: the temporary file was renamed over it.
    EXPECT_EQ(directoryEntries(m_dir), std::vector<std::string>{"export.txt"});
}

TEST_F(ExportTest, OverwriteModeReplacesTheFileALinkPointsTo)
{
    columns({{"avg", "Average"}});
    const fs::path target = m_dir / "real.txt";
    spit(target, "old");
    fs::create_symlink(target, m_file);
    step({3, 1, 4, 2}, false);
    EXPECT_TRUE(fs::is_symlink(m_file));
    EXPECT_EQ(slurp(target), "avg\t\n2.5\t\n");
}

TEST_F(ExportTest, ColumnsNameSymbolsVectorsOrExpressions)
{
    m_table.pushBack(makeSymbolFromValue(5, 0, "k", false));
    m_table.pushBack(makeSymbolFromStatement("{{1,2},{3,4}}", "m", false, m_table));
    columns({{"vec", "CurrentMinIndiv"},
             {"span", "GlobalMax-GlobalMin"},
             {"double", "Average*2"},
             {"complex", "Average+2*I"},
             {"user", "k"},
             {"matrix", "m"},
             {"third", "1/3"},
             {"inline", "{Q1,Q3}"}});
    step({3, 1, 4, 2}, true);
    EXPECT_EQ(slurp(m_file), "vec\tspan\tdouble\tcomplex\tuser\tmatrix\tthird\tinline\t\n"
                             "{11,21}\t3\t5\t2.5\t5\t{{1,2},{3,4}}\t0.333333\t{1,3}\t\n");
    EXPECT_EQ(exportColumnText("GlobalMaxIndiv", m_table), "{12,22}");
}

TEST_F(ExportTest, EmptyExportNameTouchesNoFile)
{
    m_script.WriteString("EXPORT_NAMES", "export_name", "");
    columns({{"bad", "nosuch+"}});
    EXPECT_NO_THROW(step({3, 1, 4, 2}, true));
    EXPECT_NO_THROW(step({3, 1, 4, 2}, false));
    EXPECT_TRUE(directoryEntries(m_dir).empty());
}

TEST_F(ExportTest, EmptyExportSectionWritesEmptyLines)
{
    step({3, 1, 4, 2}, true);
    EXPECT_EQ(slurp(m_file), "\n\n");
    step({3, 1, 4, 2}, true);
    EXPECT_EQ(slurp(m_file), "\n\n\n");

    fs::remove(m_file);
    step({3, 1, 4, 2}, false);
    EXPECT_EQ(slurp(m_file), "\n\n");
}

TEST_F(ExportTest, AFailingColumnWritesNoPartOfItsRow)
{
    columns({{"a", "Average"}, {"b", "nosuch+"}, {"c", "GlobalMin"}});
    EXPECT_THAT(
        [&] {
            step({3, 1, 4, 2}, true);
        },
        ThrowsMessage<Exception>(StrEq("Syntax error!")));
    EXPECT_EQ(slurp(m_file), "a\tb\tc\t\n"); // the header of generation 0, no partial row
    EXPECT_THAT(
        [&] {
            step({3, 1, 4, 2}, true);
        },
        ThrowsMessage<Exception>(StrEq("Syntax error!")));
    EXPECT_EQ(slurp(m_file), "a\tb\tc\t\n");

    // An unknown name that is a valid expression fails in the numeric evaluation.
    m_script.WriteString("EXPORT", "b", "nosuch");
    EXPECT_THAT(
        [&] {
            step({3, 1, 4, 2}, true);
        },
        ThrowsMessage<Exception>(StrEq("Unknown variable: nosuch")));

    // The script is read at every call: once mended, rows follow on lines of their own.
    m_script.WriteString("EXPORT", "b", "Q2");
    step({3, 1, 4, 2}, true);
    EXPECT_EQ(slurp(m_file), "a\tb\tc\t\n2.5\t2\t1\t\n");
}

TEST_F(ExportTest, AFailingColumnLeavesTheOverwrittenFileAsItWas)
{
    columns({{"a", "Average"}});
    step({3, 1, 4, 2}, false);
    m_script.WriteString("EXPORT", "b", "1/0");
    EXPECT_THAT([&] { step({5, 5, 5, 5}, false); }, ThrowsMessage<Exception>(StrEq("SING ")));
    EXPECT_EQ(slurp(m_file), "a\t\n2.5\t\n");
    EXPECT_EQ(directoryEntries(m_dir), std::vector<std::string>{"export.txt"});
}

TEST_F(ExportTest, AFileThatCannotBeWrittenIsReported)
{
    columns({{"avg", "Average"}});
    const fs::path missing = m_dir / "no-such-folder" / "export.txt";
    m_script.WriteString("EXPORT_NAMES", "export_name", missing.string());
    const std::string noFolder =
        "Cannot write the export file \"" + missing.string() + "\": No such file or directory";
    EXPECT_THAT([&] { step({3, 1, 4, 2}, true); }, ThrowsMessage<Exception>(StrEq(noFolder)));
    EXPECT_THAT([&] { step({3, 1, 4, 2}, false); }, ThrowsMessage<Exception>(StrEq(noFolder)));
    // With a failing column too: append mode names the file, overwrite mode the column.
    m_script.WriteString("EXPORT", "bad", "nosuch+");
    EXPECT_THAT([&] { step({3, 1, 4, 2}, true); }, ThrowsMessage<Exception>(StrEq(noFolder)));
    EXPECT_THAT(
        [&] {
            step({3, 1, 4, 2}, false);
        },
        ThrowsMessage<Exception>(StrEq("Syntax error!")));
    m_script = ProjectScript();
    columns({{"avg", "Average"}});

    // The file name is a folder.
    m_script.WriteString("EXPORT_NAMES", "export_name", m_dir.string());
    EXPECT_THAT(
        [&] {
            step({3, 1, 4, 2}, true);
        },
        ThrowsMessage<Exception>(
            StrEq("Cannot write the export file \"" + m_dir.string() + "\": Is a directory")));
    EXPECT_THAT(
        [&] {
            step({3, 1, 4, 2}, false);
        },
        ThrowsMessage<Exception>(
            StrEq("Cannot write the export file \"" + m_dir.string() + "\": it is a directory")));
    EXPECT_TRUE(directoryEntries(m_dir).empty());
}

TEST_F(ExportTest, AnAppendThatDoesNotFitIsCutBackToTheRowsBeforeIt)
{
    columns({{"a", "Average"}, {"sd", "StdDev"}});
    step({3, 1, 4, 2}, true);
    const std::string whole = slurp(m_file);
    // A full disk, as a limit on the size of files makes one: the row fits only in part.
    rlimit was{};
    getrlimit(RLIMIT_FSIZE, &was);
    rlimit full = was;
    full.rlim_cur = whole.size() + 4;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &full);
    std::string message;
    try {
        step({5, 6, 7, 8}, true);
    } catch (const Exception& error) {
        message = error.what();
    }
    setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(message, "Cannot write the export file \"" + m_file.string() + "\": File too large");
    EXPECT_EQ(slurp(m_file), whole);
    step({5, 6, 7, 8}, true);
    EXPECT_EQ(slurp(m_file).substr(whole.size()), "6.5\t1.11803\t\n");
}

TEST_F(ExportTest, AnExportFileThatIsOneOfTheRunsOwnFilesIsRefused)
{
    spit(m_dir / "task.txt", "[FUNCTION]\n");
    spit(m_dir / "obj.sh", "#!/bin/sh\n");
    fs::create_hard_link(m_dir / "task.txt", m_dir / "linked.txt");
    fs::create_symlink(m_dir / "obj.sh", m_dir / "obj-link");
    const std::vector<RunFile> own = {{"run store", (m_dir / "run.zyl").string()},
                                      {"script", (m_dir / "task.txt").string()},
                                      {"program", (m_dir / "obj.sh").string()}};
    auto refusal = [&](const fs::path& exportName) {
        try {
            refuseExportOnto(exportName.string(), own);
        } catch (const Exception& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    // The store does not exist yet: the same path, however it is written.
    EXPECT_EQ(refusal(m_dir / "sub" / ".." / "run.zyl"),
              "The export file \"" + (m_dir / "sub" / ".." / "run.zyl").string() +
                  "\" is the run store \"" + (m_dir / "run.zyl").string() +
                  "\": choose another export_name.");
    EXPECT_NE(refusal(m_dir / "linked.txt").find("is the script"), std::string::npos);
    EXPECT_NE(refusal(m_dir / "obj-link").find("is the program"), std::string::npos);
    EXPECT_EQ(refusal(m_dir / "export.txt"), "");
    EXPECT_NO_THROW(refuseExportOnto("", own));
}
