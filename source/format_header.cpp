/*
 * format_header.cpp - what block 1 says of the log, as text: its times and
 * its compatibility version, and whether that version is one whose layouts
 * quorvil knows.
 */
#include "quorvil.h"

/* A time of block 1: seconds in a calendar of 12 months of 31 days from
 * 1988-01-01 00:00:00, written YYYY-MM-DD HH:MM:SS as stored (no zone). */
void format_redo_time(uint32_t t, char *buf, size_t n)
{
    unsigned sec = t % 60, min = (t /= 60) % 60, hour = (t /= 60) % 24;
    unsigned day = (t /= 24) % 31 + 1, mon = (t /= 31) % 12 + 1, year = t / 12 + 1988;

    snprintf(buf, n, "%04u-%02u-%02u %02u:%02u:%02u", year, mon, day, hour, min, sec);
}

/* The compatibility version as dotted text: 0x0b200400 is 11.2.0.4.0. */
void format_compat(uint32_t v, char *buf, size_t n)
{
    snprintf(buf, n, "%u.%u.%u.%u.%u", v >> 24, (v >> 20) & 0xf, (v >> 16) & 0xf, (v >> 8) & 0xff, v & 0xff);
}

/* Is the version later than the 11.2 logs whose layouts quorvil knows? */
bool compat_after_11_2(uint32_t v)
{
    unsigned major = v >> 24, minor = (v >> 20) & 0xf;

    return major > 11 || (major == 11 && minor > 2);
}
