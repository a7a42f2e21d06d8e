/*
 * write_statements.cpp - write_redo and write_undo: a row statement with the
 * names and literals chosen for its items, and the statement that undoes it,
 * each as one quoted CSV field.
 *
 * Both keep quorvil's punctuation: lists joined by ",", conditions by
 * " and ", NULL in a list and " IS NULL" in a condition.  Items of hidden
 * columns are left out of both.  The undo of
 *   an insert is a delete whose conditions are the inserted columns;
 *   a delete is an insert of the columns of its where clause;
 *   an update "set A=a1 where A=a0 and K=k" is "set A=a0 where A=a1 and K=k",
 *     when the where clause begins with the set columns in the same order.
 * With nothing to undo by (no columns, nothing set, conditions that do not
 * match the set list) the field is empty.
 */
#include "quorvil_decode.h"

static void put_span(DECODER *dc, SPAN s)
{
    out_put(dc, s.p, s.n);
}

static void put_value(DECODER *dc, const STMT_ITEM *it)
{
    if (it->is_null)
        OUT_LIT(dc, "NULL");
    else if (it->lit_len > 0)
        out_put(dc, dc->lit + it->lit_off, it->lit_len);
    else
        put_span(dc, it->value);
}

/* name IS NULL, or name=value, of item it. */
static void put_condition(DECODER *dc, SPAN name, const STMT_ITEM *it, bool and_before)
{
    if (and_before)
        OUT_LIT(dc, " and ");
    put_span(dc, name);
    if (it->is_null) {
        OUT_LIT(dc, " IS NULL");
    } else {
        OUT_LIT(dc, "=");
        put_value(dc, it);
    }
}

static void put_insert(DECODER *dc, SPAN table, const STMT_ITEM *it, size_t n)
{
    bool first = true;

    OUT_LIT(dc, "\"insert into ");
    put_span(dc, table);
    OUT_LIT(dc, " (");
    for (size_t i = 0; i < n; i++) {
        if (it[i].hidden)
            continue;
        if (!first)
            OUT_LIT(dc, ",");
        put_span(dc, it[i].out_name);
        first = false;
    }
    OUT_LIT(dc, ") values (");
    first = true;
    for (size_t i = 0; i < n; i++) {
        if (it[i].hidden)
            continue;
        if (!first)
            OUT_LIT(dc, ",");
        put_value(dc, &it[i]);
        first = false;
    }
    OUT_LIT(dc, ");\"");
}

/* " where " and the conditions, then ";" and the closing quote. */
static void put_where(DECODER *dc, const STMT_ITEM *it, size_t n, bool and_before)
{
    for (size_t i = 0; i < n; i++) {
        if (it[i].hidden)
            continue;
        put_condition(dc, it[i].out_name, &it[i], and_before);
        and_before = true;
    }
    OUT_LIT(dc, ";\"");
}

static void put_delete(DECODER *dc, SPAN table, const STMT_ITEM *it, size_t n)
{
    OUT_LIT(dc, "\"delete from ");
    put_span(dc, table);
    OUT_LIT(dc, " where ");
    put_where(dc, it, n, false);
}

static size_t visible(const STMT_ITEM *it, size_t n)
{
    size_t v = 0;
    for (size_t i = 0; i < n; i++)
        v += !it[i].hidden;
    return v;
}

void write_redo(DECODER *dc, const STATEMENT *st, SPAN table)
{
    const STMT_ITEM *it = dc->items.data();
    bool first = true;

    switch (st->kind) {
    case ST_INSERT:
        put_insert(dc, table, it, st->nitems);
        break;
    case ST_DELETE:
        put_delete(dc, table, it, st->nitems);
        break;
    case ST_UPDATE:
        OUT_LIT(dc, "\"update ");
        put_span(dc, table);
        OUT_LIT(dc, " set");
        for (size_t i = 0; i < st->nset; i++) {
            if (it[i].hidden)
                continue;
            out_put(dc, first ? " " : ",", 1);
            put_span(dc, it[i].out_name);
            OUT_LIT(dc, "=");
            put_value(dc, &it[i]);
            first = false;
        }
        OUT_LIT(dc, " where ");
        put_where(dc, it + st->nset, st->nitems - st->nset, false);
        break;
    }
}

/* The visible items of it[0..n), in order, into idx; their number. */
static size_t gather(const STMT_ITEM *it, size_t lo, size_t hi, std::vector<size_t> *idx)
{
    idx->clear();
    for (size_t i = lo; i < hi; i++)
        if (!it[i].hidden)
            idx->push_back(i);
    return idx->size();
}

void write_undo(DECODER *dc, const STATEMENT *st, SPAN table)
{
    const STMT_ITEM *it = dc->items.data();
    std::vector<size_t> &set = dc->set_idx, &cond = dc->cond_idx;

    switch (st->kind) {
    case ST_INSERT:
        if (visible(it, st->nitems) > 0)
            put_delete(dc, table, it, st->nitems);
        break;
    case ST_DELETE:
        if (visible(it, st->nitems) > 0)
            put_insert(dc, table, it, st->nitems);
        break;
    case ST_UPDATE: {
        size_t m = gather(it, 0, st->nset, &set), k = gather(it, st->nset, st->nitems, &cond);
        if (m == 0 || k < m)
            break;
        for (size_t i = 0; i < m; i++)
            if (it[set[i]].col != it[cond[i]].col)
                return;
        // old values into the set list, new values into the where clause
        OUT_LIT(dc, "\"update ");
        put_span(dc, table);
        OUT_LIT(dc, " set");
        for (size_t i = 0; i < m; i++) {
            out_put(dc, i == 0 ? " " : ",", 1);
            put_span(dc, it[set[i]].out_name);
            OUT_LIT(dc, "=");
            put_value(dc, &it[cond[i]]);
        }
        OUT_LIT(dc, " where ");
        for (size_t i = 0; i < m; i++)
            put_condition(dc, it[set[i]].out_name, &it[set[i]], i > 0);
        for (size_t i = m; i < k; i++)
            put_condition(dc, it[cond[i]].out_name, &it[cond[i]], true);
        OUT_LIT(dc, ";\"");
        break;
    }
    }
}
