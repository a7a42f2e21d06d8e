/*
 * quorvil_decode.cpp - quorvil-decode: main and the command line.
 *
 *   quorvil-decode -dict COLUMNS.csv [-nls PARAMETERS.csv] [-in CSV] [-out CSV]
 *   quorvil-decode -h | --help | --version
 *
 * Reads quorvil's CSV (standard input by default) and the dictionary, and
 * writes the same lines (standard output by default) with names, typed
 * literals and an SQL_UNDO column.  The output file is checked as quorvil
 * checks its own (claim_output): never one of the inputs, one writer at a
 * time.  Messages go to standard error and the run ends with one summary
 * line.  Exit status 0 when every line was written, 1 when some lines were
 * not quorvil's and were passed through unchanged, 2 when it cannot run or
 * a read or write failed.
 */
#include "quorvil_decode.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

static DECODER decoder;

static void decode_usage(const char *prgname)
{
    fprintf(stderr,
            "usage: %s -dict COLUMNS.csv [-nls PARAMETERS.csv] [-in CSV] [-out CSV]\n"
            "\n"
            "  -h, --help  show help information\n"
            "  --version   show the version of quorvil-decode\n"
            "  -dict       the dictionary export: one row per column of each table,\n"
            "              with OBJECT_ID, OWNER, TABLE_NAME, SEGMENT_COLUMN_ID,\n"
            "              COLUMN_NAME and DATA_TYPE.\n"
            "  -nls        the database parameters NLS_CHARACTERSET,\n"
            "              NLS_NCHAR_CHARACTERSET and DBTIMEZONE; without it\n"
            "              AL32UTF8 and AL16UTF16 are taken.\n"
            "  -in         quorvil's CSV to read; standard input when not given or -.\n"
            "  -out        where to write; standard output when not given or -.\n"
            "\n"
            "Writes quorvil's lines with table and column names, typed values and\n"
            "an SQL_UNDO column.  Exit status: 0 every line written, 1 some lines\n"
            "passed through unchanged, 2 it cannot run or a read or write failed.\n"
            "\n",
            prgname);
}

/* The whole of a small file, and its identity for the output check. */
static int read_whole(const char *name, std::string *text, INPUT_ID *id, const char *kind)
{
    struct stat st;
    char buf[65536];
    ssize_t n;
    int fd;

    do {
        fd = open(name, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 || fstat(fd, &st) != 0) {
        fprintf(stderr, "open %s: %s\n", name, strerror(errno));
        if (fd >= 0)
            close(fd);
        return -1;
    }
    *id = {kind, name, st.st_dev, st.st_ino};
    text->clear();
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            fprintf(stderr, "read %s: %s\n", name, strerror(errno));
            close(fd);
            return -1;
        }
        text->append(buf, (size_t)n);
    }
    close(fd);
    return 0;
}

/* The value of option argv[*i]; NULL, after a message, when it has none or it is too long. */
static const char *option_value(int argc, char **argv, int *i, const char *what)
{
    const char *opt = argv[*i];

    if (++*i >= argc) {
        fprintf(stderr, "no %s specified.\n", what);
        return NULL;
    }
    // refused, never cut: its first 255 characters may name another file
    if (strlen(argv[*i]) > NAME_MAX_LEN) {
        fprintf(stderr, "%s file name is longer than %d characters.\n", opt, NAME_MAX_LEN);
        return NULL;
    }
    return argv[*i];
}

static bool is_std(const char *name)
{
    return name == NULL || strcmp(name, "-") == 0;
}

/* decode_stream of the build for this processor: the AVX2 one where it
 * runs, else the one for any x86-64 (see quorvil_decode.h). */
static int (*line_decoder(void))(DECODER *)
{
#ifdef QUORVIL_DECODE_AVX2
    if (avx2_runs())
        return isa_avx2::decode_stream;
#endif
    return isa_base::decode_stream;
}

int main(int argc, char **argv)
{
    DECODER *dc = &decoder;
    const char *dict = NULL, *nls = NULL, *in = NULL, *out = NULL;
    INPUT_ID ids[3];
    int nids = 0, status = EXIT_WRITTEN, ret;
    std::string text;
    struct stat st;

    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        const char **slot = strcmp(arg, "-dict") == 0  ? &dict
                            : strcmp(arg, "-nls") == 0 ? &nls
                            : strcmp(arg, "-in") == 0  ? &in
                            : strcmp(arg, "-out") == 0 ? &out
                                                       : NULL;
        if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            decode_usage(argv[0]);
            return EXIT_WRITTEN;
        }
        if (strcmp(arg, "--version") == 0) {
            if (printf("quorvil-decode %s\n", QUORVIL_VERSION) < 0 || fflush(stdout) != 0) {
                fprintf(stderr, "write standard output: %s\n", strerror(errno));
                return EXIT_TROUBLE;
            }
            return EXIT_WRITTEN;
        }
        if (slot == NULL) {
            fprintf(stderr, "Invalid option \"%s\" specified.\n", arg);
            decode_usage(argv[0]);
            return EXIT_TROUBLE;
        }
        *slot = option_value(argc, argv, &i, slot == &dict ? "dictionary file" : slot == &nls ? "parameter file"
                                                                       : slot == &in        ? "input file"
                                                                                            : "output file");
        if (*slot == NULL)
            return EXIT_TROUBLE;
    }
    if (dict == NULL) {
        fprintf(stderr, "dictionary file name not specified.\n");
        decode_usage(argv[0]);
        return EXIT_TROUBLE;
    }

    for (TEXT_CONV &tc : dc->conv)
        tc = {NULL, (iconv_t)-1, false};
    if (read_whole(dict, &text, &ids[nids++], "dictionary") < 0 ||
        load_dict(&dc->dict, text.data(), text.size(), dict) < 0)
        return EXIT_TROUBLE;
    if (nls != NULL) {
        if (read_whole(nls, &text, &ids[nids++], "parameter file") < 0 ||
            load_nls(dc, text.data(), text.size(), nls) < 0)
            goto trouble;
    } else {
        fprintf(stderr, "no -nls file: taking AL32UTF8 and AL16UTF16 as the character sets\n");
        if (set_charsets(dc, "AL32UTF8", "AL16UTF16", "-nls") < 0)
            goto trouble;
    }

    dc->in_fd = STDIN_FILENO;
    dc->in_name = is_std(in) ? "standard input" : in;
    if (!is_std(in)) {
        do {
            dc->in_fd = open(in, O_RDONLY | O_CLOEXEC);
        } while (dc->in_fd < 0 && errno == EINTR);
        if (dc->in_fd < 0) {
            fprintf(stderr, "open %s: %s\n", in, strerror(errno));
            goto trouble;
        }
    }
    if (fstat(dc->in_fd, &st) != 0) {
        fprintf(stderr, "open %s: %s\n", dc->in_name, strerror(errno));
        goto trouble;
    }
    ids[nids++] = {"input", dc->in_name, st.st_dev, st.st_ino};

    dc->out_fd = STDOUT_FILENO;
    dc->out_name = is_std(out) ? "standard output" : out;
    if (!is_std(out)) {
        do {
            dc->out_fd = open(out, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        } while (dc->out_fd < 0 && errno == EINTR);
        if (dc->out_fd < 0) {
            fprintf(stderr, "open %s: %s\n", out, strerror(errno));
            goto trouble;
        }
    }
    // standard output was made by the shell: checked and locked, never emptied
    ret = claim_output(dc->out_fd, dc->out_name, ids, nids, !is_std(out));
    if (ret < 0) {
        if (ret == -1)
            fprintf(stderr, "open %s: %s\n", dc->out_name, strerror(errno));
        goto trouble;
    }

    ret = line_decoder()(dc);
    if (ret == -1)
        fprintf(stderr, "read %s: %s\n", dc->in_name, strerror(dc->in_errno));
    else if (ret == -2 && dc->out_errno != 0)
        fprintf(stderr, "write %s: %s\n", dc->out_name, strerror(dc->out_errno));
    if (!is_std(out) && close(dc->out_fd) != 0 && ret == 0) {
        fprintf(stderr, "write %s: %s\n", dc->out_name, strerror(errno));
        ret = -2;
    }
    if (dc->stale > 0)
        fprintf(stderr, "%llu lines of objects whose DATA_OBJD# is not the export's DATA_OBJECT_ID: the segment "
                "changed since the export; they are matched by OBJECT_ID\n", (unsigned long long)dc->stale);
    fprintf(stderr, "%llu lines read, %llu decoded, %llu of objects not in the dictionary, %llu values left in hex, "
            "%llu passed through unchanged.\n", (unsigned long long)dc->lines, (unsigned long long)dc->decoded,
            (unsigned long long)dc->unknown_obj, (unsigned long long)dc->hex_values,
            (unsigned long long)dc->passed);
    if (ret < 0)
        status = EXIT_TROUBLE;
    else if (dc->passed > 0)
        status = EXIT_PASSED;
    if (!is_std(in))
        close(dc->in_fd);
    close_charsets(dc);
    return status;

trouble:
    if (!is_std(in) && dc->in_fd > STDERR_FILENO)
        close(dc->in_fd);
    close_charsets(dc);
    return EXIT_TROUBLE;
}
