/*
 * scan_blocks.cpp - scan_blocks: one pass over every whole block of the log
 * from block 1 on, each classified by classify_block against the log's
 * sequence and counted in its class.
 *
 * The blocks come from read_blocks, quorvil's own bounded reader, one read
 * buffer at a time; nothing is allocated per block and what is kept does
 * not grow with the file.  A partial block at the end of the file is not a
 * block and is not counted.  A block that stores a checksum of 0 is unchecked
 * only when its XOR does not hold: written with checksums, a block whose
 * words XOR to 0 without one stores 0, and such a block is intact.
 */
#include "quorvil_info.h"

#include <climits>
#include <fcntl.h>

static void tally_block(CLASS_TALLY *t, uint32_t blkno, bool before_nab)
{
    t->count++;
    if (before_nab)
        t->before_nab++;
    if (t->nranges > 0 && t->r[t->nranges - 1].last + 1 == blkno)
        t->r[t->nranges - 1].last = blkno;
    else if (t->nranges < RANGES_KEPT)
        t->r[t->nranges++] = {blkno, blkno};
}

int scan_blocks(MINER *mnr, LOG_INFO *li)
{
    const uint32_t bsz = li->blk_sz;
    // with blocks under 208 bytes, block 1's header runs on into the next
    // blocks, which then hold no block header of their own
    const uint64_t header_blocks = 1 + (sizeof(REDO_BLOCK1) - 1) / bsz;

    posix_fadvise(mnr->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    mnr->curr_blk = 1;
    mnr->prog_start = 0;
    mnr->prog_shown = 0;
    for (;;) {
        if (read_blocks(mnr) < 0)
            return -1;
        if (mnr->rd_blks == 0)
            break;
        // block numbers are 32-bit in the log and int in the reader: stop
        // where the reader's count would overflow rather than wrap
        if ((int64_t)mnr->curr_blk + mnr->rd_blks > INT_MAX) {
            li->scan_stopped = true;
            mnr->rd_blks = INT_MAX - mnr->curr_blk;
            if (mnr->rd_blks == 0)
                break;
        }
        for (int i = 0; i < mnr->rd_blks; i++) {
            const uint8_t *blk = mnr->rbuf + (size_t)i * bsz;
            const uint32_t blkno = (uint32_t)mnr->curr_blk + (uint32_t)i;
            BLOCK_CLASS c;

            if (blkno > 1 && blkno <= header_blocks)
                c = BLOCK_UNCHECKED;
            else
                c = classify_block(blk, bsz, blkno, li->seq);
            // a stored 0 is also the right checksum of one block in 65536:
            // when the XOR holds with it, the block is checked and whole
            if (c == BLOCK_UNCHECKED && blkno > header_blocks && block_checksum(blk, bsz) == 0)
                c = BLOCK_INTACT;
            tally_block(&li->tally[c], blkno, li->nab_known && blkno < li->nab);
            if (c != BLOCK_UNWRITTEN && read_u32(blk + offsetof(REDO_BH, rba_sqn)) == li->seq) {
                li->last_own = blkno;
                for (int k = 0; k < BLOCK_CLASSES; k++)
                    li->tally[k].at_last_own = li->tally[k].count;
            }
        }
        li->whole_blocks += (uint64_t)mnr->rd_blks;
        mnr->curr_blk += mnr->rd_blks;
        if (li->scan_stopped)
            break;
        if (mnr->progress)
            show_progress(mnr);
    }
    clear_progress(mnr);
    return 0;
}
