/*
 * format_value.cpp - format_value: the SQL literal of one value, chosen by
 * its column's kind, appended to the line's literals (dc->lit).
 *
 * The value comes as quorvil wrote it, HEXTORAW('..'); its bytes are read
 * into dc->bytes and handed to the formatter of the kind, from one table.
 * Result 1: the literal is appended.  0: the value stays in hex as it came,
 * for a kind without a formatter (RAW, LOBs, ROWID, object types), bytes
 * that are not a value of the type, or TIMESTAMP WITH LOCAL TIME ZONE
 * without DBTIMEZONE.  -1: the digits are not hex digits, so the line is not
 * quorvil's.
 */
#include "quorvil_decode.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

typedef int (*FIXED_FORMAT)(const uint8_t *b, size_t n, char *out);

static int format_bfloat(const uint8_t *b, size_t n, char *out)
{
    return format_binary(b, n, false, out);
}

static int format_bdouble(const uint8_t *b, size_t n, char *out)
{
    return format_binary(b, n, true, out);
}

/* The types whose literal has a bounded length (LITERAL_MAX), by kind. */
static const FIXED_FORMAT fixed_formats[VK_KINDS] = {
    NULL, /* VK_HEX */
    format_number, /* VK_NUMBER */
    format_bfloat, /* VK_BFLOAT */
    format_bdouble, /* VK_BDOUBLE */
    format_date, /* VK_DATE */
    format_timestamp, /* VK_TIMESTAMP */
    format_tstz, /* VK_TSTZ */
    NULL, /* VK_TSLTZ */
    format_iym, /* VK_IYM */
    format_ids, /* VK_IDS */
    NULL, /* VK_CHAR */
    NULL, /* VK_NCHAR */
};

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

#ifdef __SSE2__
/* Nibbles of 16 digits; lanes that are not lower-case hex digits are marked in *bad. */
static inline __m128i nibbles(const char *p, unsigned *bad)
{
    __m128i x = _mm_loadu_si128((const __m128i *)p);
    __m128i d = _mm_sub_epi8(x, _mm_set1_epi8('0')), l = _mm_sub_epi8(x, _mm_set1_epi8('a'));
    __m128i isdig = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
    __m128i islow = _mm_cmpeq_epi8(_mm_min_epu8(l, _mm_set1_epi8(5)), l);
    *bad |= ~(unsigned)_mm_movemask_epi8(_mm_or_si128(isdig, islow)) & 0xffff;
    return _mm_or_si128(_mm_and_si128(isdig, d), _mm_and_si128(islow, _mm_add_epi8(l, _mm_set1_epi8(10))));
}
#endif

/* The bytes of HEXTORAW('..'); false when a digit is not a lower-case hex digit. */
bool read_hex(SPAN value, std::vector<uint8_t> *bytes)
{
    const size_t pre = sizeof("HEXTORAW('") - 1, post = sizeof("')") - 1;
    unsigned bad = 0;
    size_t i = 0;

    if (value.n < pre + post)
        return false;
    size_t n = (value.n - pre - post) / 2;
    const char *d = value.p + pre;
    bytes->resize(n);
    uint8_t *b = bytes->data();
#ifdef __SSE2__
    // two digits in a 16-bit lane, high nibble first: (lane << 4) & f0 | (lane >> 8) & 0f
    for (; i + 8 <= n; i += 8) {
        __m128i nib = nibbles(d + 2 * i, &bad);
        __m128i v = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(nib, 4), _mm_set1_epi16(0xf0)),
                                 _mm_and_si128(_mm_srli_epi16(nib, 8), _mm_set1_epi16(0x0f)));
        _mm_storel_epi64((__m128i *)(b + i), _mm_packus_epi16(v, v));
    }
#endif
    for (; i < n; i++) {
        uint8_t hi = hex_values[(uint8_t)d[2 * i]], lo = hex_values[(uint8_t)d[2 * i + 1]];
        bad |= (hi | lo) & 0x80;
        b[i] = (uint8_t)(hi << 4 | lo);
    }
    return bad == 0;
}

/* Whether the digits of HEXTORAW('..') are all lower-case hex digits. */
bool check_hex(SPAN value)
{
    const size_t pre = sizeof("HEXTORAW('") - 1, post = sizeof("')") - 1;
    unsigned bad = 0;
    size_t i = pre;

    if (value.n < pre + post)
        return false;
#ifdef __SSE2__
    for (; i + 16 <= value.n - post; i += 16)
        nibbles(value.p + i, &bad);
#endif
    for (; i < value.n - post; i++)
        bad |= hex_values[(uint8_t)value.p[i]] & 0x80;
    return bad == 0;
}

int format_value(DECODER *dc, uint8_t kind, SPAN value)
{
    char out[LITERAL_MAX];
    int len;

    if (kind == VK_HEX || kind >= VK_KINDS)
        return check_hex(value) ? 0 : -1;
    if (!read_hex(value, &dc->bytes))
        return -1;
    const uint8_t *b = dc->bytes.data();
    size_t n = dc->bytes.size();

    if (kind == VK_CHAR || kind == VK_NCHAR)
        return format_text(dc, &dc->conv[kind == VK_NCHAR], kind == VK_NCHAR, b, n);
    if (kind == VK_TSLTZ) {
        if (!dc->tz_known)
            return 0;
        len = format_timestamp(b, n, out);
        if (len < 0)
            return 0;
        // FROM_TZ(TO_TIMESTAMP(..),' then the zone and ')
        dc->lit.append("FROM_TZ(");
        dc->lit.append(out, (size_t)len);
        dc->lit.append(",'");
        dc->lit.append(dc->tz_text);
        dc->lit.append("')");
        return 1;
    }
    len = fixed_formats[kind](b, n, out);
    if (len < 0)
        return 0;
    dc->lit.append(out, (size_t)len);
    return 1;
}
