/*
 * pack_file.cpp - pack_file: a file compressed into FILE.gz, .zst, .xz or
 * .bz2 in 1 MiB steps, so memory stays flat whatever its size.  The
 * compressed file is written under its own name first and the original
 * removed only once it is whole.
 */
#include "pack_file.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kStep = 1 << 20;

const Packing kPackings[] = {
    {"gz", PackKind::GZIP}, {"zst", PackKind::ZSTD}, {"xz", PackKind::XZ}, {"bz2", PackKind::BZIP2}};

[[noreturn]] void fail(const std::string& what, const std::string& path, const std::string& why)
{
    throw std::runtime_error(what + " " + path + ": " + why);
}

struct Files {
    FILE* in = nullptr;
    FILE* out = nullptr;
    ~Files()
    {
        if (in)
            std::fclose(in);
        if (out)
            std::fclose(out);
    }
};

void put(FILE* out, const void* p, size_t n, const std::string& path)
{
    if (n > 0 && std::fwrite(p, 1, n, out) != n)
        fail("write", path, std::strerror(errno));
}

// Reads the next step of the input into buf; 0 at its end.
size_t take(FILE* in, std::vector<char>& buf, const std::string& path)
{
    size_t n = std::fread(buf.data(), 1, buf.size(), in);
    if (n == 0 && std::ferror(in))
        fail("read", path, std::strerror(errno));
    return n;
}

void gzip_stream(Files& f, const std::string& src, const std::string& dst)
{
    std::vector<char> in(kStep), out(kStep);
    z_stream z{};
    // 15 + 16: a gzip header and trailer around the deflate stream
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        fail("gzip", dst, "cannot start the stream");
    std::unique_ptr<z_stream, int (*)(z_stream*)> end(&z, deflateEnd);
    int flush;
    do {
        size_t n = take(f.in, in, src);
        flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = reinterpret_cast<Bytef*>(in.data());
        z.avail_in = uInt(n);
        do {
            z.next_out = reinterpret_cast<Bytef*>(out.data());
            z.avail_out = uInt(out.size());
            if (deflate(&z, flush) == Z_STREAM_ERROR)
                fail("gzip", dst, "stream error");
            put(f.out, out.data(), out.size() - z.avail_out, dst);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
}

void zstd_stream(Files& f, const std::string& src, const std::string& dst)
{
    std::vector<char> in(kStep), out(ZSTD_CStreamOutSize());
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> cc(ZSTD_createCCtx(), ZSTD_freeCCtx);
    if (!cc)
        fail("zstd", dst, "cannot start the stream");
    bool last;
    do {
        size_t n = take(f.in, in, src);
        last = n == 0;
        ZSTD_inBuffer ib{in.data(), n, 0};
        size_t left;
        do {
            ZSTD_outBuffer ob{out.data(), out.size(), 0};
            left = ZSTD_compressStream2(cc.get(), &ob, &ib, last ? ZSTD_e_end : ZSTD_e_continue);
            if (ZSTD_isError(left))
                fail("zstd", dst, ZSTD_getErrorName(left));
            put(f.out, out.data(), ob.pos, dst);
        } while (last ? left != 0 : ib.pos < ib.size);
    } while (!last);
}

void xz_stream(Files& f, const std::string& src, const std::string& dst)
{
    std::vector<char> in(kStep), out(kStep);
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_easy_encoder(&z, 6, LZMA_CHECK_CRC64) != LZMA_OK)
        fail("xz", dst, "cannot start the stream");
    std::unique_ptr<lzma_stream, void (*)(lzma_stream*)> end(&z, lzma_end);
    lzma_action action;
    lzma_ret r;
    do {
        size_t n = take(f.in, in, src);
        action = n == 0 ? LZMA_FINISH : LZMA_RUN;
        z.next_in = reinterpret_cast<uint8_t*>(in.data());
        z.avail_in = n;
        do {
            z.next_out = reinterpret_cast<uint8_t*>(out.data());
            z.avail_out = out.size();
            r = lzma_code(&z, action);
            if (r != LZMA_OK && r != LZMA_STREAM_END)
                fail("xz", dst, "error " + std::to_string(int(r)));
            put(f.out, out.data(), out.size() - z.avail_out, dst);
        } while (z.avail_out == 0 || (action == LZMA_FINISH && r != LZMA_STREAM_END));
    } while (action != LZMA_FINISH);
}

void bzip2_stream(Files& f, const std::string& src, const std::string& dst)
{
    std::vector<char> in(kStep);
    int err;
    BZFILE* bz = BZ2_bzWriteOpen(&err, f.out, 9, 0, 0);
    if (err != BZ_OK)
        fail("bzip2", dst, "cannot start the stream");
    size_t n;
    while ((n = take(f.in, in, src)) > 0) {
        BZ2_bzWrite(&err, bz, in.data(), int(n));
        if (err != BZ_OK) {
            BZ2_bzWriteClose(&err, bz, 1, nullptr, nullptr);
            fail("bzip2", dst, "write error");
        }
    }
    BZ2_bzWriteClose(&err, bz, 0, nullptr, nullptr);
    if (err != BZ_OK)
        fail("bzip2", dst, "write error");
}

}  // namespace

const Packing* packing_named(const std::string& name)
{
    for (const Packing& p : kPackings)
        if (name == p.name)
            return &p;
    return nullptr;
}

void pack_file(const std::string& path, const Packing& p)
{
    const std::string dst = path + "." + p.name;
    {
        Files f;
        if ((f.in = std::fopen(path.c_str(), "rb")) == nullptr)
            fail("open", path, std::strerror(errno));
        if ((f.out = std::fopen(dst.c_str(), "wb")) == nullptr)
            fail("open", dst, std::strerror(errno));
        try {
            switch (p.kind) {
            case PackKind::GZIP: gzip_stream(f, path, dst); break;
            case PackKind::ZSTD: zstd_stream(f, path, dst); break;
            case PackKind::XZ: xz_stream(f, path, dst); break;
            case PackKind::BZIP2: bzip2_stream(f, path, dst); break;
            }
            FILE* out = f.out;
            f.out = nullptr;
            if (std::fclose(out) != 0)
                fail("close", dst, std::strerror(errno));
        } catch (...) {
            ::unlink(dst.c_str());
            throw;
        }
    }
    if (::unlink(path.c_str()) != 0)
        fail("remove", path, std::strerror(errno));
}
