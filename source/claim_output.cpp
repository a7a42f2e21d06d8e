/*
 * claim_output.cpp - claim_output: the checks every program of quorvil makes
 * on a file it is about to write, shared by quorvil's -out and
 * quorvil-decode's -out.
 *
 * The output is opened without emptying it, so that nothing is lost before
 * two checks: it must not be one of the files the run reads, whatever the
 * path (same name, a link, /dev/stdout that is an input's descriptor, a
 * second device node for the same device, a loop device and the file behind
 * it), and no other run may be writing it.  Only then is it emptied.
 * Devices, FIFOs and terminals are neither locked nor emptied: many runs may
 * write /dev/null at once.
 */
#include "quorvil.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

/* What the open file fd is, every way it may be reached: its device and
 * inode, the device a node stands for, and the file behind a loop device. */
void identify_input(int fd, INPUT_ID *id)
{
    struct stat st;
    struct loop_info64 lo;

    id->node = 0;
    id->backed = false;
    if (fstat(fd, &st) != 0)
        return;
    id->dev = st.st_dev;
    id->ino = st.st_ino;
    if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
        id->node = S_ISBLK(st.st_mode) ? 'b' : 'c';
        id->rdev = st.st_rdev;
    }
    if (S_ISBLK(st.st_mode) && ioctl(fd, LOOP_GET_STATUS64, &lo) == 0) {
        id->backed = true;
        id->back_dev = (dev_t)lo.lo_device;
        id->back_ino = (ino_t)lo.lo_inode;
    }
}

/* Do a and b reach the same bytes? */
static bool same_bytes(const INPUT_ID *a, const INPUT_ID *b)
{
    if (a->dev == b->dev && a->ino == b->ino)
        return true;
    if (a->node != 0 && a->node == b->node && a->rdev == b->rdev)
        return true;
    if (a->backed && a->back_dev == b->dev && a->back_ino == b->ino)
        return true;
    if (b->backed && b->back_dev == a->dev && b->back_ino == a->ino)
        return true;
    return a->backed && b->backed && a->back_dev == b->back_dev && a->back_ino == b->back_ino;
}

/*
 * The descriptor an output name stands for when the process holds it
 * already: "-" and /dev/stdout are standard output, /dev/fd/N and
 * /proc/self/fd/N descriptor N.  Such an output is written through that
 * descriptor as it is: whatever the shell opened (>> appends) stays so.
 * -1 when the name is none of these, or names a descriptor not held.
 */
int held_descriptor(const char *name)
{
    const char *num = NULL;
    long n = 0;

    if (strcmp(name, "-") == 0 || strcmp(name, "/dev/stdout") == 0)
        n = STDOUT_FILENO;
    else if (strncmp(name, "/dev/fd/", 8) == 0)
        num = name + 8;
    else if (strncmp(name, "/proc/self/fd/", 14) == 0)
        num = name + 14;
    else
        return -1;
    if (num != NULL) {
        if (*num == '\0')
            return -1;
        for (; *num; num++) {
            if (*num < '0' || *num > '9' || n > INT_MAX / 10)
                return -1;
            n = n * 10 + (*num - '0');
        }
    }
    return fcntl((int)n, F_GETFD) != -1 ? (int)n : -1;
}

/*
 * Checks the output fd (named name) against the nin files the run reads.
 * With take_it, a regular file is then locked and emptied; without, the
 * output is a descriptor the shell gave and is written as it is, neither
 * locked nor emptied.  Returns 0, -2 when refused (said on standard error),
 * -1 on a system error (errno set).
 */
int claim_output(int fd, const char *name, const INPUT_ID *in, int nin, bool take_it)
{
    struct stat out;
    INPUT_ID oid = {};

    if (fstat(fd, &out) != 0)
        return -1;
    identify_input(fd, &oid);
    for (int i = 0; i < nin; i++) {
        // the output is an input: writing it would destroy what is to be read
        if (same_bytes(&oid, &in[i])) {
            fprintf(stderr, "open %s: it is the %s %s itself; nothing written\n", name, in[i].kind, in[i].name);
            return -2;
        }
    }
    if (take_it && S_ISREG(out.st_mode)) {
        // another run holds the file: the lines of both would interleave.
        // A file system without locks (any other failure) is written unlocked.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            fprintf(stderr, "open %s: another run is writing it\n", name);
            return -2;
        }
        if (ftruncate(fd, 0) != 0)
            return -1;
    }
    return 0;
}
