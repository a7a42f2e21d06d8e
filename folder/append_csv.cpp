/*
 * append_csv.cpp - the CSV a job writes when its output is not a database:
 * quorvil's header line with DB_ID, THREAD and SEQUENCE after its nine
 * columns, then every log's lines as quorvil wrote them, each with the
 * log's database id, thread and sequence after it.  It is written under
 * OUT.part and renamed to OUT once whole, so OUT is never half written.
 * Each returns -1 on error, having said so.
 */
#include "quorvil_folder.h"

#include <cerrno>

int open_csv(FOLDER_JOB *job)
{
    job->csv_tmp = std::string(job->out) + ".part";
    job->csv = fopen(job->csv_tmp.c_str(), "wb");
    if (job->csv == NULL) {
        fprintf(stderr, "open %s: %s\n", job->csv_tmp.c_str(), strerror(errno));
        return -1;
    }
    fputs("SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO,DB_ID,THREAD,SEQUENCE\n",
          job->csv);
    return 0;
}

int append_csv(FOLDER_JOB *job, FOLDER_LOG *fl)
{
    CSV_READER r = {NULL, fl->csv_path.c_str()};
    CSV_RECORD rec;
    int got, rc = -1;

    if ((r.f = fopen(r.name, "rb")) == NULL) {
        fprintf(stderr, "open %s: %s\n", r.name, strerror(errno));
        return -1;
    }
    fl->lines = 0;
    got = read_csv_record(&r, &rec);   // quorvil's header line
    while (got == 1 && (got = read_csv_record(&r, &rec)) == 1) {
        if (rec.field.size() != CSV_COLUMNS) {
            fprintf(stderr, "read %s: line %llu has %zu fields, not %d\n", r.name,
                    (unsigned long long)fl->lines + 2, rec.field.size(), CSV_COLUMNS);
            goto out;
        }
        fl->lines++;
        // the line's bytes as they are, NULs included
        fwrite(rec.raw.data(), 1, rec.raw.size(), job->csv);
        fprintf(job->csv, ",%u,%u,%u\n", fl->li.dbid, fl->li.thread, fl->li.seq);
    }
    rc = got < 0 ? -1 : 0;
out:
    fclose(r.f);
    if (ferror(job->csv)) {
        fprintf(stderr, "write %s: %s\n", job->csv_tmp.c_str(), strerror(errno ? errno : EIO));
        rc = -1;
    }
    return rc;
}

/* Puts the CSV in place. */
int close_csv(FOLDER_JOB *job)
{
    if (fclose(job->csv) != 0) {
        job->csv = NULL;
        fprintf(stderr, "write %s: %s\n", job->csv_tmp.c_str(), strerror(errno));
        return -1;
    }
    job->csv = NULL;
    if (rename(job->csv_tmp.c_str(), job->out) != 0) {
        fprintf(stderr, "rename %s to %s: %s\n", job->csv_tmp.c_str(), job->out, strerror(errno));
        return -1;
    }
    return 0;
}
