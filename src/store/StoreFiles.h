#pragma once

#include "store/Sqlite.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

/// What the path of a run store holds, and connections to it that cannot harm it: shared by
/// the code that opens a store and the code that creates and writes one.
namespace zyl::storefile {

/// A path in double quotes, as the store's messages show it.
std::string inQuotes(const std::string& path);

/// What the first bytes of the file say: SQLite's magic text or not. The application id in
/// the header is not read here: in WAL mode the newest first page may still be in the WAL (a
/// process killed before any checkpoint), so only SQLite itself can tell it.
enum class FileKind { Missing, Empty, NotSqlite, CutShort, Sqlite };
FileKind fileKind(const std::string& path);

/// Settings that keep a hostile file from doing more than being read.
void harden(sql::Database& db);

bool exists(const std::string& name);

/// This machine's name, as the store records its owner ("?" when it cannot be had).
std::string hostName();

/// A connection that reads and never writes the database, nor creates anything beside it
/// when the file has no WAL. A process killed in the middle of a run leaves a WAL whose index
/// must be rebuilt before anything can be read, which SQLite refuses to a read-only
/// connection; so such a file is opened for writing when it may be, with every SQL write
/// refused (query_only) and without the checkpoint a last connection makes when it closes, so
/// that the database and its WAL stay byte for byte as they were.
sql::Database openForReading(const std::string& path);

/// A connection that follows a WAL file another process writes: read-only (every SQL write
/// refused as well), never immutable, with SQLite's locks, which a writer never waits for.
/// The WAL and its index are made beside the file when they are not there.
sql::Database openForWatching(const std::string& path);

/// The application id and the user version that the file's own header holds, which are the
/// database's when no WAL is beside the file (none when the header cannot be read).
std::optional<std::pair<std::int32_t, std::int32_t>> headerIds(const std::string& path);

/// Why a resume could not write the store at `file` (its WAL and the WAL's index are made
/// beside it), or nothing when it can. Asked before the file is opened for writing, so that
/// a store in a read-only folder is called what it is, never damaged.
std::optional<std::string> whyNotWritable(const std::string& file);

} // namespace zyl::storefile
