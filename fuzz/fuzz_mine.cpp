/*
 * fuzz_mine.cpp - fuzz target for a whole run: the input is a log file.
 *
 * The input is written to a memory file and quorvil_main is run on it with
 * -log /proc/self/fd/<n> -out /proc/self/fd/<m>, a second memory file, so
 * the header checks, the block reader, record assembly and every handler see
 * it exactly as the program does.  The run must end with 0 or -1 (exit
 * status 0 or 255), a run that passed over damage must not end as a
 * success, and the CSV must stay within CSV_BOUND of the input's size.
 *
 * Every run writes the banner and its messages to standard error; run the
 * fuzzer with -close_fd_mask=2 to keep them off the terminal (libFuzzer
 * keeps its own reports).
 */
#include "quorvil.h"

#include <cstdlib>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int quorvil_main(int argc, char **argv);

static int log_fd = -1, csv_fd = -1;
static char log_path[64], csv_path[64];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (log_fd < 0) {
        log_fd = memfd_create("quorvil-fuzz-log", 0);
        if (log_fd < 0)
            abort();
        snprintf(log_path, sizeof log_path, "/proc/self/fd/%d", log_fd);
        csv_fd = memfd_create("quorvil-fuzz-csv", 0);
        if (csv_fd < 0)
            abort();
        snprintf(csv_path, sizeof csv_path, "/proc/self/fd/%d", csv_fd);
    }
    // the CSV is written through csv_fd itself (a descriptor quorvil holds),
    // from where its offset stands
    if (ftruncate(log_fd, 0) != 0 || ftruncate(csv_fd, 0) != 0 || lseek(csv_fd, 0, SEEK_SET) != 0)
        abort();
    for (size_t done = 0; done < size;) {
        ssize_t w = pwrite(log_fd, data + done, size - done, (off_t)done);
        if (w <= 0)
            abort();
        done += (size_t)w;
    }

    char prog[] = "quorvil", opt_log[] = "-log", opt_out[] = "-out";
    char *argv[] = {prog, opt_log, log_path, opt_out, csv_path, NULL};
    int r = quorvil_main(5, argv);
    if (r != 0 && r != -1)
        abort();
    if (r == 0 && miner.damaged != 0)
        abort();
    // output stays proportional to the log
    struct stat st;
    if (fstat(csv_fd, &st) != 0 || (uint64_t)st.st_size > CSV_BOUND(size))
        abort();
    return 0;
}
