/*
 * fuzz_packed.cpp - fuzz target for quorvil on logs as users keep them:
 * plain, compressed in each format, or a damaged compressed stream (see
 * pack_input.h).  The run must end with 0 or -1 (exit status 0 or 255), a
 * run that passed over damage must not end as a success, and the CSV, on
 * the plain log the stream decompresses to, stays within CSV_BOUND of
 * what was fed.  Run with -close_fd_mask=2.
 */
#include "pack_input.h"
#include "quorvil.h"

#include <sys/stat.h>

int quorvil_main(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int csv_fd = -1;
    static char csv_path[64];

    if (csv_fd < 0) {
        csv_fd = memfd_create("quorvil-fuzz-csv", 0);
        if (csv_fd < 0)
            abort();
        snprintf(csv_path, sizeof csv_path, "/proc/self/fd/%d", csv_fd);
    }
    char *log = (char *)pack_input(data, size);
    if (log == NULL)
        return 0;
    if (ftruncate(csv_fd, 0) != 0 || lseek(csv_fd, 0, SEEK_SET) != 0)
        abort();
    char prog[] = "quorvil", opt_log[] = "-log", opt_out[] = "-out";
    char *argv[] = {prog, opt_log, log, opt_out, csv_path, NULL};
    int r = quorvil_main(5, argv);
    if (r != 0 && r != -1)
        abort();
    if (r == 0 && miner.damaged != 0)
        abort();
    // the log is what was fed before it was compressed, or for a stream the
    // fuzzer wrote itself at most UNPACKED_CAP bytes
    struct stat st;
    if (fstat(csv_fd, &st) != 0 || (uint64_t)st.st_size > CSV_BOUND(data[0] <= 4 ? size : UNPACKED_CAP))
        abort();
    return 0;
}
