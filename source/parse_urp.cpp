/*
 * parse_urp.cpp - parse_urp: opcode 11.5, update row piece.
 *
 * One UPDATE line: the set list from the 11.5 vector (field 2 KDO_URP, field
 * 3 the column numbers, fields 4.. the new values), the where clause from the
 * current undo vector (field 4 KDO_URP, field 5 the column numbers, fields
 * 6.. the old values), then the supplemental columns that follow the old
 * values (SUPPLEMENT, column numbers, value lengths, one field per value).
 * An undo that ends right after the old values closes the statement there.
 * The first delete or update after an undo vector takes it; a second one
 * finds no undo of its own.
 * Any list, bitmap or field that a count asks for and the vector does not
 * hold is reported as damage and the update is left out.
 */
#include "quorvil.h"

/* One side of an update: its column numbers, null bitmap and values. */
typedef struct __update_side {
    unsigned nnew;
    const uint8_t *bitmap;
    const uint8_t *colnums;
    FIELD first;              /* the field before the first value */
} UPDATE_SIDE;

/*
 * Lays a KDO_URP, its column number array and its values out of vector v,
 * starting at field k.  False when any of them is missing or short.
 */
static bool read_side(const VECTOR *v, uint32_t k, UPDATE_SIDE *s)
{
    FIELD f;
    KDO_URP urp;

    if (!vector_field(v, k, &f) || f.len < KDO_URP_FIXED)
        return false;
    read_layout(&urp, f.ptr, KDO_URP_FIXED);
    s->nnew = urp.nnew;
    if (f.len < KDO_URP_FIXED + (s->nnew + 7) / 8)
        return false;
    s->bitmap = f.ptr + KDO_URP_FIXED;
    if (!next_field(v, &f) || f.len < 2 * s->nnew)
        return false;
    s->colnums = f.ptr;
    s->first = f;
    // the values are fields k+2 .. k+1+nnew
    return k + 1 + s->nnew < v->nent;
}

/* The supplemental columns after the old values, when the undo carries them. */
typedef struct __supplement_side {
    unsigned ncol;
    const uint8_t *colnums;
    const uint8_t *lengths;
    FIELD first;              /* the field before the first value */
} SUPPLEMENT_SIDE;

/* 1: present and whole; 0: the undo ends after the old values; -1: damaged. */
static int read_supplement(const VECTOR *v, uint32_t k, SUPPLEMENT_SIDE *s)
{
    FIELD f;
    SUPPLEMENT sup;

    if (!vector_field(v, k, &f))
        return 0;
    if (f.len < sizeof sup)
        return -1;
    read_layout(&sup, f.ptr, sizeof sup);
    s->ncol = sup.ncol;
    if (!next_field(v, &f) || f.len < 2 * s->ncol)
        return -1;
    s->colnums = f.ptr;
    if (!next_field(v, &f) || f.len < 2 * s->ncol)
        return -1;
    s->lengths = f.ptr;
    s->first = f;
    if (k + 2 + s->ncol >= v->nent)
        return -1;
    // every value length must lie within its field
    for (unsigned i = 0; i < s->ncol; i++) {
        next_field(v, &f);
        if (read_u16(s->lengths + 2 * i) > f.len)
            return -1;
    }
    return 1;
}

int parse_urp(MINER *mnr, REDO_VH *vhdr, uint64_t scn)
{
    VECTOR v;
    UNDO_INFO u;
    UPDATE_SIDE nw, old;
    SUPPLEMENT_SIDE sup;
    FIELD f;
    int has_sup;
    bool cond = false;

    open_vector(&v, vhdr);
    if (!read_side(&v, 2, &nw)) {
        // the undo of a refused change serves no other one
        mnr->undo_taken = true;
        note_damage(mnr, "11.5 vector: update row piece, column numbers or new values missing; UPDATE left out");
        return -1;
    }
    if (!current_undo(mnr, &u)) {
        note_damage(mnr, "11.5 vector has no undo vector in its record; UPDATE left out");
        return -1;
    }
    // the old values serve one row change; a second one has lost its own undo
    if (mnr->undo_taken) {
        note_damage(mnr, "11.5 vector has no undo vector of its own; UPDATE left out");
        return -1;
    }
    mnr->undo_taken = true;
    if (!read_side(&u.v, 4, &old)) {
        note_damage(mnr, "undo of an 11.5 vector: update row piece, column numbers or old values missing; "
                    "UPDATE left out");
        return -1;
    }
    has_sup = read_supplement(&u.v, 6 + old.nnew, &sup);
    if (has_sup < 0) {
        note_damage(mnr, "undo of an 11.5 vector: supplemental columns run past its fields; UPDATE left out");
        return -1;
    }

    write_row_prefix(mnr, scn, &u, "UPDATE", false);
    SQL_LIT(mnr, "\"update ");
    write_table(mnr, u.bu.objn);
    SQL_LIT(mnr, " set");
    f = nw.first;
    for (unsigned k = 0; k < nw.nnew; k++) {
        next_field(&v, &f);
        sql_char(mnr, k == 0 ? ' ' : ',');
        write_column(mnr, (int64_t)read_u16(nw.colnums + 2 * k) + 1);
        sql_char(mnr, '=');
        if (null_bit(nw.bitmap, k))
            SQL_LIT(mnr, "NULL");
        else
            sql_hex(mnr, f.ptr, f.len);
    }
    SQL_LIT(mnr, " where ");

    f = old.first;
    for (unsigned k = 0; k < old.nnew; k++, cond = true) {
        next_field(&u.v, &f);
        write_condition(mnr, cond, (int64_t)read_u16(old.colnums + 2 * k) + 1, null_bit(old.bitmap, k), f.ptr,
                        f.len);
    }

    // a supplemental value's length is its entry in the length array; 0 is NULL
    if (has_sup) {
        f = sup.first;
        for (unsigned k = 0; k < sup.ncol; k++, cond = true) {
            uint16_t len = read_u16(sup.lengths + 2 * k);

            next_field(&u.v, &f);
            write_condition(mnr, cond, read_u16(sup.colnums + 2 * k), len == 0, f.ptr, len);
        }
    }
    SQL_LIT(mnr, ";\"\n");
    return (int)v.len;
}
