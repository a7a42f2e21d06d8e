/*
 * pack_input.h - for the fuzz targets that read a log as users keep it: the
 * first byte of the input says how the rest is laid in a memory file, plain
 * (0), compressed whole with gzip (1), zstd (2), xz (3) or bzip2 (4) through
 * the formats' own libraries, or as it is (any other value), so that the
 * fuzzer also reaches damaged compressed streams whose first bytes it
 * finds.  Returns the path /proc/self/fd/N of the memory file, or NULL for
 * a stream that decompresses to more than UNPACKED_CAP bytes.
 */
#ifndef QV_PACK_INPUT_H
#define QV_PACK_INPUT_H

#include "quorvil.h"

#include <bzlib.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <lzma.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>
#include <zstd.h>

static std::vector<uint8_t> pack_bytes(uint8_t how, const uint8_t *p, size_t n)
{
    std::vector<uint8_t> out(n + n / 2 + 1024);
    size_t len = 0;

    switch (how) {
    case 1: {
        z_stream z = {};
        // 16 + 15: a gzip wrapper
        if (deflateInit2(&z, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            abort();
        z.next_in = (Bytef *)p;
        z.avail_in = (uInt)n;
        z.next_out = out.data();
        z.avail_out = (uInt)out.size();
        if (deflate(&z, Z_FINISH) != Z_STREAM_END)
            abort();
        len = z.total_out;
        deflateEnd(&z);
        break;
    }
    case 2:
        len = ZSTD_compress(out.data(), out.size(), p, n, 3);
        if (ZSTD_isError(len))
            abort();
        break;
    case 3:
        if (lzma_easy_buffer_encode(0, LZMA_CHECK_CRC64, NULL, p, n, out.data(), &len, out.size()) != LZMA_OK)
            abort();
        break;
    case 4: {
        unsigned int blen = (unsigned int)out.size();
        if (BZ2_bzBuffToBuffCompress((char *)out.data(), &blen, (char *)p, (unsigned int)n, 1, 0, 0) != BZ_OK)
            abort();
        len = blen;
        break;
    }
    default:
        return std::vector<uint8_t>(p, p + n);
    }
    out.resize(len);
    return out;
}

/*
 * A stream the fuzzer wrote itself may decompress to far more than it fed
 * (a run of repeated blocks): such an input is passed over, so that a run
 * never takes longer than a log of UNPACKED_CAP bytes.  Measured with the
 * program's own reader.
 */
#define UNPACKED_CAP (8 * 1024 * 1024)

static bool unpacked_within_cap(const char *path)
{
    static uint8_t buf[1 << 20];
    MINER probe = {};
    uint64_t off = 0;
    ssize_t n;

    snprintf(probe.logfile, sizeof probe.logfile, "%s", path);
    probe.fd = -1;
    if (open_log(&probe) < 0) {
        close_log(&probe);
        return true;
    }
    while (off <= UNPACKED_CAP && (n = read_log(&probe, buf, sizeof buf, off)) > 0)
        off += (uint64_t)n;
    close_log(&probe);
    return off <= UNPACKED_CAP;
}

static const char *pack_input(const uint8_t *data, size_t size)
{
    static int fd = -1;
    static char path[64];

    if (fd < 0) {
        fd = memfd_create("quorvil-fuzz-packed", 0);
        if (fd < 0)
            abort();
        snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    }
    std::vector<uint8_t> bytes = size == 0 ? std::vector<uint8_t>() : pack_bytes(data[0], data + 1, size - 1);
    if (ftruncate(fd, 0) != 0)
        abort();
    for (size_t done = 0; done < bytes.size();) {
        ssize_t w = pwrite(fd, bytes.data() + done, bytes.size() - done, (off_t)done);
        if (w <= 0)
            abort();
        done += (size_t)w;
    }
    return size > 0 && data[0] > 4 && !unpacked_within_cap(path) ? NULL : path;
}

#endif
