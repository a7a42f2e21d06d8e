/*
 * format_datetime.cpp - DATE, TIMESTAMP, TIMESTAMP WITH TIME ZONE and
 * TIMESTAMP WITH LOCAL TIME ZONE bytes as literals.
 *
 * Seven bytes: century + 100, year of century + 100, month, day, hour + 1,
 * minute + 1, second + 1; (century - 100) * 100 + (year - 100) is the year,
 * negative before Christ (there is no year 0).  TIMESTAMP adds four bytes of
 * nanoseconds, big-endian, left out when 0.  WITH TIME ZONE is always 13
 * bytes: the instant in UTC, then hour + 20 and minute + 60 of the offset,
 * or, with the top bit of the first set, a time zone region, whose rules
 * are not known here, so the literal is the UTC instant with +00:00.  WITH
 * LOCAL TIME ZONE is a TIMESTAMP in DBTIMEZONE.
 *
 * Years before Christ take the SYYYY mask; every mask and value is fixed, so
 * nothing depends on a session's settings.
 */
#include "quorvil_decode.h"

namespace DECODE_ISA {

typedef struct __date_time {
    int64_t year;             /* negative: before Christ */
    int month, day, hour, minute, second;
    uint32_t ns;
} DATE_TIME;

static const int month_days[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

/* The seven date bytes; false when any field is out of its range. */
static bool read_date(const uint8_t *b, DATE_TIME *t)
{
    int c = b[0], y = b[1];

    t->year = (int64_t)(c - 100) * 100 + (y - 100);
    // after Christ the year byte holds 0..99, before it -99..0
    if (t->year == 0 || t->year < -4712 || t->year > 9999 || (t->year > 0 ? y < 100 || y > 199 : y < 1 || y > 100))
        return false;
    t->month = b[2];
    t->day = b[3];
    t->hour = b[4] - 1;
    t->minute = b[5] - 1;
    t->second = b[6] - 1;
    t->ns = 0;
    return t->month >= 1 && t->month <= 12 && t->day >= 1 && t->day <= month_days[t->month] && t->hour >= 0 &&
           t->hour <= 23 && t->minute >= 0 && t->minute <= 59 && t->second >= 0 && t->second <= 59;
}

/* 7 bytes, or 11 with nanoseconds below 10^9. */
static bool read_timestamp(const uint8_t *b, size_t n, DATE_TIME *t)
{
    if ((n != 7 && n != 11) || !read_date(b, t))
        return false;
    if (n == 11)
        t->ns = (uint32_t)b[7] << 24 | (uint32_t)b[8] << 16 | (uint32_t)b[9] << 8 | b[10];
    return t->ns < 1000000000u;
}

static char *put2(char *o, int v)
{
    memcpy(o, decimal_pairs.d + 2 * v, 2);
    return o + 2;
}

static char *put_num(char *o, int64_t v, int width)
{
    char tmp[24];
    int n = 0;

    do {
        tmp[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v > 0);
    while (n < width)
        tmp[n++] = '0';
    while (n > 0)
        *o++ = tmp[--n];
    return o;
}

/* 'YYYY-MM-DD HH24:MI:SS[.FF9]' with its sign before Christ. */
static char *put_date_time(char *o, const DATE_TIME *t, bool frac)
{
    *o++ = '\'';
    if (t->year < 0)
        *o++ = '-';
    int64_t y = t->year < 0 ? -t->year : t->year;
    if (y <= 9999) {
        o = put2(o, (int)(y / 100));
        o = put2(o, (int)(y % 100));
    } else {
        o = put_num(o, y, 4);
    }
    *o++ = '-';
    o = put2(o, t->month);
    *o++ = '-';
    o = put2(o, t->day);
    *o++ = ' ';
    o = put2(o, t->hour);
    *o++ = ':';
    o = put2(o, t->minute);
    *o++ = ':';
    o = put2(o, t->second);
    if (frac) {
        *o++ = '.';
        *o++ = (char)('0' + t->ns / 100000000);
        o = put2(o, (int)(t->ns / 1000000 % 100));
        o = put2(o, (int)(t->ns / 10000 % 100));
        o = put2(o, (int)(t->ns / 100 % 100));
        o = put2(o, (int)(t->ns % 100));
    }
    return o;
}

static char *put_text(char *o, const char *s)
{
    size_t n = strlen(s);
    memcpy(o, s, n);
    return o + n;
}

static char *put_mask(char *o, const DATE_TIME *t, const char *rest)
{
    o = put_text(o, t->year < 0 ? "','SYYYY-MM-DD HH24:MI:SS" : "','YYYY-MM-DD HH24:MI:SS");
    return put_text(o, rest);
}

/*
 * The seven date bytes of a year after Christ (up to 9999) whose fields
 * are all in range: then century - 100 and year of century - 100 are the
 * year's two digit pairs.  False sends the bytes to read_date, which takes
 * years before Christ and turns down the rest.
 */
static inline bool plain_date(const uint8_t *b)
{
    unsigned c = b[0] - 100u, y = b[1] - 100u, month = b[2];
    return c <= 99 && y <= 99 && (c | y) != 0 && month - 1u <= 11 && b[3] - 1u < (unsigned)month_days[month] &&
           b[4] - 1u <= 23 && b[5] - 1u <= 59 && b[6] - 1u <= 59;
}

/* The digits of the seven date bytes (plain_date) into a literal whose
 * date and time start at o: YYYY-MM-DD HH24:MI:SS, separators in place. */
static inline void fill_date(char *o, const uint8_t *b)
{
    put2(o, b[0] - 100);
    put2(o + 2, b[1] - 100);
    put2(o + 5, b[2]);
    put2(o + 8, b[3]);
    put2(o + 11, b[4] - 1);
    put2(o + 14, b[5] - 1);
    put2(o + 17, b[6] - 1);
}

/* Any DATE, field by field (format_date takes most itself). */
static __attribute__((noinline)) int date_fields(const uint8_t *b, char *out)
{
    DATE_TIME t;
    char *o = out;

    if (!read_date(b, &t))
        return -1;
    o = put_text(o, "TO_DATE(");
    o = put_date_time(o, &t, false);
    o = put_mask(o, &t, "')");
    return (int)(o - out);
}

int format_date(const uint8_t *b, size_t n, char *out)
{
    if (n != 7)
        return -1;
    if (plain_date(b)) {
        static const char form[] = "TO_DATE('YYYY-MM-DD HH:MI:SS','YYYY-MM-DD HH24:MI:SS')";
        memcpy(out, form, sizeof(form) - 1);
        fill_date(out + 9, b);
        return (int)sizeof(form) - 1;
    }
    return date_fields(b, out);
}

/* Any TIMESTAMP, field by field (format_timestamp takes most itself). */
static __attribute__((noinline)) int timestamp_fields(const uint8_t *b, size_t n, char *out)
{
    DATE_TIME t;
    char *o = out;

    if (!read_timestamp(b, n, &t))
        return -1;
    o = put_text(o, "TO_TIMESTAMP(");
    o = put_date_time(o, &t, true);
    o = put_mask(o, &t, ".FF9')");
    return (int)(o - out);
}

int format_timestamp(const uint8_t *b, size_t n, char *out)
{
    if ((n == 7 || n == 11) && plain_date(b)) {
        static const char form[] = "TO_TIMESTAMP('YYYY-MM-DD HH:MI:SS.000000000','YYYY-MM-DD HH24:MI:SS.FF9')";
        uint32_t ns = 0;
        if (n == 11) {
            ns = (uint32_t)b[7] << 24 | (uint32_t)b[8] << 16 | (uint32_t)b[9] << 8 | b[10];
            if (ns >= 1000000000u)
                return -1;
        }
        memcpy(out, form, sizeof(form) - 1);
        fill_date(out + 14, b);
        if (ns != 0) {
            uint32_t high = ns / 100000, low = ns % 100000;
            out[34] = (char)('0' + high / 1000);
            put2(out + 35, (int)(high / 10 % 100));
            out[37] = (char)('0' + high % 10);
            out[38] = (char)('0' + low / 10000);
            put2(out + 39, (int)(low / 100 % 100));
            put2(out + 41, (int)(low % 100));
        }
        return (int)sizeof(form) - 1;
    }
    return timestamp_fields(b, n, out);
}

/* Days from 1970-01-01 of a proleptic Gregorian date; y is the astronomical year (1 BC = 0). */
static int64_t days_from_civil(int64_t y, int m, int d)
{
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

static void civil_from_days(int64_t z, int64_t *y, int *m, int *d)
{
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = (int)(doy - (153 * mp + 2) / 5 + 1);
    *m = (int)(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

/* t moved by minutes, across days, months and years as needed. */
static void add_minutes(DATE_TIME *t, int minutes)
{
    int64_t astro = t->year < 0 ? t->year + 1 : t->year;
    int64_t m = (days_from_civil(astro, t->month, t->day) * 24 + t->hour) * 60 + t->minute + minutes;
    int64_t days = (m >= 0 ? m : m - 1439) / 1440, rest = m - days * 1440;

    civil_from_days(days, &astro, &t->month, &t->day);
    t->year = astro <= 0 ? astro - 1 : astro;
    t->hour = (int)(rest / 60);
    t->minute = (int)(rest % 60);
}

int format_tstz(const uint8_t *b, size_t n, char *out)
{
    DATE_TIME t;
    char *o = out;
    int hours = 0, minutes = 0;

    if (n != 13 || !read_timestamp(b, 11, &t))
        return -1;
    if (!(b[11] & 0x80)) {
        hours = b[11] - 20;
        minutes = b[12] - 60;
        // an offset from -12:00 to +14:00, hours and minutes of one sign
        if (hours < -12 || hours > 14 || minutes < -59 || minutes > 59 || (hours < 0 && minutes > 0) ||
            (hours > 0 && minutes < 0))
            return -1;
        add_minutes(&t, hours * 60 + minutes);
    }
    o = put_text(o, "TO_TIMESTAMP_TZ(");
    o = put_date_time(o, &t, true);
    *o++ = ' ';
    *o++ = hours < 0 || minutes < 0 ? '-' : '+';
    o = put_num(o, hours < 0 ? -hours : hours, 2);
    *o++ = ':';
    o = put_num(o, minutes < 0 ? -minutes : minutes, 2);
    o = put_mask(o, &t, ".FF9 TZH:TZM')");
    return (int)(o - out);
}

}  // namespace DECODE_ISA
