/*
 * judge_log.cpp - judge_log: which of what the scan counted is a finding,
 * and the log's verdict.
 *
 * The log proper is blocks 1 .. next available block - 1; every one of them
 * must be in the file and intact.  From the next available block on lies
 * what an earlier use of the log left, or nothing: reported, never a
 * finding.  When the next available block is not known, the log ends with
 * the last block whose header names its sequence; a stale or unwritten run
 * after it is the tail, and every other block that is not intact is a
 * finding wherever it lies.  A block with no stored checksum is a finding of
 * its own kind: not damage, but not checked either.
 */
#include "quorvil_info.h"

const char *class_name(int c)
{
    static const char *const names[BLOCK_CLASSES] = {
        "intact", "stale", "never written", "misplaced", "checksum mismatch", "unchecked",
    };
    return c >= 0 && c < BLOCK_CLASSES ? names[c] : "?";
}

void judge_log(LOG_INFO *li)
{
    bool damaged = false, unchecked = false;

    li->findings = 0;
    if (li->state != LOG_READ) {
        li->verdict = li->state == LOG_NOT_A_LOG ? "not a log" : "unreadable";
        return;
    }
    for (int c = 0; c < BLOCK_CLASSES; c++) {
        CLASS_TALLY *t = &li->tally[c];

        if (c == BLOCK_INTACT) {
            t->found = 0;
            t->limit = 0;
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
        if (t->found == 0)
            continue;
        li->findings++;
        if (c == BLOCK_UNCHECKED)
            unchecked = true;
        else
            damaged = true;
    }

    li->cut_short = li->whole_blocks < li->declared;
    li->missing = 0;
    if (li->nab_known && li->nab > 0 && li->whole_blocks < (uint64_t)li->nab - 1)
        li->missing = (uint64_t)li->nab - 1 - li->whole_blocks;
    if (li->missing > 0 || (li->cut_short && !li->nab_known))
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

    if (li->missing > 0 || (li->cut_short && !li->nab_known))
        li->verdict = "cut short";
    else if (damaged)
        li->verdict = "damaged";
    else if (unchecked)
        li->verdict = "unchecked";
    else
        li->verdict = "intact";
}
