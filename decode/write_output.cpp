/*
 * write_output.cpp - out_put and out_flush: the one buffered output stream.
 *
 * Text is gathered in obuf and written with write() when the next piece
 * would not fit; a piece larger than the buffer is written straight away.
 * The first failed write is kept in out_errno, everything after it is
 * dropped, and the run ends with status 2.
 */
#include "quorvil_decode.h"

#include <cerrno>
#include <unistd.h>

static void write_all(DECODER *dc, const char *p, size_t n)
{
    while (n > 0 && dc->out_errno == 0) {
        ssize_t w = write(dc->out_fd, p, n);
        if (w < 0) {
            if (errno != EINTR)
                dc->out_errno = errno;
            continue;
        }
        // a write of nothing would go on forever
        if (w == 0) {
            dc->out_errno = EIO;
            break;
        }
        p += w;
        n -= (size_t)w;
    }
}

/* The piece does not fit behind what is gathered (out_put is the fast path). */
void out_put_slow(DECODER *dc, const char *p, size_t n)
{
    dc->out_bytes += dc->opos;
    write_all(dc, dc->obuf, dc->opos);
    dc->opos = 0;
    if (n >= OBUF_SIZE) {
        dc->out_bytes += n;
        write_all(dc, p, n);
        return;
    }
    memcpy(dc->obuf, p, n);
    dc->opos = n;
}

/* The piece does not fit before the room kept at the end of obuf (out_at is the fast path). */
char *out_at_slow(DECODER *dc, char *o, const char *p, size_t n)
{
    dc->opos = (size_t)(o - dc->obuf);
    out_put(dc, p, n);
    return dc->obuf + dc->opos;
}

int out_flush(DECODER *dc)
{
    dc->out_bytes += dc->opos;
    write_all(dc, dc->obuf, dc->opos);
    dc->opos = 0;
    return dc->out_errno ? -1 : 0;
}
