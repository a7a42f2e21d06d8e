/*
 * print_hex.cpp - print_hex and the CSV text conventions every line writer
 * shares.
 *
 * Lines are built in place in sql_buf with a moving write position
 * (sql_pos) and handed to the output stream in large pieces: when the next
 * piece would not fit, what is staged is written out first.  A statement
 * longer than the buffer therefore comes out whole, and a statement that fits
 * costs no allocation and no formatted call.  Column values are written as
 * hex literals of their stored bytes, two lower-case digits a byte.
 */
#include "quorvil.h"

#include <cerrno>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

/* "00" "01" ... "ff": the two digits of every byte value. */
static const struct hex_pairs {
    char d[512];
    constexpr hex_pairs() : d()
    {
        const char *digits = "0123456789abcdef";
        for (int i = 0; i < 256; i++) {
            d[2 * i] = digits[i >> 4];
            d[2 * i + 1] = digits[i & 15];
        }
    }
} pairs;

#ifdef __SSE2__
/* Hex digits of n bytes (8 or 16) at once: split the nibbles, interleave
 * them high first, and add '0', or 'a' - 10 where a nibble is above 9. */
static inline __m128i nibbles_to_digits(__m128i n)
{
    __m128i over9 = _mm_cmpgt_epi8(n, _mm_set1_epi8(9));
    return _mm_add_epi8(_mm_add_epi8(n, _mm_set1_epi8('0')), _mm_and_si128(over9, _mm_set1_epi8('a' - '0' - 10)));
}

static inline void hex16(char *out, const uint8_t *in)
{
    __m128i x = _mm_loadu_si128((const __m128i *)in);
    __m128i mask = _mm_set1_epi8(0x0f);
    __m128i hi = _mm_and_si128(_mm_srli_epi16(x, 4), mask);
    __m128i lo = _mm_and_si128(x, mask);

    _mm_storeu_si128((__m128i *)out, nibbles_to_digits(_mm_unpacklo_epi8(hi, lo)));
    _mm_storeu_si128((__m128i *)(out + 16), nibbles_to_digits(_mm_unpackhi_epi8(hi, lo)));
}

/* The 16 digits of the 8 bytes in the low half of x. */
static inline __m128i hex8_digits(__m128i x)
{
    __m128i mask = _mm_set1_epi8(0x0f);
    __m128i hi = _mm_and_si128(_mm_srli_epi16(x, 4), mask);
    __m128i lo = _mm_and_si128(x, mask);

    return nibbles_to_digits(_mm_unpacklo_epi8(hi, lo));
}

static inline void hex8(char *out, const uint8_t *in)
{
    _mm_storeu_si128((__m128i *)out, hex8_digits(_mm_loadl_epi64((const __m128i *)in)));
}
#endif

/*
 * The one hex renderer: a value as HEXTORAW('..') (full_col) or '..', two
 * lower-case digits a byte, a NUL after the text; returns the text's length.
 * Writes 2 * len + 13 bytes at most, the NUL included.  The row writers
 * render every value through it in place in sql_buf, where the next piece
 * overwrites the NUL.  Digits come 16 or 8 bytes at a time with SSE2.
 */
int print_hex(char *buf, const uint8_t *hex, int len, int full_col)
{
    char *p = buf;
    int i = 0;

    if (full_col) {
        memcpy(p, "HEXTORAW('", 10);
        p += 10;
    } else {
        *p++ = '\'';
    }
    if (len < 0)
        len = 0;
#ifdef __SSE2__
    if (len >= 8) {
        for (; len - i >= 16; i += 16)
            hex16(p + 2 * i, hex + i);
        if (len - i >= 8) {
            hex8(p + 2 * i, hex + i);
            i += 8;
        }
        // the last few bytes: one more group of 8 that overlaps the ones done
        if (i < len)
            hex8(p + 2 * (len - 8), hex + len - 8);
        i = len;
    } else if (len >= 4) {
        // two groups of 4 that overlap in the middle, as one group of 8
        uint32_t head, tail;
        __m128i d;

        memcpy(&head, hex, 4);
        memcpy(&tail, hex + len - 4, 4);
        d = hex8_digits(_mm_cvtsi64_si128((long long)(head | (uint64_t)tail << 32)));
        _mm_storel_epi64((__m128i *)p, d);
        _mm_storel_epi64((__m128i *)(p + 2 * (len - 4)), _mm_srli_si128(d, 8));
        i = len;
    }
#endif
    for (; i < len; i++)
        memcpy(p + 2 * i, &pairs.d[2 * hex[i]], 2);
    p += 2 * len;
    if (full_col) {
        memcpy(p, "')", 2);
        p += 2;
    } else {
        *p++ = '\'';
    }
    *p = '\0';
    return (int)(p - buf);
}

void sql_flush(MINER *mnr)
{
    // a failed write is only remembered: main reports it when it closes the CSV;
    // errno is cleared first, so a write that fails without setting it is
    // reported as an I/O error and never with an errno left from before
    if (mnr->sql_pos > 0) {
        errno = 0;
        if (fwrite(mnr->sql_buf, 1, mnr->sql_pos, mnr->cfp) != mnr->sql_pos && mnr->out_errno == 0)
            mnr->out_errno = errno != 0 ? errno : EIO;
        mnr->sql_pos = 0;
    }
}

/* The slow path of sql_put: text longer than the room left is written in pieces. */
void sql_put_slow(MINER *mnr, const char *s, uint32_t n)
{
    while (n > 0) {
        uint32_t room = (uint32_t)mnr->sqlb_sz - mnr->sql_pos;
        uint32_t part = n < room ? n : room;

        if (part == 0) {
            sql_flush(mnr);
            continue;
        }
        memcpy(mnr->sql_buf + mnr->sql_pos, s, part);
        mnr->sql_pos += part;
        s += part;
        n -= part;
    }
}

void sql_str(MINER *mnr, const char *s)
{
    sql_put(mnr, s, (uint32_t)strlen(s));
}

const DECIMAL_PAIRS decimal_pairs;

void sql_u64(MINER *mnr, uint64_t v)
{
    char tmp[20];
    int i = sizeof tmp;

    while (v >= 100) {
        i -= 2;
        memcpy(tmp + i, &decimal_pairs.d[2 * (v % 100)], 2);
        v /= 100;
    }
    if (v >= 10) {
        i -= 2;
        memcpy(tmp + i, &decimal_pairs.d[2 * v], 2);
    } else {
        tmp[--i] = (char)('0' + v);
    }
    sql_put(mnr, tmp + i, (uint32_t)(sizeof tmp - i));
}

void sql_i64(MINER *mnr, int64_t v)
{
    if (v < 0) {
        sql_char(mnr, '-');
        sql_u64(mnr, 0 - (uint64_t)v);
    } else {
        sql_u64(mnr, (uint64_t)v);
    }
}

/* A value's hex literal at the write position, rendered by print_hex; room
 * is made for its NUL too, which the next piece overwrites. */
void sql_hex(MINER *mnr, const uint8_t *p, uint32_t len)
{
    sql_reserve(mnr, 13 + 2 * len);
    mnr->sql_pos += (uint32_t)print_hex((char *)mnr->sql_buf + mnr->sql_pos, p, (int)len, 1);
}

/*
 * Copies text into a double-quoted CSV field, doubling every double quote;
 * the text ends at its length or at its first zero byte.
 */
void sql_quoted(MINER *mnr, const uint8_t *p, uint32_t len)
{
    for (uint32_t i = 0; i < len && p[i] != '\0'; i++) {
        sql_reserve(mnr, 2);
        mnr->sql_buf[mnr->sql_pos++] = p[i];
        if (p[i] == '"')
            mnr->sql_buf[mnr->sql_pos++] = '"';
    }
}

/* The first eight columns of a row line, each followed by its comma.  The
 * table label is "OBJ# objn" signed, or unsigned for multi-row inserts. */
void write_row_prefix(MINER *mnr, uint64_t scn, const UNDO_INFO *u, const char *op, bool unsigned_label)
{
    sql_u64(mnr, scn);
    sql_char(mnr, ',');
    sql_u64(mnr, u->db.xid_usn);
    sql_char(mnr, ',');
    sql_u64(mnr, u->db.xid_slt);
    sql_char(mnr, ',');
    sql_i64(mnr, (int32_t)u->db.xid_sqn);
    sql_char(mnr, ',');
    sql_u64(mnr, u->bu.objn);
    sql_char(mnr, ',');
    sql_u64(mnr, u->bu.objd);
    sql_str(mnr, ",OBJ# ");
    if (unsigned_label)
        sql_u64(mnr, u->bu.objn);
    else
        sql_i64(mnr, (int32_t)u->bu.objn);
    sql_char(mnr, ',');
    sql_str(mnr, op);
    sql_char(mnr, ',');
}

/* The table of a row statement: ""UNKNOWN"".""OBJ# n"", n signed. */
void write_table(MINER *mnr, uint32_t objn)
{
    sql_str(mnr, "\"\"UNKNOWN\"\".\"\"OBJ# ");
    sql_i64(mnr, (int32_t)objn);
    sql_str(mnr, "\"\"");
}

/* A column name in a statement: ""COL n"". */
void write_column(MINER *mnr, int64_t n)
{
    sql_str(mnr, "\"\"COL ");
    sql_i64(mnr, n);
    sql_str(mnr, "\"\"");
}

/*
 * A START, COMMIT or ROLLBACK line.  XIDUSN is derived from the vector
 * header's class, which is 15 + 2 * XIDUSN for an undo segment header; the
 * arithmetic shift keeps classes below 15 negative, as they are printed.
 */
void write_transaction_line(MINER *mnr, uint64_t scn, uint16_t cls, uint16_t slt, uint32_t sqn,
                            const char *op, const char *stmt)
{
    int32_t usn = ((int32_t)cls - 15) >> 1;

    sql_u64(mnr, scn);
    sql_char(mnr, ',');
    sql_i64(mnr, usn);
    sql_char(mnr, ',');
    sql_u64(mnr, slt);
    sql_char(mnr, ',');
    sql_i64(mnr, (int32_t)sqn);
    SQL_LIT(mnr, ",0,0,,");
    sql_str(mnr, op);
    sql_char(mnr, ',');
    sql_str(mnr, stmt);
    sql_char(mnr, '\n');
}

/*
 * The column list of an insert of cc columns, ""COL 1"",...,""COL cc"",
 * cut from one text made once, so a line costs one copy for it.
 */
static struct column_names {
    char text[256 * 16];
    uint32_t end[256];        /* end[cc]: length of the list of cc columns */
    column_names()
    {
        uint32_t n = 0;

        end[0] = 0;
        for (int i = 1; i < 256; i++) {
            if (i > 1)
                text[n++] = ',';
            n += (uint32_t)snprintf(text + n, sizeof text - n, "\"\"COL %d\"\"", i);
            end[i] = n;
        }
    }
} names;

/* One condition of a where clause: [" and "]""COL n"" IS NULL, or =hex. */
void write_condition(MINER *mnr, bool and_before, int64_t col, bool is_null, const uint8_t *p, uint32_t len)
{
    if (and_before)
        SQL_LIT(mnr, " and ");
    write_column(mnr, col);
    if (is_null) {
        SQL_LIT(mnr, " IS NULL");
    } else {
        sql_char(mnr, '=');
        sql_hex(mnr, p, len);
    }
}

/* " (<columns>) values (" of an insert of cc columns */
void write_column_list(MINER *mnr, unsigned cc)
{
    SQL_LIT(mnr, " (");
    sql_put(mnr, names.text, names.end[cc]);
    SQL_LIT(mnr, ") values (");
}

/* "insert into ""UNKNOWN"".""OBJ# n"" (<columns>) values (" */
void write_insert_head(MINER *mnr, uint32_t objn, unsigned cc)
{
    SQL_LIT(mnr, "insert into ");
    write_table(mnr, objn);
    write_column_list(mnr, cc);
}
