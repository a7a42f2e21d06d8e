/*
 * load_db.cpp - load_db: one mined log into the database, in one
 * transaction: its row in logs, then every line of its CSV into redo with
 * the log's id, database id, thread, sequence and line number.  A run cut
 * short or a CSV that cannot be read leaves nothing of the log behind, so
 * a later run loads it whole.  Numbers become integers; a field that is
 * not a whole number stays text, an empty one NULL.
 * Returns -1 when the log could not be loaded, having said so.
 */
#include "quorvil_folder.h"

#include <cerrno>

static const char HEADER[] = "SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO";

static void bind_value(sqlite3_stmt *st, int col, const std::string &v, bool number)
{
    const char *s = v.c_str();
    char *end;

    if (v.empty()) {
        sqlite3_bind_null(st, col);
        return;
    }
    if (number && (isdigit((unsigned char)s[0]) || (s[0] == '-' && isdigit((unsigned char)s[1])))) {
        errno = 0;
        long long n = strtoll(s, &end, 10);
        if (*end == '\0' && errno == 0) {
            sqlite3_bind_int64(st, col, n);
            return;
        }
    }
    sqlite3_bind_text(st, col, s, (int)v.size(), SQLITE_TRANSIENT);
}

static int insert_log(FOLDER_JOB *job, FOLDER_LOG *fl, sqlite3_int64 *id)
{
    const LOG_INFO *li = &fl->li;
    sqlite3_stmt *st = NULL;
    int rc = sqlite3_prepare_v2(job->db,
                                "INSERT INTO logs (name, size, sha256, packing, verdict, findings, db_name, db_id, "
                                "thread, sequence, first_scn, next_scn, lines, quorvil_status, quorvil_messages, "
                                "quorvil_version, folder_version, loaded_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, "
                                "?9, ?10, ?11, ?12, 0, ?13, ?14, ?15, ?16, strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))",
                                -1, &st, NULL);
    if (rc != SQLITE_OK)
        return -1;
    sqlite3_bind_text(st, 1, li->file, -1, SQLITE_STATIC);
    sqlite3_bind_int64(st, 2, (sqlite3_int64)li->file_size);
    sqlite3_bind_text(st, 3, fl->sha256, -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 4, li->packing == PACK_NONE ? "none" : packing_name[li->packing], -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 5, li->verdict, -1, SQLITE_STATIC);
    sqlite3_bind_int(st, 6, (int)li->findings);
    sqlite3_bind_text(st, 7, li->dbname, -1, SQLITE_STATIC);
    sqlite3_bind_int64(st, 8, li->dbid);
    sqlite3_bind_int64(st, 9, li->thread);
    sqlite3_bind_int64(st, 10, li->seq);
    sqlite3_bind_int64(st, 11, (sqlite3_int64)li->first_scn);
    if (li->open)
        sqlite3_bind_null(st, 12);
    else
        sqlite3_bind_int64(st, 12, (sqlite3_int64)li->next_scn);
    sqlite3_bind_int(st, 13, fl->status);
    sqlite3_bind_text(st, 14, fl->messages.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 15, fl->version.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 16, "quorvil-folder " QUORVIL_VERSION, -1, SQLITE_STATIC);
    rc = sqlite3_step(st);
    sqlite3_finalize(st);
    *id = sqlite3_last_insert_rowid(job->db);
    return rc == SQLITE_DONE ? 0 : -1;
}

/* The lines of the log's CSV into redo; -1 on error (said when not SQLite's). */
static int insert_lines(FOLDER_JOB *job, FOLDER_LOG *fl, sqlite3_int64 id)
{
    CSV_READER r = {NULL, fl->csv_path.c_str()};
    CSV_RECORD rec;
    sqlite3_stmt *st = NULL;
    int rc = -1, got;

    if ((r.f = fopen(r.name, "rb")) == NULL) {
        fprintf(stderr, "open %s: %s\n", r.name, strerror(errno));
        return -1;
    }
    if (sqlite3_prepare_v2(job->db,
                           "INSERT INTO redo VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)",
                           -1, &st, NULL) != SQLITE_OK)
        goto sql_error;
    got = read_csv_record(&r, &rec);
    // a run that wrote nothing (it failed before its first line) has no header either
    if (got == 1 && rec.raw != HEADER) {
        fprintf(stderr, "read %s: the first line is not quorvil's header line\n", r.name);
        goto out;
    }
    fl->lines = 0;
    while (got == 1 && (got = read_csv_record(&r, &rec)) == 1) {
        if (rec.field.size() != CSV_COLUMNS) {
            fprintf(stderr, "read %s: line %llu has %zu fields, not %d\n", r.name,
                    (unsigned long long)fl->lines + 2, rec.field.size(), CSV_COLUMNS);
            goto out;
        }
        fl->lines++;
        sqlite3_bind_int64(st, 1, id);
        sqlite3_bind_int64(st, 2, fl->li.dbid);
        sqlite3_bind_int64(st, 3, fl->li.thread);
        sqlite3_bind_int64(st, 4, fl->li.seq);
        sqlite3_bind_int64(st, 5, (sqlite3_int64)fl->lines);
        for (int c = 0; c < CSV_COLUMNS; c++)
            bind_value(st, 6 + c, rec.field[c], c < 6);
        if (sqlite3_step(st) != SQLITE_DONE)
            goto sql_error;
        sqlite3_reset(st);
    }
    if (got < 0)
        goto out;
    rc = 0;
    goto out;
sql_error:
    fprintf(stderr, "load %s into %s: %s\n", fl->li.shown, job->out, sqlite3_errmsg(job->db));
out:
    sqlite3_finalize(st);
    fclose(r.f);
    return rc;
}

int load_db(FOLDER_JOB *job, FOLDER_LOG *fl)
{
    sqlite3_int64 id = 0;
    sqlite3_stmt *st = NULL;

    if (sqlite3_exec(job->db, "BEGIN IMMEDIATE", NULL, NULL, NULL) != SQLITE_OK) {
        fprintf(stderr, "load %s into %s: %s\n", fl->li.shown, job->out, sqlite3_errmsg(job->db));
        return -1;
    }
    if (insert_log(job, fl, &id) != 0) {
        fprintf(stderr, "load %s into %s: %s\n", fl->li.shown, job->out, sqlite3_errmsg(job->db));
        goto undo;
    }
    if (insert_lines(job, fl, id) != 0)
        goto undo;
    if (sqlite3_prepare_v2(job->db, "UPDATE logs SET lines = ?1 WHERE id = ?2", -1, &st, NULL) != SQLITE_OK)
        goto sql_undo;
    sqlite3_bind_int64(st, 1, (sqlite3_int64)fl->lines);
    sqlite3_bind_int64(st, 2, id);
    if (sqlite3_step(st) != SQLITE_DONE)
        goto sql_undo;
    sqlite3_finalize(st);
    if (sqlite3_exec(job->db, "COMMIT", NULL, NULL, NULL) != SQLITE_OK) {
        fprintf(stderr, "load %s into %s: %s\n", fl->li.shown, job->out, sqlite3_errmsg(job->db));
        goto undo;
    }
    return 0;
sql_undo:
    fprintf(stderr, "load %s into %s: %s\n", fl->li.shown, job->out, sqlite3_errmsg(job->db));
    sqlite3_finalize(st);
undo:
    sqlite3_exec(job->db, "ROLLBACK", NULL, NULL, NULL);
    fl->lines = 0;
    return -1;
}
