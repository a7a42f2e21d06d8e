/*
 * statement_shape.cpp - find_shape, make_shape and write_shape: the shapes
 * of recent row statements, kept so that a statement like an earlier one is
 * read and written without taking it apart again.
 *
 * A shape is made from a statement that parse_statement read and whose
 * items have their names and kinds: its input is cut at each value into
 * fixed pieces, and SQL_REDO and SQL_UNDO are written once by write_redo and
 * write_undo with every value left out and its place noted.  A later
 * statement of the same table and kind whose pieces are the same text is
 * then the same statement but for its values, so both outputs are the fixed
 * pieces with its values written between, byte for byte what the writers
 * would write for it.
 *
 * Shapes are kept in SHAPE_SETS sets of SHAPE_WAYS, chosen by table and
 * kind, most recently used first; a new shape takes the place of the one
 * used longest ago.  No shape
 * holds more than SHAPE_TEXT_MAX bytes of text and all of them together no
 * more than SHAPES_BYTES_MAX, so memory stays bounded whatever the input.
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

/* The shape of the statement sql, of table objn and a line of line_len
 * bytes, with what is written for each of its values (see match_shape);
 * NULL when no shape kept is its shape. */
const SHAPE *find_shape(DECODER *dc, uint32_t objn, STMT_KIND kind, SPAN sql, size_t line_len)
{
    uint64_t hex;

    if (dc->shapes.empty())
        return NULL;
    SHAPE *set = &dc->shapes[shape_set(objn, kind) * SHAPE_WAYS];
    for (size_t w = 0; w < SHAPE_WAYS; w++) {
        if (set[w].kind != (uint8_t)kind || set[w].objn != objn)
            continue;
        if (!make_room(dc, line_len, set[w].items.size())) {
            dc->out_errno = ENOMEM;
            return NULL;
        }
        if (match_shape(dc, &set[w], sql, &hex)) {
            dc->hex_values += hex;
            // the set is kept most recent first: the next line most likely
            // has the shape this one had
            for (; w > 0; w--)
                std::swap(set[w], set[w - 1]);
            return &set[0];
        }
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
    // time) would make a shape each; made at every other miss, they cost
    // half, and one that comes again has its shape from its second line
    if (!dc->shape_missed[set]) {
        dc->shape_missed[set] = true;
        return NULL;
    }
    dc->shape_missed[set] = false;
    // the last of the set, used longest ago, is made again and comes first
    SHAPE *ways = &dc->shapes[set * SHAPE_WAYS], *sh = &ways[SHAPE_WAYS - 1];
    size_t old = shape_size(sh);
    if (dc->shape_bytes - old + text > SHAPES_BYTES_MAX)
        return NULL;
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
        sh->items.push_back({value_format(dc, it->kind), it->hidden});
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

    // room for the sixteen-byte loads and copies past the last piece
    sh->out_text = sh->text.size() - sh->in.back().off - sh->in.back().len;
    sh->text.append(WILD_SLACK, '\0');
    sh->objn = objn;
    sh->kind = (uint8_t)st->kind;
    dc->shape_bytes = dc->shape_bytes - old + shape_size(sh);
    for (size_t w = SHAPE_WAYS - 1; w > 0; w--)
        std::swap(ways[w], ways[w - 1]);
    return &ways[0];
}

/* One of sh's outputs with the values dc->items holds (see match_shape);
 * with room, every piece is copied without looking for the end of obuf. */
static inline char *run_steps(DECODER *dc, char *o, const char *end, const SHAPE *sh,
                              const std::vector<SHAPE_STEP> &steps, bool room)
{
    const char *text = sh->text.data();
    const STMT_ITEM *items = dc->items.data();

    if (steps.empty())
        return o;
    for (const SHAPE_STEP *s = steps.data();; s++) {
        // most pieces are a comma or " and " and a name: one store, and the
        // same ones short or long line after line of a shape
        if (room && s->len <= 16)
            o = copy_16(o, text + s->off, s->len);
        else
            o = room ? copy_wild(o, text + s->off, s->len) : out_at(dc, o, end, text + s->off, s->len);
        if (s->item == NO_ITEM)
            return o;
        const SPAN *v = &items[s->item].out[s->cond];
        o = room ? copy_wild(o, v->p, v->n) : out_at(dc, o, end, v->p, v->n);
    }
}

char *write_shape(DECODER *dc, char *o, const char *end, const SHAPE *sh, const std::vector<SHAPE_STEP> &steps)
{
    return run_steps(dc, o, end, sh, steps, false);
}

/* write_shape, when obuf has room past o for sh->out_text and every value
 * twice (each item is written at most once in each output). */
char *write_shape_in_room(DECODER *dc, char *o, const SHAPE *sh, const std::vector<SHAPE_STEP> &steps)
{
    return run_steps(dc, o, NULL, sh, steps, true);
}

}  // namespace DECODE_ISA
