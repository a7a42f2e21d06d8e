/*
 * format_value.cpp - format_value: the SQL literal of one value, chosen by
 * its column's kind, appended to the line's literals (dc->lit).
 *
 * The value comes as quorvil wrote it, HEXTORAW('..'), its digits checked
 * by parse_statement.  Each kind has one formatter (value_format): text in
 * a set read as UTF-8 goes from the digits straight into the literal
 * (format_utf8_hex); a value of a fixed-size type is read into a few bytes
 * on the stack and handed to the formatter of its type; other text is read
 * into dc->bytes for format_text.
 * Result 1: the literal is appended.  0: the value stays in hex as it came,
 * for a kind without a formatter (RAW, LOBs, ROWID, object types), bytes
 * that are not a value of the type, or TIMESTAMP WITH LOCAL TIME ZONE
 * without DBTIMEZONE.
 */
#include "quorvil_decode.h"

namespace DECODE_ISA {

typedef int (*FIXED_FORMAT)(const uint8_t *b, size_t n, char *out);

static const struct hex_table {
    uint8_t v[256];
    constexpr hex_table() : v()
    {
        for (int i = 0; i < 256; i++)
            v[i] = 0x80;
        for (int i = 0; i < 10; i++)
            v['0' + i] = (uint8_t)i;
        for (int i = 0; i < 6; i++)
            v['a' + i] = (uint8_t)(10 + i);
    }
} hex_table_;

const uint8_t hex_values[256] = {
#define R4(i) hex_table_.v[i], hex_table_.v[i + 1], hex_table_.v[i + 2], hex_table_.v[i + 3]
#define R16(i) R4(i), R4(i + 4), R4(i + 8), R4(i + 12)
#define R64(i) R16(i), R16(i + 16), R16(i + 32), R16(i + 48)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R16
#undef R4
};

/*
 * Room for the literals and bytes of one line of line_len bytes and nitems
 * values, so that nothing is checked or grown value by value.  A byte of a
 * value is two digits of the line and gives at most 4 bytes of UTF-8, each
 * doubled at most when it is a quote: 4 * line_len in all; every value adds
 * at most LITERAL_MAX, the time zone and N'' around its text.  The literals
 * keep WILD_SLACK bytes past that, which out_at reads when it copies them;
 * the bytes keep 16, which format_text loads sixteen at a time.
 */
bool make_room(DECODER *dc, size_t line_len, size_t nitems)
{
    size_t lit = 4 * line_len + nitems * (LITERAL_MAX + dc->tz_text.size() + 16) + WILD_SLACK,
           bytes = line_len / 2 + 16;

    if (lit > dc->lit_cap) {
        char *p = (char *)realloc(dc->lit, lit);
        if (p == NULL)
            return false;
        dc->lit = p;
        dc->lit_cap = lit;
    }
    if (bytes > dc->bytes_cap) {
        uint8_t *p = (uint8_t *)realloc(dc->bytes, bytes);
        if (p == NULL)
            return false;
        dc->bytes = p;
        dc->bytes_cap = bytes;
    }
    return true;
}

/*
 * The n bytes of the 2n hex digits at d into b, reading no byte past the
 * digits; b has 16 bytes of room past them (dc->bytes, make_room).
 */
void hex_bytes(const char *d, size_t n, uint8_t *b)
{
    size_t i = 0;

#ifdef __SSE2__
    // thirty-two digits at a time, packed to sixteen bytes
    for (; i + 16 <= n; i += 16) {
        _mm_storeu_si128((__m128i *)(b + i), hex16(d + 2 * i));
    }
    // then sixteen digits, when there are, and the last sixteen, over some
    // already read, for the bytes left
    if (n >= 8) {
        if (i + 8 <= n) {
            _mm_storel_epi64((__m128i *)(b + i), hex8(d + 2 * i));
            i += 8;
        }
        if (i < n)
            _mm_storel_epi64((__m128i *)(b + n - 8), hex8(d + 2 * n - 16));
        return;
    }
#endif
    // eight digits at a time: a digit's value is its low nibble, plus 9 for
    // a-f (bit 6 set); then two digits of each 16-bit lane make one byte
    for (; i + 4 <= n; i += 4) {
        uint64_t x, v;
        memcpy(&x, d + 2 * i, 8);
        x = (x & 0x0f0f0f0f0f0f0f0full) + ((x >> 6) & 0x0101010101010101ull) * 9;
        v = ((x & 0x00ff00ff00ff00ffull) << 4) | ((x >> 8) & 0x00ff00ff00ff00ffull);
        v = (v | (v >> 8)) & 0x0000ffff0000ffffull;
        v = (v | (v >> 16)) & 0xffffffffull;
        uint32_t w = (uint32_t)v;
        memcpy(b + i, &w, 4);
    }
    for (; i < n; i++)
        b[i] = (uint8_t)(hex_values[(uint8_t)d[2 * i]] << 4 | hex_values[(uint8_t)d[2 * i + 1]]);
}

/* Longest value of a fixed-size type: NUMBER's 21 bytes. */
#define FIXED_MAX 21


/*
 * The n bytes of the 2n hex digits at d of a value of a fixed-size type
 * (n at most FIXED_MAX), into buf; where they start in it.  No byte outside
 * the value is read: sixteen digits at a time from the first, and the last
 * sixteen, which overlap the ones before or, for n of 3 to 8, begin in
 * "HEXTORAW('" before d; a shorter value a byte at a time.
 */
static inline const uint8_t *fixed_bytes(const char *d, size_t n, uint8_t *buf)
{
#ifdef __SSE2__
    if (n >= 3) {
        if (n <= 8) {
            _mm_storel_epi64((__m128i *)buf, hex8(d + 2 * n - 16));
            return buf + 8 - n;
        }
        for (size_t i = 0; i + 8 < n; i += 8)
            _mm_storel_epi64((__m128i *)(buf + i), hex8(d + 2 * i));
        _mm_storel_epi64((__m128i *)(buf + n - 8), hex8(d + 2 * n - 16));
        return buf;
    }
#endif
    for (size_t i = 0; i < n; i++)
        buf[i] = (uint8_t)(hex_values[(uint8_t)d[2 * i]] << 4 | hex_values[(uint8_t)d[2 * i + 1]]);
    return buf;
}

/* TIMESTAMP WITH LOCAL TIME ZONE: FROM_TZ(TO_TIMESTAMP(..),' then
 * DBTIMEZONE and '), when DBTIMEZONE is known. */
static char *tsltz_value(DECODER *dc, char *o, const char *d, size_t n)
{
    uint8_t buf[FIXED_MAX + 3];
    char out[LITERAL_MAX];
    int len;

    if (!dc->tz_known || n > FIXED_MAX)
        return NULL;
    len = format_timestamp(fixed_bytes(d, n, buf), n, out);
    if (len < 0)
        return NULL;
    memcpy(o, "FROM_TZ(", 8);
    memcpy(o + 8, out, (size_t)len);
    o += 8 + len;
    memcpy(o, ",'", 2);
    memcpy(o + 2, dc->tz_text.data(), dc->tz_text.size());
    o += 2 + dc->tz_text.size();
    memcpy(o, "')", 2);
    return o + 2;
}

/* A value of a fixed-size type, read into a few bytes on the stack and
 * handed to F, which writes at most LITERAL_MAX bytes. */
template <FIXED_FORMAT F> static char *fixed_value(DECODER *, char *o, const char *d, size_t n)
{
    uint8_t buf[FIXED_MAX + 3];
    int len;

    if (n > FIXED_MAX)
        return NULL;
    len = F(fixed_bytes(d, n, buf), n, o);
    return len < 0 ? NULL : o + len;
}

static int bfloat_value(const uint8_t *b, size_t n, char *out)
{
    return format_binary(b, n, false, out);
}

static int bdouble_value(const uint8_t *b, size_t n, char *out)
{
    return format_binary(b, n, true, out);
}

/* Text of a set read as UTF-8: from the digits straight into the literal. */
static char *char_utf8(DECODER *dc, char *o, const char *d, size_t n)
{
    return format_utf8_hex(dc, o, false, d, n);
}

static char *nchar_utf8(DECODER *dc, char *o, const char *d, size_t n)
{
    return format_utf8_hex(dc, o, true, d, n);
}

static char *char_utf8_room(DECODER *dc, char *o, const char *d, size_t n)
{
    return format_utf8_hex_room(dc, o, false, d, n);
}

static char *nchar_utf8_room(DECODER *dc, char *o, const char *d, size_t n)
{
    return format_utf8_hex_room(dc, o, true, d, n);
}

/* Text of a set iconv converts, read into dc->bytes first. */
static char *char_text(DECODER *dc, char *o, const char *d, size_t n)
{
    hex_bytes(d, n, dc->bytes);
    return format_text(dc, o, &dc->conv[0], false, dc->bytes, n);
}

static char *nchar_text(DECODER *dc, char *o, const char *d, size_t n)
{
    hex_bytes(d, n, dc->bytes);
    return format_text(dc, o, &dc->conv[1], true, dc->bytes, n);
}

/* Whether text of tc's set goes from its digits straight into the literal
 * (format_utf8_hex): a set read as UTF-8 with no surrogate pairs to join. */
static bool utf8_direct(const TEXT_CONV *tc)
{
    return tc->utf8_same && tc->cs != NULL && !tc->cs->cesu;
}

/*
 * The formatter of a value of kind: text by format_utf8_hex or format_text,
 * TIMESTAMP WITH LOCAL TIME ZONE by tsltz_value, the other kinds with a
 * formatter by fixed_value; NULL for a kind that stays in hex.  Chosen once
 * for a column of a shape, so that a value costs one call.  None reads a
 * byte outside the value, so it may lie anywhere, but with room: then the
 * value has WILD_SLACK bytes of room after it, and text in a set read as
 * UTF-8 goes by format_utf8_hex_room.
 */
VALUE_FORMAT value_format(const DECODER *dc, uint8_t kind, bool room)
{
    switch (kind) {
    case VK_CHAR:
        return !utf8_direct(&dc->conv[0]) ? char_text : room ? char_utf8_room : char_utf8;
    case VK_NCHAR:
        return !utf8_direct(&dc->conv[1]) ? nchar_text : room ? nchar_utf8_room : nchar_utf8;
    case VK_TSLTZ:
        return tsltz_value;
    case VK_NUMBER:
        return fixed_value<format_number>;
    case VK_BFLOAT:
        return fixed_value<bfloat_value>;
    case VK_BDOUBLE:
        return fixed_value<bdouble_value>;
    case VK_DATE:
        return fixed_value<format_date>;
    case VK_TIMESTAMP:
        return fixed_value<format_timestamp>;
    case VK_TSTZ:
        return fixed_value<format_tstz>;
    case VK_IYM:
        return fixed_value<format_iym>;
    case VK_IDS:
        return fixed_value<format_ids>;
    default:
        return NULL;
    }
}

int format_value(DECODER *dc, uint8_t kind, SPAN value)
{
    VALUE_FORMAT f = value_format(dc, kind, false);
    const size_t pre = sizeof("HEXTORAW('") - 1, post = sizeof("')") - 1;
    char *o = f != NULL ? f(dc, dc->lit + dc->lit_len, value.p + pre, (value.n - pre - post) / 2) : NULL;

    if (o == NULL)
        return 0;
    dc->lit_len = (size_t)(o - dc->lit);
    return 1;
}

/* The forms of NULL: in a list "NULL", in a condition " IS NULL"; pieces
 * are copied past their end, so room is kept after them. */
const char null_text[8 + WILD_SLACK] = " IS NULL";

/* What is written for item it, NULL: "NULL" and " IS NULL". */
void null_forms(STMT_ITEM *it)
{
    it->out[0] = {null_text + 4, 4};
    it->out[1] = {null_text, 8};
}

/*
 * What is written for item it, not NULL, of a column that is shown: its
 * literal, in dc->lit with an '=' before it for a condition; false when it
 * has none (a kind left in hex, or bytes that are no value of the type) and
 * stays as it came, HEXTORAW('..') and "=HEXTORAW('..')".  A value with no
 * '=' before it in the line (one of an insert's list) has one put before a
 * copy of it in the literals.  make_room has made room.
 */
bool value_forms(DECODER *dc, STMT_ITEM *it)
{
    VALUE_FORMAT f = value_format(dc, it->kind, false);
    size_t at = dc->lit_len, n = it->value.n;

    dc->lit[at] = '=';
    if (f != NULL) {
        char *o = f(dc, dc->lit + at + 1, it->value.p + HEX_OPEN_LEN, (n - HEX_OPEN_LEN - 2) / 2);
        if (o != NULL) {
            dc->lit_len = (size_t)(o - dc->lit);
            it->out[0] = {dc->lit + at + 1, dc->lit_len - at - 1};
            it->out[1] = {dc->lit + at, dc->lit_len - at};
            return true;
        }
    }
    it->out[0] = it->value;
    if (it->value.p[-1] == '=') {
        it->out[1] = {it->value.p - 1, n + 1};
    } else {
        memcpy(dc->lit + at + 1, it->value.p, n);
        dc->lit_len = at + 1 + n;
        it->out[1] = {dc->lit + at, n + 1};
    }
    return false;
}

}  // namespace DECODE_ISA
