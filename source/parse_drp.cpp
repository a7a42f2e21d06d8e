/*
 * parse_drp.cpp - parse_drp: opcode 11.3, delete row piece.
 *
 * The 11.3 vector does not carry the row: the DELETE line is built wholly
 * from the current undo vector, whose field 4 re-inserts the deleted row as a
 * KDO_IRP followed by one field per column.  The first delete or update
 * after an undo vector takes it; a second one finds no undo of its own.  A
 * row piece that is not whole writes nothing.  An undo that is missing, is
 * not an insert row piece, or lacks the bitmap or column fields its row
 * needs is reported as damage.
 * Always returns -1: the dispatcher measures the vector.
 */
#include "quorvil.h"

int parse_drp(MINER *mnr, REDO_VH *vhdr, uint64_t scn)
{
    UNDO_INFO u;
    KDO_IRP irp;
    FIELD f;
    const uint8_t *bitmap;

    (void)vhdr;
    if (!current_undo(mnr, &u)) {
        note_damage(mnr, "11.3 vector has no undo vector in its record; DELETE left out");
        return -1;
    }
    // the old row serves one row change; a second one has lost its own undo
    if (mnr->undo_taken) {
        note_damage(mnr, "11.3 vector has no undo vector of its own; DELETE left out");
        return -1;
    }
    mnr->undo_taken = true;
    // the undo must re-insert the row, or it says nothing of the deleted row
    if ((u.row.ptr[offsetof(KDO, opc)] & KDO_OPC_MASK) != KDO_OPC_IRP || u.row.len < KDO_IRP_FIXED) {
        note_damage(mnr, "undo of an 11.3 vector is not a whole insert row piece; DELETE left out");
        return -1;
    }
    read_layout(&irp, u.row.ptr, KDO_IRP_FIXED);
    if ((irp.fb & FB_WHOLE) != FB_WHOLE)
        return -1;
    // null bitmap runs past the row piece field
    if (u.row.len < KDO_IRP_FIXED + (irp.cc + 7u) / 8) {
        note_damage(mnr, "undo of an 11.3 vector: null bitmap of %u columns runs past its field; DELETE left out",
                    irp.cc);
        return -1;
    }
    bitmap = u.row.ptr + KDO_IRP_FIXED;
    // more columns than the undo holds fields for
    if (4u + irp.cc >= u.v.nent) {
        note_damage(mnr, "undo of an 11.3 vector: %u columns but %u column fields; DELETE left out", irp.cc,
                    u.v.nent > 5 ? u.v.nent - 5 : 0);
        return -1;
    }

    write_row_prefix(mnr, scn, &u, "DELETE", false);
    SQL_LIT(mnr, "\"delete from ");
    write_table(mnr, u.bu.objn);
    SQL_LIT(mnr, " where ");
    f = u.row;
    for (unsigned j = 0; j < irp.cc; j++) {
        next_field(&u.v, &f);
        write_condition(mnr, j > 0, j + 1, null_bit(bitmap, j), f.ptr, f.len);
    }
    SQL_LIT(mnr, ";\"\n");
    return -1;
}
