/*
 * check_block.cpp - block checksums, what a block of the log is, and the
 * texts of block 1's version and times.
 *
 * Every block from block 1 on stores in its header a checksum chosen so that
 * the XOR of all the block's 16-bit words is 0; a stored 0 means the block
 * was written without one.  check_block holds quorvil's blocks to that, once
 * block 1 has shown the log's checksums can be trusted (read_header): a block
 * whose checksum fails, or holds under another block number, is damage; its
 * records are still decoded, and the run ends with status 255.
 */
#include "quorvil.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

/* XOR of the 16-bit words of len bytes (a last odd byte is not a word):
 * 0 when a block's stored checksum holds.  Sixteen bytes at a time where the
 * processor has SSE2, eight otherwise, folded at the end; on a little-endian
 * host that is the same XOR. */
uint16_t block_checksum(const uint8_t *blk, uint32_t len)
{
    uint64_t a = 0, w;
    uint32_t i = 0;

#ifdef __SSE2__
    __m128i x0 = _mm_setzero_si128(), x1 = x0, x2 = x0, x3 = x0;

    for (; i + 64 <= len; i += 64) {
        x0 = _mm_xor_si128(x0, _mm_loadu_si128((const __m128i *)(blk + i)));
        x1 = _mm_xor_si128(x1, _mm_loadu_si128((const __m128i *)(blk + i + 16)));
        x2 = _mm_xor_si128(x2, _mm_loadu_si128((const __m128i *)(blk + i + 32)));
        x3 = _mm_xor_si128(x3, _mm_loadu_si128((const __m128i *)(blk + i + 48)));
    }
    x0 = _mm_xor_si128(_mm_xor_si128(x0, x1), _mm_xor_si128(x2, x3));
    uint64_t lanes[2];
    _mm_storeu_si128((__m128i *)lanes, x0);
    a = lanes[0] ^ lanes[1];
#endif
    for (; i + 8 <= len; i += 8) {
        memcpy(&w, blk + i, 8);
        a ^= w;
    }
    a ^= a >> 32;
    a ^= a >> 16;
    uint16_t x = (uint16_t)a;
    for (; i + 2 <= len; i += 2)
        x ^= read_u16(blk + i);
    return x;
}

static bool all_zero(const uint8_t *p, uint32_t len)
{
    for (uint32_t i = 0; i < len; i++)
        if (p[i] != 0)
            return false;
    return true;
}

/*
 * What block blkno of a log of sequence seq is, from its own bytes.  The
 * order settles blocks that are more than one thing: a block of zeros was
 * never written; a failed checksum makes every other header field suspect;
 * then the number, then the sequence.
 */
BLOCK_CLASS classify_block(const uint8_t *blk, uint32_t len, uint32_t blkno, uint32_t seq)
{
    REDO_BH bh;

    read_layout(&bh, blk, sizeof bh);
    if (bh.chkval == 0 && bh.rba_blk == 0 && all_zero(blk, len))
        return BLOCK_UNWRITTEN;
    if (bh.chkval != 0 && block_checksum(blk, len) != 0)
        return BLOCK_BAD_CHECKSUM;
    if (bh.rba_blk != blkno)
        return BLOCK_MISPLACED;
    if (bh.rba_sqn != seq)
        return BLOCK_STALE;
    if (bh.chkval == 0)
        return BLOCK_UNCHECKED;
    return BLOCK_INTACT;
}

/*
 * Checks block i of the chunk in the read buffer, when the log's checksums
 * can be trusted.  A block with a stored checksum of 0 is not checked.
 */
void check_block(MINER *mnr, int i)
{
    const uint32_t bsz = (uint32_t)mnr->blk_sz;
    const uint8_t *blk = mnr->rbuf + (size_t)i * bsz;
    const uint32_t blkno = (uint32_t)mnr->curr_blk + (uint32_t)i;
    const int64_t rec_blk = mnr->rec_blk;
    uint32_t named;

    if (read_u16(blk + offsetof(REDO_BH, chkval)) == 0)
        return;
    mnr->rec_blk = blkno;
    named = read_u32(blk + offsetof(REDO_BH, rba_blk));
    if (block_checksum(blk, bsz) != 0)
        note_damage(mnr, "block checksum does not hold; what the block holds is decoded but may be wrong");
    else if (named != blkno)
        note_damage(mnr, "block header names block %u; what the block holds is decoded but may be wrong", named);
    mnr->rec_blk = rec_blk;
}

/* A time of block 1: seconds in a calendar of 12 months of 31 days from
 * 1988-01-01 00:00:00, written YYYY-MM-DD HH:MM:SS as stored (no zone). */
void format_redo_time(uint32_t t, char *buf, size_t n)
{
    unsigned sec = t % 60, min = (t /= 60) % 60, hour = (t /= 60) % 24;
    unsigned day = (t /= 24) % 31 + 1, mon = (t /= 31) % 12 + 1, year = t / 12 + 1988;

    snprintf(buf, n, "%04u-%02u-%02u %02u:%02u:%02u", year, mon, day, hour, min, sec);
}

/* The compatibility version as dotted text: 0x0b200400 is 11.2.0.4.0. */
void format_compat(uint32_t v, char *buf, size_t n)
{
    snprintf(buf, n, "%u.%u.%u.%u.%u", v >> 24, (v >> 20) & 0xf, (v >> 16) & 0xf, (v >> 8) & 0xff, v & 0xff);
}

/* Is the version later than the 11.2 logs whose layouts quorvil knows? */
bool compat_after_11_2(uint32_t v)
{
    unsigned major = v >> 24, minor = (v >> 20) & 0xf;

    return major > 11 || (major == 11 && minor > 2);
}
