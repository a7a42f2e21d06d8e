/*
 * format_interval.cpp - INTERVAL YEAR TO MONTH (5 bytes) and INTERVAL DAY
 * TO SECOND (11 bytes) as literals.
 *
 * Years, and days, are 32-bit big-endian with 0x80000000 added; months,
 * hours, minutes and seconds are one byte each with 60 added; nanoseconds
 * are 32-bit with 0x80000000 added.  In a negative interval every field is
 * negative.  Written TO_YMINTERVAL('+05-00') and
 * TO_DSINTERVAL('+02 12:23:34.456000000'): the sign, then years or days in
 * at least two digits, every other field in two, nanoseconds in nine.
 */
#include "quorvil_decode.h"

namespace DECODE_ISA {

static int64_t read_biased(const uint8_t *b)
{
    uint32_t v = (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
    return (int64_t)v - 0x80000000LL;
}

static int64_t magnitude(int64_t v)
{
    return v < 0 ? -v : v;
}

/* Every field has the sign of the others, or is 0. */
static bool one_sign(const int64_t *f, int n)
{
    bool pos = false, neg = false;
    for (int i = 0; i < n; i++) {
        pos |= f[i] > 0;
        neg |= f[i] < 0;
    }
    return !(pos && neg);
}

int format_iym(const uint8_t *b, size_t n, char *out)
{
    if (n != 5)
        return -1;
    int64_t f[2] = {read_biased(b), b[4] - 60};
    if (magnitude(f[1]) > 11 || !one_sign(f, 2))
        return -1;
    return snprintf(out, LITERAL_MAX, "TO_YMINTERVAL('%c%02lld-%02lld')", f[0] < 0 || f[1] < 0 ? '-' : '+',
                    (long long)magnitude(f[0]), (long long)magnitude(f[1]));
}

int format_ids(const uint8_t *b, size_t n, char *out)
{
    if (n != 11)
        return -1;
    int64_t f[5] = {read_biased(b), b[4] - 60, b[5] - 60, b[6] - 60, read_biased(b + 7)};
    if (magnitude(f[1]) > 23 || magnitude(f[2]) > 59 || magnitude(f[3]) > 59 || magnitude(f[4]) > 999999999 ||
        !one_sign(f, 5))
        return -1;
    bool neg = f[0] < 0 || f[1] < 0 || f[2] < 0 || f[3] < 0 || f[4] < 0;
    return snprintf(out, LITERAL_MAX, "TO_DSINTERVAL('%c%02lld %02lld:%02lld:%02lld.%09lld')", neg ? '-' : '+',
                    (long long)magnitude(f[0]), (long long)magnitude(f[1]), (long long)magnitude(f[2]),
                    (long long)magnitude(f[3]), (long long)magnitude(f[4]));
}

}  // namespace DECODE_ISA
