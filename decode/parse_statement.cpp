/*
 * parse_statement.cpp - parse_statement: the columns and values of a row
 * statement as quorvil writes it in SQL_REDO, read in place inside the
 * quoted CSV field, where every double quote of the SQL is doubled.  The
 * statement lies in the input buffer, which keeps WILD_SLACK bytes of room
 * after it: hex_end reads into that room.
 *
 *   insert into T (N,N) values (V,V);        one row or a row of a multi-row insert
 *   delete from T where C and C;
 *   update T set N=V,N=V where C and C;      "update T set where C;" when nothing is set
 *
 * T is ""UNKNOWN"".""OBJ# n"", N is ""COL n"", V is NULL or HEXTORAW('..')
 * with an even number of lower-case hex digits, C is N IS NULL or N=V.  Anything else is not one
 * of quorvil's statements and the line is passed through.  Items go to
 * dc->items, which keeps its room from line to line.
 */
#include "quorvil_decode.h"

namespace DECODE_ISA {

/* One bit for each of the 32 (AVX2) or 16 bytes at p that is not a
 * lower-case hex digit: one add and one compare for each range (see
 * byte_range). */
#if defined(DECODE_AVX2_BUILD)
static inline unsigned not_hex32(const char *p)
{
    __m256i x = _mm256_loadu_si256((const __m256i *)p);
    __m256i digit = _mm256_cmpgt_epi8(_mm256_set1_epi8((char)(0x80 + 10)), _mm256_add_epi8(x, _mm256_set1_epi8((char)(0x80 - '0'))));
    __m256i letter = _mm256_cmpgt_epi8(_mm256_set1_epi8((char)(0x80 + 6)), _mm256_add_epi8(x, _mm256_set1_epi8((char)(0x80 - 'a'))));
    return ~(unsigned)_mm256_movemask_epi8(_mm256_or_si256(digit, letter));
}
#elif defined(__SSE2__)
static inline unsigned not_hex16(const char *p)
{
    __m128i x = _mm_loadu_si128((const __m128i *)p);
    return ~(unsigned)_mm_movemask_epi8(_mm_or_si128(byte_range(x, '0', 10), byte_range(x, 'a', 6))) & 0xffff;
}
#endif

/*
 * The end of the run of lower-case hex digits that starts at p, before e.
 * Sixty-four bytes at a time, so that most values end within the first
 * step with no loop to guess the end of: the loads read up to 63 bytes past
 * e, which the input buffer keeps as room after every line (WILD_SLACK),
 * and what they find there is not taken.
 */
static const char *hex_end(const char *p, const char *e)
{
#ifdef __SSE2__
    for (; p < e; p += 64) {
#ifdef DECODE_AVX2_BUILD
        uint64_t m = not_hex32(p) | (uint64_t)not_hex32(p + 32) << 32;
#else
        uint64_t m = not_hex16(p) | not_hex16(p + 16) << 16 | (uint64_t)(not_hex16(p + 32) | not_hex16(p + 48) << 16) << 32;
#endif
        if (m != 0)
            return p + __builtin_ctzll(m) < e ? p + __builtin_ctzll(m) : e;
    }
    return e;
#else
    while (p < e && !(hex_values[(uint8_t)*p] & 0x80))
        p++;
    return p;
#endif
}

/* The end of the digits of a value in bytes that begin at d, before e: the
 * quote of its closing "')"; NULL when they are odd in number (not bytes)
 * or anything but "')" ends them.  q[0..1] may lie past e, in the room
 * after the line. */
static inline const char *digits_end(const char *d, const char *e)
{
    const char *q = hex_end(d, e);
    uint16_t close;

    memcpy(&close, q, 2);
    bool bad = ((q - d) & 1) | (e - q < 2) | (close != ('\'' | ')' << 8));
    return bad ? NULL : q;
}

typedef struct __cursor {
    const char *p, *e;
} CURSOR;

static bool take(CURSOR *c, const char *s, size_t n)
{
    if ((size_t)(c->e - c->p) < n || memcmp(c->p, s, n) != 0)
        return false;
    c->p += n;
    return true;
}
#define TAKE(c, s) take((c), (s), sizeof(s) - 1)

/* A decimal number, perhaps negative, of at most 18 digits, not followed by
 * another digit. */
static bool take_int(CURSOR *c, int64_t *v)
{
    const char *p = c->p, *e = c->e;
    bool neg = p < e && *p == '-';
    int64_t x = 0;

    p += neg;
    const char *s = p, *stop = e - p > 18 ? p + 18 : e;
    while (p < stop && (unsigned)(*p - '0') < 10)
        x = x * 10 + (*p++ - '0');
    c->p = p;
    *v = neg ? -x : x;
    return p > s && (p == e || (unsigned)(*p - '0') >= 10);
}

/* ""COL n"", n a decimal number as take_int reads it. */
static inline bool take_name(CURSOR *c, STMT_ITEM *it)
{
    const char *s = c->p, *e = c->e, *p = s + 6;

    if (e - s < 9 || memcmp(s, "\"\"COL ", 6) != 0)
        return false;
    bool neg = *p == '-';
    p += neg;
    const char *d = p, *stop = e - p > 18 ? p + 18 : e;
    int64_t x = 0;
    while (p < stop && (unsigned)(*p - '0') < 10)
        x = x * 10 + (*p++ - '0');
    // no digits, a 19th digit, or no "" after them
    if (p == d || e - p < 2 || p[0] != '"' || p[1] != '"')
        return false;
    c->p = p + 2;
    it->col = neg ? -x : x;
    it->name = {s, (size_t)(c->p - s)};
    return true;
}

/* NULL, or HEXTORAW('..') with an even number of digits. */
static inline bool take_value(CURSOR *c, STMT_ITEM *it)
{
    const char *s = c->p, *e = c->e;

    if (e - s >= 4 && memcmp(s, "NULL", 4) == 0) {
        it->is_null = true;
        c->p = s + 4;
        it->value = {s, 4};
        return true;
    }
    it->is_null = false;
    if (e - s < 12 || memcmp(s, "HEXTORAW('", 10) != 0)
        return false;
    const char *q = digits_end(s + 10, e);
    if (q == NULL)
        return false;
    c->p = q + 2;
    it->value = {s, (size_t)(c->p - s)};
    return true;
}

static bool take_condition(CURSOR *c, STMT_ITEM *it)
{
    if (!take_name(c, it))
        return false;
    if (TAKE(c, " IS NULL")) {
        it->is_null = true;
        it->value = {c->p - 4, 4};
        return true;
    }
    return TAKE(c, "=") && take_value(c, it) && !it->is_null;
}

static inline STMT_ITEM *next_item(DECODER *dc, STATEMENT *st)
{
    if (__builtin_expect(st->nitems == dc->items.size(), 0))
        dc->items.resize(dc->items.size() * 2 + 16);
    STMT_ITEM *it = &dc->items[st->nitems++];
    it->is_null = it->hidden = false;
    return it;
}

/* " where " then conditions joined by " and ", then ";" at the end. */
static bool take_where(DECODER *dc, CURSOR *c, STATEMENT *st)
{
    if (!TAKE(c, " where "))
        return false;
    if (TAKE(c, ";"))
        return c->p == c->e;
    do {
        if (!take_condition(c, next_item(dc, st)))
            return false;
    } while (TAKE(c, " and "));
    return TAKE(c, ";") && c->p == c->e;
}

static bool take_table(CURSOR *c, STATEMENT *st)
{
    const char *s = c->p;

    if (!TAKE(c, "\"\"UNKNOWN\"\".\"\"OBJ# ") || !take_int(c, &st->objn) || !TAKE(c, "\"\""))
        return false;
    st->table = {s, (size_t)(c->p - s)};
    return true;
}

bool parse_statement(DECODER *dc, SPAN sql, STATEMENT *st)
{
    CURSOR c = {sql.p, sql.p + sql.n};

    st->nitems = st->nset = 0;
    if (TAKE(&c, "insert into ")) {
        st->kind = ST_INSERT;
        if (!take_table(&c, st) || !TAKE(&c, " ("))
            return false;
        if (!TAKE(&c, ")")) {
            do {
                if (!take_name(&c, next_item(dc, st)))
                    return false;
            } while (TAKE(&c, ","));
            if (!TAKE(&c, ")"))
                return false;
        }
        if (!TAKE(&c, " values ("))
            return false;
        for (size_t i = 0; i < st->nitems; i++) {
            if ((i > 0 && !TAKE(&c, ",")) || !take_value(&c, &dc->items[i]))
                return false;
        }
        return TAKE(&c, ");") && c.p == c.e;
    }
    if (TAKE(&c, "delete from ")) {
        st->kind = ST_DELETE;
        return take_table(&c, st) && take_where(dc, &c, st);
    }
    if (TAKE(&c, "update ")) {
        st->kind = ST_UPDATE;
        if (!take_table(&c, st) || !TAKE(&c, " set"))
            return false;
        // nothing set: " where " follows at once
        if ((size_t)(c.e - c.p) < 7 || memcmp(c.p, " where ", 7) != 0) {
            if (!TAKE(&c, " "))
                return false;
            do {
                STMT_ITEM *it = next_item(dc, st);
                if (!take_name(&c, it) || !TAKE(&c, "=") || !take_value(&c, it))
                    return false;
            } while (TAKE(&c, ","));
        }
        st->nset = st->nitems;
        return take_where(dc, &c, st);
    }
    return false;
}

/*
 * Whether the n bytes at p, before e, are the n bytes at t.  Sixteen bytes
 * at a time, 32 in the AVX2 build: the last loads read up to 15 (31) bytes
 * past both, which the input buffer keeps after every line (WILD_SLACK) and
 * a shape's text after its last piece.
 */
static inline bool same_text(const char *p, const char *e, const char *t, size_t n)
{
    if ((size_t)(e - p) < n)
        return false;
#ifdef __SSE2__
    size_t i = 0;
#ifdef DECODE_AVX2_BUILD
    // thirty-two bytes at a time, and the last up to 31 as one step
    for (; i + 32 <= n; i += 32) {
        __m256i x = _mm256_cmpeq_epi8(_mm256_loadu_si256((const __m256i *)(p + i)), _mm256_loadu_si256((const __m256i *)(t + i)));
        if (_mm256_movemask_epi8(x) != -1)
            return false;
    }
    if (i == n)
        return true;
    __m256i y = _mm256_cmpeq_epi8(_mm256_loadu_si256((const __m256i *)(p + i)), _mm256_loadu_si256((const __m256i *)(t + i)));
    return ((unsigned)_mm256_movemask_epi8(y) | ~0u << (n - i)) == ~0u;
#else
    for (; i + 16 <= n; i += 16) {
        __m128i x = _mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)(p + i)), _mm_loadu_si128((const __m128i *)(t + i)));
        if (_mm_movemask_epi8(x) != 0xffff)
            return false;
    }
    if (i == n)
        return true;
    // the bytes past n are taken as equal
    __m128i x = _mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)(p + i)), _mm_loadu_si128((const __m128i *)(t + i)));
    return (((unsigned)_mm_movemask_epi8(x) | 0xffffu << (n - i)) & 0xffff) == 0xffff;
#endif
#else
    return memcmp(p, t, n) == 0;
#endif
}

/*
 * Reads sql, which lies in the input buffer, as a statement of shape sh:
 * its fixed pieces as text, its values as parse_statement takes them; and
 * writes its SQL_REDO at o as it goes, each piece of the shape's redo and
 * then the literal of each value, formatted in place.  Where SQL_REDO
 * ends, or NULL when sql is not of the shape (what was written past o is
 * then nothing).  In the shape's text each input piece before a value is
 * followed by the opening of a value in bytes, "HEXTORAW('" or
 * "=HEXTORAW('" for a condition.  The redo names the items in their order,
 * hidden ones left out (make_shape), so both are walked together.  Each
 * item keeps where its literal, or its NULL, was written (out[0]) and
 * whether it is null, for SQL_UNDO (write_shape); *hex counts the values
 * left as they came.  obuf has the room output_bound gives the line.
 */
char *match_shape(DECODER *dc, const SHAPE *sh, SPAN sql, char *o, uint64_t *hex)
{
    uint64_t left = 0;
    const char *p = sql.p, *e = sql.p + sql.n;
    const char *text = sh->text.data();
    const SHAPE_STEP *in = sh->in.data(), *r = sh->redo.data();
    const SHAPE_ITEM *si = sh->items.data();
    size_t n = sh->items.size();

    if (__builtin_expect(dc->items.size() < n, 0))
        dc->items.resize(n);
    STMT_ITEM *items = dc->items.data();
    for (size_t k = 0; k < n; k++) {
        STMT_ITEM *it = &items[k];
        const char *t = text + in[k].off;
        // most values are bytes: the piece and the opening of a value
        // ("=" before it in a condition), compared as one text
        size_t len = in[k].len + HEX_OPEN_LEN + in[k].cond;
        const char *d = NULL, *q = NULL;
        if (__builtin_expect(same_text(p, e, t, len), 1)) {
            d = p + len;
            q = digits_end(d, e);
            if (q == NULL)
                return NULL;
            p = q + 2;
        } else {
            len = in[k].len;
            if (!same_text(p, e, t, len))
                return NULL;
            CURSOR c = {p + len, e};
            if (in[k].cond ? !TAKE(&c, " IS NULL") : !TAKE(&c, "NULL"))
                return NULL;
            p = c.p;
        }
        if (si[k].hidden)
            continue;
        // the redo's piece before the value, and the value
        o = r->len <= 16 ? copy_16(o, text + r->off, r->len) : copy_wild(o, text + r->off, r->len);
        it->is_null = d == NULL;
        if (d == NULL) {
            o = copy_16(o, r->cond ? null_text : null_text + 4, r->cond ? 8 : 4);
            it->out[0] = {null_text + 4, 4};
        } else {
            if (r->cond)
                *o++ = '=';
            char *v = o;
            o = si[k].format != NULL ? si[k].format(dc, o, d, (size_t)(q - d) / 2) : NULL;
            if (o == NULL) {
                o = copy_wild(v, d - HEX_OPEN_LEN, (size_t)(q + 2 - (d - HEX_OPEN_LEN)));
                left++;
            }
            it->out[0] = {v, (size_t)(o - v)};
        }
        r++;
    }
    if (!same_text(p, e, text + in[n].off, in[n].len) || p + in[n].len != e)
        return NULL;
    *hex = left;
    return copy_wild(o, text + r->off, r->len);
}

}  // namespace DECODE_ISA
