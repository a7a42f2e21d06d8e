/*
 * read_blocks.cpp - read_blocks: fills the read buffer with the next chunk of
 * whole blocks, starting at block curr_blk, with one positioned read; and
 * log_size, the size of the log file or device.
 *
 * The bytes come through read_log: in place, decompressed or from a pipe.
 * Block n (n >= 1) begins at blk0_sz + blk_sz * (n - 1); the offset is formed
 * in 64 bits so that logs of any size are read whole.  rd_blks becomes the
 * number of whole blocks read, 0 at the end of the file; a partial block at
 * the end of a read is not counted and is read again with the next chunk.
 * A read that meets the end of the file before the size the log had when it
 * was opened means the file was cut while being read: that is reported and
 * the run fails rather than end early as if the log were whole.
 */
#include "quorvil.h"

#include <cerrno>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

/* The size of the open log.  A block device (a loop device, a disk) or a
 * character raw device has no st_size of its own, so its size is asked of
 * the device; a raw device that does not answer that is measured by seeking
 * to its end. */
int log_size(MINER *mnr, uint64_t *size)
{
    struct stat st;

    if (fstat(mnr->fd, &st) != 0)
        return -1;
    if (S_ISBLK(st.st_mode))
        return ioctl(mnr->fd, BLKGETSIZE64, size) == 0 ? 0 : -1;
    if (S_ISCHR(st.st_mode)) {
        off_t end;

        if (ioctl(mnr->fd, BLKGETSIZE64, size) == 0)
            return 0;
        end = lseek(mnr->fd, 0, SEEK_END);
        if (end <= 0)
            return -1;
        *size = (uint64_t)end;
        return 0;
    }
    *size = (uint64_t)st.st_size;
    return 0;
}

int read_blocks(MINER *mnr)
{
    uint64_t offset = (uint64_t)mnr->blk0_sz + (uint64_t)mnr->blk_sz * (uint64_t)(mnr->curr_blk - 1);
    uint64_t now;
    ssize_t got;

    got = read_log(mnr, mnr->rbuf, (size_t)mnr->rbuf_sz, offset);
    if (got < 0) {
        clear_progress(mnr);
        fprintf(stderr, "read %s: %s\n", mnr->logfile, read_error(mnr));
        return -1;
    }
    // the file ends before the size it had when opened: it was cut while being
    // read (a stream has no size to go by)
    if (mnr->src == NULL && got < mnr->rbuf_sz && offset + (uint64_t)got < mnr->log_sz) {
        // where measuring fails, the read itself says where the file ends now
        if (log_size(mnr, &now) < 0)
            now = offset + (uint64_t)got;
        clear_progress(mnr);
        fprintf(stderr, "read %s: the file had %llu bytes when opened and has %llu now\n", mnr->logfile,
                (unsigned long long)mnr->log_sz, (unsigned long long)now);
        return -1;
    }
    mnr->rd_blks = (int)(got / mnr->blk_sz);
    mnr->rd_tail = (uint32_t)(got % mnr->blk_sz);
    // a stream that failed has handed on every whole block it held: the
    // failure, not an end of file, is what comes next
    if (mnr->rd_blks == 0 && read_failed(mnr)) {
        clear_progress(mnr);
        fprintf(stderr, "read %s: %s\n", mnr->logfile, read_error(mnr));
        return -1;
    }
    return 0;
}
