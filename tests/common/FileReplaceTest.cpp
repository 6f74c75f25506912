#include "common/FileReplace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace zyl;

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct stat lstatOf(const fs::path& path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

/// A fresh folder per test, removed afterwards.
class FileReplace : public ::testing::Test {
  protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("zyl-replace-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
};

} // namespace

TEST_F(FileReplace, RegularAndMissingFilesAreReplacedWhole)
{
    const fs::path file = dir / "a.tsv";
    std::ofstream(file) << std::string(100, 'x');
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(replaceFileContent(file.string(), "new\n"), std::nullopt);
    EXPECT_EQ(slurp(file), "new\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    EXPECT_EQ(replaceFileContent((dir / "b.tsv").string(), "made"), std::nullopt);
    EXPECT_EQ(slurp(dir / "b.tsv"), "made");
    // Nothing but the two files: no temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

    EXPECT_EQ(replaceFileContent(dir.string(), "x"), "it is a directory");
    EXPECT_EQ(replaceFileContent((dir / "none" / "c.tsv").string(), "x"),
              "No such file or directory");
}

TEST_F(FileReplace, LinksAreFollowedAndStayLinks)
{
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "sub" / "real.tsv") << "old";
    fs::create_symlink("sub/real.tsv", dir / "link.tsv");
    fs::create_symlink("link.tsv", dir / "link2.tsv"); // a chain of two
    EXPECT_EQ(replaceFileContent((dir / "link2.tsv").string(), "via chain"), std::nullopt);
    EXPECT_EQ(slurp(dir / "sub" / "real.tsv"), "via chain");
    EXPECT_TRUE(fs::is_symlink(dir / "link.tsv"));
    EXPECT_TRUE(fs::is_symlink(dir / "link2.tsv"));

    // A dangling link: its target is created where the link says, relative to the link.
    fs::create_symlink("sub/target.tsv", dir / "dangling.tsv");
    EXPECT_EQ(replaceFileContent((dir / "dangling.tsv").string(), "created"), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.tsv"));
    EXPECT_EQ(slurp(dir / "sub" / "target.tsv"), "created");

    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    EXPECT_EQ(replaceFileContent((dir / "loop1").string(), "x"),
              "Too many levels of symbolic links");
    EXPECT_TRUE(fs::is_symlink(dir / "loop1"));
}

TEST_F(FileReplace, AFifoIsWrittenInPlace)
{
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(replaceFileContent(fifo.string(), "row\t\n"), std::nullopt);
    char buffer[32] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "row\t\n");
    ::close(reader);
    // Without a reader it neither waits nor fails.
    EXPECT_EQ(replaceFileContent(fifo.string(), "lost"), std::nullopt);
    EXPECT_TRUE(S_ISFIFO(lstatOf(fifo).st_mode));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(FileReplace, ADeviceIsWrittenInPlace)
{
    // The null device (1, 3), made here rather than touching the system's.
    const fs::path device = dir / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "making a device node is not permitted here (" << systemMessage(errno)
                     << ")";
    fs::create_symlink("null", dir / "to-null");
    EXPECT_EQ(replaceFileContent(device.string(), "gone"), std::nullopt);
    EXPECT_EQ(replaceFileContent((dir / "to-null").string(), "gone"), std::nullopt);
    EXPECT_TRUE(S_ISCHR(lstatOf(device).st_mode));
    EXPECT_EQ(lstatOf(device).st_rdev, makedev(1, 3));
    EXPECT_TRUE(fs::is_symlink(dir / "to-null"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(FileReplace, ASocketIsConnectedTo)
{
    const fs::path path = dir / "sock";
    // Non-blocking, so that a connection that never came fails the test instead of hanging it.
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(server, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.string().size(), sizeof address.sun_path);
    path.string().copy(address.sun_path, path.string().size());
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 1), 0);

    EXPECT_EQ(replaceFileContent(path.string(), "to the socket"), std::nullopt);
    const int peer = ::accept(server, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    char buffer[32] = {};
    EXPECT_EQ(::read(peer, buffer, sizeof buffer), 13);
    EXPECT_STREQ(buffer, "to the socket");
    ::close(peer);
    ::close(server);
    EXPECT_TRUE(S_ISSOCK(lstatOf(path).st_mode));
}

TEST_F(FileReplace, ALinkToAnOpenFileKeepsThatFile)
{
    // As /dev/stdout leads to /proc/self/fd/1: a link to a descriptor whose file is the
    // program's report. The report must keep its name and the link must stay a link.
    const fs::path report = dir / "report.txt";
    const int fd = ::open(report.c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "REPORT\n", 7), 7);
    const ino_t inode = lstatOf(report).st_ino;
    const fs::path link = dir / "stdout";
    fs::create_symlink("/proc/self/fd/" + std::to_string(fd), link);

    EXPECT_EQ(replaceFileContent(link.string(), "ab"), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(lstatOf(report).st_ino, inode);
    struct stat opened {};
    ASSERT_EQ(::fstat(fd, &opened), 0);
    EXPECT_EQ(opened.st_nlink, 1u); // still has its name
    EXPECT_EQ(slurp(report), "abPORT\n");
    ::close(fd);
}
