/*
 * commit_trans.cpp - commit_transaction: opcode 5.4, the end of a transaction.
 *
 * Reads KTUCM (field 1) and writes one COMMIT line, or ROLLBACK when bit 0x04
 * of its flag is set.  A vector without a whole KTUCM is reported as damage.
 */
#include "quorvil.h"

int commit_transaction(MINER *mnr, REDO_VH *vhdr, uint64_t scn)
{
    VECTOR v;
    FIELD f;
    REDO_VH vh;
    KTUCM cm;

    open_vector(&v, vhdr);
    // transaction end field missing or short
    if (!vector_field(&v, 1, &f) || f.len < sizeof cm) {
        note_damage(mnr, "5.4 vector lacks a whole transaction end field; transaction end left out");
        return -1;
    }
    read_layout(&cm, f.ptr, sizeof cm);
    read_layout(&vh, v.base, sizeof vh);
    if (cm.flg & KTUCM_ROLLBACK)
        write_transaction_line(mnr, scn, vh.cls, cm.xid_slt, cm.xid_sqn, "ROLLBACK", "rollback;");
    else
        write_transaction_line(mnr, scn, vh.cls, cm.xid_slt, cm.xid_sqn, "COMMIT", "commit;");
    return (int)v.len;
}
