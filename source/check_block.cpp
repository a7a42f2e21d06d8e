/*
 * check_block.cpp - block checksums, and the one judgment of a block that
 * quorvil and quorvil-info share.
 *
 * Every block stores in its header a checksum chosen so that the XOR of all
 * the block's 16-bit words is 0; a stored 0 means the block was written
 * without one.  A log has checksums when block 0's or block 1's stored
 * checksum is not 0 and holds; then every block is held to its checksum.
 * When block 1 is also intact, its sequence is the log's, and a block of
 * another sequence, or of zeros, is not the log's own.
 */
#include "quorvil.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

/* XOR of the 16-bit words of len bytes (a last odd byte is not a word):
 * 0 when a block's stored checksum holds.  128 bytes at a time where the
 * processor has SSE2, eight otherwise, folded at the end; on a little-endian
 * host that is the same XOR.  Every block of a log with checksums goes
 * through here, so the loop is kept short. */
uint16_t block_checksum(const uint8_t *blk, uint32_t len)
{
    uint64_t a = 0, w;
    uint32_t i = 0;

#ifdef __SSE2__
#define LOAD(off) _mm_loadu_si128((const __m128i *)(blk + i + (off)))
    __m128i x0 = _mm_setzero_si128(), x1 = x0, x2 = x0, x3 = x0;

    for (; i + 128 <= len; i += 128) {
        x0 = _mm_xor_si128(x0, _mm_xor_si128(LOAD(0), LOAD(64)));
        x1 = _mm_xor_si128(x1, _mm_xor_si128(LOAD(16), LOAD(80)));
        x2 = _mm_xor_si128(x2, _mm_xor_si128(LOAD(32), LOAD(96)));
        x3 = _mm_xor_si128(x3, _mm_xor_si128(LOAD(48), LOAD(112)));
    }
    for (; i + 16 <= len; i += 16)
        x0 = _mm_xor_si128(x0, LOAD(0));
#undef LOAD
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
    uint16_t r = (uint16_t)a;
    for (; i + 2 <= len; i += 2)
        r ^= read_u16(blk + i);
    return r;
}

const BLOCK_CLASS_TEXT block_class_text[BLOCK_CLASSES] = {
    {"intact", "intact_blocks", "intact"},
    {"stale", "stale_blocks", "stale (written for an older sequence)"},
    {"never written", "unwritten_blocks", "never written (all zeros)"},
    {"misplaced", "misplaced_blocks", "misplaced (its header names another block)"},
    {"checksum mismatch", "bad_checksum_blocks", "checksum mismatch (the block's checksum does not hold)"},
    {"unchecked", "unchecked_blocks", "unchecked (no checksum stored)"},
    {"later sequence", "later_sequence_blocks", "of a later sequence (not this log's)"},
};

/* Are all len bytes 0?  The first byte, then the block against itself one
 * byte on: memcmp runs at memory speed where a byte loop would not. */
bool block_is_zero(const uint8_t *blk, uint32_t len)
{
    return len == 0 || (blk[0] == 0 && memcmp(blk, blk + 1, len - 1) == 0);
}

/*
 * What block blkno is, from its own bytes; seq is the log's sequence when
 * seq_known.  The order settles blocks that are more than one thing: a
 * block of zeros was never written; a failed checksum makes every other
 * header field suspect; then the number, then the sequence.  A stored 0 is
 * also the right checksum of one block in 65,536: when the XOR holds with
 * it, the block is checked and whole.
 */
BLOCK_CLASS classify_block(const uint8_t *blk, uint32_t len, uint32_t blkno, uint32_t seq, bool seq_known)
{
    REDO_BH bh;
    bool holds;

    read_layout(&bh, blk, sizeof bh);
    if (bh.chkval == 0 && bh.rba_blk == 0 && block_is_zero(blk, len))
        return BLOCK_UNWRITTEN;
    holds = block_checksum(blk, len) == 0;
    if (bh.chkval != 0 && !holds)
        return BLOCK_BAD_CHECKSUM;
    if (bh.rba_blk != blkno)
        return BLOCK_MISPLACED;
    if (seq_known && bh.rba_sqn < seq)
        return BLOCK_STALE;
    if (seq_known && bh.rba_sqn > seq)
        return BLOCK_LATER;
    return holds ? BLOCK_INTACT : BLOCK_UNCHECKED;
}

/* Block 0 has a header of its own, with its checksum at offset 16. */
BLOCK_CLASS classify_block0(const uint8_t *blk, uint32_t len)
{
    if (block_checksum(blk, len) == 0)
        return BLOCK_INTACT;
    return read_u16(blk + BLOCK0_CHECKSUM_OFFSET) == 0 ? BLOCK_UNCHECKED : BLOCK_BAD_CHECKSUM;
}

/*
 * Was the log written with checksums?  Yes when block 0's or block 1's
 * stored checksum is not 0 and holds: a checksum that holds by chance is one
 * in 65,536, two stored zeros are a log written without.  Either block may
 * be NULL: not in memory, or not whole in the file.
 */
bool log_has_checksums(const uint8_t *blk0, uint32_t len0, const uint8_t *blk1, uint32_t len1)
{
    if (blk0 != NULL && read_u16(blk0 + BLOCK0_CHECKSUM_OFFSET) != 0 && block_checksum(blk0, len0) == 0)
        return true;
    return blk1 != NULL && read_u16(blk1 + offsetof(REDO_BH, chkval)) != 0 && block_checksum(blk1, len1) == 0;
}

/*
 * The judgment of block blkno (1 or more) of the open log, as read_header
 * left the run context: nothing is checked in a log without checksums, and
 * the sequence only when block 1 can be trusted.  With blocks under 208
 * bytes, block 1's header runs on into the next blocks, which hold no block
 * header of their own and are not judged either.
 */
BLOCK_CLASS judge_block(const MINER *mnr, const uint8_t *blk, uint32_t blkno)
{
    const uint32_t bsz = (uint32_t)mnr->blk_sz;

    if (!mnr->csum)
        return BLOCK_UNCHECKED;
    // (blkno - 1) * bsz < 208, without a division on every block
    if (bsz < sizeof(REDO_BLOCK1) && blkno > 1 && (uint64_t)(blkno - 1) * bsz < sizeof(REDO_BLOCK1))
        return BLOCK_UNCHECKED;
    return classify_block(blk, bsz, blkno, mnr->seq, mnr->hdr_trusted);
}
