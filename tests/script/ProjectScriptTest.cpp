#include "script/ProjectScript.h"

#include "common/Exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using namespace zyl;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

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

/// A fresh directory per test, removed afterwards.
class ScriptFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("zyl-script-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

// The script of a new default task, written the way the Initialise dialog writes it.
ProjectScript defaultTask()
{
    ProjectScript s;
    s.WriteString("PLOTS", "Convergence", "Average;CurrentMin");
    for (const char* key : {"statistic_history", "buffered", "population", "population_history",
                            "variables", "buffer_individuals"})
        s.WriteBool("SHOW", key, false);
    s.WriteInteger("POPULATION", "size", 20);
    s.WriteBool("FUNCTION", "analytical", true);
    s.WriteString("EQUATIONS", "f", "-5.*sin(x1)*sin(x2) - sin(5*x1)*sin(5*x2)");
    s.WriteString("VARIABLES", "x1", "real[0;3.1415]");
    s.WriteString("VARIABLES", "x2", "real[0;3.1415]");
    return s;
}

const char* const defaultTaskText = "[PLOTS]\r\nConvergence=Average;CurrentMin\r\n\r\n"
                                    "[SHOW]\r\nstatistic_history=0\r\nbuffered=0\r\n"
                                    "population=0\r\npopulation_history=0\r\nvariables=0\r\n"
                                    "buffer_individuals=0\r\n\r\n"
                                    "[POPULATION]\r\nsize=20\r\n\r\n"
                                    "[FUNCTION]\r\nanalytical=1\r\n\r\n"
                                    "[EQUATIONS]\r\nf=-5.*sin(x1)*sin(x2) - sin(5*x1)*sin(5*x2)\r\n"
                                    "\r\n"
                                    "[VARIABLES]\r\nx1=real[0;3.1415]\r\nx2=real[0;3.1415]\r\n\r\n";

} // namespace

TEST(ProjectScriptLexical, CommentsHeadersAndEntries)
{
    auto s = ProjectScript::fromText("\xEF\xBB\xBF" // a byte-order mark is skipped
                                     "stray=1\n"
                                     "[A]\r\n"
                                     "; a comment\r"
                                     "\n"
                                     "k=v=w\n"
                                     "no equals sign\n"
                                     " ;not=comment\n"
                                     "=empty key\n"
                                     "[B]x\n"
                                     "[]\n"
                                     "z=1");
    EXPECT_THAT(s.sectionNames(), ElementsAre("A", ""));
    EXPECT_EQ(s.ReadString("A", "k", "?"), "v=w"); // further "=" belong to the value
    EXPECT_THAT(s.ReadSection("A"), ElementsAre("k", "", " ;not", "", ""));
    EXPECT_EQ(s.ReadString("A", "", "???"), "empty key");
    EXPECT_EQ(s.ReadString("", "z", "?"), "1");
    EXPECT_EQ(s.ReadString("", "stray", "absent"), "absent"); // before any section

    // An entry without "=" has the empty key but no value: "x1" reads as the type "???".
    auto v = ProjectScript::fromText("[VARIABLES]\r\nx1\r\n");
    EXPECT_THAT(v.ReadSection("VARIABLES"), ElementsAre(""));
    EXPECT_TRUE(v.HasKey("VARIABLES", ""));
    EXPECT_EQ(v.ReadString("VARIABLES", "", "???"), "???");
}

TEST(ProjectScriptLexical, NamesIgnoreCaseAndTheFirstOneWins)
{
    auto s = ProjectScript::fromText("[population]\nSIZE=20\nsize=30\n[POPULATION]\nsize=40\n");
    EXPECT_EQ(s.ReadInteger("POPULATION", "size", -1), 20);
    EXPECT_TRUE(s.HasKey("Population", "Size"));
    EXPECT_FALSE(s.HasKey("POPULATION", "sizes"));
    // A write replaces the first entry's line, spelled as written now.
    s.WriteInteger("POPULATION", "Size", 50);
    EXPECT_EQ(s.text(),
              "[population]\r\nSize=50\r\nsize=30\r\n\r\n[POPULATION]\r\nsize=40\r\n\r\n");
}

TEST(ProjectScriptStrip, BlanksAndTabsVanishEverywhere)
{
    auto s = ProjectScript::fromText("[ SHOW ]\n"
                                     "\x01"
                                     "buffered = 1\x02\n"
                                     "\t\n"
                                     "[POPULATION]  \n"
                                     " size\t= 2 0 \n"
                                     "[EQUATIONS]\n"
                                     "f=-5.*sin(x1)*sin(x2) - sin(5*x1)*sin(5*x2)\n");
    // Before stripping the trailing blanks keep "[POPULATION]  " an ordinary line.
    EXPECT_THAT(s.sectionNames(), ElementsAre(" SHOW ", "EQUATIONS"));
    s.StripBlanks();
    EXPECT_THAT(s.sectionNames(), ElementsAre("SHOW", "POPULATION", "EQUATIONS"));
    EXPECT_TRUE(s.ReadBool("show", "buffered", false));
    EXPECT_THAT(s.ReadSection("SHOW"), ElementsAre("buffered"));
    EXPECT_EQ(s.ReadInteger("POPULATION", "size", -1), 20);
    EXPECT_EQ(s.ReadString("EQUATIONS", "f", ""), "-5.*sin(x1)*sin(x2)-sin(5*x1)*sin(5*x2)");

    // A blank before the very first header makes it an ordinary line before any section.
    auto hidden = ProjectScript::fromText(" [POPULATION]\nsize=20\n[SHOW]\nbuffered=1\n");
    hidden.StripBlanks();
    EXPECT_THAT(hidden.sectionNames(), ElementsAre("SHOW"));
}

TEST(ProjectScriptRead, TypedValuesAndTheirDefaults)
{
    auto s = ProjectScript::fromText("[T]\nint=-12\nhex=0x1F\nbad=12abc\nbool=true\none=1\n"
                                     "real=3.1415\nexp=1e-3\nempty=\ncomma=0,5\n"
                                     "huge=1e400\nbig=2147483648\n");
    EXPECT_EQ(s.ReadInteger("T", "int", 0), -12);
    EXPECT_EQ(s.ReadInteger("T", "hex", 0), 31);
    EXPECT_EQ(s.ReadInteger("T", "bad", 7), 7);
    EXPECT_EQ(s.ReadInteger("T", "big", 7), 7);
    EXPECT_EQ(s.ReadInteger("T", "absent", 100), 100);
    EXPECT_FALSE(s.ReadBool("T", "bool", false)); // a boolean must be an integer
    EXPECT_TRUE(s.ReadBool("T", "bool", true));
    EXPECT_TRUE(s.ReadBool("T", "one", false));
    EXPECT_DOUBLE_EQ(s.ReadFloat("T", "real", 0), 3.1415);
    EXPECT_DOUBLE_EQ(s.ReadFloat("T", "exp", 0), 0.001);
    EXPECT_DOUBLE_EQ(s.ReadFloat("T", "empty", 0.7), 0.7);
    EXPECT_DOUBLE_EQ(s.ReadFloat("T", "comma", 0.7), 0.7);
    EXPECT_DOUBLE_EQ(s.ReadFloat("T", "huge", 0.7), 0.7);
    EXPECT_EQ(s.ReadString("T", "empty", "default"), "");
    EXPECT_EQ(s.ReadString("X", "int", "default"), "default");
    EXPECT_THAT(s.ReadSection("X"), IsEmpty());
}

TEST(ProjectScriptWrite, DefaultTaskByteForByte)
{
    ProjectScript s = defaultTask();
    EXPECT_EQ(s.text(), defaultTaskText);

    // The Options dialog's first OK adds its sections behind, and one key to POPULATION.
    s.WriteBool("OPTIONS", "maximisation", false);
    s.WriteFloat("CROSSOVER", "probability", 0.7);
    s.WriteFloat("MUTATION", "probability", 0.15);
    s.WriteFloat("MUTATION", "uniformity_coeff", 2.0);
    s.WriteBool("POPULATION", "constatnt", true);
    std::string text = s.text();
    EXPECT_THAT(text, HasSubstr("[POPULATION]\r\nsize=20\r\nconstatnt=1\r\n\r\n[FUNCTION]"));
    EXPECT_THAT(text, HasSubstr("[VARIABLES]\r\nx1=real[0;3.1415]\r\nx2=real[0;3.1415]\r\n\r\n"
                                "[OPTIONS]\r\nmaximisation=0\r\n\r\n"
                                "[CROSSOVER]\r\nprobability=0.7\r\n\r\n"
                                "[MUTATION]\r\nprobability=0.15\r\nuniformity_coeff=2\r\n\r\n"));
}

TEST(ProjectScriptWrite, LinesThatWouldNotReadBackAreRefused)
{
    ProjectScript s = defaultTask();
    const std::string before = s.text();
    auto refused = [&](std::string_view section, std::string_view key, std::string_view value) {
        EXPECT_THROW(s.WriteString(section, key, value), Exception) << key << "=" << value;
    };
    refused("EQUATIONS", "f", "1\r\n[SHOW]");
    refused("EQUATIONS", "f", "1\n");
    refused("EQUATIONS", "a=b", "1");
    refused("EQUATIONS", ";f", "1");
    refused("EQUATIONS", "[f", "1]");
    refused("NEW\nSECTION", "f", "1");
    EXPECT_EQ(s.text(), before);
    // What is allowed reads back as written.
    s.WriteString("EQUATIONS", "g", "a==b");
    s.WriteString("EQUATIONS", "", "[x]");
    auto back = ProjectScript::fromText(s.text());
    EXPECT_EQ(back.ReadString("EQUATIONS", "g", ""), "a==b");
    EXPECT_EQ(back.ReadString("EQUATIONS", "", ""), "[x]");
}

TEST_F(ScriptFileTest, FileRoundTripIsByteExact)
{
    fs::path path = m_dir / "task.txt";
    ProjectScript s = defaultTask();
    s.SetFileName(path.string());
    s.UpdateFile();
    EXPECT_EQ(slurp(path), defaultTaskText);

    // Read and stripped, then saved unchanged: the lines stay as the file had them.
    ProjectScript loaded(path.string());
    loaded.StripBlanks();
    EXPECT_EQ(loaded.fileName(), path.string());
    loaded.UpdateFile();
    EXPECT_EQ(slurp(path), defaultTaskText);
    // Nothing is left beside the file.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);

    // Blanks inside values and 8-bit names survive a round trip untouched.
    s.WriteString("EXPORT", "Column 1", " spaced value ");
    s.WriteString("VARIABLES", "\xC5\xBC", "integer[1;10]");
    s.UpdateFile();
    ProjectScript again(path.string());
    again.UpdateFile();
    EXPECT_EQ(slurp(path), s.text());
}

TEST(ProjectScriptSave, NotesAndUnchangedLinesStayWhereTheyWere)
{
    const std::string file = "\xEF\xBB\xBFwritten by hand\n"
                             "; tuned by hand\n"
                             "[ FUNCTION ]\n"
                             "analytical = 1\n"
                             "\n"
                             "; the objective\n"
                             "[EQUATIONS]\n"
                             "f = x1^2 + x2^2\n"
                             "[VARIABLES]\n"
                             "x1 = real[-1;1]\n"
                             "  \n"
                             "[POPULATION]\n"
                             "size = 20\n";
    ProjectScript s = ProjectScript::fromText(file);
    s.StripBlanks();
    EXPECT_EQ(s.fileText(), file);

    // The same value over an entry keeps its line; a new value replaces it in place; a new
    // key follows its section's last entry, a new section comes last.
    s.WriteInteger("POPULATION", "size", 20);
    s.WriteString("EQUATIONS", "f", "x1^2");
    s.WriteBool("POPULATION", "constatnt", true);
    s.WriteBool("OPTIONS", "maximisation", false);
    std::string expected = file;
    expected.replace(expected.find("f = x1^2 + x2^2"), 15, "f=x1^2");
    expected += "constatnt=1\n\n[OPTIONS]\nmaximisation=0\n\n";
    EXPECT_EQ(s.fileText(), expected);
    EXPECT_EQ(s.text(), "[FUNCTION]\r\nanalytical=1\r\n\r\n[EQUATIONS]\r\nf=x1^2\r\n\r\n"
                        "[VARIABLES]\r\nx1=real[-1;1]\r\n\r\n[POPULATION]\r\nsize=20\r\n"
                        "constatnt=1\r\n\r\n[OPTIONS]\r\nmaximisation=0\r\n\r\n");
}

TEST_F(ScriptFileTest, MissingFilesAndFailuresAreReported)
{
    ProjectScript missing((m_dir / "none.txt").string()); // not an error: an empty script
    EXPECT_THAT(missing.sectionNames(), IsEmpty());
    EXPECT_THAT([&] { ProjectScript dir(m_dir.string()); },
                ::testing::ThrowsMessage<Exception>(HasSubstr("it is a directory")));
    ProjectScript s = defaultTask();
    EXPECT_THAT([&] { s.UpdateFile(); },
                ::testing::ThrowsMessage<Exception>(HasSubstr("no file name")));
    s.SetFileName((m_dir / "missing-dir" / "task.txt").string());
    EXPECT_THAT([&] { s.UpdateFile(); },
                ::testing::ThrowsMessage<Exception>(HasSubstr("missing-dir")));
}

TEST_F(ScriptFileTest, FailedSaveLeavesTheOldFileIntact)
{
    fs::path path = m_dir / "task.txt";
    spit(path, "[OLD]\r\nkept=1\r\n\r\n");
    ProjectScript s = defaultTask();
    for (int i = 0; i < 200; ++i)
        s.WriteInteger("BIG", "key" + std::to_string(i), i);
    s.SetFileName(path.string());

    // A file-size limit makes the write fail half-way, even for a privileged user; the signal
    // it raises is ignored so that the write reports the error instead.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 512;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        s.UpdateFile();
    } catch (const Exception& e) {
        threw = true;
        EXPECT_THAT(e.what(), HasSubstr(path.string()));
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_TRUE(threw);
    EXPECT_EQ(slurp(path), "[OLD]\r\nkept=1\r\n\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
    s.UpdateFile(); // and with room enough it goes through
    EXPECT_EQ(slurp(path), s.text());
}

TEST_F(ScriptFileTest, SaveThroughALinkReplacesTheLinkedFile)
{
    fs::path real = m_dir / "real.txt";
    fs::path link = m_dir / "link.txt";
    spit(real, "[OLD]\r\n");
    fs::create_symlink(real, link);
    ProjectScript s = defaultTask();
    s.SetFileName(link.string());
    s.UpdateFile();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(slurp(real), defaultTaskText);
}

namespace {

/// glibc keeps the LOCPATH list that setlocale parses for the rest of the process; the leak
/// checker must not blame the test for it.
struct LibcLocaleAllocations {
#if defined(__SANITIZE_ADDRESS__)
    LibcLocaleAllocations() { __lsan_disable(); }
    ~LibcLocaleAllocations() { __lsan_enable(); }
#endif
};

/// Switches the process to a locale whose decimal separator is a comma, generating one in a
/// private directory when none is installed and the system can build one.
class CommaLocaleTest : public ScriptFileTest {
protected:
    void SetUp() override
    {
        ScriptFileTest::SetUp();
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE", "fr_FR",
                                 "ru_RU.UTF-8", "pl_PL.UTF-8"})
            if (tryLocale(name))
                return;
        fs::path dir = fs::temp_directory_path() / "zyl-test-locales";
        std::string command =
            "localedef -i de_DE -f ISO-8859-1 '" + (dir / "de_DE").string() + "' >/dev/null 2>&1";
        fs::create_directories(dir);
        if ((fs::exists(dir / "de_DE" / "LC_NUMERIC") || std::system(command.c_str()) == 0)) {
            ::setenv("LOCPATH", dir.c_str(), 1);
            m_setLocPath = true;
            if (tryLocale("de_DE"))
                return;
        }
        GTEST_SKIP() << "no locale with a decimal comma can be found or generated";
    }
    void TearDown() override
    {
        [[maybe_unused]] LibcLocaleAllocations ignored;
        std::setlocale(LC_ALL, "C");
        std::locale::global(std::locale::classic());
        if (m_setLocPath)
            ::unsetenv("LOCPATH");
        ScriptFileTest::TearDown();
    }

private:
    bool tryLocale(const char* name)
    {
        [[maybe_unused]] LibcLocaleAllocations ignored;
        if (!std::setlocale(LC_ALL, name))
            return false;
        if (std::localeconv()->decimal_point[0] != ',') {
            std::setlocale(LC_ALL, "C");
            return false;
        }
        try {
            std::locale::global(std::locale(name));
        } catch (const std::exception&) {
            // The C locale alone is what most conversions consult.
        }
        return true;
    }
    bool m_setLocPath = false;
};

} // namespace

TEST_F(CommaLocaleTest, NumbersUseThePointWhateverTheLocale)
{
    ASSERT_EQ(std::localeconv()->decimal_point[0], ',');
    auto s = ProjectScript::fromText("[CROSSOVER]\nprobability=0.25\ncomma=0,5\n");
    EXPECT_DOUBLE_EQ(s.ReadFloat("CROSSOVER", "probability", 0.7), 0.25);
    EXPECT_DOUBLE_EQ(s.ReadFloat("CROSSOVER", "comma", 0.7), 0.7);
    s.WriteFloat("MUTATION", "probability", 0.15);
    s.WriteFloat("MUTATION", "uniformity_coeff", 2.5);
    EXPECT_EQ(s.ReadString("MUTATION", "probability", ""), "0.15");
    EXPECT_EQ(s.ReadString("MUTATION", "uniformity_coeff", ""), "2.5");

    fs::path path = m_dir / "task.txt";
    s.SetFileName(path.string());
    s.UpdateFile();
    ProjectScript back(path.string());
    EXPECT_EQ(back.text(), s.text());
    EXPECT_DOUBLE_EQ(back.ReadFloat("MUTATION", "uniformity_coeff", 0), 2.5);
}
