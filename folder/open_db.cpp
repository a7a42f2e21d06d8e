/*
 * open_db.cpp - open_db: the SQLite database a job loads into, created
 * with its tables when new; find_loaded: whether a log of the same
 * database id, thread, sequence and SHA-256 is loaded already, or one of
 * the same sequence with other bytes.
 *
 *   logs   one row per log file loaded: its name, size, SHA-256, packing,
 *          quorvil-info's verdict and findings, database name and id,
 *          thread, sequence, SCN range, the lines loaded, quorvil's exit
 *          status and messages, the versions of quorvil and quorvil-folder
 *          that read it, and when.
 *   redo   quorvil's nine columns (numbers as integers) with the log's id,
 *          database id, thread and sequence, and the line's place in its
 *          log (LINE, from 1), indexed on the transaction id.
 *   committed  the row and DDL lines of committed transactions, in commit order.
 *
 * Returns -1 on any SQLite error, having said so.
 */
#include "quorvil_folder.h"

static const char SCHEMA[] =
    "PRAGMA foreign_keys = ON;"
    "CREATE TABLE IF NOT EXISTS logs ("
    "  id INTEGER PRIMARY KEY,"
    "  name TEXT NOT NULL,"
    "  size INTEGER NOT NULL,"
    "  sha256 TEXT NOT NULL,"
    "  packing TEXT NOT NULL,"
    "  verdict TEXT NOT NULL,"
    "  findings INTEGER NOT NULL,"
    "  db_name TEXT NOT NULL,"
    "  db_id INTEGER NOT NULL,"
    "  thread INTEGER NOT NULL,"
    "  sequence INTEGER NOT NULL,"
    "  first_scn INTEGER NOT NULL,"
    "  next_scn INTEGER,"                     /* NULL: the log was still open */
    "  lines INTEGER NOT NULL,"
    "  quorvil_status INTEGER NOT NULL,"
    "  quorvil_messages TEXT NOT NULL,"
    "  quorvil_version TEXT NOT NULL,"
    "  folder_version TEXT NOT NULL,"
    "  loaded_at TEXT NOT NULL,"
    "  UNIQUE (db_id, thread, sequence, sha256));"
    "CREATE TABLE IF NOT EXISTS redo ("
    "  LOG_ID INTEGER NOT NULL REFERENCES logs (id),"
    "  DB_ID INTEGER NOT NULL,"
    "  THREAD INTEGER NOT NULL,"
    "  SEQUENCE INTEGER NOT NULL,"
    "  LINE INTEGER NOT NULL,"
    "  SCN INTEGER, XIDUSN INTEGER, XIDSLT INTEGER, XIDSQN INTEGER,"
    "  \"DATA_OBJ#\" INTEGER, \"DATA_OBJD#\" INTEGER,"
    "  TABLE_NAME TEXT, OPERATION TEXT, SQL_REDO TEXT);"
    "CREATE INDEX IF NOT EXISTS redo_xid ON redo (XIDUSN, XIDSLT, XIDSQN, DB_ID);"
    "CREATE INDEX IF NOT EXISTS redo_log ON redo (LOG_ID);"
    /* a transaction's COMMIT may lie in a later log, or another thread's */
    "CREATE VIEW IF NOT EXISTS committed AS "
    "SELECT c.SCN AS COMMIT_SCN, r.SCN, r.XIDUSN, r.XIDSLT, r.XIDSQN, r.\"DATA_OBJ#\", r.\"DATA_OBJD#\","
    "       r.TABLE_NAME, r.OPERATION, r.SQL_REDO, r.DB_ID, r.THREAD, r.SEQUENCE, r.LINE "
    "FROM (SELECT DB_ID, XIDUSN, XIDSLT, XIDSQN, min(SCN) AS SCN FROM redo "
    "      WHERE OPERATION = 'COMMIT' GROUP BY DB_ID, XIDUSN, XIDSLT, XIDSQN) AS c "
    "JOIN redo AS r ON r.XIDUSN = c.XIDUSN AND r.XIDSLT = c.XIDSLT AND r.XIDSQN = c.XIDSQN "
    "               AND r.DB_ID = c.DB_ID "
    "WHERE r.OPERATION IN ('INSERT', 'DELETE', 'UPDATE', 'DDL') "
    "ORDER BY c.SCN, c.DB_ID, c.XIDUSN, c.XIDSLT, c.XIDSQN, r.SCN, r.THREAD, r.SEQUENCE, r.LINE;";

int open_db(FOLDER_JOB *job)
{
    char *msg = NULL;

    if (sqlite3_open_v2(job->out, &job->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, NULL) != SQLITE_OK) {
        fprintf(stderr, "open %s: %s\n", job->out, job->db ? sqlite3_errmsg(job->db) : "out of memory");
        return -1;
    }
    sqlite3_busy_timeout(job->db, 10000);
    if (sqlite3_exec(job->db, SCHEMA, NULL, NULL, &msg) != SQLITE_OK) {
        fprintf(stderr, "open %s: cannot set up its tables: %s\n", job->out, msg ? msg : "?");
        sqlite3_free(msg);
        return -1;
    }
    return 0;
}

/* 1 when these bytes of this sequence are loaded already, 0 when not, -1 on error.
 * Sets fl->other_bytes when the sequence is loaded from a file of other bytes. */
int find_loaded(FOLDER_JOB *job, FOLDER_LOG *fl)
{
    sqlite3_stmt *st = NULL;
    int rc, found = 0;

    rc = sqlite3_prepare_v2(job->db,
                            "SELECT name, sha256 = ?4 FROM logs WHERE db_id = ?1 AND thread = ?2 AND sequence = ?3 "
                            "ORDER BY sha256 = ?4 DESC, id",
                            -1, &st, NULL);
    if (rc == SQLITE_OK) {
        sqlite3_bind_int64(st, 1, fl->li.dbid);
        sqlite3_bind_int64(st, 2, fl->li.thread);
        sqlite3_bind_int64(st, 3, fl->li.seq);
        sqlite3_bind_text(st, 4, fl->sha256, -1, SQLITE_STATIC);
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            const char *name = (const char *)sqlite3_column_text(st, 0);
            if (sqlite3_column_int(st, 1)) {
                fl->same_as = name ? name : "";
                found = 1;
                break;
            }
            if (fl->other_bytes.empty())
                fl->other_bytes = name ? name : "";
        }
        if (rc == SQLITE_DONE || rc == SQLITE_ROW)
            rc = SQLITE_OK;
    }
    if (rc != SQLITE_OK) {
        fprintf(stderr, "read %s: %s\n", job->out, sqlite3_errmsg(job->db));
        found = -1;
    }
    sqlite3_finalize(st);
    return found;
}
