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

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

/*
 * Offset of the line feed that ends the line in p[0..n), or n when the
 * line runs past n.  *in_quotes carries the quoting state across calls, so
 * a caller that got n may go on from there with more bytes.
 */
size_t find_record_end(const char *p, size_t n, bool *in_quotes)
{
    size_t i = 0;

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

/*
 * Splits the line p[0..n) into at most max fields.  Returns the number of
 * fields, or -1 when the line has more than max, or a quoted field that is
 * not closed or is followed by anything but a comma.  With rest_in_last the
 * last of max fields is the rest of the line, unchecked: the caller reads it.
 */
int split_fields(const char *p, size_t n, SPAN *f, int max, bool rest_in_last)
{
    size_t i = 0;
    int k = 0;

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
            const char *c = (const char *)memchr(p + i, ',', n - i);
            i = c ? (size_t)(c - p) : n;
        }
        f[k++] = {p + start, i - start};
        if (i >= n)
            return k;
        i++;  // the comma
    }
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
