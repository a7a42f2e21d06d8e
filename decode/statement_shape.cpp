/*
 * statement_shape.cpp - make_shape and write_shape: the shapes of recent
 * row statements, kept so that a statement like an earlier one is read and
 * written without taking it apart again.
 *
 * A shape is made from a statement that parse_statement read and whose
 * items have their names and kinds: its input is cut at each value into
 * fixed pieces, and SQL_REDO and SQL_UNDO are written once by write_redo and
 * write_undo with every value left out and its place noted.  A later
 * statement of the same table and kind whose pieces are the same text is
 * then the same statement but for its values, so both outputs are the fixed
 * pieces with its values written between, byte for byte what the writers
 * would write for it.  match_shape reads such a statement and writes its
 * SQL_REDO in one pass, each value formatted straight into the output;
 * SQL_UNDO then copies the values from there.
 *
 * Shapes are kept in SHAPE_SETS sets of SHAPE_WAYS, chosen by table and
 * kind, most recently used first; a new shape takes the place of the one
 * used longest ago.  No shape holds more than SHAPE_TEXT_MAX bytes of text
 * and all of them together no more than SHAPES_BYTES_MAX, so memory stays
 * bounded whatever the input.
 */
#include "quorvil_decode.h"

#include <utility>

namespace DECODE_ISA {

/* The set of a table and kind: a multiplicative hash, its top eight bits. */
static size_t shape_set(uint32_t objn, STMT_KIND kind)
{
    static_assert(SHAPE_SETS == 256, "the set is the hash's top eight bits");
    return (uint32_t)((objn * 3u + (uint32_t)kind) * 0x9e3779b1u) >> 24;
}

/* Memory a shape holds. */
static size_t shape_size(const SHAPE *sh)
{
    return sh->text.capacity() + (sh->in.capacity() + sh->redo.capacity() + sh->undo.capacity()) * sizeof(SHAPE_STEP) +
           sh->items.capacity() * sizeof(SHAPE_ITEM);
}

/* SQL_UNDO of a line match_shape read through sh, at o: the pieces of sh's
 * undo with the items' literals between, as write_undo writes them: in a
 * list the literal or NULL, in a condition "=literal" or " IS NULL". */
static char *undo_through(DECODER *dc, char *o, const SHAPE *sh)
{
    const char *text = sh->text.data();
    const STMT_ITEM *items = dc->items.data();

    // nothing to undo by
    if (sh->undo.empty())
        return o;
    for (const SHAPE_STEP *s = sh->undo.data();; s++) {
        // most pieces are a comma or " and " and a name: one store
        o = s->len <= 16 ? copy_16(o, text + s->off, s->len) : copy_wild(o, text + s->off, s->len);
        if (s->item == NO_ITEM)
            return o;
        const STMT_ITEM *it = &items[s->item];
        if (s->cond) {
            if (it->is_null) {
                o = copy_16(o, null_text, 8);
                continue;
            }
            *o++ = '=';
        }
        o = copy_wild(o, it->out[0].p, it->out[0].n);
    }
}

/*
 * SQL_REDO, a comma and SQL_UNDO of a line of table objn whose statement
 * sql has the shape of one kept for its table and kind, written at o;
 * where they end, or NULL when no shape kept is its shape.  obuf has the
 * room output_bound gives the line past o (line_len bytes).
 */
char *write_shape(DECODER *dc, uint32_t objn, STMT_KIND kind, SPAN sql, size_t line_len, char *o)
{
    uint64_t hex;

    if (dc->shapes.empty())
        return NULL;
    size_t si = shape_set(objn, kind);
    SHAPE *set = &dc->shapes[si * SHAPE_WAYS];
    for (size_t w = 0; w < SHAPE_WAYS; w++) {
        if (set[w].kind != (uint8_t)kind || set[w].objn != objn)
            continue;
        if (!make_room(dc, line_len, set[w].items.size())) {
            dc->out_errno = ENOMEM;
            return NULL;
        }
        char *e = match_shape(dc, &set[w], sql, o, &hex);
        if (e == NULL)
            continue;
        *e++ = ',';
        e = undo_through(dc, e, &set[w]);
        dc->hex_values += hex;
        if (!set[w].used) {
            set[w].used = true;
            dc->shape_wait[si] = 0;
        }
        // the set is kept most recent first: the next line most likely
        // has the shape this one had
        for (; w > 0; w--)
            std::swap(set[w], set[w - 1]);
        return e;
    }
    return NULL;
}

/* n bytes of p as the next piece of sh's text, then the value of item. */
static void add_piece(SHAPE *sh, std::vector<SHAPE_STEP> *steps, const char *p, size_t n, uint32_t item, bool cond)
{
    steps->push_back({(uint32_t)sh->text.size(), (uint32_t)n, item, cond});
    sh->text.append(p, n);
}

/* The len bytes the writers left at base, cut at the places they noted. */
static void add_output(SHAPE *sh, std::vector<SHAPE_STEP> *steps, const char *base, size_t len,
                       const std::vector<SHAPE_STEP> &marks)
{
    uint32_t at = 0;

    // nothing written: the statement has no undo
    if (len == 0)
        return;
    for (const SHAPE_STEP &m : marks) {
        add_piece(sh, steps, base + at, m.off - at, m.item, m.cond);
        at = m.off;
    }
    add_piece(sh, steps, base + at, len - at, NO_ITEM, false);
}

/*
 * The shape of st, which parse_statement read from sql and whose items have
 * their names, kinds and hidden flags, kept first in its set in place of
 * the one used longest ago; NULL when none is kept (shapes turned off, a
 * statement too large, or the memory for shapes used up).
 */
const SHAPE *make_shape(DECODER *dc, uint32_t objn, const STATEMENT *st, SPAN sql, SPAN table)
{
    // the writers write less without the values than with them, so no more
    // than a line of sql would make
    uint64_t room = output_bound(dc, sql.n, 1);
    std::vector<SHAPE_STEP> &marks = dc->shape_marks;

    // the text: the pieces of sql, an opening of 11 bytes after each piece
    // before a value (at least 4 bytes of sql a value), and both outputs
    uint64_t text = 4 * (uint64_t)sql.n + room + WILD_SLACK;

    if (dc->no_shapes || text > SHAPE_TEXT_MAX)
        return NULL;
    if (dc->shapes.empty()) {
        dc->shapes.resize(SHAPE_SETS * SHAPE_WAYS);
        for (SHAPE &s : dc->shapes)
            s.kind = NO_SHAPE;
    }
    size_t set = shape_set(objn, st->kind);
    // statements that never come again (an update of other columns each
    // time) would make a shape each for nothing.  A set makes one at every
    // other miss, so that one that comes again has its shape from its second
    // line; each shape it drops unused doubles that wait, up to every
    // SHAPE_WAIT_MAX misses, and a shape used sets it back (write_shape)
    SHAPE *ways = &dc->shapes[set * SHAPE_WAYS], *sh = &ways[SHAPE_WAYS - 1];
    if (++dc->shape_misses[set] < 2u << dc->shape_wait[set])
        return NULL;
    dc->shape_misses[set] = 0;
    size_t old = shape_size(sh);
    if (dc->shape_bytes - old + text > SHAPES_BYTES_MAX)
        return NULL;
    // the last of the set, used longest ago, is made again and comes first
    if (sh->kind != NO_SHAPE && !sh->used && (2u << dc->shape_wait[set]) < SHAPE_WAIT_MAX)
        dc->shape_wait[set]++;
    if (room + WILD_SLACK > dc->shape_out_cap) {
        char *p = (char *)realloc(dc->shape_out, room + WILD_SLACK);
        if (p == NULL)
            return NULL;
        dc->shape_out = p;
        dc->shape_out_cap = room + WILD_SLACK;
    }

    sh->kind = NO_SHAPE;
    sh->text.clear();
    sh->in.clear();
    sh->redo.clear();
    sh->undo.clear();
    sh->items.clear();

    // the input, cut before each value: a condition's value begins right
    // after its name (" IS NULL" or "=..."), any other at the value
    const char *at = sql.p;
    for (size_t k = 0; k < st->nitems; k++) {
        const STMT_ITEM *it = &dc->items[k];
        bool cond = st->kind == ST_DELETE || (st->kind == ST_UPDATE && k >= st->nset);
        const char *v = cond ? it->name.p + it->name.n : it->value.p;
        add_piece(sh, &sh->in, at, (size_t)(v - at), (uint32_t)k, cond);
        // compared with the piece when the value is in bytes (match_shape)
        sh->text.append(cond ? "=" HEX_OPEN : HEX_OPEN);
        at = it->value.p + it->value.n;
        // values of a shape lie in the input buffer, with room after them
        sh->items.push_back({value_format(dc, it->kind, true), it->hidden});
    }
    add_piece(sh, &sh->in, at, (size_t)(sql.p + sql.n - at), NO_ITEM, false);

    // both statements, their values left out
    char *base = dc->shape_out, *end = base + room;
    marks.clear();
    dc->mark_base = base;
    char *o = write_redo(dc, base, end, st, table);
    add_output(sh, &sh->redo, base, (size_t)(o - base), marks);
    marks.clear();
    o = write_undo(dc, base, end, st, table);
    add_output(sh, &sh->undo, base, (size_t)(o - base), marks);
    dc->mark_base = NULL;

    // match_shape writes the redo as it reads the items, so the redo must
    // name the items shown in their order, as write_redo does
    size_t next = 0;
    for (size_t j = 0; j + 1 < sh->redo.size(); j++) {
        while (next < st->nitems && dc->items[next].hidden)
            next++;
        if (sh->redo[j].item != next++) {
            dc->shape_bytes = dc->shape_bytes - old + shape_size(sh);
            return NULL;
        }
    }
    // room for the loads and copies past the last piece
    sh->text.append(WILD_SLACK, '\0');
    sh->objn = objn;
    sh->kind = (uint8_t)st->kind;
    sh->used = false;
    dc->shape_bytes = dc->shape_bytes - old + shape_size(sh);
    for (size_t w = SHAPE_WAYS - 1; w > 0; w--)
        std::swap(ways[w], ways[w - 1]);
    return &ways[0];
}

}  // namespace DECODE_ISA
