/*
 * quorvil.cpp - the program: main, the command line and the global run context.
 *
 * main clears the run context, writes the banner, reads the options, sets up
 * the work area, checks the log file header (blocks 0 and 1), opens the CSV
 * and hands over to mine_redolog.  It ends with one closing line and exit
 * status 0, or 255 when anything failed or the output is incomplete.
 */
#include "quorvil.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

MINER miner;

#define DEFAULT_OUTFILE "log_contents.csv"

/* The decimal value of s; all-ones when s holds anything but digits.
 * Larger values wrap modulo 2^64, as plain unsigned arithmetic does. */
uint64_t str_to_u64(const char *s)
{
    uint64_t v = 0;

    for (; *s; s++) {
        if (*s < '0' || *s > '9')
            return UINT64_MAX;
        v = v * 10 + (uint64_t)(*s - '0');
    }
    return v;
}

void usage(const char *prgname)
{
    fprintf(stderr,
            "usage: %s [options]\n"
            "\n"
            "  -h          show help information\n"
            "  -start_scn  return only redo records with an SCN greater than\n"
            "              or equal to the startScn specified.\n"
            "  -end_scn    return only redo records with an SCN less than\n"
            "              or equal to the endScn specified.\n"
            "  -log        specifies the name of the redo log file to be analyzed.\n"
            "  -out        specifies the name of log content output file.\n"
            "\n",
            prgname);
}

/* Copies a file name into a 256-character field.  A longer name is
 * refused, never cut: its first 255 characters may name another file, even
 * the log itself. */
static int copy_name(char *dst, const char *src, const char *opt)
{
    size_t n = strlen(src);

    // the name does not fit the field
    if (n > 255) {
        fprintf(stderr, "%s file name is longer than 255 characters.\n", opt);
        return -1;
    }
    memcpy(dst, src, n + 1);
    return 0;
}

int parse_arguments(int argc, char **argv)
{
    MINER *mnr = &miner;
    int i;

    for (i = 1; i < argc; i++) {
        const char *arg = argv[i];

        if (strcmp(arg, "-h") == 0) {
            usage(argv[0]);
            return -1;
        } else if (strcmp(arg, "-start_scn") == 0) {
            if (++i >= argc) {
                fprintf(stderr, "no START SCN specified.\n");
                goto show_usage;
            }
            mnr->start_scn = str_to_u64(argv[i]);
            if (mnr->start_scn == UINT64_MAX) {
                fprintf(stderr, "start SCN not a digital number.\n");
                goto show_usage;
            }
        } else if (strcmp(arg, "-end_scn") == 0) {
            if (++i >= argc) {
                fprintf(stderr, "no END SCN specified.\n");
                goto show_usage;
            }
            mnr->end_scn = str_to_u64(argv[i]);
            if (mnr->end_scn == UINT64_MAX) {
                fprintf(stderr, "end SCN not a digital number.\n");
                goto show_usage;
            }
        } else if (strcmp(arg, "-log") == 0) {
            if (++i >= argc) {
                fprintf(stderr, "no log file specified.\n");
                goto show_usage;
            }
            if (copy_name(mnr->logfile, argv[i], arg) < 0)
                return -1;
        } else if (strcmp(arg, "-out") == 0) {
            if (++i >= argc) {
                fprintf(stderr, "no output file specified.\n");
                goto show_usage;
            }
            if (copy_name(mnr->outfile, argv[i], arg) < 0)
                return -1;
        } else {
            fprintf(stderr, "Invalid option \"%s\" specified.\n", arg);
            goto show_usage;
        }
    }

    if (mnr->logfile[0] == '\0') {
        fprintf(stderr, "log file name not specified.\n");
        return -1;
    }
    if (mnr->outfile[0] == '\0')
        copy_name(mnr->outfile, DEFAULT_OUTFILE, "-out");
    if (mnr->end_scn == 0)
        mnr->end_scn = MAX_SCN;
    return 0;

show_usage:
    usage(argv[0]);
    return -1;
}

/*
 * Opens the CSV for the run (claim_output): never the log, by any path; a
 * regular file locked against other runs, then emptied.  An output that
 * names a descriptor the process holds already ("-", /dev/stdout,
 * /dev/fd/N, /proc/self/fd/N) is written through it as the shell opened it,
 * never emptied or locked, so that >> appends and a loop's runs follow one
 * another in one file.
 */
static int open_output(MINER *mnr)
{
    INPUT_ID in = {"log", mnr->logfile, 0, 0};
    const int held = held_descriptor(mnr->outfile);
    int fd, ret;

    if (held >= 0) {
        fd = fcntl(held, F_DUPFD_CLOEXEC, 0);
    } else {
        do {
            fd = open(mnr->outfile, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd < 0)
        goto open_error;
    identify_input(mnr->fd, &in);
    ret = claim_output(fd, mnr->outfile, &in, 1, held < 0);
    if (ret == -2) {
        close(fd);
        return -1;
    }
    if (ret < 0)
        goto open_error;
    mnr->cfp = fdopen(fd, "w");
    if (mnr->cfp == NULL)
        goto open_error;
    return 0;

open_error:
    fprintf(stderr, "open log content file error: %s\n", strerror(errno));
    if (fd >= 0)
        close(fd);
    return -1;
}

/* Closes the CSV and says whether every byte of it reached the file. */
static int close_output(MINER *mnr)
{
    int err = mnr->out_errno;

    if (fflush(mnr->cfp) != 0 && err == 0)
        err = errno;
    if (ferror(mnr->cfp) && err == 0)
        err = EIO;
    if (fclose(mnr->cfp) != 0 && err == 0)
        err = errno;
    mnr->cfp = NULL;
    if (err) {
        fprintf(stderr, "write %s: %s\n", mnr->outfile, strerror(err));
        return -1;
    }
    return 0;
}

#ifdef QUORVIL_EMBEDDED
int quorvil_main(int argc, char **argv)
#else
int main(int argc, char **argv)
#endif
{
    MINER *mnr = &miner;
    int ret;

    memset(mnr, 0, sizeof *mnr);
    show_copyright();
    if (parse_arguments(argc, argv) < 0)
        return -1;

    mnr->wrk = (uint8_t *)malloc(WORK_SIZE);
    if (mnr->wrk == NULL) {
        fprintf(stderr, "Allocate work memory error: %s\n", strerror(errno));
        return -1;
    }
    split_work_area(mnr);

    mnr->fd = -1;
    if (open_log(mnr) < 0)
        goto error_exit;
    // a compressed log or a pipe has no size to go by
    if (mnr->src != NULL || log_size(mnr, &mnr->log_sz) < 0)
        mnr->log_sz = 0;
    if (read_header(mnr) < 0)
        goto error_exit;
    if (compat_after_11_2(mnr->compat)) {
        char ver[32];

        format_compat(mnr->compat, ver, sizeof ver);
        fprintf(stderr, "%s: compatibility %s: quorvil's layouts are those of logs up to 11.2, "
                "so lines from this log may be wrong\n", mnr->logfile, ver);
    }

    if (open_output(mnr) < 0)
        goto error_exit;
    mnr->progress = isatty(STDERR_FILENO) && (mnr->log_sz >= 8 * 1024 * 1024 || mnr->src != NULL);

    ret = mine_redolog(mnr);
    if (ret < 0 && ret != STOP_MINING)
        goto error_exit;
    if (close_output(mnr) < 0)
        goto error_exit;
    // mining went on past damage: the CSV lacks what the damaged places
    // held, or, where each was decoded all the same, may hold wrong values
    if (mnr->damaged) {
        const bool one = mnr->damaged == 1;

        if (mnr->damaged == mnr->decoded_damage)
            fprintf(stderr, "%s: %llu damaged place%s decoded; lines from %s may hold wrong values\n", mnr->logfile,
                    (unsigned long long)mnr->damaged, one ? "" : "s", one ? "it" : "them");
        else
            fprintf(stderr, "%s: %llu damaged place%s passed over; the output is incomplete\n", mnr->logfile,
                    (unsigned long long)mnr->damaged, one ? "" : "s");
        goto error_exit;
    }

    fprintf(stderr, "quorvil end.\n");
    close_log(mnr);
    free(mnr->wrk);
    return 0;

error_exit:
    // the CSV is closed first so that a failure to write it is reported
    // before the closing line
    if (mnr->cfp != NULL)
        close_output(mnr);
    fprintf(stderr, "quorvil exit with error.\n");
    close_log(mnr);
    if (mnr->wrk != NULL)
        free(mnr->wrk);
    return -1;
}
