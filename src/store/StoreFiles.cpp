#include "store/StoreFiles.h"

#include "common/Exception.h"
#include "common/FileReplace.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace zyl::storefile {

namespace {

namespace fs = std::filesystem;

/// A URI that SQLite reads as exactly this file name, whatever characters it holds.
std::string fileUri(const std::string& absolutePath)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : absolutePath) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

} // namespace

std::string inQuotes(const std::string& path)
{
    return "\"" + path + "\"";
}

FileKind fileKind(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? FileKind::Missing : FileKind::NotSqlite;
    if (!S_ISREG(info.st_mode))
        return FileKind::NotSqlite;
    if (info.st_size == 0)
        return FileKind::Empty;
    std::ifstream in(path, std::ios::binary);
    char header[100] = {};
    in.read(header, sizeof header);
    const std::streamsize got = in.gcount();
    static const char magic[] = "SQLite format 3";
    if (got < 16 || std::memcmp(header, magic, 16) != 0)
        return FileKind::NotSqlite;
    return got < 100 ? FileKind::CutShort : FileKind::Sqlite;
}

void harden(sql::Database& db)
{
    sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    db.exec("PRAGMA cell_size_check = ON");
}

bool exists(const std::string& name)
{
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0;
}

std::string hostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "?";
    return name;
}

sql::Database openForReading(const std::string& path)
{
    // NOTE: a rollback journal beside the file would be played back by a writable connection:
    // such a file (never one of ours, which are WAL files) is only ever opened read-only.
    const bool hotJournal = exists(path + "-journal");
    // Without a WAL and its index beside it, the file alone is the whole store: read as
    // immutable it needs no lock and creates nothing, so a refused file stays alone and an
    // archive in a read-only folder can be read. (A running ZYL always has both beside it.)
    if (!hotJournal && !exists(path + "-wal") && !exists(path + "-shm")) {
        std::error_code error;
        const std::string absolute = fs::absolute(path, error).string();
        sql::Database db(fileUri(error ? path : absolute) + "?immutable=1",
                         SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
        harden(db);
        return db;
    }
    try {
        if (hotJournal)
            throw Exception("read-only");
        sql::Database db(path, SQLITE_OPEN_READWRITE);
        sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        harden(db);
        db.exec("PRAGMA query_only = ON");
        return db;
    } catch (const Exception&) {
        // A file we may not write (or not open at all): as read-only as it gets.
    }
    sql::Database db(path, SQLITE_OPEN_READONLY);
    harden(db);
    return db;
}

sql::Database openForWatching(const std::string& path)
{
    sql::Database db(path, SQLITE_OPEN_READONLY);
    harden(db);
    db.exec("PRAGMA query_only = ON");
    // SQLite opens the file at its first read: whatever stands in the way shows here.
    db.queryInt("PRAGMA user_version");
    return db;
}

std::optional<std::pair<std::int32_t, std::int32_t>> headerIds(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char header[72] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    if (in.gcount() != sizeof header)
        return std::nullopt;
    // Big-endian, at the offsets SQLite's file format gives them.
    auto at = [&header](int offset) {
        return static_cast<std::int32_t>(
            (std::uint32_t{header[offset]} << 24) | (std::uint32_t{header[offset + 1]} << 16) |
            (std::uint32_t{header[offset + 2]} << 8) | std::uint32_t{header[offset + 3]});
    };
    return std::pair{at(68), at(60)};
}

std::optional<std::string> whyNotWritable(const std::string& file)
{
    if (::access(file.c_str(), W_OK) != 0)
        return "the file is read-only (" + systemMessage(errno) + ")";
    const std::string folder = fs::path(file).parent_path().string();
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "its folder \"" + folder + "\" is read-only (" + systemMessage(errno) + ")";
    return std::nullopt;
}

} // namespace zyl::storefile
