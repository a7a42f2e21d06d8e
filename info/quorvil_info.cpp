/*
 * quorvil_info.cpp - quorvil-info: main and the command line.
 *
 *   quorvil-info [-csv] LOG...
 *   quorvil-info -h | --help | --version
 *
 * For each log, in the order given: what its header says, and whether every
 * block of it is whole (inspect_log, scan_blocks, judge_log); then how the
 * logs fit together (check_set).  The report, or with -csv one CSV line per
 * log, goes to standard output; messages go to standard error.  Exit status
 * 0 when everything was read and nothing was found, 1 when anything was
 * found, 2 when a file could not be read or is not a log, or the command
 * line is wrong.
 */
#include "quorvil_info.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#define EXIT_CLEAN 0
#define EXIT_FOUND 1
#define EXIT_TROUBLE 2

static MINER info_miner;

static void info_usage(const char *prgname)
{
    fprintf(stderr,
            "usage: %s [-csv] LOG...\n"
            "\n"
            "  -h, --help  show help information\n"
            "  --version   show the version of quorvil-info\n"
            "  -csv        write one CSV line per log, after a header line, instead\n"
            "              of the report.\n"
            "\n"
            "Tells what each redo log file is, whether every block of it is whole,\n"
            "and how the logs given fit together.  Exit status: 0 nothing found,\n"
            "1 something found, 2 a file could not be read or is not a log.\n"
            "\n",
            prgname);
}

#ifdef QUORVIL_EMBEDDED
int quorvil_info_main(int argc, char **argv)
#else
int main(int argc, char **argv)
#endif
{
    MINER *mnr = &info_miner;
    LOG_INFO *logs;
    bool csv = false, failed = false;
    int first = argc, nlogs, status = EXIT_CLEAN;
    bool tty = isatty(STDERR_FILENO);

    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];

        if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            info_usage(argv[0]);
            return EXIT_CLEAN;
        } else if (strcmp(arg, "--version") == 0) {
            if (printf("quorvil-info %s\n", QUORVIL_VERSION) < 0 || fflush(stdout) != 0) {
                fprintf(stderr, "write standard output: %s\n", strerror(errno));
                return EXIT_TROUBLE;
            }
            return EXIT_CLEAN;
        } else if (strcmp(arg, "-csv") == 0) {
            csv = true;
        } else if (strcmp(arg, "--") == 0) {
            first = i + 1;
            break;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            fprintf(stderr, "Invalid option \"%s\" specified.\n", arg);
            info_usage(argv[0]);
            return EXIT_TROUBLE;
        } else {
            first = i;
            break;
        }
    }
    nlogs = argc - first;
    if (nlogs <= 0) {
        fprintf(stderr, "log file name not specified.\n");
        info_usage(argv[0]);
        return EXIT_TROUBLE;
    }

    logs = (LOG_INFO *)calloc((size_t)nlogs, sizeof *logs);
    mnr->rbuf = (uint8_t *)malloc(RBUF_SIZE);
    if (logs == NULL || mnr->rbuf == NULL) {
        fprintf(stderr, "Allocate work memory error: %s\n", strerror(errno));
        free(logs);
        free(mnr->rbuf);
        return EXIT_TROUBLE;
    }

    if (csv)
        write_csv_header();
    for (int i = 0; i < nlogs; i++) {
        LOG_INFO *li = &logs[i];

        li->file = argv[first + i];
        li->shown = escape_name(li->file);
        if (!named_before(logs, i))
            examine_log(mnr, li, tty);
        judge_log(li);
        if (csv)
            write_csv_row(li);
        else
            print_report(li);
        // the report of each log reaches the reader before the next is read
        fflush(stdout);
        if (li->state == LOG_HEADER_CUT) {
            if (status == EXIT_CLEAN)
                status = EXIT_FOUND;
        } else if (li->state != LOG_READ && li->state != LOG_SAME_FILE) {
            status = EXIT_TROUBLE;
        }
        else if (li->findings > 0 && status == EXIT_CLEAN)
            status = EXIT_FOUND;
    }
    if (check_set(logs, nlogs, csv, &failed) > 0 && status == EXIT_CLEAN)
        status = EXIT_FOUND;
    if (failed)
        status = EXIT_TROUBLE;

    // a report that did not reach its reader whole is a failure
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "write standard output: %s\n", strerror(errno ? errno : EIO));
        status = EXIT_TROUBLE;
    }
    free(mnr->rbuf);
    for (int i = 0; i < nlogs; i++)
        free(logs[i].shown);
    free(logs);
    return status;
}
