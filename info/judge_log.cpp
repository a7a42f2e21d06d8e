/*
 * judge_log.cpp - judge_log: which of what the scan counted is a finding,
 * and the log's verdict, as quorvil's walk judges the same blocks.
 *
 * A log without checksums has nothing to judge: no finding, verdict
 * unchecked.  With checksums and an intact block 1, the log proper is
 * blocks 1 .. next available block - 1; every one of them must be in the
 * file and intact.  From the next available block on lies what an earlier
 * use of the log left, or nothing: reported, never a finding.  When the next
 * available block is not known, the log ends with its last block of its own;
 * a stale or never written run after it is the tail, and every other block
 * that is not intact is a finding wherever it lies.  When block 1 fails,
 * nothing it says is used: only checksums and block numbers are judged.  A
 * block with no stored checksum is a finding of its own kind: not damage,
 * but not checked either.
 */
#include "quorvil_info.h"

/* The blocks of class c that are a finding, and the last block they may lie in. */
static void find_in_class(const LOG_INFO *li, int c, CLASS_TALLY *t)
{
    if (c == BLOCK_INTACT || !li->checksums) {
        t->found = 0;
        t->limit = 0;
    } else if (!li->trusted) {
        // never written blocks are no fault where the log's end is not known
        t->found = c == BLOCK_UNWRITTEN ? 0 : t->count;
        t->limit = UINT32_MAX;
    } else if (li->nab_known) {
        t->found = t->before_nab;
        t->limit = li->nab > 0 ? li->nab - 1 : 0;
    } else if (c == BLOCK_STALE || c == BLOCK_UNWRITTEN) {
        t->found = t->at_last_own;
        t->limit = li->last_own;
    } else {
        t->found = t->count;
        t->limit = UINT32_MAX;
    }
}

void judge_log(LOG_INFO *li)
{
    bool damaged = false, unchecked = false;

    li->findings = 0;
    switch (li->state) {
    case LOG_READ:
        break;
    case LOG_UNREADABLE:
        li->verdict = "unreadable";
        return;
    case LOG_NOT_A_LOG:
        li->verdict = "not a log";
        return;
    case LOG_HEADER_CUT:
        li->verdict = "cut short";
        li->findings = 1;
        return;
    case LOG_SAME_FILE:
        li->verdict = "the same file named twice";
        return;
    case LOG_NOT_REGULAR:
        li->verdict = "not a regular file";
        return;
    }
    if (!li->checksums) {
        li->verdict = "unchecked";
        return;
    }
    for (int c = 0; c < BLOCK_CLASSES; c++) {
        CLASS_TALLY *t = &li->tally[c];

        find_in_class(li, c, t);
        if (t->found == 0)
            continue;
        li->findings++;
        if (c == BLOCK_UNCHECKED)
            unchecked = true;
        else
            damaged = true;
    }

    // cut short: blocks before the next available block are not in the file
    li->missing = 0;
    if (li->nab_known && li->nab > 0 && li->whole_blocks < (uint64_t)li->nab - 1)
        li->missing = (uint64_t)li->nab - 1 - li->whole_blocks;
    li->cut_short = li->missing > 0 || li->blk1_got > 0;
    if (li->cut_short)
        li->findings++;
    if (li->blk0 != BLOCK_INTACT)
        li->findings++;
    if (li->blk0 == BLOCK_BAD_CHECKSUM)
        damaged = true;
    if (li->blk0 == BLOCK_UNCHECKED)
        unchecked = true;
    if (li->scan_stopped) {
        li->findings++;
        unchecked = true;
    }

    if (li->cut_short)
        li->verdict = "cut short";
    else if (damaged)
        li->verdict = "damaged";
    else if (unchecked)
        li->verdict = "unchecked";
    else
        li->verdict = "intact";
}
