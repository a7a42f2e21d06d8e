/*
 * parse_undo.cpp - parse_undo: opcode 5.1, the undo of a change.  Writes no
 * line; it makes the undo of a table row change (KTUBU.opl 11) the current
 * undo vector, where the row handlers of layer 11 find the transaction, the
 * object and the old row values.
 *
 * Fields: 1 KTUDB (transaction), 2 KTUBU (object), 3 not read, 4 the row
 * operation the undo would apply, 5 and on its data.  A vector whose fields
 * 1, 2 or 4 are missing or too short is reported and never made current, so
 * current_undo can hand its fields out without looking again; it also
 * forgets the undo taken before it, so the row change that follows it is
 * left out instead of being written with an earlier change's undo.
 */
#include "quorvil.h"

int parse_undo(MINER *mnr, REDO_VH *vhdr, uint64_t scn)
{
    VECTOR v;
    FIELD f;
    KTUBU bu;
    KDO kdo;

    (void)scn;
    open_vector(&v, vhdr);
    // transaction or object field missing or short
    if (!vector_field(&v, 1, &f) || f.len < sizeof(KTUDB) || !next_field(&v, &f) ||
        f.len < sizeof(KTUBU)) {
        note_damage(mnr, "5.1 vector lacks whole transaction and object fields; not taken as undo");
        goto forget;
    }
    read_layout(&bu, f.ptr, sizeof bu);
    // the undo of another layer never replaces a table row's undo
    if (bu.opl != 11)
        return -1;
    // row operation field missing or shorter than its head
    if (!next_field(&v, &f) || !next_field(&v, &f) || f.len < sizeof kdo) {
        note_damage(mnr, "5.1 vector of a table row has no whole row operation field; not taken as undo");
        goto forget;
    }

    mnr->undo = (uint8_t *)vhdr;
    mnr->kdo = (uint8_t *)f.ptr;
    mnr->undo_taken = false;

    // the undo of a delete re-inserts the row: only a whole row piece is taken
    // further, but the vector stays current so its delete writes nothing
    read_layout(&kdo, f.ptr, sizeof kdo);
    if ((kdo.opc & KDO_OPC_MASK) == KDO_OPC_IRP &&
        (f.len <= offsetof(KDO_IRP, fb) || (f.ptr[offsetof(KDO_IRP, fb)] & FB_WHOLE) != FB_WHOLE))
        return -1;
    return (int)v.len;

forget:
    // the change this undo belongs to must not find the one before it
    mnr->undo = NULL;
    mnr->kdo = NULL;
    mnr->undo_taken = false;
    return -1;
}

/*
 * The current undo vector's transaction, object and row operation, when one
 * was taken in the record being decoded.  parse_undo checked those fields
 * before making the vector current.
 */
bool current_undo(MINER *mnr, UNDO_INFO *u)
{
    FIELD f;

    if (mnr->undo == NULL)
        return false;
    open_vector(&u->v, (const REDO_VH *)mnr->undo);
    vector_field(&u->v, 1, &f);
    read_layout(&u->db, f.ptr, sizeof u->db);
    next_field(&u->v, &f);
    read_layout(&u->bu, f.ptr, sizeof u->bu);
    next_field(&u->v, &f);
    next_field(&u->v, &f);
    u->row = f;
    return true;
}
