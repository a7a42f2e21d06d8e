/*
 * format_value.cpp - format_value: the SQL literal of one value, chosen by
 * its column's kind, appended to the line's literals (dc->lit).
 *
 * The value comes as quorvil wrote it, HEXTORAW('..'); its bytes are read
 * into dc->bytes and handed to the formatter of the kind, from one table.
 * A kind without a formatter (RAW, LOBs, ROWID, object types), a value whose
 * bytes are not a value of its type, and TIMESTAMP WITH LOCAL TIME ZONE
 * without DBTIMEZONE all give false: the value stays in hex as it came.
 */
#include "quorvil_decode.h"

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

static int hex_digit(char c)
{
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

/* The bytes of HEXTORAW('..'), whose digits parse_statement has checked. */
bool read_hex(SPAN value, std::vector<uint8_t> *bytes)
{
    const size_t pre = sizeof("HEXTORAW('") - 1, post = sizeof("')") - 1;

    if (value.n < pre + post)
        return false;
    size_t n = (value.n - pre - post) / 2;
    const char *d = value.p + pre;
    bytes->resize(n);
    for (size_t i = 0; i < n; i++)
        (*bytes)[i] = (uint8_t)(hex_digit(d[2 * i]) << 4 | hex_digit(d[2 * i + 1]));
    return true;
}

bool format_value(DECODER *dc, uint8_t kind, SPAN value)
{
    char out[LITERAL_MAX];
    int len;

    if (kind == VK_HEX || kind >= VK_KINDS || !read_hex(value, &dc->bytes))
        return false;
    const uint8_t *b = dc->bytes.data();
    size_t n = dc->bytes.size();

    if (kind == VK_CHAR || kind == VK_NCHAR)
        return format_text(dc, &dc->conv[kind == VK_NCHAR], kind == VK_NCHAR, b, n);
    if (kind == VK_TSLTZ) {
        if (!dc->tz_known)
            return false;
        len = format_timestamp(b, n, out);
        if (len < 0)
            return false;
        // FROM_TZ(TO_TIMESTAMP(..),' then the zone and ')
        dc->lit.append("FROM_TZ(");
        dc->lit.append(out, (size_t)len);
        dc->lit.append(",'");
        dc->lit.append(dc->tz_text);
        dc->lit.append("')");
        return true;
    }
    len = fixed_formats[kind](b, n, out);
    if (len < 0)
        return false;
    dc->lit.append(out, (size_t)len);
    return true;
}
