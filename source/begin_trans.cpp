/*
 * begin_trans.cpp - begin_transaction: opcode 5.2, the change to an undo
 * segment header that opens a transaction.
 *
 * Reads KTUDH (field 1) and writes one START line; a sequence of 0 writes
 * nothing.  A vector without a whole KTUDH is reported as damage.
 */
#include "quorvil.h"

int begin_transaction(MINER *mnr, REDO_VH *vhdr, uint64_t scn)
{
    VECTOR v;
    FIELD f;
    REDO_VH vh;
    KTUDH dh;

    open_vector(&v, vhdr);
    // transaction header field missing or short
    if (!vector_field(&v, 1, &f) || f.len < sizeof dh) {
        note_damage(mnr, "5.2 vector lacks a whole transaction header field; START left out");
        return -1;
    }
    read_layout(&dh, f.ptr, sizeof dh);
    if (dh.xid_sqn == 0)
        return -1;
    read_layout(&vh, v.base, sizeof vh);
    write_transaction_line(mnr, scn, vh.cls, dh.xid_slt, dh.xid_sqn, "START", "set transaction read write;");
    return (int)v.len;
}
