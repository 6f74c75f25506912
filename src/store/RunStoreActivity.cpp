// The activity a running writer records while its programs run, and its reading by whoever
// watches the store: a table of its own, which a store gets with its first record.
#include "store/RunStore.h"

#include "common/Exception.h"
#include "store/StoreFiles.h"

#include <unistd.h>

namespace zyl {

using namespace storefile;

void RunStore::recordActivity(const RunActivity& a)
{
    if (!m_writable)
        cannotWrite("it is open for reading only");
    checkStillThere();
    try {
        setSynchronous(1);
        sql::Transaction transaction(m_db);
        // Made by the first record, so that a store without programs to run (or one of an
        // older ZYL) stays as it is; a reader that finds no table finds no activity.
        m_db.exec("CREATE TABLE IF NOT EXISTS activity (id INTEGER PRIMARY KEY CHECK (id = 1), "
                  "pid INTEGER NOT NULL, host TEXT NOT NULL, generation INTEGER NOT NULL, "
                  "evaluations INTEGER NOT NULL, running INTEGER NOT NULL, "
                  "queued INTEGER NOT NULL, done INTEGER NOT NULL, failed INTEGER NOT NULL, "
                  "updated TEXT NOT NULL)");
        sql::Statement st(m_db, "INSERT OR REPLACE INTO activity VALUES (1, ?, ?, ?, ?, ?, ?, "
                                "?, ?, strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))");
        st.bind(1, static_cast<std::int64_t>(::getpid())).bindText(2, hostName());
        st.bind(3, a.generation).bind(4, a.evaluations);
        st.bind(5, a.programs.running).bind(6, a.programs.queued).bind(7, a.programs.done);
        st.bind(8, a.programs.failed);
        st.run();
        transaction.commit();
    } catch (const Exception& error) {
        cannotWrite(error.what());
    }
}

std::optional<RunActivity> RunStore::readActivity()
{
    try {
        if (m_db.queryInt("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND "
                          "name = 'activity'") == 0)
            return std::nullopt;
        sql::Statement q(m_db, "SELECT pid, host, generation, evaluations, running, queued, "
                               "done, failed, updated FROM activity");
        if (!q.step())
            return std::nullopt;
        RunActivity a;
        a.pid = q.columnInt(0);
        a.host = q.columnText(1);
        a.generation = static_cast<std::int32_t>(q.columnInt(2));
        a.evaluations = q.columnInt(3);
        a.programs.running = static_cast<int>(q.columnInt(4));
        a.programs.queued = static_cast<int>(q.columnInt(5));
        a.programs.done = static_cast<int>(q.columnInt(6));
        a.programs.failed = static_cast<int>(q.columnInt(7));
        a.updated = q.columnText(8);
        return a;
    } catch (const std::exception& error) {
        failed(error);
    }
}

} // namespace zyl
