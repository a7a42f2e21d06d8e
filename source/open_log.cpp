/*
 * open_log.cpp - open_log, read_log and close_log: where the log's bytes
 * come from.
 *
 * A log in a regular file or on a block device is read where it lies, with
 * pread at any offset, as it always was.  A log compressed with gzip, zstd,
 * xz or bzip2 (told by its first bytes) is decompressed as it is read, and a
 * log from a pipe, a FIFO or a terminal is read as it comes: both are read
 * once, front to back.  Such a stream keeps the last LOOKBACK bytes it
 * delivered in a ring, so that the few reads that go back (block 1 after the
 * header, block 2 after block 1, the block after a damaged record) are
 * served from memory; memory stays bounded whatever the size of the log.
 * The decompression is done by zlib, libzstd, liblzma and libbz2.
 */
#include "quorvil.h"

#include <bzlib.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#define LOOKBACK (2 * RBUF_SIZE)        /* bytes of a stream kept to read again */
#define IN_BUF_SIZE (256 * 1024)        /* compressed bytes read at a time */

struct __log_source {
    int packing;                        /* LOG_PACKING */
    uint8_t *ring;                      /* the last LOOKBACK bytes delivered */
    uint64_t pos;                       /* bytes of the log produced so far */
    bool out_end;                       /* the log has ended */
    uint8_t *in;                        /* compressed bytes read and not yet used */
    size_t in_len, in_pos;
    bool in_end;                        /* the file has no more compressed bytes */
    bool frame_open;                    /* a compressed stream begun and not ended */
    z_stream gz;
    ZSTD_DStream *zs;
    lzma_stream xz;
    bz_stream bz;
    bool dec_ready;
    bool dec_done;                      /* xz: the last stream has ended */
    bool failed;                        /* a read or the decompressor failed: err says how */
    char err[160];                      /* what went wrong, for read_error */
};

const char *const packing_name[PACKINGS] = {"", "gzip", "zstd", "xz", "bzip2"};

/* The packing a log's first bytes name. */
static int packing_of(const uint8_t *b, size_t n)
{
    static const uint8_t gz[] = {0x1f, 0x8b}, zs[] = {0x28, 0xb5, 0x2f, 0xfd},
                         xz[] = {0xfd, '7', 'z', 'X', 'Z', 0x00}, bz[] = {'B', 'Z', 'h'};

    if (n >= sizeof gz && memcmp(b, gz, sizeof gz) == 0)
        return PACK_GZIP;
    if (n >= sizeof zs && memcmp(b, zs, sizeof zs) == 0)
        return PACK_ZSTD;
    if (n >= sizeof xz && memcmp(b, xz, sizeof xz) == 0)
        return PACK_XZ;
    if (n >= sizeof bz && memcmp(b, bz, sizeof bz) == 0)
        return PACK_BZIP2;
    return PACK_NONE;
}

static ssize_t read_some(int fd, uint8_t *buf, size_t n)
{
    ssize_t got;

    do {
        got = read(fd, buf, n);
    } while (got < 0 && errno == EINTR);
    return got;
}

static ssize_t pread_full(int fd, uint8_t *buf, size_t n, uint64_t off)
{
    ssize_t got;

    do {
        got = pread(fd, buf, n, (off_t)off);
    } while (got < 0 && errno == EINTR);
    return got;
}

static void fail(LOG_SOURCE *s, const char *what, const char *msg)
{
    snprintf(s->err, sizeof s->err, "%s%s%s", what, *what ? ": " : "", msg);
}

static bool start_decoder(LOG_SOURCE *s)
{
    switch (s->packing) {
    case PACK_GZIP:
        // 16 + 15: a gzip stream with the largest window
        if (inflateInit2(&s->gz, 16 + MAX_WBITS) != Z_OK)
            return fail(s, "gzip", "cannot start the decompressor"), false;
        break;
    case PACK_ZSTD:
        s->zs = ZSTD_createDStream();
        if (s->zs == NULL || ZSTD_isError(ZSTD_initDStream(s->zs)))
            return fail(s, "zstd", "cannot start the decompressor"), false;
        break;
    case PACK_XZ:
        s->xz = LZMA_STREAM_INIT;
        // concatenated .xz streams are one log, as xz -dc reads them
        if (lzma_stream_decoder(&s->xz, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
            return fail(s, "xz", "cannot start the decompressor"), false;
        break;
    case PACK_BZIP2:
        if (BZ2_bzDecompressInit(&s->bz, 0, 0) != BZ_OK)
            return fail(s, "bzip2", "cannot start the decompressor"), false;
        break;
    }
    s->dec_ready = true;
    return true;
}

static void end_decoder(LOG_SOURCE *s)
{
    if (!s->dec_ready)
        return;
    switch (s->packing) {
    case PACK_GZIP:
        inflateEnd(&s->gz);
        break;
    case PACK_ZSTD:
        ZSTD_freeDStream(s->zs);
        break;
    case PACK_XZ:
        lzma_end(&s->xz);
        break;
    case PACK_BZIP2:
        BZ2_bzDecompressEnd(&s->bz);
        break;
    }
    s->dec_ready = false;
}

/* xz's and bzip2's words for their errors, as their own tools print them. */
static const char *xz_message(lzma_ret r)
{
    switch (r) {
    case LZMA_MEM_ERROR: return "memory exhausted";
    case LZMA_FORMAT_ERROR: return "file format not recognized";
    case LZMA_OPTIONS_ERROR: return "unsupported options";
    case LZMA_DATA_ERROR: return "compressed data is corrupt";
    case LZMA_BUF_ERROR: return "unexpected end of input";
    default: return "internal error";
    }
}

static const char *bzip2_message(int r)
{
    switch (r) {
    case BZ_MEM_ERROR: return "out of memory";
    case BZ_DATA_ERROR_MAGIC: return "bad magic number (file not created by bzip2)";
    case BZ_DATA_ERROR: return "data integrity (CRC) error in data";
    default: return "internal error";
    }
}

/*
 * Decompresses into out, at most room bytes.  Returns the bytes made, 0 at
 * the end of the log, -1 on an error (in s->err).  Streams that follow one
 * another in the file (gzip members, zstd frames, bzip2 streams) are one log.
 */
static ssize_t inflate_some(LOG_SOURCE *s, int fd, uint8_t *out, size_t room)
{
    for (;;) {
        size_t made = 0, used = 0;

        if (s->dec_done)
            return 0;
        if (s->in_pos == s->in_len && !s->in_end) {
            ssize_t got = read_some(fd, s->in, IN_BUF_SIZE);

            if (got < 0)
                return fail(s, "", strerror(errno)), -1;
            s->in_len = (size_t)got;
            s->in_pos = 0;
            s->in_end = got == 0;
        }
        const uint8_t *in = s->in + s->in_pos;
        const size_t avail = s->in_len - s->in_pos;

        // xz is told the input has ended, and says itself whether it was whole
        if (avail == 0 && s->in_end && s->packing != PACK_XZ) {
            if (s->frame_open)
                return fail(s, packing_name[s->packing], s->packing == PACK_BZIP2 ? "compressed file ends unexpectedly"
                            : s->packing == PACK_XZ ? "unexpected end of input" : "unexpected end of file"), -1;
            return 0;
        }
        switch (s->packing) {
        case PACK_GZIP: {
            s->gz.next_in = (Bytef *)in;
            s->gz.avail_in = (uInt)avail;
            s->gz.next_out = out;
            s->gz.avail_out = (uInt)room;
            int r = inflate(&s->gz, Z_NO_FLUSH);
            used = avail - s->gz.avail_in;
            made = room - s->gz.avail_out;
            if (r == Z_STREAM_END) {
                inflateReset(&s->gz);
                s->frame_open = false;
            } else if (r == Z_OK || (r == Z_BUF_ERROR && (used || made))) {
                s->frame_open = true;
            } else {
                return fail(s, "gzip", s->gz.msg ? s->gz.msg : zError(r)), -1;
            }
            break;
        }
        case PACK_ZSTD: {
            ZSTD_inBuffer ib = {in, avail, 0};
            ZSTD_outBuffer ob = {out, room, 0};
            size_t r = ZSTD_decompressStream(s->zs, &ob, &ib);
            if (ZSTD_isError(r))
                return fail(s, "zstd", ZSTD_getErrorName(r)), -1;
            used = ib.pos;
            made = ob.pos;
            s->frame_open = r != 0;
            break;
        }
        case PACK_XZ: {
            s->xz.next_in = in;
            s->xz.avail_in = avail;
            s->xz.next_out = out;
            s->xz.avail_out = room;
            lzma_ret r = lzma_code(&s->xz, s->in_end ? LZMA_FINISH : LZMA_RUN);
            used = avail - s->xz.avail_in;
            made = room - s->xz.avail_out;
            if (r == LZMA_STREAM_END) {
                s->dec_done = true;
                return (ssize_t)made;
            }
            if (r != LZMA_OK && !(r == LZMA_BUF_ERROR && (used || made)))
                return fail(s, "xz", xz_message(r)), -1;
            s->frame_open = true;
            break;
        }
        case PACK_BZIP2: {
            s->bz.next_in = (char *)in;
            s->bz.avail_in = (unsigned)avail;
            s->bz.next_out = (char *)out;
            s->bz.avail_out = (unsigned)room;
            int r = BZ2_bzDecompress(&s->bz);
            used = avail - s->bz.avail_in;
            made = room - s->bz.avail_out;
            if (r == BZ_STREAM_END) {
                BZ2_bzDecompressEnd(&s->bz);
                s->dec_ready = false;
                if (BZ2_bzDecompressInit(&s->bz, 0, 0) != BZ_OK)
                    return fail(s, "bzip2", "cannot start the decompressor"), -1;
                s->dec_ready = true;
                s->frame_open = false;
            } else if (r == BZ_OK) {
                s->frame_open = true;
            } else {
                return fail(s, "bzip2", bzip2_message(r)), -1;
            }
            break;
        }
        }
        s->in_pos += used;
        if (made > 0)
            return (ssize_t)made;
        // neither input used nor output made with input at hand: stuck
        if (used == 0 && s->in_pos < s->in_len)
            return fail(s, packing_name[s->packing], "the decompressor makes no progress"), -1;
    }
}

/* Makes the stream's bytes up to (not including) upto, or up to its end. */
static int produce(MINER *mnr, uint64_t upto)
{
    LOG_SOURCE *s = mnr->src;

    if (s->failed)
        return -1;
    while (s->pos < upto && !s->out_end) {
        const size_t w = (size_t)(s->pos % LOOKBACK);
        size_t room = LOOKBACK - w;
        ssize_t got;

        if (room > upto - s->pos)
            room = (size_t)(upto - s->pos);
        if (s->packing == PACK_NONE) {
            got = read_some(mnr->fd, s->ring + w, room);
            if (got < 0)
                fail(s, "", strerror(errno));
        } else {
            got = inflate_some(s, mnr->fd, s->ring + w, room);
        }
        if (got < 0) {
            s->failed = true;
            return -1;
        }
        if (got == 0)
            s->out_end = true;
        s->pos += (uint64_t)got;
    }
    return 0;
}

int open_log(MINER *mnr)
{
    struct stat st;
    uint8_t head[8];
    ssize_t got;
    LOG_SOURCE *s;

    mnr->src = NULL;
    if (strcmp(mnr->logfile, "-") == 0) {
        mnr->fd = dup(STDIN_FILENO);
    } else {
        do {
            mnr->fd = open(mnr->logfile, O_RDONLY | O_CLOEXEC);
        } while (mnr->fd < 0 && errno == EINTR);
    }
    if (mnr->fd < 0) {
        fprintf(stderr, "open %s: %s\n", mnr->logfile, strerror(errno));
        return -1;
    }
    if (fstat(mnr->fd, &st) != 0) {
        fprintf(stderr, "open %s: %s\n", mnr->logfile, strerror(errno));
        return -1;
    }
    // a regular file or a device is read where it lies, unless compressed;
    // anything pread cannot read (a pipe, a terminal) is a stream
    got = pread_full(mnr->fd, head, sizeof head, 0);
    if (got >= 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) &&
        packing_of(head, (size_t)got) == PACK_NONE)
        return 0;
    if (got < 0 && errno != ESPIPE) {
        fprintf(stderr, "read %s: %s\n", mnr->logfile, strerror(errno));
        return -1;
    }

    s = (LOG_SOURCE *)calloc(1, sizeof *s);
    if (s == NULL || (s->ring = (uint8_t *)malloc(LOOKBACK)) == NULL ||
        (s->in = (uint8_t *)malloc(IN_BUF_SIZE)) == NULL) {
        fprintf(stderr, "Allocate work memory error: %s\n", strerror(errno));
        if (s != NULL)
            free(s->ring);
        free(s);
        return -1;
    }
    mnr->src = s;
    // the first bytes of a stream are read once: they stay in the input buffer
    if (got < 0) {
        size_t have = 0;

        while (have < 6) {
            ssize_t n = read_some(mnr->fd, s->in + have, 6 - have);

            if (n < 0) {
                fprintf(stderr, "read %s: %s\n", mnr->logfile, strerror(errno));
                return -1;
            }
            if (n == 0)
                break;
            have += (size_t)n;
        }
        s->in_len = have;
        s->in_end = have < 6;
        s->packing = packing_of(s->in, have);
    } else {
        s->packing = packing_of(head, (size_t)got);
    }
    if (s->packing == PACK_NONE) {
        // a plain stream: the bytes peeked at are its first bytes
        memcpy(s->ring, s->in, s->in_len);
        s->pos = s->in_len;
        s->out_end = s->in_end && s->in_len == 0;
        s->in_len = s->in_pos = 0;
    } else if (!start_decoder(s)) {
        fprintf(stderr, "read %s: %s\n", mnr->logfile, s->err);
        return -1;
    }
    return 0;
}

ssize_t read_log(MINER *mnr, uint8_t *buf, size_t n, uint64_t off)
{
    LOG_SOURCE *s = mnr->src;
    uint64_t kept, end;
    size_t done = 0;

    if (s == NULL)
        return pread_full(mnr->fd, buf, n, off);
    if (n > LOOKBACK - RBUF_SIZE / 2)
        n = LOOKBACK - RBUF_SIZE / 2;
    // what the stream held before a damaged place is delivered first; the
    // error comes with the next read, when nothing is left before it
    if (produce(mnr, off + n) < 0 && s->pos <= off) {
        errno = EIO;
        return -1;
    }
    kept = s->pos < LOOKBACK ? 0 : s->pos - LOOKBACK;
    if (off < kept) {
        snprintf(s->err, sizeof s->err,
                 "the log is read once, front to back, and offset %llu is no longer held",
                 (unsigned long long)off);
        errno = EIO;
        return -1;
    }
    end = s->pos < off + n ? s->pos : off + n;
    while (off + done < end) {
        const size_t r = (size_t)((off + done) % LOOKBACK);
        size_t part = LOOKBACK - r;

        if (part > end - off - done)
            part = (size_t)(end - off - done);
        memcpy(buf + done, s->ring + r, part);
        done += part;
    }
    return (ssize_t)done;
}

const char *read_error(const MINER *mnr)
{
    if (mnr->src != NULL && mnr->src->err[0] != '\0')
        return mnr->src->err;
    return strerror(errno);
}

bool read_failed(const MINER *mnr)
{
    return mnr->src != NULL && mnr->src->failed;
}

int log_packing(const MINER *mnr)
{
    return mnr->src != NULL ? mnr->src->packing : PACK_NONE;
}

void close_log(MINER *mnr)
{
    if (mnr->src != NULL) {
        end_decoder(mnr->src);
        free(mnr->src->ring);
        free(mnr->src->in);
        free(mnr->src);
        mnr->src = NULL;
    }
    if (mnr->fd >= 0)
        close(mnr->fd);
    mnr->fd = -1;
}
