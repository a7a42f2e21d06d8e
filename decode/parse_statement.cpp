/*
 * parse_statement.cpp - parse_statement: the columns and values of a row
 * statement as quorvil writes it in SQL_REDO, read in place inside the
 * quoted CSV field, where every double quote of the SQL is doubled.
 *
 *   insert into T (N,N) values (V,V);        one row or a row of a multi-row insert
 *   delete from T where C and C;
 *   update T set N=V,N=V where C and C;      "update T set where C;" when nothing is set
 *
 * T is ""UNKNOWN"".""OBJ# n"", N is ""COL n"", V is NULL or HEXTORAW('..')
 * with an even number of lower-case digits (checked as they are read, by
 * read_hex or check_hex), C is N IS NULL or N=V.  Anything else is not one
 * of quorvil's statements and the line is passed through.  Items go to
 * dc->items, which keeps its room from line to line.
 */
#include "quorvil_decode.h"

typedef struct __cursor {
    const char *p, *e;
} CURSOR;

static bool take(CURSOR *c, const char *s, size_t n)
{
    if ((size_t)(c->e - c->p) < n || memcmp(c->p, s, n) != 0)
        return false;
    c->p += n;
    return true;
}
#define TAKE(c, s) take((c), (s), sizeof(s) - 1)

/* A decimal number, perhaps negative, of at most 18 digits. */
static bool take_int(CURSOR *c, int64_t *v)
{
    bool neg = TAKE(c, "-");
    int digits = 0;

    *v = 0;
    while (c->p < c->e && *c->p >= '0' && *c->p <= '9' && digits < 18) {
        *v = *v * 10 + (*c->p++ - '0');
        digits++;
    }
    if (neg)
        *v = -*v;
    return digits > 0 && (c->p == c->e || *c->p < '0' || *c->p > '9');
}

static bool take_name(CURSOR *c, STMT_ITEM *it)
{
    const char *s = c->p;

    if (!TAKE(c, "\"\"COL ") || !take_int(c, &it->col) || !TAKE(c, "\"\""))
        return false;
    it->name = {s, (size_t)(c->p - s)};
    return true;
}

static bool take_value(CURSOR *c, STMT_ITEM *it)
{
    const char *s = c->p;

    it->is_null = TAKE(c, "NULL");
    if (!it->is_null) {
        if (!TAKE(c, "HEXTORAW('"))
            return false;
        // the digits are checked where they are read (read_hex, check_hex)
        const char *q = (const char *)memchr(c->p, '\'', (size_t)(c->e - c->p));
        if (q == NULL || (q - c->p) % 2 != 0)
            return false;
        c->p = q;
        if (!TAKE(c, "')"))
            return false;
    }
    it->value = {s, (size_t)(c->p - s)};
    return true;
}

static bool take_condition(CURSOR *c, STMT_ITEM *it)
{
    if (!take_name(c, it))
        return false;
    if (TAKE(c, " IS NULL")) {
        it->is_null = true;
        it->value = {c->p - 4, 4};
        return true;
    }
    return TAKE(c, "=") && take_value(c, it) && !it->is_null;
}

static STMT_ITEM *next_item(DECODER *dc, STATEMENT *st)
{
    if (st->nitems == dc->items.size())
        dc->items.resize(dc->items.size() * 2 + 16);
    STMT_ITEM *it = &dc->items[st->nitems++];
    *it = STMT_ITEM{};
    return it;
}

/* " where " then conditions joined by " and ", then ";" at the end. */
static bool take_where(DECODER *dc, CURSOR *c, STATEMENT *st)
{
    if (!TAKE(c, " where "))
        return false;
    if (TAKE(c, ";"))
        return c->p == c->e;
    do {
        if (!take_condition(c, next_item(dc, st)))
            return false;
    } while (TAKE(c, " and "));
    return TAKE(c, ";") && c->p == c->e;
}

static bool take_table(CURSOR *c, STATEMENT *st)
{
    const char *s = c->p;

    if (!TAKE(c, "\"\"UNKNOWN\"\".\"\"OBJ# ") || !take_int(c, &st->objn) || !TAKE(c, "\"\""))
        return false;
    st->table = {s, (size_t)(c->p - s)};
    return true;
}

bool parse_statement(DECODER *dc, SPAN sql, STATEMENT *st)
{
    CURSOR c = {sql.p, sql.p + sql.n};

    st->nitems = st->nset = 0;
    if (TAKE(&c, "insert into ")) {
        st->kind = ST_INSERT;
        if (!take_table(&c, st) || !TAKE(&c, " ("))
            return false;
        if (!TAKE(&c, ")")) {
            do {
                if (!take_name(&c, next_item(dc, st)))
                    return false;
            } while (TAKE(&c, ","));
            if (!TAKE(&c, ")"))
                return false;
        }
        if (!TAKE(&c, " values ("))
            return false;
        for (size_t i = 0; i < st->nitems; i++) {
            if ((i > 0 && !TAKE(&c, ",")) || !take_value(&c, &dc->items[i]))
                return false;
        }
        return TAKE(&c, ");") && c.p == c.e;
    }
    if (TAKE(&c, "delete from ")) {
        st->kind = ST_DELETE;
        return take_table(&c, st) && take_where(dc, &c, st);
    }
    if (TAKE(&c, "update ")) {
        st->kind = ST_UPDATE;
        if (!take_table(&c, st) || !TAKE(&c, " set"))
            return false;
        // nothing set: " where " follows at once
        if ((size_t)(c.e - c.p) < 7 || memcmp(c.p, " where ", 7) != 0) {
            if (!TAKE(&c, " "))
                return false;
            do {
                STMT_ITEM *it = next_item(dc, st);
                if (!take_name(&c, it) || !TAKE(&c, "=") || !take_value(&c, it))
                    return false;
            } while (TAKE(&c, ","));
        }
        st->nset = st->nitems;
        return take_where(dc, &c, st);
    }
    return false;
}
