/*
 * read_header.cpp - read_header: blocks 0 and 1 of the log.
 *
 * Reads the first 8 KiB, checks the byte-order mark and the two block sizes,
 * and takes into the run context what block 1 says of the log: thread,
 * sequence, first SCN, next available block, blocks declared, compatibility.
 * Then calibrates the checksums: when block 1's own stored checksum is not 0
 * and holds, every block read from then on is checked; otherwise none is,
 * and the log is mined exactly as one written without checksums.
 */
#include "quorvil.h"

#include <cerrno>
#include <unistd.h>

/*
 * Block 1 must be whole to check its checksum.  The header read holds it
 * when blocks are small; a larger block 1 is read on its own into the read
 * buffer, whose header bytes have been copied out by now.  A file too short
 * to hold block 1 whole has no checksum to go by.
 */
static int calibrate(MINER *mnr, ssize_t got, uint16_t stored)
{
    const uint8_t *blk1 = mnr->rbuf + mnr->blk0_sz;

    mnr->csum = 0;
    if (stored == 0)
        return 0;
    if (got < (ssize_t)mnr->blk0_sz + mnr->blk_sz) {
        ssize_t n;

        do {
            n = pread(mnr->fd, mnr->rbuf, (size_t)mnr->blk_sz, mnr->blk0_sz);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            fprintf(stderr, "read %s: %s\n", mnr->logfile, strerror(errno));
            return -1;
        }
        if (n < mnr->blk_sz)
            return 0;
        blk1 = mnr->rbuf;
    }
    mnr->csum = block_checksum(blk1, (uint32_t)mnr->blk_sz) == 0;
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

    do {
        got = pread(mnr->fd, mnr->rbuf, HEADER_READ, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        fprintf(stderr, "read %s: %s\n", mnr->logfile, strerror(errno));
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
    return calibrate(mnr, got, read_u16(b1.bh + offsetof(REDO_BH, chkval)));
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

