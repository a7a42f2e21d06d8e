/*
 * read_header.cpp - read_header: blocks 0 and 1 of the log.
 *
 * Reads the first 8 KiB, checks the byte-order mark and the two block sizes,
 * and takes into the run context what block 1 says of the log: thread,
 * sequence, first SCN, next available block, blocks declared, compatibility.
 * Then calibrates the checksums: when block 0's or block 1's stored checksum
 * is not 0 and holds, every block is checked; otherwise none is, and the
 * log is mined exactly as one written without checksums.  What block 1
 * says is used to judge blocks only when block 1 itself is intact.
 */
#include "quorvil.h"

#include <cerrno>
#include <unistd.h>

/*
 * Judges blocks 0 and 1 and decides whether the log has checksums and
 * whether block 1 can be trusted.  Block 1 must be whole to be judged: the
 * header read holds it when blocks are small; a larger block 1 is read on
 * its own into the read buffer, whose header bytes have been copied out by
 * now.  A file that ends inside block 1 has no checksum of block 1 to go by;
 * when block 0 proves the log has checksums, it is a log cut short.
 */
static int calibrate(MINER *mnr, ssize_t got)
{
    const uint32_t bsz = (uint32_t)mnr->blk_sz;
    const uint8_t *blk1 = mnr->rbuf + mnr->blk0_sz;

    mnr->blk0_cls = classify_block0(mnr->rbuf, (uint32_t)mnr->blk0_sz);
    mnr->csum = log_has_checksums(mnr->rbuf, (uint32_t)mnr->blk0_sz, NULL, 0);
    mnr->blk1_got = 0;
    if (got < (ssize_t)mnr->blk0_sz + mnr->blk_sz) {
        ssize_t n;

        n = read_log(mnr, mnr->rbuf, bsz, (uint64_t)mnr->blk0_sz);
        if (n < 0) {
            fprintf(stderr, "read %s: %s\n", mnr->logfile, read_error(mnr));
            mnr->hdr_fault = HEADER_UNREADABLE;
            return -1;
        }
        if (n < (ssize_t)bsz) {
            mnr->blk1_got = (uint32_t)n;
            blk1 = NULL;
        } else {
            blk1 = mnr->rbuf;
        }
    }
    // a block 1 smaller than the redo header runs on into the blocks after
    // it, and its checksum covers only a part: it is not judged
    mnr->blk1_cls = BLOCK_UNCHECKED;
    if (blk1 != NULL && bsz >= sizeof(REDO_BLOCK1)) {
        mnr->csum = mnr->csum || log_has_checksums(NULL, 0, blk1, bsz);
        mnr->blk1_cls = classify_block(blk1, bsz, 1, mnr->seq, true);
    }
    mnr->hdr_trusted = mnr->csum && blk1 != NULL && mnr->blk1_cls == BLOCK_INTACT;
    mnr->log_end = mnr->hdr_trusted && nab_known(mnr) ? (mnr->nab > 2 ? mnr->nab : 2) : 0;
    return 0;
}

/*
 * Reads blocks 0 and 1 and takes the block sizes and first SCN from them.
 * Refuses, with a message naming the file, a header too short for what it
 * declares and sizes the reader cannot work with.
 */
int read_header(MINER *mnr)
{
    ssize_t got;
    REDO_BLOCK0 b0;
    REDO_BLOCK1 b1;

    got = read_log(mnr, mnr->rbuf, HEADER_READ, 0);
    mnr->hdr_fault = HEADER_NOT_A_LOG;
    if (got < 0) {
        fprintf(stderr, "read %s: %s\n", mnr->logfile, read_error(mnr));
        mnr->hdr_fault = HEADER_UNREADABLE;
        return -1;
    }
    // block 0 is not whole: a short file is short on every read, so do not retry
    if (got < (ssize_t)sizeof b0) {
        fprintf(stderr, "read %s: header needs %d bytes, got %d\n", mnr->logfile,
                (int)sizeof b0, (int)got);
        return -1;
    }
    read_layout(&b0, mnr->rbuf, sizeof b0);
    if (b0.endian != MAGIC) {
        fprintf(stderr, "%s bytes endian not match.\n", mnr->logfile);
        return -1;
    }
    // block 0 must hold its own header and leave block 1's header inside the read
    if (b0.bsz < sizeof b0 || b0.bsz > HEADER_READ - sizeof b1) {
        fprintf(stderr, "%s: block 0 size %u is not usable (%d to %d bytes)\n", mnr->logfile,
                b0.bsz, (int)sizeof b0, HEADER_READ - (int)sizeof b1);
        return -1;
    }
    mnr->blk0_sz = (int)b0.bsz;
    if (got < (ssize_t)(mnr->blk0_sz + sizeof b1)) {
        // block 0 whole, and proving the log has checksums: a log cut short
        if (got >= mnr->blk0_sz && log_has_checksums(mnr->rbuf, (uint32_t)mnr->blk0_sz, NULL, 0))
            mnr->hdr_fault = HEADER_CUT_SHORT;
        fprintf(stderr, "read %s: header needs %d bytes, got %d\n", mnr->logfile,
                mnr->blk0_sz + (int)sizeof b1, (int)got);
        return -1;
    }
    read_layout(&b1, mnr->rbuf + mnr->blk0_sz, sizeof b1);
    // a block must hold its header and a record header, and fit the read buffer
    if (b1.bsz < BLOCK_HEADER_SIZE + RECORD_HEADER_SIZE || b1.bsz > (uint32_t)mnr->rbuf_sz) {
        fprintf(stderr, "%s: block size %u is not usable (%d to %d bytes)\n", mnr->logfile,
                b1.bsz, BLOCK_HEADER_SIZE + RECORD_HEADER_SIZE, mnr->rbuf_sz);
        return -1;
    }
    mnr->thread = (int)b1.thread;
    mnr->blk_sz = (int)b1.bsz;
    mnr->first_scn = ((uint64_t)b1.low_scn_wrap << 32) + b1.low_scn_base;
    mnr->seq = read_u32(b1.bh + offsetof(REDO_BH, rba_sqn));
    mnr->nab = b1.nab;
    mnr->log_blks = b1.fsz;
    mnr->compat = b1.csvn;
    if (calibrate(mnr, got) < 0)
        return -1;
    mnr->hdr_fault = HEADER_OK;
    return 0;
}

/*
 * Is the next available block a number to go by?  A log still being written
 * stores all ones, and a value past the blocks the log was created with
 * cannot be one either.
 */
bool nab_known(const MINER *mnr)
{
    return mnr->nab != NAB_UNKNOWN && mnr->nab <= (uint64_t)mnr->log_blks + 1;
}

