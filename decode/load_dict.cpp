/*
 * load_dict.cpp - load_dict: the columns of every table from a dictionary
 * exported as CSV, and the lookups by object number and segment column.
 *
 * The file is RFC 4180 with a header line whose names are matched without
 * regard to case; LF or CRLF line ends; fields quoted or not; a UTF-8 byte
 * order mark and empty lines are passed over.  Required columns: OBJECT_ID,
 * OWNER, TABLE_NAME (or OBJECT_NAME), SEGMENT_COLUMN_ID, COLUMN_NAME,
 * DATA_TYPE; CHARACTER_SET_NAME, HIDDEN_COLUMN and DATA_OBJECT_ID are used
 * when present.  A row with an empty SEGMENT_COLUMN_ID (a virtual column) is
 * passed over.  The file is refused, with its line number, for a row that
 * cannot be read or two rows that give one object different names, or one
 * segment column different names or types.
 */
#include "quorvil_decode.h"

#include <algorithm>

enum { F_OBJID, F_OWNER, F_TABLE, F_SEGID, F_COLNAME, F_TYPE, F_CSNAME, F_HIDDEN, F_DOBJID, F_USED };

static const struct {
    const char *name;
    int field;
    bool required;
} header_names[] = {
    {"OBJECT_ID", F_OBJID, true},          {"OWNER", F_OWNER, true},
    {"TABLE_NAME", F_TABLE, true},         {"OBJECT_NAME", F_TABLE, true},
    {"SEGMENT_COLUMN_ID", F_SEGID, true},  {"COLUMN_NAME", F_COLNAME, true},
    {"DATA_TYPE", F_TYPE, true},           {"CHARACTER_SET_NAME", F_CSNAME, false},
    {"HIDDEN_COLUMN", F_HIDDEN, false},    {"DATA_OBJECT_ID", F_DOBJID, false},
};

/* DATA_TYPE without its parenthesised parts, spaces made single: "TIMESTAMP(6) WITH TIME ZONE" is
 * read as "TIMESTAMP WITH TIME ZONE". */
static const struct {
    const char *type;
    VALUE_KIND kind;
} type_kinds[] = {
    {"NUMBER", VK_NUMBER},
    {"FLOAT", VK_NUMBER},
    {"BINARY_FLOAT", VK_BFLOAT},
    {"BINARY_DOUBLE", VK_BDOUBLE},
    {"DATE", VK_DATE},
    {"TIMESTAMP", VK_TIMESTAMP},
    {"TIMESTAMP WITH TIME ZONE", VK_TSTZ},
    {"TIMESTAMP WITH LOCAL TIME ZONE", VK_TSLTZ},
    {"INTERVAL YEAR TO MONTH", VK_IYM},
    {"INTERVAL DAY TO SECOND", VK_IDS},
    {"CHAR", VK_CHAR},
    {"VARCHAR2", VK_CHAR},
    {"NCHAR", VK_NCHAR},
    {"NVARCHAR2", VK_NCHAR},
};

static bool same_name(const std::string &a, const char *b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

static void trim(std::string *s)
{
    size_t b = s->find_first_not_of(" \t"), e = s->find_last_not_of(" \t");
    if (b == std::string::npos)
        s->clear();
    else
        *s = s->substr(b, e - b + 1);
}

VALUE_KIND kind_of_type(const char *type, size_t n, const char *csname, size_t csn)
{
    char norm[64];
    size_t k = 0;
    int depth = 0;

    for (size_t i = 0; i < n; i++) {
        char c = type[i];
        if (c == '(') {
            depth++;
        } else if (c == ')') {
            depth--;
        } else if (depth == 0) {
            if (c == ' ' || c == '\t') {
                if (k == 0 || norm[k - 1] == ' ')
                    continue;
                c = ' ';
            }
            // longer than any type read here
            if (k + 1 >= sizeof norm)
                return VK_HEX;
            norm[k++] = (c >= 'a' && c <= 'z') ? (char)(c - 32) : c;
        }
    }
    while (k > 0 && norm[k - 1] == ' ')
        k--;
    norm[k] = '\0';
    for (const auto &t : type_kinds) {
        if (strcmp(norm, t.type) != 0)
            continue;
        if (t.kind == VK_CHAR && csn == 8 && strncasecmp(csname, "NCHAR_CS", 8) == 0)
            return VK_NCHAR;
        return t.kind;
    }
    return VK_HEX;
}

/* The decimal number s, at most max; false when s is empty, holds anything but digits or is larger. */
static bool read_number(const std::string &s, uint64_t max, uint64_t *v)
{
    *v = 0;
    if (s.empty() || s.size() > 20)
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        *v = *v * 10 + (uint64_t)(c - '0');
        if (*v > max)
            return false;
    }
    return true;
}

typedef struct __dict_row {
    uint32_t objn, segid, line;
    int64_t objd;
    std::string f[F_USED];
} DICT_ROW;

int load_dict(DICTIONARY *d, const char *text, size_t len, const char *file)
{
    std::vector<int> col_of;   /* header position -> F_... or -1 */
    std::vector<SPAN> fields;
    std::vector<DICT_ROW> rows;
    std::string v;
    size_t pos = 0;
    uint32_t line = 1, next_line = 1;
    int nfields = 0;

    if (len >= 3 && memcmp(text, "\xef\xbb\xbf", 3) == 0)
        pos = 3;
    while (pos < len) {
        bool inq = false;
        size_t end = pos + find_record_end(text + pos, len - pos, &inq), n = end - pos;
        const char *rec = text + pos;

        line = next_line;
        for (size_t i = pos; i < end; i++)
            next_line += text[i] == '\n';
        next_line++;
        pos = end + 1;
        if (n > 0 && rec[n - 1] == '\r')
            n--;
        if (n == 0)
            continue;
        if (col_of.empty()) {
            // the header line: which column is which
            fields.resize(4096);
            int k = split_fields(rec, n, fields.data(), (int)fields.size(), false);
            bool seen[F_USED] = {};
            if (k < 0) {
                fprintf(stderr, "%s: line %u: header line cannot be read; dictionary refused\n", file, line);
                return -1;
            }
            col_of.assign((size_t)k, -1);
            for (int i = 0; i < k; i++) {
                unquote_field(fields[i], &v);
                trim(&v);
                for (const auto &h : header_names) {
                    if (same_name(v, h.name) && !seen[h.field]) {
                        col_of[i] = h.field;
                        seen[h.field] = true;
                    }
                }
            }
            for (const auto &h : header_names) {
                if (h.required && !seen[h.field]) {
                    fprintf(stderr, "%s: line %u: header line has no %s column; dictionary refused\n", file, line,
                            h.field == F_TABLE ? "TABLE_NAME or OBJECT_NAME" : h.name);
                    return -1;
                }
            }
            nfields = k;
            continue;
        }

        DICT_ROW r;
        uint64_t num;
        int k = split_fields(rec, n, fields.data(), nfields, false);
        // a row of another shape than the header: broken quoting, or not a row at all
        if (k != nfields) {
            fprintf(stderr, "%s: line %u: %s fields where the header line has %d; dictionary refused\n", file,
                    line, k < 0 ? "more or unreadable" : std::to_string(k).c_str(), nfields);
            return -1;
        }
        for (int i = 0; i < k; i++) {
            if (col_of[i] >= 0)
                unquote_field(fields[i], &r.f[col_of[i]]);
        }
        trim(&r.f[F_OBJID]);
        trim(&r.f[F_SEGID]);
        trim(&r.f[F_DOBJID]);
        trim(&r.f[F_CSNAME]);
        trim(&r.f[F_HIDDEN]);
        if (!read_number(r.f[F_OBJID], UINT32_MAX, &num)) {
            fprintf(stderr, "%s: line %u: OBJECT_ID \"%s\" is not a number up to 4294967295; dictionary refused\n",
                    file, line, r.f[F_OBJID].c_str());
            return -1;
        }
        r.objn = (uint32_t)num;
        r.objd = -1;
        if (!r.f[F_DOBJID].empty()) {
            if (!read_number(r.f[F_DOBJID], UINT32_MAX, &num)) {
                fprintf(stderr, "%s: line %u: DATA_OBJECT_ID \"%s\" is not a number up to 4294967295; "
                        "dictionary refused\n", file, line, r.f[F_DOBJID].c_str());
                return -1;
            }
            r.objd = (int64_t)num;
        }
        // a virtual column: not stored, so never in a line
        if (r.f[F_SEGID].empty())
            continue;
        if (!read_number(r.f[F_SEGID], COLUMN_ID_MAX, &num) || num == 0) {
            fprintf(stderr, "%s: line %u: SEGMENT_COLUMN_ID \"%s\" is not a number from 1 to %d; "
                    "dictionary refused\n", file, line, r.f[F_SEGID].c_str(), COLUMN_ID_MAX);
            return -1;
        }
        r.segid = (uint32_t)num;
        for (int f : {F_OWNER, F_TABLE, F_COLNAME, F_TYPE}) {
            if (r.f[f].empty()) {
                fprintf(stderr, "%s: line %u: %s is empty; dictionary refused\n", file, line,
                        f == F_OWNER ? "OWNER" : f == F_TABLE ? "TABLE_NAME" : f == F_COLNAME ? "COLUMN_NAME"
                                                                                        : "DATA_TYPE");
                return -1;
            }
        }
        r.line = line;
        rows.push_back(std::move(r));
    }
    if (col_of.empty()) {
        fprintf(stderr, "%s: no header line; dictionary refused\n", file);
        return -1;
    }

    std::stable_sort(rows.begin(), rows.end(), [](const DICT_ROW &a, const DICT_ROW &b) {
        return a.objn != b.objn ? a.objn < b.objn : a.segid < b.segid;
    });
    d->tables.clear();
    d->by_objn.clear();
    d->longest_token = 0;
    for (const DICT_ROW &r : rows) {
        DICT_TABLE *t = d->tables.empty() ? NULL : &d->tables.back();

        if (t == NULL || t->objn != r.objn) {
            d->tables.emplace_back();
            t = &d->tables.back();
            t->objn = r.objn;
            t->objd = r.objd;
            t->owner = r.f[F_OWNER];
            t->name = r.f[F_TABLE];
            std::string dotted = t->owner + "." + t->name;
            csv_field(dotted.data(), dotted.size(), &t->label);
            sql_name_token(t->owner, &t->token);
            t->token.push_back('.');
            sql_name_token(t->name, &t->token);
            d->by_objn[t->objn] = (uint32_t)(d->tables.size() - 1);
            d->longest_token = std::max({d->longest_token, t->label.size(), t->token.size()});
        } else if (t->owner != r.f[F_OWNER] || t->name != r.f[F_TABLE]) {
            fprintf(stderr, "%s: line %u: object %u is %s.%s here but %s.%s on another line; dictionary refused\n",
                    file, r.line, r.objn, r.f[F_OWNER].c_str(), r.f[F_TABLE].c_str(), t->owner.c_str(),
                    t->name.c_str());
            return -1;
        }
        if (t->objd < 0)
            t->objd = r.objd;

        if (!t->cols.empty() && t->cols.back().segid == r.segid) {
            const DICT_COLUMN &c = t->cols.back();
            // the same column twice is harmless; two different ones cannot both be right
            if (c.name != r.f[F_COLNAME] || c.type != r.f[F_TYPE] || c.csname != r.f[F_CSNAME]) {
                fprintf(stderr, "%s: line %u: object %u segment column %u is %s %s here but %s %s on line %u; "
                        "dictionary refused\n", file, r.line, r.objn, r.segid, r.f[F_COLNAME].c_str(),
                        r.f[F_TYPE].c_str(), c.name.c_str(), c.type.c_str(), c.line);
                return -1;
            }
            continue;
        }
        DICT_COLUMN c;
        c.segid = r.segid;
        c.hidden = strcasecmp(r.f[F_HIDDEN].c_str(), "YES") == 0;
        c.name = r.f[F_COLNAME];
        c.type = r.f[F_TYPE];
        c.csname = r.f[F_CSNAME];
        c.kind = (uint8_t)kind_of_type(c.type.data(), c.type.size(), c.csname.data(), c.csname.size());
        sql_name_token(c.name, &c.token);
        c.line = r.line;
        d->longest_token = std::max(d->longest_token, c.token.size());
        t->cols.push_back(std::move(c));
    }

    // the labels and tokens in one block with room after the last, which
    // out_at copies sixteen bytes at a time; the spans are set once it is whole
    size_t total = WILD_SLACK;
    for (const DICT_TABLE &t : d->tables) {
        total += t.label.size() + t.token.size();
        for (const DICT_COLUMN &c : t.cols)
            total += c.token.size();
    }
    d->names.assign(total, '\0');
    char *p = d->names.data();
    auto place = [&p](const std::string &s) {
        memcpy(p, s.data(), s.size());
        SPAN sp = {p, s.size()};
        p += s.size();
        return sp;
    };
    for (DICT_TABLE &t : d->tables) {
        t.out_label = place(t.label);
        t.out_token = place(t.token);
        for (DICT_COLUMN &c : t.cols)
            c.out = place(c.token);
    }
    return 0;
}

const DICT_TABLE *find_table(const DICTIONARY *d, uint32_t objn)
{
    auto it = d->by_objn.find(objn);
    return it == d->by_objn.end() ? NULL : &d->tables[it->second];
}

/* Columns are sorted by segment column; most tables number them 1, 2, 3 ... */
const DICT_COLUMN *find_column(const DICT_TABLE *t, int64_t segid)
{
    size_t lo = 0, hi = t->cols.size();

    if (segid <= 0)
        return NULL;
    if ((uint64_t)segid <= hi && t->cols[(size_t)segid - 1].segid == (uint64_t)segid)
        return &t->cols[(size_t)segid - 1];
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (t->cols[mid].segid < (uint64_t)segid)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < t->cols.size() && t->cols[lo].segid == (uint64_t)segid ? &t->cols[lo] : NULL;
}
