/*
 * format_binary.cpp - format_binary: BINARY_FLOAT (4 bytes) and
 * BINARY_DOUBLE (8 bytes) as literals.
 *
 * The IEEE value is stored big-endian so that bytes sort as numbers: a
 * value whose sign bit is clear is stored with it set, any other with every
 * bit inverted.  Written as the shortest decimal that reads back as the same
 * value (std::to_chars with no format), then f or d; infinities and NaN as
 * TO_BINARY_FLOAT('INF'), TO_BINARY_DOUBLE('-INF'), ..('NaN').
 */
#include "quorvil_decode.h"

#include <charconv>
#include <cmath>

namespace DECODE_ISA {

int format_binary(const uint8_t *b, size_t n, bool dbl, char *out)
{
    uint64_t bits = 0;
    double d;
    float f;
    bool inf, nan, neg;

    if (n != (dbl ? 8u : 4u))
        return -1;
    for (size_t i = 0; i < n; i++)
        bits = bits << 8 | (b[0] & 0x80 ? b[i] : (uint8_t)~b[i]);
    if (b[0] & 0x80)
        bits &= ~(1ull << (8 * n - 1));
    if (dbl) {
        memcpy(&d, &bits, 8);
        inf = std::isinf(d);
        nan = std::isnan(d);
        neg = std::signbit(d);
    } else {
        uint32_t b32 = (uint32_t)bits;
        memcpy(&f, &b32, 4);
        inf = std::isinf(f);
        nan = std::isnan(f);
        neg = std::signbit(f);
    }
    if (inf || nan) {
        const char *fn = dbl ? "TO_BINARY_DOUBLE('" : "TO_BINARY_FLOAT('";
        return snprintf(out, LITERAL_MAX, "%s%s')", fn, nan ? "NaN" : neg ? "-INF" : "INF");
    }
    auto r = dbl ? std::to_chars(out, out + LITERAL_MAX - 1, d) : std::to_chars(out, out + LITERAL_MAX - 1, f);
    if (r.ec != std::errc())
        return -1;
    *r.ptr = dbl ? 'd' : 'f';
    return (int)(r.ptr - out) + 1;
}

}  // namespace DECODE_ISA
