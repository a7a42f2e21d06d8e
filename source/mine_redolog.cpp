/*
 * mine_redolog.cpp - mine_redolog: the mining loop, and note_damage.
 *
 * Writes the CSV header line, then walks the log from block 2 one chunk at a
 * time.  Each record is found by its block's first-record offset and its own
 * length, copied whole into the record buffer (or, past 1 MiB, into an
 * allocation of its own) leaving out the headers of continuation blocks, and
 * handed to parse_record.  Damaged offsets and lengths are reported and the
 * walk goes on with the next block; a record cut off by the end of the file
 * is never decoded and ends the run as a failure.
 */
#include "quorvil.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>

#define MAX_DAMAGE_REPORTS 100
#define STREAM_RECORD_STEP (16 * 1024 * 1024)   /* first allocation of a long record from a stream */

static const char csv_header[] = "SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO\n";

/*
 * Reports one damaged place of the log, naming the block where the record
 * being read began.  Past the first hundred, places are only counted, so a
 * file of garbage cannot flood standard error; main reports the count.
 */
void note_damage(MINER *mnr, const char *fmt, ...)
{
    char msg[512];
    int n;
    va_list ap;

    mnr->damaged++;
    clear_progress(mnr);
    if (mnr->damaged > MAX_DAMAGE_REPORTS) {
        if (mnr->damaged == MAX_DAMAGE_REPORTS + 1)
            fprintf(stderr, "%s: further damage is counted but not reported\n", mnr->logfile);
        return;
    }
    n = snprintf(msg, sizeof msg, "%s: block %lld: ", mnr->logfile, (long long)mnr->rec_blk);
    va_start(ap, fmt);
    vsnprintf(msg + n, sizeof msg - (size_t)n, fmt, ap);
    va_end(ap);
    fprintf(stderr, "%s\n", msg);
}

/* The last whole block of the file; 0 when not even block 1 is whole, and
 * past every block when the log has no size to go by (compressed, a pipe). */
static uint64_t last_file_block(const MINER *mnr)
{
    if (mnr->src != NULL)
        return UINT64_MAX;
    if (mnr->log_sz < (uint64_t)mnr->blk0_sz)
        return 0;
    return (mnr->log_sz - (uint64_t)mnr->blk0_sz) / (uint64_t)mnr->blk_sz;
}

/* The last block of the log: the block before the next available block
 * when the header gives it, otherwise the last whole block of the file. */
static uint64_t last_log_block(const MINER *mnr)
{
    return mnr->log_end != 0 ? (uint64_t)mnr->log_end - 1 : last_file_block(mnr);
}

/* The block where a record of rlen bytes that begins at offset ofs of block
 * blk ends. */
static uint64_t record_last_block(const MINER *mnr, int64_t blk, uint32_t ofs, int32_t rlen)
{
    uint64_t bsz = (uint64_t)mnr->blk_sz;
    uint64_t last = (uint64_t)blk;

    if (ofs + (uint64_t)rlen > bsz) {
        uint64_t rest = (uint64_t)rlen - (bsz - ofs);
        uint64_t payload = bsz - BLOCK_HEADER_SIZE;
        last += (rest + payload - 1) / payload;
    }
    return last;
}

/*
 * At the end of the file: a partial block after the last whole one is never
 * read.  Stray bytes there are nothing, but a block whose header says a
 * record begins in it is a log cut short, and its records would be lost
 * without a word.  Past the end of the log the file holds nothing of it.
 */
static int check_last_block(MINER *mnr)
{
    uint32_t first;

    if (mnr->rd_tail < BLOCK_HEADER_SIZE)
        return 0;
    if (mnr->log_end != 0 && (uint32_t)mnr->curr_blk >= mnr->log_end)
        return 0;
    // bytes that merely look like a block header are stray bytes
    if (read_u32(mnr->rbuf + offsetof(REDO_BH, rba_blk)) != (uint32_t)mnr->curr_blk)
        return 0;
    first = read_u16(mnr->rbuf + offsetof(REDO_BH, rba_byte)) & 0x7fff;
    if (first < BLOCK_HEADER_SIZE || first > (uint32_t)mnr->blk_sz - 4)
        return 0;
    clear_progress(mnr);
    fprintf(stderr, "read %s: the file ends %u bytes into block %d, where a record begins; that block is not read\n",
            mnr->logfile, mnr->rd_tail, mnr->curr_blk);
    return -1;
}

/*
 * At the end of the file, when block 1 can be trusted: a file holding fewer
 * whole blocks than the header says this use of the log wrote is cut short.
 * An archived copy holds only the written blocks, so fewer blocks than the
 * log was created with is no fault; nothing is checked while the next
 * available block is unknown.
 */
static int check_written_blocks(MINER *mnr)
{
    uint64_t held = (uint64_t)mnr->curr_blk - 1;   /* whole blocks from block 1 on */

    if (mnr->log_end == 0 || held >= (uint64_t)mnr->log_end - 1)
        return 0;
    clear_progress(mnr);
    fprintf(stderr, "read %s: the header says %u blocks were written, the file holds %llu\n", mnr->logfile,
            mnr->log_end - 1, (unsigned long long)held);
    return -1;
}

/* Reports one block of the log that is not whole as damage. */
static void report_block(MINER *mnr, uint32_t blkno, int c)
{
    const int64_t rec_blk = mnr->rec_blk;

    mnr->rec_blk = blkno;
    // a block whose checksum alone fails, or any block of a log whose block
    // 1 cannot vouch for the rest, is still decoded
    if (c == BLOCK_BAD_CHECKSUM || !mnr->hdr_trusted) {
        mnr->decoded_damage++;
        note_damage(mnr, "%s; what the block holds is decoded but may be wrong", block_class_text[c].what);
    } else {
        note_damage(mnr, "%s; no record is taken from it", block_class_text[c].what);
    }
    mnr->rec_blk = rec_blk;
}

/* Says once, for a run of blocks that store no checksum but are otherwise
 * the log's own, that they were decoded unverified.  Not damage. */
static void flush_unchecked(MINER *mnr)
{
    if (mnr->unchk_first < 0)
        return;
    clear_progress(mnr);
    if (mnr->unchk_first == mnr->unchk_last)
        fprintf(stderr, "%s: block %lld: %s; decoded unverified\n", mnr->logfile, (long long)mnr->unchk_first,
                block_class_text[BLOCK_UNCHECKED].what);
    else
        fprintf(stderr, "%s: blocks %lld-%lld: %s; decoded unverified\n", mnr->logfile,
                (long long)mnr->unchk_first, (long long)mnr->unchk_last, block_class_text[BLOCK_UNCHECKED].what);
    mnr->unchk_first = -1;
}

/*
 * While the next available block is unknown, the log ends with the last
 * block of its own: stale and never written blocks are held back until a
 * block of the log's own follows them (then they were inside the log, and
 * are damage) or the file ends (then they are what lies after the log).
 * The first runs are kept to be named; past them the blocks are counted,
 * by then beyond what note_damage names anyway.
 */
static void hold_back(MINER *mnr, uint32_t blkno, int c)
{
    uint32_t n = mnr->npend;

    mnr->pend_blocks++;
    if (n > 0 && mnr->pend[n - 1].cls == c && mnr->pend[n - 1].last + 1 == blkno)
        mnr->pend[n - 1].last = blkno;
    else if (n < sizeof mnr->pend / sizeof mnr->pend[0])
        mnr->pend[mnr->npend++] = {blkno, blkno, c};
}

static void flush_held_back(MINER *mnr)
{
    uint64_t named = 0;

    for (uint32_t i = 0; i < mnr->npend; i++)
        for (uint64_t b = mnr->pend[i].first; b <= mnr->pend[i].last; b++, named++) {
            if (mnr->damaged > MAX_DAMAGE_REPORTS)
                break;
            report_block(mnr, (uint32_t)b, mnr->pend[i].cls);
        }
    mnr->damaged += mnr->pend_blocks - named;
    mnr->npend = 0;
    mnr->pend_blocks = 0;
}

/* What the walk does with a block it enters for the first time. */
static void account_block(MINER *mnr, uint32_t blkno, int c)
{
    if (c != BLOCK_UNCHECKED)
        flush_unchecked(mnr);
    if (!mnr->hdr_trusted) {
        // without block 1 to say what the log's sequence is, a block is
        // judged by its checksum and number alone, as it always was
        if (c == BLOCK_BAD_CHECKSUM || c == BLOCK_MISPLACED)
            report_block(mnr, blkno, c);
        return;
    }
    if ((c == BLOCK_STALE || c == BLOCK_UNWRITTEN) && mnr->log_end == 0) {
        hold_back(mnr, blkno, c);
        return;
    }
    if (!foreign_block(c) && mnr->pend_blocks > 0)
        flush_held_back(mnr);
    if (c == BLOCK_UNCHECKED) {
        if (mnr->unchk_first < 0)
            mnr->unchk_first = blkno;
        mnr->unchk_last = blkno;
    } else if (c != BLOCK_INTACT) {
        report_block(mnr, blkno, c);
    }
}

/* Reads the chunk that begins at curr_blk, none of it past the end of the log. */
static int read_chunk(MINER *mnr)
{
    if (read_blocks(mnr) < 0)
        return -1;
    if (mnr->log_end != 0 && (int64_t)mnr->curr_blk + mnr->rd_blks > (int64_t)mnr->log_end) {
        mnr->rd_blks = (int64_t)mnr->curr_blk < (int64_t)mnr->log_end ? (int)(mnr->log_end - mnr->curr_blk) : 0;
        mnr->rd_tail = 0;
    }
    return 0;
}

/*
 * Block iblk of the chunk, as the walk enters it, and its class.  A block
 * is judged as the walk enters it, while its bytes are about to be used
 * anyway: judging the whole chunk up front would read it from memory twice.
 * A block entered again after the walk went back to resume is not reported
 * again.
 */
static inline uint8_t *enter_block(MINER *mnr, int iblk, int *cls)
{
    uint8_t *blk = mnr->rbuf + (size_t)iblk * (uint32_t)mnr->blk_sz;
    const int64_t blkno = (int64_t)mnr->curr_blk + iblk;

    if (!mnr->csum) {
        *cls = BLOCK_INTACT;
        return blk;
    }
    if (mnr->cls_blk != blkno) {
        mnr->cls = judge_block_fast(mnr, blk, (uint32_t)blkno);
        mnr->cls_blk = blkno;
        if (blkno >= mnr->reported_to) {
            // an intact block with nothing held back needs no accounting
            if (mnr->cls != BLOCK_INTACT || mnr->unchk_first >= 0 || mnr->pend_blocks > 0)
                account_block(mnr, (uint32_t)blkno, mnr->cls);
            mnr->reported_to = blkno + 1;
        }
    }
    *cls = mnr->cls;
    return blk;
}

/*
 * Moves on to the chunk after the one in the read buffer and reads it.
 * Block numbers are 32-bit and the reader's are int: a file may hold blocks
 * up to number INT_MAX (2^31 blocks of 512 bytes is 1 TiB), and one past it
 * is refused rather than wrapped.
 */
static int next_chunk(MINER *mnr)
{
    int64_t next = (int64_t)mnr->curr_blk + mnr->rd_blks;

    if (next > INT_MAX) {
        uint64_t at = (uint64_t)mnr->blk0_sz + (uint64_t)mnr->blk_sz * (uint64_t)(next - 1);

        if ((mnr->log_end != 0 && next >= (int64_t)mnr->log_end) || mnr->log_sz < at + (uint64_t)mnr->blk_sz) {
            mnr->rd_blks = 0;
            mnr->rd_tail = 0;
            return 0;
        }
        clear_progress(mnr);
        fprintf(stderr, "read %s: logs of more than %d blocks are not supported\n", mnr->logfile, INT_MAX);
        return -1;
    }
    mnr->curr_blk = (int)next;
    if (mnr->progress)
        show_progress(mnr);
    return read_chunk(mnr);
}

/*
 * After a record beginning in block blk was refused as damaged: the next
 * record is the first that begins in a block after it, found through that
 * block's first-record offset, so one bad length costs the records of one
 * block and not the rest of the log.  The walk may have to go back to a
 * block of an earlier chunk.
 */
static int resume_after(MINER *mnr, int64_t blk, int *iblk, uint32_t *rec_ofs)
{
    const int64_t target = blk + 1;

    *rec_ofs = 0;
    if (target >= mnr->curr_blk && target < (int64_t)mnr->curr_blk + mnr->rd_blks) {
        *iblk = (int)(target - mnr->curr_blk);
        return 0;
    }
    *iblk = 0;
    if (target > INT_MAX) {
        mnr->rd_blks = 0;
        mnr->rd_tail = 0;
        return 0;
    }
    mnr->curr_blk = (int)target;
    return read_chunk(mnr);
}

/*
 * A long record from a stream: its allocation doubles as its bytes arrive,
 * to hold need bytes and never more than the record's length, so that a
 * damaged length claims no more memory than the stream holds.  On failure
 * the record's allocation is released.
 */
static int grow_record(uint8_t **dst, size_t *cap, size_t need, size_t rlen)
{
    size_t n = *cap * 2 > need ? *cap * 2 : need;
    uint8_t *p;

    if (n > rlen)
        n = rlen;
    p = (uint8_t *)realloc(*dst, n);
    if (p == NULL) {
        fprintf(stderr, "allocate memory error: %s\n", strerror(errno));
        free(*dst);
        *dst = NULL;
        return -1;
    }
    *dst = p;
    *cap = n;
    return 0;
}

static void report_cut_off(MINER *mnr, int32_t rlen)
{
    clear_progress(mnr);
    fprintf(stderr, "read %s: record of %d bytes beginning in block %lld is cut off by the end of the file\n",
            mnr->logfile, rlen, (long long)mnr->rec_blk);
}

/* Blocks 0 and 1, judged by read_header, reported before any record. */
static void report_header_blocks(MINER *mnr)
{
    if (!mnr->csum)
        return;
    mnr->rec_blk = 0;
    if (mnr->blk0_cls == BLOCK_BAD_CHECKSUM) {
        mnr->decoded_damage++;
        note_damage(mnr, "%s; its block sizes are used as they stand", block_class_text[BLOCK_BAD_CHECKSUM].what);
    } else if (mnr->blk0_cls == BLOCK_UNCHECKED)
        fprintf(stderr, "%s: block 0: %s; used unverified\n", mnr->logfile, block_class_text[BLOCK_UNCHECKED].what);
    mnr->rec_blk = 1;
    if (mnr->blk1_got != 0)
        note_damage(mnr, "the file ends %u bytes into the block; the log is cut short", mnr->blk1_got);
    else if (mnr->blk1_cls == BLOCK_UNCHECKED) {
        // a block 1 smaller than its header is never judged (judge_block)
        if (mnr->blk_sz >= (int)sizeof(REDO_BLOCK1))
            fprintf(stderr, "%s: block 1: %s; its next available block, block count and sequence are not used\n",
                    mnr->logfile, block_class_text[BLOCK_UNCHECKED].what);
    } else if (mnr->blk1_cls != BLOCK_INTACT) {
        mnr->decoded_damage++;
        note_damage(mnr, "%s; its next available block, block count and sequence are not used",
                    block_class_text[mnr->blk1_cls].what);
    }
}

int mine_redolog(MINER *mnr)
{
    const uint32_t bsz = (uint32_t)mnr->blk_sz;
    const bool trusted = mnr->hdr_trusted;
    uint32_t rec_ofs = 0;     /* 0: take the next record's offset from the block header */
    int iblk = 0;             /* block index within the chunk */
    int ret;

    fwrite(csv_header, 1, sizeof csv_header - 1, mnr->cfp);
    mnr->sql_pos = 0;
    mnr->cls_blk = -1;
    mnr->reported_to = 2;
    mnr->unchk_first = -1;
    report_header_blocks(mnr);
    mnr->curr_blk = 2;
    if (mnr->progress)
        show_progress(mnr);
    if (read_chunk(mnr) < 0)
        return -1;

    for (;;) {
        uint8_t *blk, *dst;
        size_t cap;
        uint32_t remaining, end;
        int64_t start_blk;
        size_t done;
        int32_t rlen;
        int r, cls;

        if (iblk >= mnr->rd_blks) {
            if (mnr->rd_blks == 0) {
                ret = check_last_block(mnr);
                if (ret == 0)
                    ret = check_written_blocks(mnr);
                break;
            }
            iblk = 0;
            if (next_chunk(mnr) < 0) {
                ret = -1;
                break;
            }
            continue;
        }

        blk = enter_block(mnr, iblk, &cls);
        mnr->rec_blk = start_blk = (int64_t)mnr->curr_blk + iblk;
        // no record is taken from a block that is not the log's own
        if (trusted && foreign_block(cls)) {
            iblk++;
            rec_ofs = 0;
            continue;
        }
        if (rec_ofs == 0) {
            uint32_t first = read_u16(blk + offsetof(REDO_BH, rba_byte)) & 0x7fff;

            // below 16 no record begins in this block
            if (first < BLOCK_HEADER_SIZE) {
                iblk++;
                continue;
            }
            // first-record offset leaves no room for a record length
            if (first > bsz - 4) {
                note_damage(mnr, "first-record offset %u lies beyond the %u-byte block", first, bsz);
                iblk++;
                continue;
            }
            rec_ofs = first;
        }
        mnr->rec_seq = read_u32(blk + offsetof(REDO_BH, rba_sqn));

        rlen = (int32_t)read_u32(blk + rec_ofs);
        if (rlen == 0) {
            iblk++;
            rec_ofs = 0;
            continue;
        }
        // record length negative or shorter than a record header
        if (rlen < RECORD_HEADER_SIZE) {
            note_damage(mnr, "record length %d at block offset %u is shorter than a record header; "
                        "rest of the block passed over", rlen, rec_ofs);
            iblk++;
            rec_ofs = 0;
            continue;
        }
        // with a trusted header, a length running past the log is one bad
        // record: the walk resumes in the next block
        if (trusted && record_last_block(mnr, start_blk, rec_ofs, rlen) > last_log_block(mnr)) {
            note_damage(mnr, "record of %d bytes at block offset %u runs past the end of the log; "
                        "rest of the block passed over", rlen, rec_ofs);
            if (resume_after(mnr, start_blk, &iblk, &rec_ofs) < 0) {
                ret = -1;
                break;
            }
            continue;
        }

        // checked before a long record gets an allocation, so that a
        // damaged length cannot claim gigabytes the file never had; from a
        // stream, whose size is not known, the allocation grows as the
        // record's bytes arrive
        dst = mnr->rec_buf;
        cap = (size_t)rlen;
        if (rlen > mnr->recb_sz) {
            if (record_last_block(mnr, start_blk, rec_ofs, rlen) > last_file_block(mnr)) {
                report_cut_off(mnr, rlen);
                ret = -1;
                break;
            }
            clear_progress(mnr);
            fprintf(stderr, "allocate new memory (%d bytes)\n", rlen);
            if (mnr->src != NULL && cap > STREAM_RECORD_STEP)
                cap = STREAM_RECORD_STEP;
            dst = (uint8_t *)malloc(cap);
            if (dst == NULL) {
                fprintf(stderr, "allocate memory error: %s\n", strerror(errno));
                ret = -1;
                break;
            }
        }

        /* Copy the record, leaving out the headers of its continuation blocks. */
        remaining = (uint32_t)rlen;
        done = 0;
        ret = 0;
        while (rec_ofs + remaining > bsz) {
            uint32_t part = bsz - rec_ofs;

            if (done + part > cap && grow_record(&dst, &cap, done + part, (size_t)rlen) < 0) {
                ret = -1;
                break;
            }
            memcpy(dst + done, blk + rec_ofs, part);
            done += part;
            remaining -= part;
            if (++iblk >= mnr->rd_blks) {
                iblk = 0;
                if (next_chunk(mnr) < 0) {
                    ret = -1;
                    break;
                }
                // the file ends inside the record: never decode a part
                if (mnr->rd_blks == 0) {
                    report_cut_off(mnr, rlen);
                    ret = -1;
                    break;
                }
            }
            blk = enter_block(mnr, iblk, &cls);
            rec_ofs = BLOCK_HEADER_SIZE;
            // never a byte of a block that is not the log's own
            if (trusted && foreign_block(cls)) {
                const int64_t into = (int64_t)mnr->curr_blk + iblk;

                mnr->rec_blk = start_blk;
                note_damage(mnr, "record of %d bytes runs on into block %lld, which is %s; record left out",
                            rlen, (long long)into, block_class_text[cls].name);
                ret = 1;
                break;
            }
        }
        if (ret != 0) {
            if (dst != mnr->rec_buf)
                free(dst);
            if (ret < 0 || resume_after(mnr, start_blk, &iblk, &rec_ofs) < 0) {
                ret = -1;
                break;
            }
            continue;
        }
        if (done + remaining > cap && grow_record(&dst, &cap, done + remaining, (size_t)rlen) < 0) {
            ret = -1;
            break;
        }
        memcpy(dst + done, blk + rec_ofs, remaining);
        end = rec_ofs + remaining;

        /* Fewer than 24 bytes left in the block hold no record. */
        if (bsz - end < RECORD_HEADER_SIZE) {
            iblk++;
            rec_ofs = 0;
        } else {
            rec_ofs = end;
        }

        mnr->rec_blk = start_blk;
        r = parse_record(mnr, dst);
        if (dst != mnr->rec_buf)
            free(dst);
        if (r < 0) {
            ret = STOP_MINING;
            break;
        }
    }
    flush_unchecked(mnr);
    sql_flush(mnr);
    clear_progress(mnr);
    return ret;
}
