/*
 * scan_blocks.cpp - scan_blocks: one pass over every whole block of the log
 * from block 1 on, each judged by judge_block, the judgment quorvil makes of
 * the blocks it mines, and counted in its class.
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

    posix_fadvise(mnr->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    mnr->curr_blk = 1;
    mnr->prog_start = 0;
    mnr->prog_shown = 0;
    for (;;) {
        if (read_blocks(mnr) < 0)
            return -1;
        if (mnr->rd_blks == 0)
            break;
        // block numbers are 32-bit in the log and int in the reader: blocks
        // up to number INT_MAX are read, and the scan stops at one past it
        // rather than wrap
        if ((int64_t)mnr->curr_blk + mnr->rd_blks - 1 > INT_MAX) {
            li->scan_stopped = true;
            mnr->rd_blks = (int)((int64_t)INT_MAX - mnr->curr_blk + 1);
        }
        for (int i = 0; i < mnr->rd_blks; i++) {
            const uint8_t *blk = mnr->rbuf + (size_t)i * bsz;
            const uint32_t blkno = (uint32_t)mnr->curr_blk + (uint32_t)i;
            BLOCK_CLASS c = judge_block_fast(mnr, blk, blkno);

            tally_block(&li->tally[c], blkno, li->nab_known && blkno < li->nab);
            // the last block that may be the log's own, as quorvil's walk
            // sees it: what is stale or never written after it is the tail
            if (!foreign_block(c)) {
                li->last_own = blkno;
                for (int k = 0; k < BLOCK_CLASSES; k++)
                    li->tally[k].at_last_own = li->tally[k].count;
            }
        }
        li->whole_blocks += (uint64_t)mnr->rd_blks;
        if ((int64_t)mnr->curr_blk + mnr->rd_blks > INT_MAX) {
            // block INT_MAX was the last read: is there a block after it?
            uint64_t next = (uint64_t)mnr->blk0_sz + (uint64_t)bsz * (uint64_t)INT_MAX;

            li->scan_stopped = li->scan_stopped || mnr->log_sz >= next + bsz;
            break;
        }
        mnr->curr_blk += mnr->rd_blks;
        if (mnr->progress)
            show_progress(mnr);
    }
    clear_progress(mnr);
    return 0;
}
