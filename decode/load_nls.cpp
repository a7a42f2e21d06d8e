/*
 * load_nls.cpp - load_nls and set_charsets: the database and national
 * character sets and DBTIMEZONE, from PARAMETERS.csv (PARAMETER,VALUE rows,
 * a header line optional), and the iconv conversions of the two sets.
 *
 * Only NLS_CHARACTERSET, NLS_NCHAR_CHARACTERSET and DBTIMEZONE are read; a
 * parameter not given takes AL32UTF8, AL16UTF16 or no time zone, and one
 * line says so.  A character set name not in the table below refuses the
 * file, naming it.
 */
#include "quorvil_decode.h"

#include <cerrno>

/* The database's names and iconv's.  UTF8 is CESU-8, which iconv does not
 * know: its surrogate pairs are joined first, then it is read as UTF-8.
 * JA16SJIS is read as CP932, where 5c is the backslash as in the database. */
static const CHARSET charsets[] = {
    {"AL32UTF8", "UTF-8", false},
    {"UTF8", "UTF-8", true},
    {"AL16UTF16", "UTF-16BE", false},
    {"US7ASCII", "ASCII", false},
    {"WE8ISO8859P1", "ISO-8859-1", false},
    {"WE8ISO8859P15", "ISO-8859-15", false},
    {"WE8MSWIN1252", "CP1252", false},
    {"EE8MSWIN1250", "CP1250", false},
    {"CL8MSWIN1251", "CP1251", false},
    {"EL8MSWIN1253", "CP1253", false},
    {"EE8ISO8859P2", "ISO-8859-2", false},
    {"CL8ISO8859P5", "ISO-8859-5", false},
    {"ZHS16GBK", "GBK", false},
    {"ZHT16MSWIN950", "CP950", false},
    {"ZHT16BIG5", "BIG5", false},
    {"JA16SJIS", "CP932", false},
    {"JA16EUC", "EUC-JP", false},
    {"KO16MSWIN949", "CP949", false},
    {"KO16KSC5601", "EUC-KR", false},
};

static const CHARSET *find_charset(const char *name)
{
    for (const CHARSET &c : charsets)
        if (strcasecmp(c.oracle, name) == 0)
            return &c;
    return NULL;
}

void close_charsets(DECODER *dc)
{
    for (TEXT_CONV &tc : dc->conv) {
        if (tc.cs != NULL && tc.cd != (iconv_t)-1)
            iconv_close(tc.cd);
        tc.cs = NULL;
        tc.cd = (iconv_t)-1;
    }
}

/* Whether bytes 01..7f come out of the conversion as themselves. */
static bool ascii_kept(iconv_t cd, bool wide)
{
    char in[254], out[512];
    size_t n = 0;

    for (int c = 1; c < 128; c++) {
        if (wide)
            in[n++] = 0;
        in[n++] = (char)c;
    }
    char *ip = in, *op = out;
    size_t il = n, ol = sizeof out;
    iconv(cd, NULL, NULL, NULL, NULL);
    if (iconv(cd, &ip, &il, &op, &ol) == (size_t)-1 || op - out != 127)
        return false;
    for (int c = 1; c < 128; c++)
        if (out[c - 1] != (char)c)
            return false;
    return !wide;
}

/* Text at the edges of UTF-8 and whether it is valid as copy_utf8
 * (format_text.cpp) reads it: as the C library's UTF-8 reader does, the old
 * five- and six-byte forms taken, surrogates, overlong forms and cut
 * characters not. */
static const struct utf8_probe {
    const char *s;
    size_t n;
    bool valid;
} utf8_probes[] = {
#define P(s, v) {s, sizeof(s) - 1, v}
    P("A\x7f", true), P("\xc2\x80", true), P("\xdf\xbf", true), P("\xe0\xa0\x80", true),
    P("\xe1\x80\x80", true), P("\xed\x9f\xbf", true), P("\xee\x80\x80", true), P("\xef\xbb\xbf", true),
    P("\xef\xbf\xbf", true), P("\xf0\x90\x80\x80", true), P("\xf4\x8f\xbf\xbf", true),
    P("\xf4\x90\x80\x80", true), P("\xf7\xbf\xbf\xbf", true), P("\xf8\x88\x80\x80\x80", true),
    P("\xfb\xbf\xbf\xbf\xbf", true), P("\xfc\x84\x80\x80\x80\x80", true), P("\xfd\xbf\xbf\xbf\xbf\xbf", true),
    P("\x80", false), P("\xbf", false), P("\xc0\x80", false), P("\xc1\xbf", false), P("\xc2", false),
    P("\xc2" "A", false), P("\xc2\xc0", false), P("\xe0\x9f\xbf", false), P("\xe0\xa0", false),
    P("\xed\xa0\x80", false), P("\xed\xbf\xbf", false), P("\xf0\x8f\xbf\xbf", false),
    P("\xf0\x90\x80", false), P("\xf8\x87\xbf\xbf\xbf", false), P("\xf8\x88\x80\x80", false),
    P("\xfc\x83\xbf\xbf\xbf\xbf", false), P("\xfc\x84\x80\x80\x80", false), P("\xfe", false), P("\xff", false),
#undef P
};

/* Whether the conversion gives back valid UTF-8 as it is and refuses the
 * rest exactly where copy_utf8 does, so that copy_utf8 may stand for it. */
static bool utf8_kept(iconv_t cd)
{
    for (const utf8_probe &p : utf8_probes) {
        char in[8], out[32];
        memcpy(in, p.s, p.n);
        char *ip = in, *op = out;
        size_t il = p.n, ol = sizeof out;
        iconv(cd, NULL, NULL, NULL, NULL);
        bool ok = iconv(cd, &ip, &il, &op, &ol) != (size_t)-1 && il == 0;
        if (ok != p.valid || (ok && ((size_t)(op - out) != p.n || memcmp(out, p.s, p.n) != 0)))
            return false;
    }
    return true;
}

int set_charsets(DECODER *dc, const char *db, const char *nat, const char *file)
{
    const char *names[2] = {db, nat};

    close_charsets(dc);
    for (int i = 0; i < 2; i++) {
        const CHARSET *cs = find_charset(names[i]);
        TEXT_CONV *tc = &dc->conv[i];

        if (cs == NULL) {
            fprintf(stderr, "%s: character set %s is not one quorvil-decode reads; parameters refused\n", file,
                    names[i]);
            return -1;
        }
        tc->cs = cs;
        tc->cd = iconv_open("UTF-8", cs->iconv);
        if (tc->cd == (iconv_t)-1) {
            fprintf(stderr, "%s: character set %s: iconv from %s: %s\n", file, cs->oracle, cs->iconv,
                    strerror(errno));
            return -1;
        }
        tc->ascii_same = ascii_kept(tc->cd, strcmp(cs->iconv, "UTF-16BE") == 0);
        tc->utf8_same = strcmp(cs->iconv, "UTF-8") == 0 && utf8_kept(tc->cd);
    }
    return 0;
}

int load_nls(DECODER *dc, const char *text, size_t len, const char *file)
{
    std::string db, nat, tz, name, value;
    bool have_db = false, have_nat = false;
    size_t pos = 0;
    uint32_t line = 0;
    SPAN f[2];

    if (len >= 3 && memcmp(text, "\xef\xbb\xbf", 3) == 0)
        pos = 3;
    while (pos < len) {
        bool inq = false;
        size_t end = pos + find_record_end(text + pos, len - pos, &inq), n = end - pos;
        const char *rec = text + pos;

        line++;
        for (size_t i = pos; i < end; i++)
            line += text[i] == '\n';
        pos = end + 1;
        if (n > 0 && rec[n - 1] == '\r')
            n--;
        if (n == 0)
            continue;
        if (split_fields(rec, n, f, 2, false) != 2) {
            fprintf(stderr, "%s: line %u: not a PARAMETER,VALUE row; parameters refused\n", file, line);
            return -1;
        }
        unquote_field(f[0], &name);
        unquote_field(f[1], &value);
        if (strcasecmp(name.c_str(), "NLS_CHARACTERSET") == 0) {
            db = value;
            have_db = true;
        } else if (strcasecmp(name.c_str(), "NLS_NCHAR_CHARACTERSET") == 0) {
            nat = value;
            have_nat = true;
        } else if (strcasecmp(name.c_str(), "DBTIMEZONE") == 0 && !value.empty()) {
            tz = value;
            dc->tz_known = true;
        }
    }
    if (!have_db || !have_nat)
        fprintf(stderr, "%s: %s not given; taking %s\n", file,
                !have_db && !have_nat ? "NLS_CHARACTERSET and NLS_NCHAR_CHARACTERSET"
                : !have_db            ? "NLS_CHARACTERSET"
                                      : "NLS_NCHAR_CHARACTERSET",
                !have_db && !have_nat ? "AL32UTF8 and AL16UTF16" : !have_db ? "AL32UTF8" : "AL16UTF16");
    if (set_charsets(dc, have_db ? db.c_str() : "AL32UTF8", have_nat ? nat.c_str() : "AL16UTF16", file) < 0)
        return -1;
    // the zone sits in a quoted SQL string inside a quoted CSV field
    dc->tz_text.clear();
    for (char c : tz) {
        if (c == '\'')
            dc->tz_text.push_back('\'');
        else if (c == '"')
            dc->tz_text.push_back('"');
        dc->tz_text.push_back(c);
    }
    return 0;
}
