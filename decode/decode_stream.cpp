/*
 * decode_stream.cpp - decode_stream: every line of the input, in order, to
 * the output; and output_bound, the most a run may write.
 *
 * The input and output buffers are allocated once per run; the scratch of a
 * line (items, literals, bytes) keeps its room from line to line, so memory
 * grows only to the longest line and never with the number of lines.
 */
#include "quorvil_decode.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace DECODE_ISA {

/*
 * The most bytes a run writes for in_bytes of input in lines lines.  Every
 * output line comes from one input line: its first fields as they came, and
 * two statements (SQL_REDO, SQL_UNDO), each built of pieces of the input
 * statement put back once.  No piece grows by more than a factor F over the
 * input text it stands for:
 *   a name or table token of T bytes stands for at least 6 bytes (OBJ# n);
 *   a literal of a fixed-size type is at most 90 bytes, for at least 14
 *     (HEXTORAW('xx')); FROM_TZ adds the zone text Z, for at least 26;
 *   text is at most 3 bytes of UTF-8 for each byte of 2 hex digits;
 *   " and ", " IS NULL" and N= stand for at least ",""COL n""" and NULL.
 * So out <= (2F + 1) * in + 3 * lines, F = max(8, T/6 + 2, (90 + Z)/26 + 1).
 * Each line adds at most ",\n" or ",SQL_UNDO" beyond that, counted in the
 * 3 * lines (a header line is 74 bytes, so 9 more fit within F).
 */
uint64_t output_bound(const DECODER *dc, uint64_t in_bytes, uint64_t lines)
{
    uint64_t f = std::max<uint64_t>({8, dc->dict.longest_token / 6 + 2, (90 + dc->tz_text.size()) / 26 + 1});
    return (2 * f + 1) * in_bytes + 3 * lines;
}

/* 0: every line written; -1: the input could not be read; -2: the output could not be written. */
int decode_stream(DECODER *dc)
{
    SPAN rec;
    int r, ret = 0;

    dc->ibuf_sz = IBUF_SIZE;
    dc->ibuf = (char *)malloc(dc->ibuf_sz + WILD_SLACK);  // room that out_at may read past a line
    dc->obuf = (char *)malloc(OBUF_SIZE);
    if (dc->ibuf == NULL || dc->obuf == NULL) {
        fprintf(stderr, "Allocate work memory error: %s\n", strerror(errno));
        ret = -2;
        goto done;
    }
    dc->ibeg = dc->iend = dc->iscan = dc->opos = 0;
    dc->iscan_quoted = dc->in_long = dc->in_eof = false;
    dc->items.resize(64);

    while ((r = read_record(dc, &rec)) != 0) {
        if (r < 0) {
            ret = -1;
            break;
        }
        if (r == 1)
            decode_line(dc, rec);
        // nothing more can reach the output
        if (dc->out_errno != 0)
            break;
    }
    if (out_flush(dc) < 0)
        ret = -2;
done:
    free(dc->ibuf);
    free(dc->obuf);
    free(dc->lit);
    free(dc->bytes);
    free(dc->shape_out);
    dc->shape_out = NULL;
    dc->shape_out_cap = 0;
    dc->ibuf = dc->obuf = dc->lit = NULL;
    dc->bytes = NULL;
    dc->lit_len = dc->lit_cap = dc->bytes_cap = 0;
    return ret;
}

}  // namespace DECODE_ISA
