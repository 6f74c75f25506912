#include "store/Restore.h"

#include "store/StoreSupport.h"

#include <gtest/gtest.h>

#include <optional>

using namespace zyl;
using namespace zyl::test;

TEST(Restore, AResumeReplacesOnlyAnExportFileThatIsTheRunsOwn)
{
    struct Case {
        const char* name;
        bool append;
        std::vector<std::string> recorded; // each stored generation's export bytes
        const char* folder;                // where the run started, "" when unknown
        std::optional<std::string> file;   // the file as the resume finds it
        std::optional<std::string> after;  // what it holds afterwards; none: refused
    };
    const std::vector<std::string> rows = {"min\t\n1\t\n", "2\t\n"};
    const std::vector<std::string> files = {"min\t\n1\t\n", "min\t\n2\t\n"};
    // In append mode the file held "old\n" (4 bytes) before the run.
    const std::vector<Case> cases = {
        {"rows a kill kept from the store", true, rows, "/r", "old\nmin\t\n1\t\n2\t\n3\t\n",
         "old\nmin\t\n1\t\n2\t\n"},
        {"as recorded", true, rows, "/r", "old\nmin\t\n1\t\n2\t\n", "old\nmin\t\n1\t\n2\t\n"},
        {"missing", true, rows, "/r", std::nullopt, "min\t\n1\t\n2\t\n"},
        {"empty", true, rows, "/r", "", "min\t\n1\t\n2\t\n"},
        {"another run's rows", true, rows, "/r", "old\nmin\t\n7\t\n8\t\n", std::nullopt},
        {"shorter than before the run", true, {}, "/r", "ol", std::nullopt},
        {"nothing recorded, in its folder", true, {}, "/r", "old\nmin\t\n1\t\n", "old\n"},
        {"nothing recorded, folder unknown", true, {}, "", "old\nmin\t\n1\t\n", std::nullopt},
        {"nothing after the run, folder unknown", true, {}, "", "old\n", "old\n"},
        {"a later generation's file", false, files, "/r", "min\t\n3\t\n", "min\t\n2\t\n"},
        {"the recorded file", false, files, "", "min\t\n2\t\n", "min\t\n2\t\n"},
        {"another header", false, files, "/r", "max\t\n3\t\n", std::nullopt},
        {"more than a row", false, files, "/r", "min\t\nthesis\nchapter 1\n", std::nullopt},
        {"nothing recorded in overwrite mode", false, {}, "", "anything", "anything"},
    };
    TempDir dir;
    const std::string name = dir / "progress.tsv";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StoredRun stored;
        stored.header.exportName = name;
        stored.header.exportEveryIteration = c.append;
        stored.header.exportBase = c.append ? 4 : 0;
        stored.header.folder = c.folder;
        for (std::size_t g = 0; g < c.recorded.size(); ++g) {
            GenerationRecord record;
            record.generation = static_cast<int>(g) + 1;
            record.exportText = c.recorded[g];
            stored.generations.push_back(record);
        }
        fs::remove(name);
        if (c.file)
            writeFile(name, *c.file);
        try {
            const ExportRepair repair = planExportRepair(stored, "run.zyl");
            repairExportFile(repair);
            ASSERT_TRUE(c.after.has_value()) << "not refused";
            EXPECT_EQ(fileBytes(name), *c.after);
            EXPECT_EQ(repair.size, static_cast<std::int64_t>(c.after->size()));
        } catch (const Exception& error) {
            ASSERT_FALSE(c.after.has_value()) << error.what();
            EXPECT_EQ(std::string(error.what()),
                      "The export file \"" + name +
                          "\" holds something else than what the run store \"run.zyl\" "
                          "recorded for it: it is left as it is. Move it away to resume the "
                          "run.");
            EXPECT_EQ(fileBytes(name), *c.file);
        }
    }
}
