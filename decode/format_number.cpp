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

#define PLAIN_MAX 64

/* The two decimal digits of 0..99. */
static const struct digit_pairs {
    char d[200];
    constexpr digit_pairs() : d()
    {
        for (int i = 0; i < 100; i++) {
            d[2 * i] = (char)('0' + i / 10);
            d[2 * i + 1] = (char)('0' + i % 10);
        }
    }
} pairs;

int format_number(const uint8_t *b, size_t n, char *out)
{
    char digits[40];
    const uint8_t *man = b + 1;
    size_t m = n - 1;
    bool neg;
    int exp;

    if (n == 0 || n > 21)
        return -1;
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
    for (size_t i = 0; i < m; i++) {
        int d = neg ? 101 - man[i] : man[i] - 1;
        // a digit byte outside its range; ff 65 (+infinity) lands here
        if (d < 0 || d > 99)
            return -1;
        memcpy(digits + 2 * i, pairs.d + 2 * d, 2);
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
        memcpy(out + len, digits + a, (size_t)k);
        len += k;
        if (point > nd) {
            memset(out + len, '0', (size_t)(point - nd));
            len += point - nd;
        }
    }
    if (fraclen) {
        out[len++] = '.';
        if (a > point) {
            memset(out + len, '0', (size_t)(a - point));
            len += a - point;
        }
        int from = point > a ? point : a;
        memcpy(out + len, digits + from, (size_t)(z - from + 1));
        len += z - from + 1;
    }
    return len;
}
