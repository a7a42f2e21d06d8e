/*
 * print_report.cpp - print_report: the report of one log on standard output,
 * one "name: value" line per fact, then the blocks of each class, the
 * findings in plain words and the verdict.
 *
 * Block numbers are written as ranges ("2-9, 14"); past the ranges kept by
 * the scan, the rest of a class is only counted ("and 12 more").
 */
#include "quorvil_info.h"

#define ITEM "  %-22s "

/* The kept ranges of t that lie in 1..limit, then how many of the count
 * blocks were not shown. */
void format_ranges(const CLASS_TALLY *t, uint32_t limit, uint64_t count, char *buf, size_t n)
{
    uint64_t shown = 0;
    size_t pos = 0;

    buf[0] = '\0';
    for (uint32_t i = 0; i < t->nranges && pos < n; i++) {
        uint32_t first = t->r[i].first, last = t->r[i].last;
        int w;

        if (first > limit)
            break;
        if (last > limit)
            last = limit;
        if (first == last)
            w = snprintf(buf + pos, n - pos, "%s%u", pos ? ", " : "", first);
        else
            w = snprintf(buf + pos, n - pos, "%s%u-%u", pos ? ", " : "", first, last);
        if (w < 0)
            return;
        pos += (size_t)w;
        shown += (uint64_t)last - first + 1;
    }
    if (shown < count && pos < n)
        snprintf(buf + pos, n - pos, "%sand %llu more", pos ? ", " : "", (unsigned long long)(count - shown));
}

static const char *plural(uint64_t n)
{
    return n == 1 ? "" : "s";
}

/* One finding per class: what the blocks are, and where. */
static void print_class_finding(const LOG_INFO *li, int c)
{
    const CLASS_TALLY *t = &li->tally[c];
    char where[512], context[80] = "";

    format_ranges(t, t->limit, t->found, where, sizeof where);
    if (li->trusted && li->nab_known)
        snprintf(context, sizeof context, " before the next available block");
    else if (li->trusted && (c == BLOCK_STALE || c == BLOCK_UNWRITTEN))
        snprintf(context, sizeof context, " up to block %u, the last of sequence %u", li->last_own, li->seq);
    printf(ITEM "%s: %llu block%s%s: %s\n", "finding:", block_class_text[c].what, (unsigned long long)t->found,
           plural(t->found), context, where);
}

static void print_findings(const LOG_INFO *li)
{
    if (li->blk0 == BLOCK_BAD_CHECKSUM)
        printf(ITEM "block 0's checksum does not hold\n", "finding:");
    else if (li->blk0 == BLOCK_UNCHECKED)
        printf(ITEM "block 0 stores no checksum (0), so it was not checked\n", "finding:");
    if (li->blk1_got > 0)
        printf(ITEM "the file ends %u bytes into block 1\n", "finding:", li->blk1_got);
    if (li->missing == 1)
        printf(ITEM "block %llu lies before the next available block but is not in the file\n", "finding:",
               (unsigned long long)li->whole_blocks + 1);
    else if (li->missing > 1)
        printf(ITEM "blocks %llu-%u (%llu blocks) lie before the next available block but are not in the file\n",
               "finding:", (unsigned long long)li->whole_blocks + 1, li->nab - 1, (unsigned long long)li->missing);
    for (int c = 0; c < BLOCK_CLASSES; c++)
        if (c != BLOCK_INTACT && li->tally[c].found > 0)
            print_class_finding(li, c);
    if (li->scan_stopped)
        printf(ITEM "blocks from %d on were not read: block numbers end there\n", "finding:", INT32_MAX);
    if (li->findings == 0)
        printf(ITEM "none\n", "findings:");
}

/* Whether the blocks were judged, and by what. */
static void print_checksums(const LOG_INFO *li)
{
    if (!li->checksums)
        printf(ITEM "none: neither block 0 nor block 1 stores one that holds, so no block is checked\n",
               "checksums:");
    else if (li->trusted)
        printf(ITEM "every block checked; block 1 is intact, so its sequence and next available block are used\n",
               "checksums:");
    else if (li->blk1_got > 0)
        printf(ITEM "every block checked; block 1 is not whole, so nothing it says is used\n", "checksums:");
    else
        printf(ITEM "every block checked; block 1 is not intact (%s), so its next available block, declared "
               "blocks and sequence are not used\n", "checksums:", block_class_text[li->blk1].name);
}

/* What lies from the end of the log proper on, when anything does. */
static void print_tail(const LOG_INFO *li)
{
    if (li->nab_known && li->nab >= 1 && li->whole_blocks >= li->nab) {
        printf(ITEM "blocks %u-%llu, from the next available block on: not part of this use of the log\n",
               "tail:", li->nab, (unsigned long long)li->whole_blocks);
    } else if (li->trusted && !li->nab_known && li->whole_blocks > li->last_own) {
        if (li->last_own == 0)
            printf(ITEM "no block names sequence %u: blocks 1-%llu are all tail\n", "tail:", li->seq,
                   (unsigned long long)li->whole_blocks);
        else
            printf(ITEM "blocks %u-%llu, after block %u, the last of sequence %u\n", "tail:", li->last_own + 1,
                   (unsigned long long)li->whole_blocks, li->last_own, li->seq);
    }
}

static void print_blocks_line(const LOG_INFO *li)
{
    uint64_t used = li->blk0_sz + li->whole_blocks * li->blk_sz;

    printf(ITEM "%llu whole block%s after block 0, %u declared", "blocks:", (unsigned long long)li->whole_blocks,
           plural(li->whole_blocks), li->declared);
    if (li->cut_short)
        printf(": the file is cut short");
    else if (li->whole_blocks > li->declared)
        printf(": the file holds more than declared");
    if (li->size_known && li->packing == PACK_NONE && li->file_size > used)
        printf(" (and %llu bytes of a partial block)", (unsigned long long)(li->file_size - used));
    printf("\n");
}

void print_report(const LOG_INFO *li)
{
    char text[4 * 64 + 1], t1[32], t2[32], where[512];

    printf("file: %s\n", li->shown);
    if (li->size_known)
        printf(ITEM "%llu bytes%s%s\n", "file size:", (unsigned long long)li->file_size,
               li->packing != PACK_NONE ? ", compressed with " : "", packing_name[li->packing]);
    if (li->state == LOG_SAME_FILE)
        printf(ITEM "%s, checked once\n", "same file as:", li->same_name);
    if (li->state == LOG_HEADER_CUT)
        printf(ITEM "block 0 proves the log has checksums, and the file ends before block 1's header\n",
               "finding:");
    if (li->state != LOG_READ) {
        printf(ITEM "%s\n\n", "verdict:", li->verdict);
        return;
    }
    printf(ITEM "%u bytes (block 0: %u bytes)\n", "block size:", li->blk_sz, li->blk0_sz);
    print_blocks_line(li);
    safe_text(li->dbname, text, sizeof li->dbname - 1);
    printf(ITEM "%s, id %u\n", "database:", text, li->dbid);
    format_compat(li->compat, t1, sizeof t1);
    printf(ITEM "%s\n", "compatibility:", t1);
    if (compat_after_11_2(li->compat))
        printf(ITEM "quorvil's layouts are those of logs up to 11.2, so lines quorvil writes from this log may "
               "be wrong\n", "note:");
    printf(ITEM "%u\n", "thread:", li->thread);
    printf(ITEM "%u\n", "sequence:", li->seq);
    safe_text(li->desc, text, sizeof li->desc - 1);
    printf(ITEM "%s\n", "description:", text);
    format_redo_time(li->first_time, t1, sizeof t1);
    printf(ITEM "%llu at %s\n", "first SCN:", (unsigned long long)li->first_scn, t1);
    if (li->open) {
        printf(ITEM "none: the log is still open\n", "next SCN:");
    } else {
        format_redo_time(li->next_time, t2, sizeof t2);
        printf(ITEM "%llu at %s\n", "next SCN:", (unsigned long long)li->next_scn, t2);
    }
    if (li->nab_known)
        printf(ITEM "%u\n", "next available block:", li->nab);
    else if (li->checksums && !li->trusted)
        printf(ITEM "not used: block 1 is not intact (stored 0x%08x)\n", "next available block:", li->nab);
    else
        printf(ITEM "not yet known (stored 0x%08x)\n", "next available block:", li->nab);
    print_checksums(li);
    printf(ITEM "%s\n", "block 0 checksum:",
           li->blk0 == BLOCK_INTACT ? "holds"
           : li->blk0 == BLOCK_BAD_CHECKSUM ? "does not hold"
                                            : "not stored (0), not checked");
    for (int c = 0; c < BLOCK_CLASSES; c++) {
        const CLASS_TALLY *t = &li->tally[c];
        char name[32];

        snprintf(name, sizeof name, "%s:", block_class_text[c].name);
        if (t->count == 0) {
            printf(ITEM "0\n", name);
            continue;
        }
        format_ranges(t, UINT32_MAX, t->count, where, sizeof where);
        printf(ITEM "%llu block%s: %s\n", name, (unsigned long long)t->count, plural(t->count), where);
    }
    print_tail(li);
    print_findings(li);
    printf(ITEM "%s\n\n", "verdict:", li->verdict);
}
