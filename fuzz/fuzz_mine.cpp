/*
 * fuzz_mine.cpp - fuzz target for a whole run: the input is a log file.
 *
 * The input is written to a memory file and quorvil_main is run on it with
 * -log /proc/self/fd/<n> -out /dev/null, so the header checks, the block
 * reader, record assembly and every handler see it exactly as the program
 * does.  The run must end with 0 or -1 (exit status 0 or 255), and a run
 * that passed over damage must not end as a success.
 *
 * Every run writes the banner and its messages to standard error; run the
 * fuzzer with -close_fd_mask=2 to keep them off the terminal (libFuzzer
 * keeps its own reports).
 */
#include "quorvil.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

int quorvil_main(int argc, char **argv);

static int log_fd = -1;
static char log_path[64];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (log_fd < 0) {
        log_fd = memfd_create("quorvil-fuzz-log", 0);
        if (log_fd < 0)
            abort();
        snprintf(log_path, sizeof log_path, "/proc/self/fd/%d", log_fd);
    }
    if (ftruncate(log_fd, 0) != 0)
        abort();
    for (size_t done = 0; done < size;) {
        ssize_t w = pwrite(log_fd, data + done, size - done, (off_t)done);
        if (w <= 0)
            abort();
        done += (size_t)w;
    }

    char prog[] = "quorvil", opt_log[] = "-log", opt_out[] = "-out", out[] = "/dev/null";
    char *argv[] = {prog, opt_log, log_path, opt_out, out, NULL};
    int r = quorvil_main(5, argv);
    if (r != 0 && r != -1)
        abort();
    if (r == 0 && miner.damaged != 0)
        abort();
    return 0;
}
