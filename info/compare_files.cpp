/*
 * compare_files.cpp - compare_files: are two files the same bytes?
 *
 * Multiplexed members of one log are byte for byte copies; this says so only
 * after reading both files through, with two small buffers, never from a
 * hash or from sizes alone.  Returns 0 when identical, 1 when they differ
 * (diff_at: offset of the first byte that differs, or the length of the
 * shorter file), -1 when either cannot be read.
 */
#include "quorvil_info.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

static uint8_t buf_a[COMPARE_BUF_SIZE];
static uint8_t buf_b[COMPARE_BUF_SIZE];

/* Fills buf from fd up to n bytes; fewer only at the end of the file. */
static ssize_t read_full(int fd, uint8_t *buf, size_t n)
{
    size_t got = 0;

    while (got < n) {
        ssize_t r = read(fd, buf + got, n - got);

        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += (size_t)r;
    }
    return (ssize_t)got;
}

int compare_files(const char *a, const char *b, uint64_t *diff_at)
{
    int fa = open(a, O_RDONLY), fb = open(b, O_RDONLY);
    uint64_t off = 0;
    int ret = -1;

    if (fa < 0 || fb < 0) {
        fprintf(stderr, "open %s: %s\n", fa < 0 ? a : b, strerror(errno));
        goto done;
    }
    posix_fadvise(fa, 0, 0, POSIX_FADV_SEQUENTIAL);
    posix_fadvise(fb, 0, 0, POSIX_FADV_SEQUENTIAL);
    for (;;) {
        ssize_t na = read_full(fa, buf_a, sizeof buf_a), nb = read_full(fb, buf_b, sizeof buf_b);
        ssize_t n;

        if (na < 0 || nb < 0) {
            fprintf(stderr, "read %s: %s\n", na < 0 ? a : b, strerror(errno));
            goto done;
        }
        n = na < nb ? na : nb;
        if (memcmp(buf_a, buf_b, (size_t)n) != 0) {
            ssize_t i = 0;

            while (buf_a[i] == buf_b[i])
                i++;
            *diff_at = off + (uint64_t)i;
            ret = 1;
            goto done;
        }
        // one file ended before the other
        if (na != nb) {
            *diff_at = off + (uint64_t)n;
            ret = 1;
            goto done;
        }
        if (na == 0)
            break;
        off += (uint64_t)na;
    }
    ret = 0;
done:
    if (fa >= 0)
        close(fa);
    if (fb >= 0)
        close(fb);
    return ret;
}
