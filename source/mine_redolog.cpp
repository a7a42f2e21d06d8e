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

/*
 * Can a record of rlen bytes that begins at offset ofs of file block blk end
 * within the whole blocks of the file?  Checked before a long record gets an
 * allocation, so a damaged length cannot claim gigabytes the file never had.
 */
static bool record_fits_file(const MINER *mnr, int64_t blk, uint32_t ofs, int32_t rlen)
{
    uint64_t bsz = (uint64_t)mnr->blk_sz;
    uint64_t nblocks, last;

    if (mnr->log_sz < (uint64_t)mnr->blk0_sz)
        return false;
    nblocks = (mnr->log_sz - (uint64_t)mnr->blk0_sz) / bsz;      /* blocks 1..nblocks are whole */
    last = (uint64_t)blk;
    if (ofs + (uint64_t)rlen > bsz) {
        uint64_t rest = (uint64_t)rlen - (bsz - ofs);
        uint64_t payload = bsz - BLOCK_HEADER_SIZE;
        last += (rest + payload - 1) / payload;
    }
    return last <= nblocks;
}

/*
 * At the end of the file: a partial block after the last whole one is never
 * read.  Stray bytes there are nothing, but a block whose header says a
 * record begins in it is a log cut short, and its records would be lost
 * without a word.
 */
static int check_last_block(MINER *mnr)
{
    uint32_t first;

    if (mnr->rd_tail < BLOCK_HEADER_SIZE)
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

    if (!mnr->csum || !nab_known(mnr) || mnr->nab < 2 || held >= (uint64_t)mnr->nab - 1)
        return 0;
    clear_progress(mnr);
    fprintf(stderr, "read %s: the header says %u blocks were written, the file holds %llu\n", mnr->logfile,
            mnr->nab - 1, (unsigned long long)held);
    return -1;
}

/* Reads the chunk that begins at curr_blk; none of its blocks is checked yet. */
static int read_chunk(MINER *mnr)
{
    mnr->blk_checked = 0;
    return read_blocks(mnr);
}

/*
 * Block iblk of the chunk, as the walk enters it.  Its checksum is checked
 * then, with every block before it not yet checked, while its bytes are
 * about to be used anyway: checking the whole chunk up front would read it
 * from memory twice.
 */
static inline uint8_t *enter_block(MINER *mnr, int iblk)
{
    if (mnr->csum)
        while (mnr->blk_checked <= iblk)
            check_block(mnr, mnr->blk_checked++);
    return mnr->rbuf + (size_t)iblk * (uint32_t)mnr->blk_sz;
}

/* Moves on to the chunk after the one in the read buffer and reads it. */
static int next_chunk(MINER *mnr)
{
    // block numbers are 32-bit: 2^31 blocks of 512 bytes is 1 TiB
    if (mnr->rd_blks > INT_MAX - mnr->curr_blk) {
        clear_progress(mnr);
        fprintf(stderr, "read %s: logs of more than %d blocks are not supported\n", mnr->logfile, INT_MAX);
        return -1;
    }
    mnr->curr_blk += mnr->rd_blks;
    if (mnr->progress)
        show_progress(mnr);
    return read_chunk(mnr);
}

static void report_cut_off(MINER *mnr, int32_t rlen)
{
    clear_progress(mnr);
    fprintf(stderr, "read %s: record of %d bytes beginning in block %lld is cut off by the end of the file\n",
            mnr->logfile, rlen, (long long)mnr->rec_blk);
}

int mine_redolog(MINER *mnr)
{
    const uint32_t bsz = (uint32_t)mnr->blk_sz;
    uint32_t rec_ofs = 0;     /* 0: take the next record's offset from the block header */
    int iblk = 0;             /* block index within the chunk */
    int ret;

    fwrite(csv_header, 1, sizeof csv_header - 1, mnr->cfp);
    mnr->sql_pos = 0;
    mnr->curr_blk = 2;
    if (mnr->progress)
        show_progress(mnr);
    if (read_chunk(mnr) < 0)
        return -1;

    for (;;) {
        uint8_t *blk, *dst;
        uint32_t remaining, end;
        size_t done;
        int32_t rlen;
        int r;

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

        blk = enter_block(mnr, iblk);
        mnr->rec_blk = (int64_t)mnr->curr_blk + iblk;
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

        dst = mnr->rec_buf;
        if (rlen > mnr->recb_sz) {
            if (!record_fits_file(mnr, mnr->rec_blk, rec_ofs, rlen)) {
                report_cut_off(mnr, rlen);
                ret = -1;
                break;
            }
            clear_progress(mnr);
            fprintf(stderr, "allocate new memory (%d bytes)\n", rlen);
            dst = (uint8_t *)malloc((size_t)rlen);
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
            blk = enter_block(mnr, iblk);
            rec_ofs = BLOCK_HEADER_SIZE;
        }
        if (ret < 0) {
            if (dst != mnr->rec_buf)
                free(dst);
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

        r = parse_record(mnr, dst);
        if (dst != mnr->rec_buf)
            free(dst);
        if (r < 0) {
            ret = STOP_MINING;
            break;
        }
    }
    sql_flush(mnr);
    clear_progress(mnr);
    return ret;
}
