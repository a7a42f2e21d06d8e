/*
 * format_text.cpp - format_text: CHAR and VARCHAR2 bytes in the database
 * character set, NCHAR and NVARCHAR2 bytes in the national one, as a quoted
 * literal in UTF-8: 'text' or N'text', every ' doubled, and every " doubled
 * for the CSV field the literal sits in.  Trailing blanks are kept.
 *
 * The conversion is iconv's.  Text of bytes 01..7f in a set where those are
 * the ASCII characters (checked through iconv when the set is opened) is
 * copied as it is.  Bytes that are not text of the set, a character cut
 * short and a character U+0000 leave the value in hex.
 *
 * A set iconv reads as UTF-8 (AL32UTF8, and UTF8 without surrogate pairs to
 * join) gives back its own bytes when they are valid, so copy_utf8 checks
 * them as the C library's UTF-8 reader does and copies them, without iconv;
 * set_charsets checks, at the edges of UTF-8, that iconv agrees before it
 * lets copy_utf8 stand for it.
 */
#include "quorvil_decode.h"

#include <cerrno>

namespace DECODE_ISA {

/* CESU-8 writes a character above U+FFFF as two three-byte surrogates
 * (ed a0-af xx, ed b0-bf xx); UTF-8 writes it in four bytes. */
static void join_surrogates(const uint8_t *b, size_t n, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < n; i++) {
        if (i + 6 <= n && b[i] == 0xed && (b[i + 1] & 0xf0) == 0xa0 && (b[i + 2] & 0xc0) == 0x80 &&
            b[i + 3] == 0xed && (b[i + 4] & 0xf0) == 0xb0 && (b[i + 5] & 0xc0) == 0x80) {
            uint32_t hi = (uint32_t)(b[i + 1] & 0x0f) << 6 | (b[i + 2] & 0x3f);
            uint32_t lo = (uint32_t)(b[i + 4] & 0x0f) << 6 | (b[i + 5] & 0x3f);
            uint32_t cp = 0x10000 + (hi << 10 | lo);
            out->push_back((char)(0xf0 | cp >> 18));
            out->push_back((char)(0x80 | (cp >> 12 & 0x3f)));
            out->push_back((char)(0x80 | (cp >> 6 & 0x3f)));
            out->push_back((char)(0x80 | (cp & 0x3f)));
            i += 5;
        } else {
            out->push_back((char)b[i]);
        }
    }
}

/* Length of the run of bytes 01..7f at the start of b[0..n); *quote set when
 * one of them is ' or ". */
static size_t ascii_run(const uint8_t *b, size_t n, bool *quote)
{
    size_t i = 0;
    bool q = false;

#ifdef __SSE2__
    // bytes 01..7f are those above 0 as signed bytes
    const __m128i zero = _mm_setzero_si128(), apos = _mm_set1_epi8('\''), dq = _mm_set1_epi8('"');
    for (; i + 16 <= n; i += 16) {
        __m128i x = _mm_loadu_si128((const __m128i *)(b + i));
        unsigned ascii = (unsigned)_mm_movemask_epi8(_mm_cmpgt_epi8(x, zero));
        unsigned quotes = (unsigned)_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, apos), _mm_cmpeq_epi8(x, dq)));
        if (ascii != 0xffff) {
            unsigned k = (unsigned)__builtin_ctz(~ascii);
            *quote = q || (quotes & ((1u << k) - 1)) != 0;
            return i + k;
        }
        q |= quotes != 0;
    }
#endif
    for (; i < n && b[i] - 1u < 0x7fu; i++)
        q |= b[i] == '\'' || b[i] == '"';
    *quote = q;
    return i;
}

/*
 * Length of the character of UTF-8 that starts b[0..n) with lead byte b[0]
 * >= 0x80, or 0 when it is not one the C library's UTF-8 reader takes: two
 * bytes from c2, three from e0 a0 (ed 80-9f only: no surrogates), four from
 * f0 90 up to f7, five from f8 88 up to fb, six from fc 84 up to fd (it
 * takes the old forms, values up to 7fffffff, and none overlong).
 */
static size_t utf8_char(const uint8_t *b, size_t n)
{
    uint8_t c = b[0];

    if (c >= 0xc2 && c <= 0xdf)
        return n >= 2 && (b[1] & 0xc0) == 0x80 ? 2 : 0;
    if (c >= 0xe0 && c <= 0xef) {
        uint8_t lo = c == 0xe0 ? 0xa0 : 0x80, hi = c == 0xed ? 0x9f : 0xbf;
        return n >= 3 && b[1] >= lo && b[1] <= hi && (b[2] & 0xc0) == 0x80 ? 3 : 0;
    }
    if (c >= 0xf0 && c <= 0xfd) {
        size_t k = c <= 0xf7 ? 4 : c <= 0xfb ? 5 : 6;
        // the lowest second byte that is not overlong
        uint8_t lo = c == 0xf0 ? 0x90 : c == 0xf8 ? 0x88 : c == 0xfc ? 0x84 : 0x80;
        if (n < k || b[1] < lo || b[1] > 0xbf)
            return 0;
        for (size_t i = 2; i < k; i++)
            if ((b[i] & 0xc0) != 0x80)
                return 0;
        return k;
    }
    return 0;
}

/* b[0..n) as UTF-8 text at o, ' and " doubled; where it ends, or NULL when
 * it is not valid UTF-8 or holds U+0000 (then o may hold a piece of it,
 * which the caller drops).  b has 16 bytes of room past n (dc->bytes, see
 * make_room) and o 16 past the text, so sixteen bytes are loaded and stored
 * at a time and only the run of plain ones counted. */
static char *copy_utf8(char *o, const uint8_t *b, size_t n)
{
    size_t i = 0;

    while (i < n) {
#ifdef __SSE2__
        // the run of bytes 01..7f but ' and " that starts at i goes as it is
        const __m128i zero = _mm_setzero_si128(), apos = _mm_set1_epi8('\''), dq = _mm_set1_epi8('"');
        __m128i x = _mm_loadu_si128((const __m128i *)(b + i));
        __m128i plain = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(x, apos), _mm_cmpeq_epi8(x, dq)),
                                         _mm_cmpgt_epi8(x, zero));
        size_t run = (size_t)__builtin_ctz(~(unsigned)_mm_movemask_epi8(plain));
        if (run > n - i)
            run = n - i;
        _mm_storeu_si128((__m128i *)o, x);
        o += run;
        i += run;
        if (run == 16 || i == n)
            continue;
#endif
        uint8_t c = b[i];
        if (c - 1u < 0x7fu) {
            if (c == '\'' || c == '"')
                *o++ = (char)c;
            *o++ = (char)c;
            i++;
            continue;
        }
        // two bytes, the most common, without the call
        size_t k = c >= 0xc2 && c <= 0xdf && n - i >= 2 && (b[i + 1] & 0xc0) == 0x80 ? 2
                   : c == 0                                                       ? 0
                                                                                  : utf8_char(b + i, n - i);
        if (k == 0)
            return NULL;
        // eight bytes copied, k kept: b and the literal have the room
        memcpy(o, b + i, 8);
        o += k;
        i += k;
    }
    return o;
}

#ifdef __SSE2__
/* One bit a byte of x: set for bytes 01..7f but ' and ", which go as they are. */
static inline unsigned plain_bytes(__m128i x)
{
    const __m128i zero = _mm_setzero_si128(), apos = _mm_set1_epi8('\''), dq = _mm_set1_epi8('"');
    __m128i quote = _mm_or_si128(_mm_cmpeq_epi8(x, apos), _mm_cmpeq_epi8(x, dq));
    return (unsigned)_mm_movemask_epi8(_mm_andnot_si128(quote, _mm_cmpgt_epi8(x, zero)));
}
#endif

/*
 * format_utf8_hex from byte i on, the literal's text written up to o, for
 * text that is not all plain bytes: the rest of its bytes read into
 * dc->bytes (make_room keeps room for them and 16 more, which copy_utf8
 * counts on) and written by copy_utf8.
 */
static __attribute__((noinline)) char *utf8_hex_rest(DECODER *dc, char *o, const char *d, size_t n, size_t i)
{
    hex_bytes(d + 2 * i, n - i, dc->bytes);
    o = copy_utf8(o, dc->bytes, n - i);
    if (o == NULL)
        return NULL;
    *o++ = '\'';
    return o;
}

/* Whether byte c goes into the literal as it is: 01..7f but ' and ". */
static inline bool plain_byte(uint8_t c)
{
    return c - 1u < 0x7fu && c != '\'' && c != '"';
}

/*
 * Text in a set iconv reads as UTF-8 (utf8_same, no surrogate pairs to
 * join), from its n bytes' 2n hex digits at d straight into the literal at
 * o, with what format_text and copy_utf8 would write: 'text' or N'text', '
 * and " doubled; where it ends, or NULL for bytes that are not valid UTF-8
 * or hold U+0000.
 *
 * Most text is plain bytes, each read once: sixteen at a time while the
 * value has them, then the last nine to fifteen as two eights that
 * overlap, or the last eight or fewer as the value's last eight (those
 * before i are plain and written already, so written again the same), the
 * whole of a value of three to seven bytes as the last eight of it and of
 * "HEXTORAW('" shifted down, and one or two bytes a byte at a time.  No
 * byte outside the value is read.  The first piece that is not all plain
 * hands over to utf8_hex_rest.  o has 16 bytes of room past the literal
 * (make_room, and obuf's WILD_SLACK), so sixteen or eight bytes are stored
 * at a time and only the value's counted.
 */
char *format_utf8_hex(DECODER *dc, char *o, bool national, const char *d, size_t n)
{
    size_t i = 0;

    if (national)
        *o++ = 'N';
    *o++ = '\'';
#ifdef __SSE2__
    for (; n - i >= 16; i += 16, o += 16) {
        __m128i x = hex16(d + 2 * i);
        if (plain_bytes(x) != 0xffff)
            return utf8_hex_rest(dc, o, d, n, i);
        _mm_storeu_si128((__m128i *)o, x);
    }
    size_t r = n - i;
    if (r > 8) {
        // bytes i..i+8 and n-8..n
        __m128i lo = hex_lanes(_mm_loadu_si128((const __m128i *)(d + 2 * i)));
        __m128i hi = hex_lanes(_mm_loadu_si128((const __m128i *)(d + 2 * n - 16)));
        __m128i x = _mm_packus_epi16(lo, hi);
        if (plain_bytes(x) != 0xffff)
            return utf8_hex_rest(dc, o, d, n, i);
        _mm_storel_epi64((__m128i *)o, x);
        _mm_storel_epi64((__m128i *)(o + r - 8), _mm_srli_si128(x, 8));
        o += r;
    } else if (n >= 8 && r > 0) {
        __m128i x = hex_lanes(_mm_loadu_si128((const __m128i *)(d + 2 * n - 16)));
        x = _mm_packus_epi16(x, x);
        if ((plain_bytes(x) & 0xff) != 0xff)
            return utf8_hex_rest(dc, o, d, n, i);
        _mm_storel_epi64((__m128i *)(o + r - 8), x);
        o += r;
    } else if (n >= 3 && r > 0) {
        __m128i x = hex_lanes(_mm_loadu_si128((const __m128i *)(d + 2 * n - 16)));
        x = _mm_srl_epi64(_mm_packus_epi16(x, x), _mm_cvtsi32_si128((int)(8 * (8 - n))));
        if ((~plain_bytes(x) & ((1u << n) - 1)) != 0)
            return utf8_hex_rest(dc, o, d, n, i);
        _mm_storel_epi64((__m128i *)o, x);
        o += n;
    } else
#endif
    {
        for (; i < n; i++) {
            uint8_t c = (uint8_t)(hex_values[(uint8_t)d[2 * i]] << 4 | hex_values[(uint8_t)d[2 * i + 1]]);
            if (!plain_byte(c))
                return utf8_hex_rest(dc, o, d, n, i);
            *o++ = (char)c;
        }
    }
    *o++ = '\'';
    return o;
}

#ifdef __SSE2__
/* One bit a byte of lo then hi: set for bytes in [b, b + k) (byte_range). */
static inline uint64_t bytes_in(__m128i lo, __m128i hi, int b, int k)
{
    return (uint64_t)(unsigned)_mm_movemask_epi8(byte_range(lo, b, k)) |
           (uint64_t)(unsigned)_mm_movemask_epi8(byte_range(hi, b, k)) << 16;
}

/*
 * How many of the first step bytes (1 to 32) of lo then hi, not all plain
 * (plain: their plain_bytes), go into the literal as they are, when they
 * are plain bytes and whole characters of two or three bytes as copy_utf8
 * takes them (two from c2, three from e0 a0, ed 80-9f only): step, or 30
 * or 31 when the value goes on past them (more) and a character begins in
 * the last two and ends after.  0 for anything else, which copy_utf8 reads
 * byte by byte: a quote, a byte 00, a character of four bytes or more,
 * bytes that are not UTF-8, or a character the value cuts short.
 */
static inline size_t utf8_run(__m128i lo, __m128i hi, uint64_t plain, size_t step, bool more)
{
    uint64_t cont = bytes_in(lo, hi, 0x80, 0x40), low = bytes_in(lo, hi, 0x80, 0x20);
    uint64_t lead2 = bytes_in(lo, hi, 0xc2, 0x1e), lead3 = bytes_in(lo, hi, 0xe0, 0x10);
    uint64_t e0 = bytes_in(lo, hi, 0xe0, 1), ed = bytes_in(lo, hi, 0xed, 1);
    // when the value goes on, a character that begins in the last two bytes
    // is left to the next step
    size_t end = !more ? step : lead3 >> 30 & 1 ? 30 : (lead2 | lead3) >> 31 & 1 ? 31 : 32;
    uint64_t keep = (1ull << end) - 1;
    lead2 &= keep;
    lead3 &= keep;
    // the bytes that must follow a lead: all of them, and nothing else
    // that is not plain, before end
    uint64_t follow = lead2 << 1 | lead3 << 1 | lead3 << 2;
    uint64_t bad = ~(plain | cont | lead2 | lead3) | (cont ^ follow) | (e0 << 1 & low) | (ed << 1 & cont & ~low);
    return (bad & keep) != 0 || (follow >> end) != 0 ? 0 : end;
}
#endif

/*
 * format_utf8_hex for a value with room past it, as a value of a line in
 * the input buffer has (WILD_SLACK), and o room past the literal: 32 bytes
 * at a time, the last step read and written past the value's end, so that
 * text of up to 32 bytes takes one step whatever its length, characters of
 * two and three bytes included (utf8_run).  Up to 62 bytes past the digits
 * are read and not taken.
 */
char *format_utf8_hex_room(DECODER *dc, char *o, bool national, const char *d, size_t n)
{
#ifdef __SSE2__
    size_t i = 0;

    if (national)
        *o++ = 'N';
    *o++ = '\'';
    for (;;) {
        __m128i lo = hex16(d + 2 * i), hi = hex16(d + 2 * i + 32);
        uint32_t plain = plain_bytes(lo) | plain_bytes(hi) << 16;
        size_t left = n - i, step = left < 32 ? left : 32;
        uint32_t want = (uint32_t)((1ull << step) - 1);
        size_t k = step;
        if ((plain & want) != want) {
            k = utf8_run(lo, hi, plain, step, left > 32);
            if (k == 0)
                return utf8_hex_rest(dc, o, d, n, i);
        }
        _mm_storeu_si128((__m128i *)o, lo);
        _mm_storeu_si128((__m128i *)(o + 16), hi);
        o += k;
        i += k;
        if (i == n)
            break;
    }
    *o++ = '\'';
    return o;
#else
    return format_utf8_hex(dc, o, national, d, n);
#endif
}

char *format_text(DECODER *dc, char *o, TEXT_CONV *tc, bool national, const uint8_t *b, size_t n)
{
    const char *utf8;
    size_t len, ascii = 0;
    bool quote = true;
    std::string joined;

    if (tc->cs == NULL)
        return NULL;
    if (tc->utf8_same && !(tc->cs->cesu && memchr(b, 0xed, n) != NULL)) {
        // there is room for 4 bytes a byte of the value, and N'' around it
        if (national)
            *o++ = 'N';
        *o++ = '\'';
        o = copy_utf8(o, b, n);
        if (o == NULL)
            return NULL;
        *o++ = '\'';
        return o;
    }
    if (tc->ascii_same)
        ascii = ascii_run(b, n, &quote);
    if (ascii == n) {
        utf8 = (const char *)b;
        len = n;
    } else {
        const uint8_t *src = b + ascii;
        size_t srcn = n - ascii;
        if (tc->cs->cesu && memchr(src, 0xed, srcn) != NULL) {
            join_surrogates(src, srcn, &dc->text);
            joined.swap(dc->text);
            src = (const uint8_t *)joined.data();
            srcn = joined.size();
        }
        // the text of bytes 01..7f is those bytes; iconv takes the rest, at
        // most four bytes of UTF-8 for each byte it reads
        dc->text.resize(ascii + 4 * srcn + 16);
        memcpy(dc->text.data(), b, ascii);
        char *ip = (char *)src, *op = dc->text.data() + ascii;
        size_t il = srcn, ol = dc->text.size() - ascii;
        iconv(tc->cd, NULL, NULL, NULL, NULL);
        size_t r = iconv(tc->cd, &ip, &il, &op, &ol);
        if (r == (size_t)-1 || il != 0)
            return NULL;
        len = (size_t)(op - dc->text.data());
        utf8 = dc->text.data();
        // U+0000 has no place in a literal
        if (memchr(utf8, 0, len) != NULL)
            return NULL;
        quote = true;  // not known past the first byte iconv read
    }
    // there is room for 4 bytes a byte of the value, and N'' around it
    if (national)
        *o++ = 'N';
    *o++ = '\'';
    if (!quote || (memchr(utf8, '\'', len) == NULL && memchr(utf8, '"', len) == NULL)) {
        memcpy(o, utf8, len);
        o += len;
    } else {
        for (size_t i = 0; i < len; i++) {
            char c = utf8[i];
            if (c == '\'' || c == '"')
                *o++ = c;
            *o++ = c;
        }
    }
    *o++ = '\'';
    return o;
}

}  // namespace DECODE_ISA
