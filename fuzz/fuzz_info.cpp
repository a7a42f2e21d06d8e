/*
 * fuzz_info.cpp - fuzz target for quorvil-info's whole path: open,
 * decompress, header, block scan, judgment and report, on arbitrary bytes
 * laid as pack_input.h says (plain, compressed in each format, or a damaged
 * compressed stream).  The run must end with status 0, 1 or 2.  Its report
 * goes to standard output: run with -close_fd_mask=3.
 */
#include "pack_input.h"

#include <cstdio>

int quorvil_info_main(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char prog[] = "quorvil-info";
    char *log = (char *)pack_input(data, size);
    if (log == NULL)
        return 0;
    char *argv[] = {prog, log, NULL};
    int r = quorvil_info_main(2, argv);
    fflush(stdout);
    if (r < 0 || r > 2)
        abort();
    return 0;
}
