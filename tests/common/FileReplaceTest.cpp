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

mode_t kindOf(const fs::path& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

/// A fresh folder per test, removed afterwards; `entries` counts what is in it.
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
    long entries() const { return std::distance(fs::directory_iterator(dir), {}); }

    fs::path dir;
};

} // namespace

TEST_F(FileReplace, RegularFilesAndLinksToThem)
{
    const fs::path file = dir / "a.tsv";
    std::ofstream(file) << std::string(100, 'x');
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(file, perms);
    EXPECT_EQ(replaceFileContent(file.string(), "new\n"), std::nullopt);
    EXPECT_EQ(slurp(file), "new\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, perms);
    EXPECT_EQ(replaceFileContent((dir / "b.tsv").string(), "made"), std::nullopt);
    EXPECT_EQ(slurp(dir / "b.tsv"), "made");
    EXPECT_EQ(entries(), 2) << "no temporary file is left behind";
    EXPECT_EQ(replaceFileContent(dir.string(), "x"), "it is a directory");
    EXPECT_EQ(replaceFileContent((dir / "no" / "c.tsv").string(), "x"),
              "No such file or directory");

    // A chain of links leads to the file; the links stay links.
    fs::create_directories(dir / "sub");
    fs::create_symlink("../a.tsv", dir / "sub" / "link");
    fs::create_symlink("sub/link", dir / "link2");
    EXPECT_EQ(replaceFileContent((dir / "link2").string(), "via links"), std::nullopt);
    EXPECT_EQ(slurp(file), "via links");
    EXPECT_EQ(kindOf(dir / "link2"), S_IFLNK);
    EXPECT_EQ(kindOf(dir / "sub" / "link"), S_IFLNK);
    // A dangling link: its target is made where the link says, relative to the link.
    fs::create_symlink("sub/target.tsv", dir / "dangling.tsv");
    EXPECT_EQ(replaceFileContent((dir / "dangling.tsv").string(), "made"), std::nullopt);
    EXPECT_EQ(kindOf(dir / "dangling.tsv"), S_IFLNK);
    EXPECT_EQ(slurp(dir / "sub" / "target.tsv"), "made");
    fs::create_symlink("loop", dir / "loop");
    EXPECT_EQ(replaceFileContent((dir / "loop").string(), "x"),
              "Too many levels of symbolic links");
}

TEST_F(FileReplace, FifosDevicesAndSocketsAreWrittenInPlace)
{
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(replaceFileContent(fifo.string(), "row\n"), std::nullopt);
    char buffer[32] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 4);
    ::close(reader);
    EXPECT_EQ(replaceFileContent(fifo.string(), "lost"), std::nullopt) << "no reader: no wait";
    EXPECT_EQ(kindOf(fifo), S_IFIFO);

    // Non-blocking, so that a connection that never came fails the test instead of hanging it.
    const fs::path socketPath = dir / "sock";
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 1), 0);
    EXPECT_EQ(replaceFileContent(socketPath.string(), "to the socket"), std::nullopt);
    const int peer = ::accept(server, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    EXPECT_EQ(::read(peer, buffer, sizeof buffer), 13);
    ::close(peer);
    ::close(server);
    EXPECT_EQ(kindOf(socketPath), S_IFSOCK);
    EXPECT_EQ(entries(), 2);

    // The null device (1, 3), made here rather than touching the system's.
    const fs::path device = dir / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "making a device node is not permitted here (" << systemMessage(errno)
                     << ")";
    fs::create_symlink("null", dir / "to-null");
    EXPECT_EQ(replaceFileContent((dir / "to-null").string(), "gone"), std::nullopt);
    EXPECT_EQ(kindOf(device), S_IFCHR);
    EXPECT_EQ(entries(), 4);
}

TEST_F(FileReplace, ALinkToAnOpenFileKeepsThatFile)
{
    // As /dev/stdout leads to /proc/self/fd/1: the file behind the descriptor is the program's
    // report, which must keep its name, and the link must stay a link.
    const fs::path report = dir / "report.txt";
    const int fd = ::open(report.c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "REPORT\n", 7), 7);
    const fs::path link = dir / "stdout";
    fs::create_symlink("/proc/self/fd/" + std::to_string(fd), link);
    EXPECT_EQ(replaceFileContent(link.string(), "ab"), std::nullopt);
    EXPECT_EQ(kindOf(link), S_IFLNK);
    struct stat opened {};
    ASSERT_EQ(::fstat(fd, &opened), 0);
    EXPECT_EQ(opened.st_nlink, 1u) << "the report lost its name";
    EXPECT_EQ(slurp(report), "abPORT\n");
    ::close(fd);
}
