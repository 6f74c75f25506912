#include "store/RunStore.h"

#include "common/Exception.h"
#include "store/StoreFiles.h"

#include <sqlite3.h>
#include <signal.h>

#include <cerrno>

namespace zyl {

using namespace storefile;

namespace {

constexpr std::int32_t kFirstVersionWithMethod = 3;

constexpr const char* kTables[] = {"run",         "state",  "generations", "plots",
                                   "plot_points", "buffer", "evaluations"};

[[noreturn]] void newerVersion(const std::string& path, std::int64_t version)
{
    throw Exception("The run store " + inQuotes(path) +
                    " was written by a newer ZYL (store version " + std::to_string(version) +
                    "; this ZYL reads version " + std::to_string(kStoreVersion) + ").");
}

} // namespace

RunStore::Content RunStore::probe(const std::string& path)
{
    switch (fileKind(path)) {
    case FileKind::Missing:
        return Content::Missing;
    case FileKind::Empty:
        return Content::Empty;
    case FileKind::Sqlite:
        try {
            sql::Database db = openForReading(path);
            const std::int64_t id = db.queryInt("PRAGMA application_id");
            if (id == kStoreApplicationId)
                return Content::Run; // whole or not: openExisting tells
            // A database without our id and without tables (a creation killed before its
            // first transaction) holds nothing to lose; anything else is someone's data.
            if (id == 0 && db.queryInt("SELECT count(*) FROM sqlite_schema") == 0)
                return Content::Empty;
        } catch (const Exception&) {
            // Unreadable: refused below, with the message that fits.
        }
        break;
    default:
        break;
    }
    openExisting(path, /*lock=*/false); // throws the message that fits the file
    return Content::Run;
}

void RunStore::lockAgainstOthers()
{
    FileLock::Result result;
    try {
        result = m_lock.acquire(m_file, /*create=*/false);
    } catch (const Exception& error) {
        throw Exception("The run store " + inQuotes(m_path) + " cannot be opened: " + error.what());
    }
    if (result == FileLock::Result::Busy) {
        std::string owner;
        try {
            sql::Database db = openForReading(m_file);
            sql::Statement who(db, "SELECT owner_pid, owner_host, owner_since FROM run");
            // The owner is written once a resume really starts: until then the fields may
            // still name the process that was killed, which is then left unsaid.
            if (who.step() && !who.isNull(0)) {
                const bool gone = who.columnText(1) == hostName() &&
                                  ::kill(static_cast<pid_t>(who.columnInt(0)), 0) != 0 &&
                                  errno == ESRCH;
                if (!gone)
                    owner = " (process " + std::to_string(who.columnInt(0)) + " on " +
                            who.columnText(1) + " since " + who.columnText(2) + ")";
            }
        } catch (const std::exception&) {
            // The owner is only a detail of the message.
        }
        throw Exception("The run store " + inQuotes(m_path) + " is in use by another ZYL" + owner +
                        ".");
    }
}

RunStore RunStore::openExisting(const std::string& path, bool lock)
{
    return openChecked(path, lock, /*watching=*/false);
}

RunStore RunStore::openForWatching(const std::string& path)
{
    return openChecked(path, /*lock=*/false, /*watching=*/true);
}

RunStore RunStore::openChecked(const std::string& path, bool lock, bool watching)
{
    RunStore store(path);
    switch (fileKind(store.m_file)) {
    case FileKind::Missing:
        throw Exception("The run store " + inQuotes(path) + " does not exist.");
    case FileKind::Empty:
        throw Exception("The run store " + inQuotes(path) + " holds no run.");
    case FileKind::CutShort:
        store.damaged("the file is cut short");
    case FileKind::NotSqlite:
        throw Exception("The file " + inQuotes(path) + " is not a ZYL run store.");
    case FileKind::Sqlite:
        break;
    }
    if (watching && !exists(store.m_file + "-wal")) {
        // SQLite would make a WAL and its index beside the file before it could say what the
        // file is: the header, which holds the database's own ids while no WAL does, decides
        // first, so that a refused file is left alone.
        const auto ids = headerIds(store.m_file);
        if (!ids || ids->first != kStoreApplicationId)
            throw Exception("The file " + inQuotes(path) + " is not a ZYL run store.");
        if (ids->second > kStoreVersion)
            newerVersion(path, ids->second);
    }
    try {
        if (watching) {
            try {
                store.m_db = storefile::openForWatching(store.m_file);
            } catch (const Exception& error) {
                // The WAL or its index could not be had (a folder that cannot be written):
                // not the store's fault. Anything else is the file's, said below.
                const std::string text = error.what();
                if (text != sqlite3_errstr(SQLITE_CANTOPEN) &&
                    text != sqlite3_errstr(SQLITE_READONLY))
                    throw;
                throw Exception("The run store " + inQuotes(path) + " cannot be watched: " + text);
            }
        } else {
            store.m_db = openForReading(store.m_file);
        }
        const std::int64_t version = store.m_db.queryInt("PRAGMA user_version");
        store.m_version = version;
        if (store.m_db.queryInt("PRAGMA application_id") != kStoreApplicationId)
            throw Exception("The file " + inQuotes(path) + " is not a ZYL run store.");
        if (version > kStoreVersion)
            newerVersion(path, version);
        if (version < 1)
            store.damaged("it has no version");
        store.m_version = version;
        // Only now, so that someone else's file is refused without being opened for writing.
        if (lock) {
            if (auto reason = whyNotWritable(store.m_file))
                store.cannotWrite(*reason);
            store.lockAgainstOthers();
        }
        {
            sql::Statement check(store.m_db, "PRAGMA quick_check");
            if (!check.step())
                store.damaged("the check of the file gave no answer");
            const std::string verdict = check.columnText(0);
            if (verdict != "ok") {
                // The check lists every fault, the first line naming the database: the first
                // fault says enough.
                std::string first = verdict;
                const std::size_t banner = first.find("***\n");
                if (first.rfind("***", 0) == 0 && banner != std::string::npos)
                    first.erase(0, banner + 4);
                first = first.substr(0, first.find('\n'));
                store.damaged("the file is corrupt (" + first + ")");
            }
        }
        {
            sql::Statement schema(store.m_db, "SELECT type, name FROM sqlite_schema");
            int tables = 0;
            bool methodTable = false;
            while (schema.step()) {
                const std::string type = schema.columnText(0), name = schema.columnText(1);
                if (type == "trigger")
                    store.damaged("it holds the trigger " + name);
                for (const char* table : kTables)
                    if (name == table)
                        tables += type == "table" ? 1 : 0;
                methodTable = methodTable || (type == "table" && name == "method");
            }
            if (store.m_version >= 2 &&
                store.m_db.queryInt("SELECT count(*) FROM sqlite_schema WHERE type = 'table' "
                                    "AND name = 'jobs'") != 1)
                tables = -1;
            if (tables != static_cast<int>(std::size(kTables)) ||
                (version >= kFirstVersionWithMethod && !methodTable))
                store.damaged("tables are missing");
        }
        if (store.m_db.queryInt("SELECT count(*) FROM run") != 1 ||
            store.m_db.queryInt("SELECT count(*) FROM state") != 1)
            store.damaged("the run is missing");
    } catch (const std::exception& error) {
        store.failed(error);
    }
    return store;
}

} // namespace zyl
