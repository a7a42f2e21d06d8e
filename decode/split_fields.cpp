/*
 * split_fields.cpp - the CSV text of one line: where a line ends, its
 * fields, a field without its quotes, and names made into fields and SQL
 * identifiers.
 *
 * Fields follow RFC 4180: a field that begins with a double quote runs to
 * the next lone double quote, "" standing for one; any other field runs to
 * the next comma.  A line ends at a line feed outside quotes, so a quoted
 * field may hold line feeds.  Spans keep the quotes: quorvil-decode copies
 * fields as they came and reads the quoted SQL_REDO in place.
 */
#include "quorvil_decode.h"

namespace DECODE_ISA {

/* Whether p[0..n) holds an odd number of double quotes, sixteen bytes at a
 * time where it can: the parity of the count is the parity of the XOR of the
 * masks. */
static bool odd_quotes(const char *p, size_t n)
{
    unsigned acc = 0;
    size_t i = 0;
#ifdef __SSE2__
    const __m128i q = _mm_set1_epi8('"');
    for (; i + 16 <= n; i += 16)
        acc ^= (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)(p + i)), q));
#endif
    for (; i < n; i++)
        acc ^= p[i] == '"';
    return __builtin_parity(acc);
}

/* find_record_end from p[i] on, the plain way: memchr for each line feed,
 * then the double quotes before it.  Kept out of line, so that the common
 * path of find_record_end saves no registers for the calls. */
[[gnu::noinline]] static size_t record_end_from(const char *p, size_t i, size_t n, bool *in_quotes)
{
    for (;;) {
        const char *nl = (const char *)memchr(p + i, '\n', n - i);
        size_t end = nl ? (size_t)(nl - p) : n;

        // every double quote before the line feed flips the state
        if (odd_quotes(p + i, end - i))
            *in_quotes = !*in_quotes;
        if (nl == NULL || !*in_quotes)
            return end;
        i = end + 1;
    }
}

#ifdef __SSE2__
/* Bit j set where byte j of the 64 bytes a, b, c, d (in that order) is the
 * byte that fills v. */
static inline uint64_t byte_mask64(__m128i a, __m128i b, __m128i c, __m128i d, __m128i v)
{
    return (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(a, v)) |
           (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(b, v)) << 16 |
           (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(c, v)) << 32 |
           (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(d, v)) << 48;
}

/* Bit j of the result: the XOR of bits 0..j of x, so set where an odd
 * number of double quotes lie at or before byte j. */
static inline uint64_t prefix_xor(uint64_t x)
{
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

/* The lanes in which find_record_end adds up a run of blocks' double
 * quotes, and the steps it takes on a block of 64 bytes: whether none of
 * them is a line feed, adding up their quotes when so; the parity of the
 * quotes added up; the bytes equal to c as bits. */
#if defined(DECODE_AVX2_BUILD)
typedef __m256i QUOTE_LANES;

static inline bool no_line_feed(const char *p, QUOTE_LANES *acc)
{
    __m256i a = _mm256_loadu_si256((const __m256i *)p), b = _mm256_loadu_si256((const __m256i *)(p + 32));
    __m256i nl = _mm256_or_si256(_mm256_cmpeq_epi8(a, _mm256_set1_epi8('\n')), _mm256_cmpeq_epi8(b, _mm256_set1_epi8('\n')));
    if (!_mm256_testz_si256(nl, nl))
        return false;
    *acc = _mm256_xor_si256(*acc, _mm256_xor_si256(_mm256_cmpeq_epi8(a, _mm256_set1_epi8('"')),
                                                     _mm256_cmpeq_epi8(b, _mm256_set1_epi8('"'))));
    return true;
}

static inline bool odd_lanes(QUOTE_LANES acc)
{
    return __builtin_parity((unsigned)_mm256_movemask_epi8(acc));
}

static inline uint64_t block_mask(const char *p, char c)
{
    __m256i v = _mm256_set1_epi8(c);
    return (uint64_t)(unsigned)_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_loadu_si256((const __m256i *)p), v)) |
           (uint64_t)(unsigned)_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_loadu_si256((const __m256i *)(p + 32)), v)) << 32;
}
#else
typedef __m128i QUOTE_LANES;

static inline bool no_line_feed(const char *p, QUOTE_LANES *acc)
{
    const __m128i vq = _mm_set1_epi8('"'), vn = _mm_set1_epi8('\n');
    __m128i a = _mm_loadu_si128((const __m128i *)p), b = _mm_loadu_si128((const __m128i *)(p + 16));
    __m128i c = _mm_loadu_si128((const __m128i *)(p + 32)), d = _mm_loadu_si128((const __m128i *)(p + 48));
    __m128i nl = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, vn), _mm_cmpeq_epi8(b, vn)),
                              _mm_or_si128(_mm_cmpeq_epi8(c, vn), _mm_cmpeq_epi8(d, vn)));
    if (_mm_movemask_epi8(nl) != 0)
        return false;
    *acc = _mm_xor_si128(*acc, _mm_xor_si128(_mm_xor_si128(_mm_cmpeq_epi8(a, vq), _mm_cmpeq_epi8(b, vq)),
                                             _mm_xor_si128(_mm_cmpeq_epi8(c, vq), _mm_cmpeq_epi8(d, vq))));
    return true;
}

static inline bool odd_lanes(QUOTE_LANES acc)
{
    return __builtin_parity((unsigned)_mm_movemask_epi8(acc));
}

static inline uint64_t block_mask(const char *p, char c)
{
    return byte_mask64(_mm_loadu_si128((const __m128i *)p), _mm_loadu_si128((const __m128i *)(p + 16)),
                       _mm_loadu_si128((const __m128i *)(p + 32)), _mm_loadu_si128((const __m128i *)(p + 48)),
                       _mm_set1_epi8(c));
}
#endif
#endif

/*
 * Offset of the line feed that ends the line in p[0..n), or n when the
 * line runs past n.  *in_quotes carries the quoting state across calls, so
 * a caller that got n may go on from there with more bytes.
 *
 * One pass, 64 bytes a step, reading only p[0..n): a block without a line
 * feed only adds its double quotes to acc, lane by lane, whose parity is the
 * parity of all of them; a block with one settles the state and takes the
 * first line feed outside quotes from its masks.  The last bytes, fewer
 * than 64, go the plain way.
 */
size_t find_record_end(const char *p, size_t n, bool *in_quotes)
{
    size_t i = 0;

#ifdef __SSE2__
    QUOTE_LANES acc = {};
    uint64_t quoted = *in_quotes ? ~(uint64_t)0 : 0;  // every bit the state, for the masks

    for (; i + 64 <= n; i += 64) {
        if (__builtin_expect(no_line_feed(p + i, &acc), 1))
            continue;
        // the state at the block's first byte, then inside quotes at each byte
        if (odd_lanes(acc))
            quoted = ~quoted;
        acc = QUOTE_LANES{};
        uint64_t inside = prefix_xor(block_mask(p + i, '"')) ^ quoted;
        uint64_t ends = block_mask(p + i, '\n') & ~inside;
        if (ends != 0) {
            *in_quotes = false;
            return i + (size_t)__builtin_ctzll(ends);
        }
        // the state after the block: that at its last byte
        quoted = 0 - (inside >> 63);
    }
    *in_quotes = (quoted != 0) ^ odd_lanes(acc);
#endif
    return record_end_from(p, i, n, in_quotes);
}

/* Offset of the first comma in p[i..n), or n.  The short fields that begin
 * a line mostly end within sixteen bytes, so those are looked at in one
 * step first when all of them lie before n. */
static inline size_t next_comma(const char *p, size_t i, size_t n)
{
#ifdef __SSE2__
    if (i + 16 <= n) {
        __m128i v = _mm_loadu_si128((const __m128i *)(p + i));
        unsigned m = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')));
        if (m != 0)
            return i + (size_t)__builtin_ctz(m);
        i += 16;
    }
#endif
    const char *c = (const char *)memchr(p + i, ',', n - i);
    return c ? (size_t)(c - p) : n;
}

/* split_fields from field k at p[i] on, the plain way: memchr for each
 * field's end.  Kept out of line, so that split_fields saves no registers
 * for the calls when it cuts the fields of a line of quorvil's by itself. */
[[gnu::noinline]] static int split_from(const char *p, size_t n, SPAN *f, int max, bool rest_in_last, size_t i, int k)
{
    for (;;) {
        size_t start = i;

        if (k == max)
            return -1;
        if (rest_in_last && k == max - 1) {
            f[k++] = {p + i, n - i};
            return k;
        }
        if (i < n && p[i] == '"') {
            i++;
            for (;;) {
                const char *q = (const char *)memchr(p + i, '"', n - i);
                // quoted field not closed
                if (q == NULL)
                    return -1;
                i = (size_t)(q - p) + 1;
                if (i < n && p[i] == '"') {
                    i++;
                    continue;
                }
                break;
            }
            // text after the closing quote
            if (i < n && p[i] != ',')
                return -1;
        } else {
            i = next_comma(p, i, n);
        }
        f[k++] = {p + start, i - start};
        if (i >= n)
            return k;
        i++;  // the comma
    }
}

/*
 * Splits the line p[0..n) into at most max fields.  Returns the number of
 * fields, or -1 when the line has more than max, or a quoted field that is
 * not closed or is followed by anything but a comma.  With rest_in_last the
 * last of max fields is the rest of the line, unchecked: the caller reads it.
 *
 * A line of 64 bytes or more has the commas of its first 64 bytes taken in
 * one step; the unquoted fields that end among them (a line of quorvil's
 * begins with eight) are cut at those commas; with rest_in_last the rest
 * may then follow as the last field at once.  Otherwise the loop goes on
 * from the first field that is quoted, ends further on, or is the last.
 */
int split_fields(const char *p, size_t n, SPAN *f, int max, bool rest_in_last)
{
    size_t i = 0;
    int k = 0;

#ifdef __SSE2__
    if (n >= 64) {
        const __m128i vc = _mm_set1_epi8(',');
        uint64_t commas = byte_mask64(_mm_loadu_si128((const __m128i *)p), _mm_loadu_si128((const __m128i *)(p + 16)),
                                      _mm_loadu_si128((const __m128i *)(p + 32)),
                                      _mm_loadu_si128((const __m128i *)(p + 48)), vc);
        // commas holds those at or after i, so while one is left i < 64 <= n
        // and p[i] is in the line
        int last = max - 1;
        while (k < last && commas != 0 && p[i] != '"') {
            size_t end = (size_t)__builtin_ctzll(commas);
            f[k++] = {p + i, end - i};
            i = end + 1;
            commas &= commas - 1;
        }
        if (rest_in_last && k == last) {
            f[k] = {p + i, n - i};
            return max;
        }
    }
#endif
    return split_from(p, n, f, max, rest_in_last, i, k);
}

/* The text of field f: without its quotes, "" made one ". */
void unquote_field(SPAN f, std::string *out)
{
    out->clear();
    if (f.n < 2 || f.p[0] != '"') {
        out->assign(f.p, f.n);
        return;
    }
    for (size_t i = 1; i + 1 < f.n; i++) {
        out->push_back(f.p[i]);
        if (f.p[i] == '"')
            i++;
    }
}

/* s as one CSV field: quoted, its quotes doubled, when it holds a comma, a
 * double quote, a CR or an LF. */
void csv_field(const char *s, size_t n, std::string *out)
{
    bool quote = false;

    for (size_t i = 0; i < n; i++)
        if (s[i] == ',' || s[i] == '"' || s[i] == '\r' || s[i] == '\n')
            quote = true;
    if (!quote) {
        out->append(s, n);
        return;
    }
    out->push_back('"');
    for (size_t i = 0; i < n; i++) {
        if (s[i] == '"')
            out->push_back('"');
        out->push_back(s[i]);
    }
    out->push_back('"');
}

/* A name as a quoted SQL identifier inside a quoted CSV field: the
 * identifier's quotes and the name's own quotes doubled, then doubled again. */
void sql_name_token(const std::string &name, std::string *out)
{
    out->append("\"\"");
    for (char c : name) {
        if (c == '"')
            out->append("\"\"\"");
        out->push_back(c);
    }
    out->append("\"\"");
}

}  // namespace DECODE_ISA
