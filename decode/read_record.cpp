/*
 * read_record.cpp - read_record: the next line of the input, whole, in the
 * input buffer.
 *
 * A line ends at a line feed outside quotes (a quoted field may hold line
 * feeds); the last line may lack its line feed.  The buffer grows to hold the
 * longest line, up to RECORD_MAX; a longer line cannot be a line quorvil
 * writes, so it is passed through unchanged as it streams past, with an
 * empty SQL_UNDO, and memory stays bounded.
 */
#include "quorvil_decode.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace DECODE_ISA {

/* Ends a line that was passed through in pieces. */
static void end_long_line(DECODER *dc, size_t end)
{
    out_put(dc, dc->ibuf + dc->ibeg, end - dc->ibeg);
    OUT_LIT(dc, ",\n");
    dc->in_long = false;
    dc->lines++;
    dc->passed++;
}

/* 1: a line in *rec, without its line feed; 2: a line was passed through
 * whole already; 0: no more lines; -1: the input could not be read. */
int read_record(DECODER *dc, SPAN *rec)
{
    for (;;) {
        size_t end = dc->iscan + find_record_end(dc->ibuf + dc->iscan, dc->iend - dc->iscan, &dc->iscan_quoted);

        if (end < dc->iend || (dc->in_eof && (dc->iend > dc->ibeg || dc->in_long))) {
            bool long_line = dc->in_long;
            *rec = {dc->ibuf + dc->ibeg, end - dc->ibeg};
            if (long_line)
                end_long_line(dc, end);
            dc->ibeg = dc->iscan = end < dc->iend ? end + 1 : end;
            dc->iscan_quoted = false;
            return long_line ? 2 : 1;
        }
        dc->iscan = dc->iend;
        if (dc->in_eof)
            return 0;

        if (dc->ibeg > 0) {
            memmove(dc->ibuf, dc->ibuf + dc->ibeg, dc->iend - dc->ibeg);
            dc->iend -= dc->ibeg;
            dc->iscan -= dc->ibeg;
            dc->ibeg = 0;
        }
        if (dc->iend == dc->ibuf_sz) {
            char *nb = dc->ibuf_sz < RECORD_MAX ? (char *)realloc(dc->ibuf, 2 * dc->ibuf_sz + WILD_SLACK) : NULL;
            if (nb != NULL) {
                dc->ibuf = nb;
                dc->ibuf_sz *= 2;
            } else {
                // too long to hold: what there is of the line goes out now
                out_put(dc, dc->ibuf, dc->iend);
                dc->in_long = true;
                dc->iend = dc->iscan = 0;
            }
        }

        ssize_t n;
        do {
            n = read(dc->in_fd, dc->ibuf + dc->iend, dc->ibuf_sz - dc->iend);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            dc->in_errno = errno;
            return -1;
        }
        if (n == 0)
            dc->in_eof = true;
        dc->iend += (size_t)n;
    }
}

}  // namespace DECODE_ISA
