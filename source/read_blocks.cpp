/*
 * read_blocks.cpp - read_blocks: fills the read buffer with the next chunk of
 * whole blocks, starting at block curr_blk, with one positioned read.
 *
 * Block n (n >= 1) begins at blk0_sz + blk_sz * (n - 1); the offset is formed
 * in 64 bits so that logs of any size are read whole.  rd_blks becomes the
 * number of whole blocks read, 0 at the end of the file; a partial block at
 * the end of a read is not counted and is read again with the next chunk.
 */
#include "quorvil.h"

#include <cerrno>
#include <unistd.h>

int read_blocks(MINER *mnr)
{
    uint64_t offset = (uint64_t)mnr->blk0_sz + (uint64_t)mnr->blk_sz * (uint64_t)(mnr->curr_blk - 1);
    ssize_t got;

    do {
        got = pread(mnr->fd, mnr->rbuf, (size_t)mnr->rbuf_sz, (off_t)offset);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        clear_progress(mnr);
        fprintf(stderr, "read %s: %s\n", mnr->logfile, strerror(errno));
        return -1;
    }
    mnr->rd_blks = (int)(got / mnr->blk_sz);
    mnr->rd_tail = (uint32_t)(got % mnr->blk_sz);
    return 0;
}
