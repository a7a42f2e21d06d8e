/*
 * parse_irp.cpp - parse_irp: opcode 11.2, insert row piece.
 *
 * Field 2 is a KDO_IRP; fields 3 .. 2+cc hold one column each.  A whole row
 * piece (fb & 0x0c == 0x0c) becomes one INSERT line whose transaction and
 * object come from the current undo vector; other row pieces write nothing.
 * A row piece whose bitmap or column fields are missing, or that has no undo
 * vector in its record, is reported as damage and left out.
 */
#include "quorvil.h"

int parse_irp(MINER *mnr, REDO_VH *vhdr, uint64_t scn)
{
    VECTOR v;
    FIELD f;
    KDO_IRP irp;
    UNDO_INFO u;
    const uint8_t *bitmap;

    open_vector(&v, vhdr);
    // row piece field missing or shorter than its fixed part
    if (!vector_field(&v, 2, &f) || f.len < KDO_IRP_FIXED) {
        note_damage(mnr, "11.2 vector lacks a whole insert row piece; INSERT left out");
        return -1;
    }
    read_layout(&irp, f.ptr, KDO_IRP_FIXED);
    if ((irp.fb & FB_WHOLE) != FB_WHOLE)
        return -1;
    // null bitmap runs past the row piece field
    if (f.len < KDO_IRP_FIXED + (irp.cc + 7u) / 8) {
        note_damage(mnr, "11.2 vector: null bitmap of %u columns runs past its field; INSERT left out", irp.cc);
        return -1;
    }
    bitmap = f.ptr + KDO_IRP_FIXED;
    // more columns than column fields
    if (2u + irp.cc >= v.nent) {
        note_damage(mnr, "11.2 vector: %u columns but %u column fields; INSERT left out", irp.cc,
                    v.nent > 3 ? v.nent - 3 : 0);
        return -1;
    }
    if (!current_undo(mnr, &u)) {
        note_damage(mnr, "11.2 vector has no undo vector in its record; INSERT left out");
        return -1;
    }

    write_row_prefix(mnr, scn, &u, "INSERT", false);
    sql_char(mnr, '"');
    write_insert_head(mnr, u.bu.objn, irp.cc);
    for (unsigned j = 0; j < irp.cc; j++) {
        next_field(&v, &f);
        if (j > 0)
            sql_char(mnr, ',');
        if (null_bit(bitmap, j))
            SQL_LIT(mnr, "NULL");
        else
            sql_hex(mnr, f.ptr, f.len);
    }
    SQL_LIT(mnr, ");\"\n");
    return (int)v.len;
}
