/*
 * format_number.cpp - format_number: NUMBER and FLOAT bytes as an exact
 * decimal literal.
 *
 * Byte 0 holds sign and exponent, then up to 20 base-100 digits.  Positive
 * (byte 0 >= 0x80): exponent byte - 0xc1, digits byte - 1.  Negative:
 * 0x3e - exponent byte, digits 101 - byte, and a trailing 0x66 when fewer
 * than 20 digits.  The first digit pair is the coefficient of 100^exponent.
 * 80 alone is 0; 00 alone and ff 65 are the two infinities, which have no
 * literal.  Written plain (-1200, 0.05, 123.45) unless that would be longer
 * than 64 characters, then as d.dddE+nn.
 */
#include "quorvil_decode.h"

namespace DECODE_ISA {

#define PLAIN_MAX 64

/*
 * k bytes of s at d, sixteen at a time: s and d both have room for k
 * rounded up to sixteen (digits[] below; the literal's LITERAL_MAX, of
 * which a plain number takes at most PLAIN_MAX + 2).
 */
static inline void copy_wide(char *d, const char *s, int k)
{
    int i = 0;
    do {
#ifdef __SSE2__
        _mm_storeu_si128((__m128i *)(d + i), _mm_loadu_si128((const __m128i *)(s + i)));
#else
        memcpy(d + i, s + i, 16);
#endif
        i += 16;
    } while (i < k);
}

/* k zeros at d, sixteen at a time, with the same room as copy_wide. */
static inline void zeros_wide(char *d, int k)
{
    static const char z[16] = {'0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'};
    for (int i = 0; i < k; i += 16)
        memcpy(d + i, z, 16);
}

/* Any number, digit by digit (format_number takes most integers itself);
 * n is 1 to 21. */
static __attribute__((noinline)) int number_digits(const uint8_t *b, size_t n, char *out)
{
    char digits[40 + 48];  // 40 digits, and room for copy_wide from any of them
    const uint8_t *man = b + 1;
    size_t m = n - 1;
    bool neg;
    int exp;

    if (n == 1 && b[0] == 0x80) {
        out[0] = '0';
        return 1;
    }
    neg = b[0] < 0x80;
    if (neg) {
        if (m > 0 && man[m - 1] == 0x66)
            m--;
        exp = 0x3e - b[0];
    } else {
        exp = b[0] - 0xc1;
    }
    // an exponent with no digits: the lone 00 (-infinity) or a cut value
    if (m == 0 || m > 20)
        return -1;
    if (neg) {
        for (size_t i = 0; i < m; i++) {
            unsigned d = 101u - man[i];
            // a digit byte outside its range; ff 65 (+infinity) lands here
            if (d > 99)
                return -1;
            memcpy(digits + 2 * i, decimal_pairs.d + 2 * d, 2);
        }
    } else {
        for (size_t i = 0; i < m; i++) {
            unsigned d = man[i] - 1u;
            if (d > 99)
                return -1;
            memcpy(digits + 2 * i, decimal_pairs.d + 2 * d, 2);
        }
    }

    // digits[i] weighs 10^(point - 1 - i)
    int nd = (int)(2 * m), point = 2 * (exp + 1), a = 0, z = nd - 1;
    while (a < nd && digits[a] == '0')
        a++;
    if (a == nd) {
        out[0] = '0';
        return 1;
    }
    while (digits[z] == '0')
        z--;

    int len = 0, intlen = point - a > 0 ? point - a : 1;
    int fraclen = z >= point ? z - point + 1 : 0;
    if (neg)
        out[len++] = '-';
    if (neg + intlen + (fraclen ? 1 + fraclen : 0) > PLAIN_MAX) {
        int e10 = point - 1 - a;
        out[len++] = digits[a];
        if (z > a) {
            out[len++] = '.';
            for (int i = a + 1; i <= z; i++)
                out[len++] = digits[i];
        }
        len += snprintf(out + len, 8, "E%c%d", e10 < 0 ? '-' : '+', e10 < 0 ? -e10 : e10);
        return len;
    }
    // the integer part: digits a up to the point, zeros for the point past
    // the last digit; the fraction: zeros up to digit a, digits up to z
    if (point <= a) {
        out[len++] = '0';
    } else {
        int k = (point < nd ? point : nd) - a;
        copy_wide(out + len, digits + a, k);
        len += k;
        if (point > nd) {
            zeros_wide(out + len, point - nd);
            len += point - nd;
        }
    }
    if (fraclen) {
        out[len++] = '.';
        if (a > point) {
            zeros_wide(out + len, a - point);
            len += a - point;
        }
        int from = point > a ? point : a;
        copy_wide(out + len, digits + from, z - from + 1);
        len += z - from + 1;
    }
    return len;
}

int format_number(const uint8_t *b, size_t n, char *out)
{
    if (n == 0 || n > 21)
        return -1;
    // a positive integer (exponent at least the digit pairs but one) of up
    // to 62 digits whose first pair is not 00, as most are: its pairs as
    // they come, the first without its leading zero, then the zeros the
    // exponent puts after them
    unsigned e = b[0] - 0xc1u, d0 = n >= 2 ? b[1] - 1u : 0;
    if (e <= 30 && e + 2 >= n && d0 - 1u <= 98) {
        char *o = out;
        memcpy(o, decimal_pairs.d + 2 * d0 + (d0 < 10), 2);
        o += d0 < 10 ? 1 : 2;
        for (size_t i = 2; i < n; i++) {
            unsigned d = b[i] - 1u;
            // a digit byte outside its range; ff 65 (+infinity) lands here
            if (d > 99)
                return -1;
            memcpy(o, decimal_pairs.d + 2 * d, 2);
            o += 2;
        }
        zeros_wide(o, (int)(2 * (e + 2 - n)));
        return (int)(o - out) + (int)(2 * (e + 2 - n));
    }
    return number_digits(b, n, out);
}

}  // namespace DECODE_ISA
