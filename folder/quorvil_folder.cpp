/*
 * quorvil_folder.cpp - quorvil-folder: main and the command line.
 *
 *   quorvil-folder [-jobs N] -out OUT.db|OUT.csv FOLDER|LOG...
 *
 * Every file is judged as quorvil-info judges it and the logs are checked
 * as a set (check_set); the logs are then taken by database id, thread and
 * sequence and mined by quorvil, N at a time (2 by default), into one
 * SQLite database (an output ending in .db) or one CSV.  A log whose bytes
 * a database holds already is not loaded again.  A log with a finding is
 * mined all the same; only a file that is not a log is left out.
 * Exit status 0 when every log is loaded (or was before) and nothing was
 * found, 1 when anything was found (a finding in a log or the set, a file
 * that is not a log, a quorvil run that did not end cleanly), 2 when the
 * job could not be done whole (wrong command line, no quorvil, an output
 * or file that cannot be read or written, a log that could not be loaded).
 */
#include "quorvil_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

static MINER folder_miner;

static void folder_usage(FILE *to, const char *prgname)
{
    fprintf(to,
            "usage: %s [-jobs N] -out OUT FOLDER|LOG...\n"
            "       %s --help | --version\n"
            "\n"
            "  -out OUT  the SQLite database (a name ending in .db) or the CSV file\n"
            "            every log is loaded into\n"
            "  -jobs N   logs mined at a time (1 to 64; default 2)\n"
            "\n"
            "Checks each log as quorvil-info does, orders the logs by database id,\n"
            "thread and sequence and mines each with quorvil into OUT.  A database\n"
            "keeps what was loaded: run again, it loads only logs it does not hold.\n"
            "Exit status: 0 all loaded, nothing found; 1 something found; 2 the job\n"
            "could not be done whole.\n",
            prgname, prgname);
}

static bool ends_with(const char *s, const char *tail)
{
    size_t n = strlen(s), m = strlen(tail);
    return n >= m && strcmp(s + n - m, tail) == 0;
}

/* The job's temporary folder, beside its output. */
static int make_tmpdir(FOLDER_JOB *job)
{
    const char *slash = strrchr(job->out, '/');
    std::string dir = slash == NULL ? "." : slash == job->out ? "/" : std::string(job->out, (size_t)(slash - job->out));
    std::string tmpl = dir + "/.quorvil-folder-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());

    buf.push_back('\0');
    if (mkdtemp(buf.data()) == NULL) {
        fprintf(stderr, "create %s: %s\n", tmpl.c_str(), strerror(errno));
        return -1;
    }
    job->tmpdir = buf.data();
    return 0;
}

/* Judges every file as quorvil-info does; false when the job cannot go on. */
static bool judge_files(std::vector<LOG_INFO> &infos, std::vector<std::string> &files, bool *failed, unsigned *set_found)
{
    MINER *mnr = &folder_miner;
    bool tty = isatty(STDERR_FILENO);

    mnr->rbuf = (uint8_t *)malloc(RBUF_SIZE);
    if (mnr->rbuf == NULL) {
        fprintf(stderr, "Allocate work memory error: %s\n", strerror(errno));
        return false;
    }
    for (size_t i = 0; i < files.size(); i++) {
        LOG_INFO *li = &infos[i];

        li->file = files[i].c_str();
        li->shown = escape_name(li->file);
        if (!named_before(infos.data(), (int)i))
            examine_log(mnr, li, tty);
        judge_log(li);
    }
    free(mnr->rbuf);
    mnr->rbuf = NULL;
    *set_found = check_set(infos.data(), (int)infos.size(), false, failed);
    return true;
}

int main(int argc, char **argv)
{
    FOLDER_JOB job = {};
    std::vector<std::string> files;
    int first = argc, status = EXIT_CLEAN;
    bool failed = false;
    unsigned set_found = 0;
    long jobs = 2;

    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];

        if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            folder_usage(stdout, argv[0]);
            return EXIT_CLEAN;
        } else if (strcmp(arg, "--version") == 0) {
            printf("quorvil-folder " QUORVIL_VERSION "\n");
            return EXIT_CLEAN;
        } else if (strcmp(arg, "-out") == 0 && i + 1 < argc) {
            job.out = argv[++i];
        } else if (strcmp(arg, "-jobs") == 0 && i + 1 < argc) {
            char *end;
            jobs = strtol(argv[++i], &end, 10);
            if (*end != '\0' || end == argv[i] || jobs < 1 || jobs > 64) {
                fprintf(stderr, "-jobs takes a number from 1 to 64, not \"%s\".\n", argv[i]);
                return EXIT_TROUBLE;
            }
        } else if (strcmp(arg, "--") == 0) {
            first = i + 1;
            break;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            fprintf(stderr, "Invalid option \"%s\" specified.\n", arg);
            folder_usage(stderr, argv[0]);
            return EXIT_TROUBLE;
        } else {
            first = i;
            break;
        }
    }
    if (job.out == NULL || job.out[0] == '\0' || first >= argc) {
        fprintf(stderr, job.out == NULL ? "-out not specified.\n" : "no folder or log specified.\n");
        folder_usage(stderr, argv[0]);
        return EXIT_TROUBLE;
    }
    job.jobs = (int)jobs;
    job.to_db = ends_with(job.out, ".db");
    if (find_quorvil(&job.quorvil) != 0 || list_files(argv + first, argc - first, job.out, &files) != 0)
        return EXIT_TROUBLE;
    if (files.empty()) {
        fprintf(stderr, "no file to read in the folders given.\n");
        return EXIT_TROUBLE;
    }

    std::vector<LOG_INFO> infos(files.size());
    if (!judge_files(infos, files, &failed, &set_found))
        return EXIT_TROUBLE;
    if (set_found > 0)
        status = EXIT_FOUND;

    // what becomes of each file; the logs to mine in database, thread and sequence order
    std::vector<FOLDER_LOG> logs(files.size());
    std::vector<FOLDER_LOG *> order;
    for (size_t i = 0; i < files.size(); i++) {
        FOLDER_LOG *fl = &logs[i];

        fl->li = infos[i];
        fl->status = -1;
        fl->signal = 0;
        fl->lines = 0;
        if (fl->li.state == LOG_SAME_FILE) {
            fl->state = FL_SAME_FILE;
        } else if (fl->li.state != LOG_READ) {
            fl->state = FL_LEFT_OUT;
            status = std::max(status, fl->li.state == LOG_UNREADABLE ? EXIT_TROUBLE : EXIT_FOUND);
        } else if (hash_file(fl->li.file, fl->sha256) != 0) {
            fl->state = FL_LEFT_OUT;
            fl->li.verdict = "unreadable";
            status = EXIT_TROUBLE;
        } else {
            fl->state = FL_TO_MINE;
            order.push_back(fl);
            if (fl->li.findings > 0)
                status = std::max(status, EXIT_FOUND);
        }
    }
    std::stable_sort(order.begin(), order.end(), [](const FOLDER_LOG *a, const FOLDER_LOG *b) {
        if (a->li.dbid != b->li.dbid)
            return a->li.dbid < b->li.dbid;
        if (a->li.thread != b->li.thread)
            return a->li.thread < b->li.thread;
        return a->li.seq < b->li.seq;
    });

    if ((job.to_db ? open_db(&job) : open_csv(&job)) != 0) {
        sqlite3_close(job.db);
        return EXIT_TROUBLE;
    }

    // logs loaded before, in the database or earlier in this run (a copy of the same bytes)
    std::vector<FOLDER_LOG *> todo;
    for (size_t k = 0; k < order.size(); k++) {
        FOLDER_LOG *fl = order[k];
        int known = job.to_db ? find_loaded(&job, fl) : 0;

        if (known < 0) {
            status = EXIT_TROUBLE;
            fl->state = FL_FAILED;
            continue;
        }
        for (size_t j = 0; j < k && known == 0; j++)
            if (order[j]->state == FL_TO_MINE && order[j]->li.dbid == fl->li.dbid &&
                order[j]->li.thread == fl->li.thread && order[j]->li.seq == fl->li.seq &&
                strcmp(order[j]->sha256, fl->sha256) == 0) {
                fl->same_as = order[j]->li.file;
                known = 1;
            }
        if (known) {
            fl->state = FL_LOADED_BEFORE;
        } else {
            todo.push_back(fl);
            if (!fl->other_bytes.empty())
                status = std::max(status, EXIT_FOUND);
        }
    }

    printf("%s%zu file%s: %zu log%s to load into %s, %zu loaded before\n", files.size() > 1 ? "\n" : "",
           files.size(), files.size() == 1 ? "" : "s", todo.size(), todo.size() == 1 ? "" : "s", job.out,
           order.size() - todo.size());
    for (FOLDER_LOG *fl : order)
        if (fl->state != FL_TO_MINE)
            print_log(fl);
    for (FOLDER_LOG &fl : logs)
        if (fl.state == FL_LEFT_OUT || fl.state == FL_SAME_FILE)
            print_log(&fl);
    fflush(stdout);

    if (!todo.empty() && (make_tmpdir(&job) != 0 || mine_logs(&job, todo) != 0))
        status = EXIT_TROUBLE;
    if (!job.tmpdir.empty() && rmdir(job.tmpdir.c_str()) != 0)
        fprintf(stderr, "remove %s: %s\n", job.tmpdir.c_str(), strerror(errno));

    uint64_t loaded = 0, lines = 0;
    for (FOLDER_LOG *fl : todo) {
        if (fl->state == FL_LOADED) {
            loaded++;
            lines += fl->lines;
        } else {
            status = EXIT_TROUBLE;
        }
        if (fl->status != 0)
            status = std::max(status, EXIT_FOUND);
    }
    if (job.to_db) {
        if (sqlite3_close(job.db) != SQLITE_OK) {
            fprintf(stderr, "close %s: %s\n", job.out, sqlite3_errmsg(job.db));
            status = EXIT_TROUBLE;
        }
    } else if (close_csv(&job) != 0) {
        status = EXIT_TROUBLE;
    }
    if (failed)
        status = EXIT_TROUBLE;
    printf("quorvil-folder: %llu log%s loaded (%llu lines) into %s; %s\n", (unsigned long long)loaded,
           loaded == 1 ? "" : "s", (unsigned long long)lines, job.out,
           status == EXIT_CLEAN ? "nothing found" : status == EXIT_FOUND ? "something found (exit status 1)"
                                                                         : "not done whole (exit status 2)");
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "write standard output: %s\n", strerror(errno ? errno : EIO));
        status = EXIT_TROUBLE;
    }
    for (LOG_INFO &li : infos)
        free(li.shown);
    return status;
}
