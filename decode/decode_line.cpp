/*
 * decode_line.cpp - decode_line: one line of quorvil's CSV, written again
 * with an SQL_UNDO field.
 *
 * The line shapes:
 *   header       SCN,...,SQL_REDO             written with ,SQL_UNDO added
 *   START, COMMIT, ROLLBACK, DDL             as they came, SQL_UNDO empty
 *   INSERT, DELETE, UPDATE                   six numbers, TABLE_NAME, OPERATION, the quoted statement
 * A row line of an object in the dictionary gets OWNER.TABLE, the names of
 * its columns and the literals of their values; of any other object, its
 * SQL_REDO as it came and an SQL_UNDO in quorvil's names and hex.  A line of
 * no shape is passed through unchanged with an empty SQL_UNDO.
 */
#include "quorvil_decode.h"

#include <cerrno>

namespace DECODE_ISA {

#define FIELDS 9

static const char header[] = "SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO";

#define NOT_DIGITS UINT64_MAX

/* The value of the n (1 to 8) decimal digits at p, or NOT_DIGITS.  Eight
 * bytes are loaded, up to 7 past the digits, and read as one number: the
 * digits moved to the top with '0's below them, checked all at once, then
 * joined pairwise, so that no loop runs as long as the field. */
static inline uint64_t eight_digits(const char *p, size_t n)
{
    const uint64_t zeros = 0x3030303030303030ull, highs = 0xf0f0f0f0f0f0f0f0ull;
    uint64_t x;

    memcpy(&x, p, 8);
    x = x << (8 * (8 - n)) | (zeros & ~(~0ull << (8 * (8 - n))));
    // a digit is 0x30..0x39: high half 3, and still 3 with 6 added
    if (((x & highs) ^ zeros) | (((x + 0x0606060606060606ull) & highs) ^ zeros))
        return NOT_DIGITS;
    x = (x & 0x0f0f0f0f0f0f0f0full) * 2561 >> 8;
    x = (x & 0x00ff00ff00ff00ffull) * 6553601 >> 16;
    return (x & 0x0000ffff0000ffffull) * 42949672960001ull >> 32;
}

/* A field of digits, perhaps with a leading minus, read as a number up to
 * max.  With room (the line lies in the input buffer) up to 16 digits are
 * read eight at a time; up to 19 cannot pass 2^64, so the bound is checked
 * once. */
static bool read_digits(SPAN f, bool sign_ok, uint64_t max, bool room, uint64_t *v)
{
    size_t i = sign_ok && f.n > 0 && f.p[0] == '-';
    uint64_t x = 0;

    *v = 0;
    if (f.n == i || f.n - i > 20)
        return false;
    if (room && f.n - i <= 16) {
        size_t n = f.n - i;
        if (n <= 8) {
            x = eight_digits(f.p + i, n);
        } else {
            uint64_t hi = eight_digits(f.p + i, n - 8), lo = eight_digits(f.p + f.n - 8, 8);
            x = hi == NOT_DIGITS || lo == NOT_DIGITS ? NOT_DIGITS : hi * 100000000 + lo;
        }
        if (x == NOT_DIGITS)
            return false;
        *v = x;
        return x <= max;
    }
    if (f.n - i == 20) {
        for (; i < f.n; i++) {
            if (f.p[i] < '0' || f.p[i] > '9')
                return false;
            x = x * 10 + (uint64_t)(f.p[i] - '0');
            if (x > max)
                return false;
        }
        *v = x;
        return true;
    }
    for (; i < f.n; i++) {
        unsigned d = (unsigned)(unsigned char)f.p[i] - '0';
        if (d > 9)
            return false;
        x = x * 10 + d;
    }
    *v = x;
    return x <= max;
}

/* Whether the first six fields are unquoted, unsigned and short enough
 * that read_digits would take each (up to 19 digits for the SCN, 9 for the
 * others, below every field's bound), seen in one pass over their bytes:
 * all digits but the commas between them.  The line lies in the input
 * buffer, so up to 15 bytes past them are read and not taken. */
static bool plain_numbers(const SPAN *f)
{
    // n - 1 wraps for an empty field
    if (f[0].n - 1 > 18 || f[1].n - 1 > 8 || f[2].n - 1 > 8 || f[3].n - 1 > 8 || f[4].n - 1 > 8 || f[5].n - 1 > 8)
        return false;
    const char *p = f[0].p;
    size_t n = (size_t)(f[5].p + f[5].n - p);
#ifdef __SSE2__
    for (size_t i = 0; i < n; i += 16) {
        __m128i x = _mm_loadu_si128((const __m128i *)(p + i));
        unsigned ok = (unsigned)_mm_movemask_epi8(_mm_or_si128(byte_range(x, '0', 10), _mm_cmpeq_epi8(x, _mm_set1_epi8(','))));
        unsigned want = n - i >= 16 ? 0xffffu : (1u << (n - i)) - 1;
        if ((ok & want) != want)
            return false;
    }
#else
    for (size_t i = 0; i < n; i++)
        if ((p[i] < '0' || p[i] > '9') && p[i] != ',')
            return false;
#endif
    return true;
}

static bool is(SPAN f, const char *s)
{
    return f.n == strlen(s) && memcmp(f.p, s, f.n) == 0;
}

static void pass_through(DECODER *dc, SPAN rec)
{
    out_put(dc, rec.p, rec.n);
    OUT_LIT(dc, ",\n");
    dc->passed++;
}

/* The column of each item of a line of table t: its name, its kind and
 * whether it is hidden.  A column the dictionary lacks keeps quorvil's name
 * and its value in hex. */
static void name_items(DECODER *dc, const DICT_TABLE *t, const STATEMENT *st)
{
    for (size_t i = 0; i < st->nitems; i++) {
        STMT_ITEM *it = &dc->items[i];
        const DICT_COLUMN *c = find_column(t, it->col);

        it->hidden = c != NULL && c->hidden;
        it->out_name = c ? c->out : it->name;
        it->kind = c ? c->kind : (uint8_t)VK_HEX;
    }
}

/* What is written for every value of the line's n items; a value of a
 * hidden column is never written. */
static void format_items(DECODER *dc, size_t n)
{
    uint64_t hex = 0;

    dc->lit_len = 0;
    for (size_t i = 0; i < n; i++) {
        STMT_ITEM *it = &dc->items[i];
        if (it->is_null)
            null_forms(it);
        else if (!it->hidden)
            hex += !value_forms(dc, it);
    }
    dc->hex_values += hex;
}

/*
 * A row line of table t whose statement body has the shape of one kept
 * (write_shape), written straight into obuf: its first fields, OWNER.TABLE,
 * the operation, SQL_REDO and SQL_UNDO.  False, with nothing written, when
 * no shape kept is its shape or the line could give more than obuf holds.
 */
static bool shaped_line(DECODER *dc, const DICT_TABLE *t, STMT_KIND kind, SPAN rec, const SPAN *f, SPAN body)
{
    // all a line can give, so that nothing is checked piece by piece
    uint64_t need = output_bound(dc, rec.n, 1);

    if (dc->shapes.empty() || need > OBUF_SIZE - WILD_SLACK)
        return false;
    // (opos may lie past out_end: out_put fills obuf to its last byte)
    if (out_end(dc) - (dc->obuf + dc->opos) < (ptrdiff_t)need && out_flush(dc) < 0)
        return false;
    char *o = dc->obuf + dc->opos;
    o = copy_wild(o, rec.p, (size_t)(f[6].p - rec.p));
    o = copy_wild(o, t->out_label.p, t->out_label.n);
    *o++ = ',';
    o = copy_16(o, f[7].p, f[7].n);
    *o++ = ',';
    o = write_shape(dc, t->objn, kind, body, rec.n, o);
    if (o == NULL)
        return false;
    *o++ = '\n';
    dc->opos = (size_t)(o - dc->obuf);
    return true;
}

void decode_line(DECODER *dc, SPAN rec)
{
    SPAN f[FIELDS];
    uint64_t v[6];
    STATEMENT st;

    dc->lines++;
    if (is(rec, header)) {
        out_put(dc, rec.p, rec.n);
        OUT_LIT(dc, ",SQL_UNDO\n");
        dc->decoded++;
        return;
    }
    if (split_fields(rec.p, rec.n, f, FIELDS, true) != FIELDS) {
        pass_through(dc, rec);
        return;
    }
    // the line lies in the input buffer, with room after it, when it came
    // through read_record
    uintptr_t at = (uintptr_t)rec.p, in = (uintptr_t)dc->ibuf;
    bool in_ibuf = dc->ibuf != NULL && at >= in && at + rec.n <= in + dc->iend;
    // most lines: the numbers checked at once, and only the object numbers read
    if (in_ibuf && plain_numbers(f)) {
        read_digits(f[4], false, UINT32_MAX, true, &v[4]);
        read_digits(f[5], false, UINT32_MAX, true, &v[5]);
    } else {
        for (int i = 0; i < 6; i++) {
            if (!read_digits(f[i], i == 1 || i == 3, i == 0 ? UINT64_MAX : i == 1 || i == 3 ? (uint64_t)INT32_MAX + 1 : UINT32_MAX,
                             in_ibuf, &v[i])) {
                pass_through(dc, rec);
                return;
            }
        }
    }
    SPAN op = f[7], sql = f[8];
    bool row = is(op, "INSERT") || is(op, "DELETE") || is(op, "UPDATE");
    bool ok = (is(op, "START") && is(sql, "set transaction read write;")) ||
              (is(op, "COMMIT") && is(sql, "commit;")) || (is(op, "ROLLBACK") && is(sql, "rollback;")) ||
              (is(op, "DDL") && sql.n >= 2 && sql.p[0] == '"' && split_fields(sql.p, sql.n, f, 1, false) == 1);
    if (ok) {
        out_put(dc, rec.p, rec.n);
        OUT_LIT(dc, ",\n");
        dc->decoded++;
        return;
    }
    // a row statement sits in quotes and names the line's own object
    if (!row || sql.n < 2 || sql.p[0] != '"') {
        pass_through(dc, rec);
        return;
    }
    SPAN body = {sql.p + 1, sql.n - 2};
    STMT_KIND kind = op.p[0] == 'I' ? ST_INSERT : op.p[0] == 'D' ? ST_DELETE : ST_UPDATE;
    const DICT_TABLE *t = find_table(&dc->dict, (uint32_t)v[4]);
    // shapes compare and copy past a piece's end, which the input buffer
    // keeps room for after every line
    if (t != NULL && in_ibuf && shaped_line(dc, t, kind, rec, f, body)) {
        if (t->objd >= 0 && (uint64_t)t->objd != v[5])
            dc->stale++;
        dc->decoded++;
        return;
    }
    if (!parse_statement(dc, body, &st) || st.kind != kind || st.objn != (int32_t)(uint32_t)v[4]) {
        pass_through(dc, rec);
        return;
    }
    if (!make_room(dc, rec.n, st.nitems)) {
        dc->out_errno = ENOMEM;
        return;
    }
    char *o;
    const char *end;
    if (t == NULL) {
        // kind VK_HEX: every value stays as it came, and is not counted
        dc->lit_len = 0;
        for (size_t i = 0; i < st.nitems; i++) {
            STMT_ITEM *it = &dc->items[i];
            it->out_name = it->name;
            it->kind = VK_HEX;
            if (it->is_null)
                null_forms(it);
            else
                value_forms(dc, it);
        }
        o = dc->obuf + dc->opos;
        end = out_end(dc);
        o = out_at(dc, o, end, rec.p, rec.n);
        o = OUT_LIT_AT(dc, o, end, ",");
        o = write_undo(dc, o, end, &st, st.table);
        o = OUT_LIT_AT(dc, o, end, "\n");
        dc->opos = (size_t)(o - dc->obuf);
        dc->unknown_obj++;
        return;
    }
    name_items(dc, t, &st);
    if (in_ibuf)
        make_shape(dc, t->objn, &st, body, t->out_token);
    format_items(dc, st.nitems);
    if (t->objd >= 0 && (uint64_t)t->objd != v[5])
        dc->stale++;
    SPAN table = t->out_token;
    o = dc->obuf + dc->opos;
    end = out_end(dc);
    o = out_at(dc, o, end, rec.p, (size_t)(f[6].p - rec.p));
    o = out_at(dc, o, end, t->out_label.p, t->out_label.n);
    o = OUT_LIT_AT(dc, o, end, ",");
    o = out_at(dc, o, end, f[7].p, f[7].n);
    o = OUT_LIT_AT(dc, o, end, ",");
    // (o may be past end: out_at_slow fills obuf to its last byte)
    o = write_redo(dc, o, end, &st, table);
    o = OUT_LIT_AT(dc, o, end, ",");
    o = write_undo(dc, o, end, &st, table);
    o = OUT_LIT_AT(dc, o, end, "\n");
    dc->opos = (size_t)(o - dc->obuf);
    dc->decoded++;
}

}  // namespace DECODE_ISA
