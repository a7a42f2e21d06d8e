/*
 * claim_output.cpp - claim_output: the checks every program of quorvil makes
 * on a file it is about to write, shared by quorvil's -out and
 * quorvil-decode's -out.
 *
 * The output is opened without emptying it, so that nothing is lost before
 * two checks: it must not be one of the files the run reads (same name, a
 * link to it, /dev/stdout that is an input's descriptor), and no other run
 * may be writing it.  Only then is it emptied.  Devices, FIFOs and terminals
 * are neither locked nor emptied: many runs may write /dev/null at once.
 */
#include "quorvil.h"

#include <cerrno>
#include <sys/file.h>
#include <unistd.h>

int claim_output(int fd, const char *name, const INPUT_ID *in, int nin, bool empty_it)
{
    struct stat out;

    if (fstat(fd, &out) != 0)
        return -1;
    for (int i = 0; i < nin; i++) {
        // the output is an input: writing it would destroy what is to be read
        if (out.st_dev == in[i].dev && out.st_ino == in[i].ino) {
            fprintf(stderr, "open %s: it is the %s %s itself; nothing written\n", name, in[i].kind, in[i].name);
            return -2;
        }
    }
    if (S_ISREG(out.st_mode)) {
        // another run holds the file: the lines of both would interleave.
        // A file system without locks (any other failure) is written unlocked.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            fprintf(stderr, "open %s: another run is writing it\n", name);
            return -2;
        }
        if (empty_it && ftruncate(fd, 0) != 0)
            return -1;
    }
    return 0;
}
