/*
 * parse_record.cpp - parse_record: the record dispatcher.
 *
 * Applies the SCN window to one assembled record, then walks its change
 * vectors in order and hands each to the handler of its opcode, or steps
 * over it.  Every vector is measured against the bytes left in the record
 * before its handler sees it; the walk ends at the first vector that does
 * not fit, which is reported as damage.  Writes no line itself.
 */
#include "quorvil.h"

#include <cassert>

static const struct {
    uint8_t opl;
    uint8_t opc;
    VECTOR_HANDLER handler;
} dispatch[] = {
    {5, 1, parse_undo},
    {5, 2, begin_transaction},
    {5, 4, commit_transaction},
    {11, 2, parse_irp},
    {11, 3, parse_drp},
    {11, 5, parse_urp},
    {11, 11, parse_qmi},
    {24, 1, parse_ddl},
};

static VECTOR_HANDLER find_handler(uint8_t opl, uint8_t opc)
{
    for (const auto &d : dispatch)
        if (d.opl == opl && d.opc == opc)
            return d.handler;
    return NULL;
}

int parse_record(MINER *mnr, uint8_t *record)
{
    REDO_RH_MINOR rh;
    uint32_t hdr, pos, left;
    uint64_t scn;

    // record assembly hands on no record shorter than the short header
    read_layout(&rh, record, sizeof rh);
    scn = ((uint64_t)rh.scn_wrap << 32) + rh.scn_base;
    if (scn < mnr->start_scn)
        return 0;
    if (scn > mnr->end_scn)
        return -1;
    if (scn < mnr->first_scn) {
        // In a block an earlier use of the log wrote, a lower SCN is where
        // this use ended.  In a block of this log's own sequence, with
        // checksums to vouch for the header, it is a damaged record.
        if (!mnr->hdr_trusted || mnr->rec_seq != mnr->seq)
            return -1;
        note_damage(mnr, "record SCN %llu lies below the log's first SCN %llu; record passed over",
                    (unsigned long long)scn, (unsigned long long)mnr->first_scn);
        return 0;
    }

    hdr = (rh.vld & VLD_LONG_HEADER) ? LONG_RECORD_HEADER_SIZE : RECORD_HEADER_SIZE;
    if (rh.rlen < hdr) {
        note_damage(mnr, "record of %u bytes is shorter than its %u-byte header", rh.rlen, hdr);
        return 0;
    }

    // an undo vector of an earlier record lies in a buffer that is gone
    mnr->undo = NULL;
    mnr->kdo = NULL;
    mnr->undo_taken = false;

    pos = hdr;
    left = rh.rlen - hdr;
    while (left > 0) {
        uint8_t *vec = record + pos;
        int len = measure_vector(vec, left);

        if (len < 0) {
            note_damage(mnr, "change vector at record offset %u runs past the record (%u bytes left); "
                        "rest of the record passed over", pos, left);
                break;
        }
        VECTOR_HANDLER h = find_handler(vec[0], vec[1]);
        if (h != NULL) {
            int r = h(mnr, (REDO_VH *)vec, scn);
            assert(r < 0 || r == len);
            (void)r;
        }
        pos += (uint32_t)len;
        left -= (uint32_t)len;
    }
    return 0;
}
