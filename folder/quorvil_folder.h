/*
 * quorvil_folder.h - what quorvil-folder keeps of each file it is given,
 * and the prototypes of its operations.
 *
 * Each file is judged by quorvil-info's own functions (quorvil_info_ops),
 * hashed, mined by the quorvil program into a CSV of its own, and that CSV
 * loaded into one SQLite database or appended to one CSV.  The logs are
 * taken in the order of database id, thread and sequence.
 */
#ifndef QUORVIL_FOLDER_H
#define QUORVIL_FOLDER_H

#include "quorvil_info.h"

#include <sqlite3.h>

#include <string>
#include <vector>

#define EXIT_CLEAN 0
#define EXIT_FOUND 1
#define EXIT_TROUBLE 2

#define CSV_COLUMNS 9            /* the columns of quorvil's CSV */

/* What became of a file in this run. */
typedef enum {
    FL_LEFT_OUT,                 /* not a log, unreadable, or cut before its header: not mined */
    FL_SAME_FILE,                /* named before by another path */
    FL_LOADED_BEFORE,            /* a log of these bytes is loaded already */
    FL_TO_MINE,                  /* mined in this run */
    FL_LOADED,                   /* mined and loaded */
    FL_FAILED                    /* mined, but could not be loaded */
} FOLDER_STATE;

typedef struct __folder_log {
    LOG_INFO li;                 /* quorvil-info's judging of the file */
    FOLDER_STATE state;
    char sha256[65];             /* of the file's bytes as they lie, lower-case hex */
    std::string same_as;         /* FL_LOADED_BEFORE: the name it was loaded under */
    std::string other_bytes;     /* a file of this sequence with other bytes loaded before */
    int status;                  /* quorvil's exit status, -1 when not run or killed */
    int signal;                  /* the signal that killed quorvil, else 0 */
    std::string csv_path;        /* where quorvil wrote its CSV */
    std::string err_path;        /* where its standard error went */
    std::string version;         /* the title line of quorvil's banner */
    std::string messages;        /* quorvil's standard error after the banner */
    uint64_t lines;              /* lines of the log loaded */
} FOLDER_LOG;

/* One record of a CSV: its fields, and its bytes as they lie without the line end. */
typedef struct __csv_record {
    std::vector<std::string> field;
    std::string raw;
} CSV_RECORD;

typedef struct __csv_reader {
    FILE *f;
    const char *name;
} CSV_READER;

/* The job: where it writes, and how. */
typedef struct __folder_job {
    const char *out;             /* -out: .db for SQLite, anything else CSV */
    bool to_db;
    sqlite3 *db;                 /* to_db */
    FILE *csv;                   /* !to_db: the CSV being written */
    std::string csv_tmp;         /* !to_db: its name until it is whole */
    std::string quorvil;         /* the quorvil program that mines */
    std::string tmpdir;          /* the CSVs of the logs being mined */
    int jobs;                    /* logs mined at a time */
} FOLDER_JOB;

/* list_files.cpp */
int list_files(char **args, int n, const char *out, std::vector<std::string> *files);

/* hash_file.cpp */
int hash_file(const char *path, char hex[65]);

/* find_quorvil.cpp */
int find_quorvil(std::string *path);

/* read_csv.cpp */
int read_csv_record(CSV_READER *r, CSV_RECORD *rec);

/* open_db.cpp */
int open_db(FOLDER_JOB *job);
int find_loaded(FOLDER_JOB *job, FOLDER_LOG *fl);

/* load_db.cpp */
int load_db(FOLDER_JOB *job, FOLDER_LOG *fl);

/* append_csv.cpp */
int open_csv(FOLDER_JOB *job);
int append_csv(FOLDER_JOB *job, FOLDER_LOG *fl);
int close_csv(FOLDER_JOB *job);

/* mine_logs.cpp */
int mine_logs(FOLDER_JOB *job, std::vector<FOLDER_LOG *> &todo);

/* read_messages.cpp */
void read_messages(FOLDER_LOG *fl);

/* print_log.cpp */
void print_log(const FOLDER_LOG *fl);

#endif
