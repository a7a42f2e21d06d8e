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

namespace DECODE_ISA {

/* Each writer takes the place o in obuf and gives back the place after what
 * it wrote (see out_at).  Every span it copies (pieces of the line, the
 * literals, the dictionary's names) has WILD_SLACK bytes of room after it. */

static inline char *put_span(DECODER *dc, char *o, const char *end, SPAN s)
{
    return out_at(dc, o, end, s.p, s.n);
}

/* While a shape is made (make_shape), a value is left out and its place
 * noted: the item, and whether it is a condition's. */
static char *mark_value(DECODER *dc, char *o, const STMT_ITEM *it, bool cond)
{
    dc->shape_marks.push_back({(uint32_t)(o - dc->mark_base), 0, (uint32_t)(it - dc->items.data()), cond});
    return o;
}

static inline char *put_value(DECODER *dc, char *o, const char *end, const STMT_ITEM *it)
{
    if (__builtin_expect(dc->mark_base != NULL, 0))
        return mark_value(dc, o, it, false);
    return put_span(dc, o, end, it->out[0]);
}

/* name IS NULL, or name=value, of item it. */
static inline char *put_condition(DECODER *dc, char *o, const char *end, SPAN name, const STMT_ITEM *it, bool and_before)
{
    if (and_before)
        o = OUT_LIT_AT(dc, o, end, " and ");
    o = put_span(dc, o, end, name);
    if (__builtin_expect(dc->mark_base != NULL, 0))
        return mark_value(dc, o, it, true);
    return put_span(dc, o, end, it->out[1]);
}

static char *put_insert(DECODER *dc, char *o, const char *end, SPAN table, const STMT_ITEM *it, size_t n)
{
    bool first = true;

    o = OUT_LIT_AT(dc, o, end, "\"insert into ");
    o = put_span(dc, o, end, table);
    o = OUT_LIT_AT(dc, o, end, " (");
    for (size_t i = 0; i < n; i++) {
        if (it[i].hidden)
            continue;
        if (!first)
            o = OUT_LIT_AT(dc, o, end, ",");
        o = put_span(dc, o, end, it[i].out_name);
        first = false;
    }
    o = OUT_LIT_AT(dc, o, end, ") values (");
    first = true;
    for (size_t i = 0; i < n; i++) {
        if (it[i].hidden)
            continue;
        if (!first)
            o = OUT_LIT_AT(dc, o, end, ",");
        o = put_value(dc, o, end, &it[i]);
        first = false;
    }
    return OUT_LIT_AT(dc, o, end, ");\"");
}

/* " where " and the conditions, then ";" and the closing quote. */
static char *put_where(DECODER *dc, char *o, const char *end, const STMT_ITEM *it, size_t n, bool and_before)
{
    for (size_t i = 0; i < n; i++) {
        if (it[i].hidden)
            continue;
        o = put_condition(dc, o, end, it[i].out_name, &it[i], and_before);
        and_before = true;
    }
    return OUT_LIT_AT(dc, o, end, ";\"");
}

static char *put_delete(DECODER *dc, char *o, const char *end, SPAN table, const STMT_ITEM *it, size_t n)
{
    o = OUT_LIT_AT(dc, o, end, "\"delete from ");
    o = put_span(dc, o, end, table);
    o = OUT_LIT_AT(dc, o, end, " where ");
    return put_where(dc, o, end, it, n, false);
}

static size_t visible(const STMT_ITEM *it, size_t n)
{
    size_t v = 0;
    for (size_t i = 0; i < n; i++)
        v += !it[i].hidden;
    return v;
}

char *write_redo(DECODER *dc, char *o, const char *end, const STATEMENT *st, SPAN table)
{
    const STMT_ITEM *it = dc->items.data();
    bool first = true;

    switch (st->kind) {
    case ST_INSERT:
        return put_insert(dc, o, end, table, it, st->nitems);
    case ST_DELETE:
        return put_delete(dc, o, end, table, it, st->nitems);
    case ST_UPDATE:
        o = OUT_LIT_AT(dc, o, end, "\"update ");
        o = put_span(dc, o, end, table);
        o = OUT_LIT_AT(dc, o, end, " set");
        for (size_t i = 0; i < st->nset; i++) {
            if (it[i].hidden)
                continue;
            o = first ? OUT_LIT_AT(dc, o, end, " ") : OUT_LIT_AT(dc, o, end, ",");
            o = put_span(dc, o, end, it[i].out_name);
            o = OUT_LIT_AT(dc, o, end, "=");
            o = put_value(dc, o, end, &it[i]);
            first = false;
        }
        o = OUT_LIT_AT(dc, o, end, " where ");
        return put_where(dc, o, end, it + st->nset, st->nitems - st->nset, false);
    }
    return o;
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

char *write_undo(DECODER *dc, char *o, const char *end, const STATEMENT *st, SPAN table)
{
    const STMT_ITEM *it = dc->items.data();
    std::vector<size_t> &set = dc->set_idx, &cond = dc->cond_idx;

    switch (st->kind) {
    case ST_INSERT:
        if (visible(it, st->nitems) > 0)
            o = put_delete(dc, o, end, table, it, st->nitems);
        break;
    case ST_DELETE:
        if (visible(it, st->nitems) > 0)
            o = put_insert(dc, o, end, table, it, st->nitems);
        break;
    case ST_UPDATE: {
        size_t m = gather(it, 0, st->nset, &set), k = gather(it, st->nset, st->nitems, &cond);
        if (m == 0 || k < m)
            break;
        for (size_t i = 0; i < m; i++)
            if (it[set[i]].col != it[cond[i]].col)
                return o;
        // old values into the set list, new values into the where clause
        o = OUT_LIT_AT(dc, o, end, "\"update ");
        o = put_span(dc, o, end, table);
        o = OUT_LIT_AT(dc, o, end, " set");
        for (size_t i = 0; i < m; i++) {
            o = i == 0 ? OUT_LIT_AT(dc, o, end, " ") : OUT_LIT_AT(dc, o, end, ",");
            o = put_span(dc, o, end, it[set[i]].out_name);
            o = OUT_LIT_AT(dc, o, end, "=");
            o = put_value(dc, o, end, &it[cond[i]]);
        }
        o = OUT_LIT_AT(dc, o, end, " where ");
        for (size_t i = 0; i < m; i++)
            o = put_condition(dc, o, end, it[set[i]].out_name, &it[set[i]], i > 0);
        for (size_t i = m; i < k; i++)
            o = put_condition(dc, o, end, it[cond[i]].out_name, &it[cond[i]], true);
        o = OUT_LIT_AT(dc, o, end, ";\"");
        break;
    }
    }
    return o;
}

}  // namespace DECODE_ISA
