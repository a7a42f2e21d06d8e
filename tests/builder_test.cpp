// Self-checks of the redo log builder: what it writes is decoded here with
// plain byte arithmetic, independent of the builder's own code.
#include "log_builder.h"
#include "run_quorvil.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using namespace qvtest;

namespace {

uint16_t le16(const Bytes& b, uint64_t off) { return uint16_t(b.at(off) | b.at(off + 1) << 8); }
uint32_t le32(const Bytes& b, uint64_t off)
{
    return uint32_t(b.at(off)) | uint32_t(b.at(off + 1)) << 8 | uint32_t(b.at(off + 2)) << 16 |
           uint32_t(b.at(off + 3)) << 24;
}

struct Found {
    uint64_t block;
    uint32_t offset;
    Bytes bytes;
};

// Walks a file image the way the reader does: start at block 2, take the
// first record offset from rba_byte, join records across blocks leaving out
// each 16-byte block header, and skip the tail of a block with < 24 bytes.
std::vector<Found> walk(const Bytes& img, uint64_t start_block = 2)
{
    const uint64_t b0 = le32(img, 20);
    const uint64_t bs = le32(img, b0 + 44);
    const uint64_t nblk = 1 + (img.size() - b0) / bs;  // whole blocks, block 0 included
    auto at = [&](uint64_t blk, uint64_t off) { return b0 + bs * (blk - 1) + off; };

    std::vector<Found> out;
    uint64_t blk = start_block;
    uint64_t ofs = 0;
    while (blk < nblk) {
        if (ofs == 0)
            ofs = le16(img, at(blk, 12)) & 0x7fff;
        if (ofs == 0 || le32(img, at(blk, ofs)) == 0) {
            blk++;
            ofs = 0;
            continue;
        }
        Found f{blk, uint32_t(ofs), {}};
        uint64_t rem = le32(img, at(blk, ofs));
        while (ofs + rem > bs) {
            f.bytes.insert(f.bytes.end(), img.begin() + at(blk, ofs), img.begin() + at(blk + 1, 0));
            rem -= bs - ofs;
            blk++;
            ofs = 16;
        }
        f.bytes.insert(f.bytes.end(), img.begin() + at(blk, ofs), img.begin() + at(blk, ofs + rem));
        ofs += rem;
        if (bs - ofs < 24) {
            blk++;
            ofs = 0;
        }
        out.push_back(std::move(f));
    }
    return out;
}

// A record of exactly n bytes (n a multiple of 4, >= 52) whose body is a
// counting pattern, so misplaced bytes show.
Bytes patterned_record(uint64_t scn, uint32_t n)
{
    Vector v = v_other(99, 1, {});
    Bytes body(n - 24 - 28);
    for (size_t i = 0; i < body.size(); i++)
        body[i] = uint8_t(i * 7 + 1);
    v.fields.push_back(body);
    Bytes r = encode_record(scn, {v});
    EXPECT_EQ(r.size(), n);
    return r;
}

}  // namespace

TEST(Builder, HeaderBlocks)
{
    LogOptions o;
    o.blk0_sz = 1024;
    o.blk_sz = 512;
    o.first_scn = (1ULL << 32) + 2;
    o.thread = 3;
    LogBuilder lb(o);
    Bytes img = lb.image();
    ASSERT_EQ(img.size(), 1024u + 512u);  // no record: the file ends after block 1
    EXPECT_EQ(le32(img, 20), 1024u);
    EXPECT_EQ(img[28], 0x7d);
    EXPECT_EQ(img[29], 0x7c);
    EXPECT_EQ(img[30], 0x7b);
    EXPECT_EQ(img[31], 0x7a);
    EXPECT_EQ(le32(img, 1024 + 44), 512u);
    EXPECT_EQ(le32(img, 1024 + 176), 3u);
    EXPECT_EQ(le32(img, 1024 + 180), 2u);
    EXPECT_EQ(le16(img, 1024 + 184), 1u);

    o.swap_endian_mark = true;
    Bytes sw = LogBuilder(o).image();
    EXPECT_EQ(sw[28], 0x7a);
    EXPECT_EQ(sw[31], 0x7d);
}

// What a real 11.2 log carries: every block numbered with its position and
// the log's sequence, every checksum holding (block 0's at offset 16), and
// block 1's redo header filled in; all at the offsets the published bytes
// of a real log show.  Written whole and in pieces alike.
TEST(Builder, WritesWhatARealLogCarries)
{
    LogOptions o;
    o.sequence = 157;
    o.first_scn = 13228212;
    o.dbname = "PROD";
    LogBuilder lb(o);
    lb.add(13228212, {v_begin({1, 2, 3}), v_other(11, 4, {Bytes(900, 0xab)})});  // blocks 2-4
    lb.add(13228300, {v_begin({1, 2, 4})});
    const Bytes img = lb.image();
    const uint64_t nblocks = (img.size() - 512) / 512;
    ASSERT_EQ(nblocks, 4u);

    EXPECT_EQ(block_xor(img.data(), 512), 0);
    EXPECT_NE(le16(img, 16), 0);
    EXPECT_EQ(le32(img, 24), nblocks);                      // declared blocks, block 0
    for (uint32_t b = 1; b <= nblocks; b++) {
        SCOPED_TRACE(b);
        const size_t at = lb.file_offset(b, 0);
        EXPECT_EQ(block_xor(img.data() + at, 512), 0);
        EXPECT_NE(le16(img, at + 14), 0);
        EXPECT_EQ(le32(img, at + 4), b);
        EXPECT_EQ(le32(img, at + 8), 157u);
    }
    const size_t b1 = 512;
    EXPECT_EQ(le32(img, b1 + 20), 0x0b200400u);
    EXPECT_EQ(std::string((const char*)&img[b1 + 28], 8), std::string("PROD\0\0\0\0", 8));
    EXPECT_EQ(le32(img, b1 + 40), nblocks);
    EXPECT_EQ(le16(img, b1 + 50), 2);                       // file type: a log
    EXPECT_EQ(std::string((const char*)&img[b1 + 92]),
              "Thread 0001, Seq# 0000000157, SCN 0x000000c9d8b4-0x000000c9d90d");
    EXPECT_EQ(le32(img, b1 + 156), nblocks + 1);            // next available block
    EXPECT_EQ(le32(img, b1 + 192), 13228301u);              // next SCN: past the highest record
    EXPECT_EQ(le32(img, b1 + 188), redo_time(2024, 1, 15, 9, 30, 0));

    // the real log's first-SCN time, by the calendar of 12 months of 31 days
    EXPECT_EQ(redo_time(2015, 9, 11, 17, 20, 34), 0x350eb0e2u);

    // the block records still go into is sealed as it is written out
    TempDir t;
    lb.write(t.path("a.log"));
    EXPECT_EQ(read_file(t.path("a.log")), std::string(img.begin(), img.end()));

    // without checksums, and with blocks too small for block 1's header, none is stored
    for (uint32_t bsz : {512u, 64u}) {
        LogOptions n;
        n.checksums = bsz != 512;
        n.blk_sz = bsz;
        LogBuilder nb(n);
        nb.add(5, {v_begin({1, 2, 3})});
        const Bytes ni = nb.image();
        for (uint32_t b = 1; b < nb.block_count(); b++)
            if (b == 1 || b >= nb.first_record_block()) {
                EXPECT_EQ(le16(ni, nb.file_offset(b, 14)), 0) << bsz << " block " << b;
            }
    }
}

TEST(Builder, VectorLayout)
{
    // Entries 6, 20, 5: length vector 24..29 padded to 32, field 1 at 32..51,
    // field 2 at 52..56 padded to 60.
    Vector v = v_other(11, 2, {Bytes(20, 0xaa), Bytes(5, 0xbb)});
    v.cls = 0x1234;
    Bytes e = encode_vector(v);
    ASSERT_EQ(e.size(), 60u);
    EXPECT_EQ(e[0], 11);
    EXPECT_EQ(e[1], 2);
    EXPECT_EQ(le16(e, 2), 0x1234);
    EXPECT_EQ(le16(e, 24), 6);
    EXPECT_EQ(le16(e, 26), 20);
    EXPECT_EQ(le16(e, 28), 5);
    EXPECT_EQ(le16(e, 30), 0);
    EXPECT_EQ(e[32], 0xaa);
    EXPECT_EQ(e[51], 0xaa);
    EXPECT_EQ(e[52], 0xbb);
    EXPECT_EQ(e[56], 0xbb);
    EXPECT_EQ(e[57], 0);
    EXPECT_EQ(e[59], 0);

    // An empty field takes no room; entry 0 = 2 with no fields gives 28 bytes.
    EXPECT_EQ(encode_vector(v_other(1, 1, {Bytes{}, Bytes(4, 1)})).size(), 24u + 8u + 0u + 4u);
    EXPECT_EQ(encode_vector(v_other(1, 1, {})).size(), 28u);

    // Overrides change numbers only.
    Vector d = v_other(1, 1, {Bytes(8, 1), Bytes(3, 2)});
    d.entry0 = 7;
    d.len_override = {std::nullopt, uint16_t(0xffff)};
    Bytes de = encode_vector(d);
    ASSERT_EQ(de.size(), 24u + 8u + 8u + 4u);
    EXPECT_EQ(le16(de, 24), 7);
    EXPECT_EQ(le16(de, 26), 8);
    EXPECT_EQ(le16(de, 28), 0xffff);
}

TEST(Builder, FieldLayouts)
{
    Bytes irp = kdo_irp(0x2c, {hex("c102"), std::nullopt, hex("61"), std::nullopt, Col{},
                               hex("01"), hex("02"), hex("03"), std::nullopt});
    ASSERT_EQ(irp.size(), 45u + 2u);
    EXPECT_EQ(irp[10], 2);
    EXPECT_EQ(irp[16], 0x2c);
    EXPECT_EQ(irp[18], 9);
    EXPECT_EQ(irp[45], 0x02 | 0x08 | 0x10);  // Col{} is NULL too
    EXPECT_EQ(irp[46], 0x01);

    Bytes urp = kdo_urp({std::nullopt, hex("aa")});
    ASSERT_EQ(urp.size(), 27u);
    EXPECT_EQ(urp[10], 5);
    EXPECT_EQ(urp[23], 2);
    EXPECT_EQ(urp[26], 0x01);

    // The two-column example row: 2c 00 02 02 c1 02 ff.
    EXPECT_EQ(qmi_row({hex("c102"), std::nullopt}), hex("2c00 02 02c102 ff"));
    EXPECT_EQ(qmi_row({hex("c102")}, true), hex("2c00 01 fe0200 c102"));
    EXPECT_EQ(qmi_row({Bytes(0xfe, 9)}).at(3), 0xfe);
    EXPECT_EQ(le16(qmi_row({Bytes(0xfe, 9)}), 4), 0xfe);
    EXPECT_EQ(qmi_row({Bytes(0xfd, 9)}).size(), 3u + 1u + 0xfdu);

    Vector q = v_qmi({{{hex("c102"), std::nullopt}, {}, false}, {{hex("61")}, uint16_t(9), false}});
    ASSERT_EQ(q.fields.size(), 4u);
    EXPECT_EQ(le16(q.fields[1], 18), 2);
    EXPECT_EQ(q.fields[2], hex("0700 0900"));
    EXPECT_EQ(q.fields[3], hex("2c000202c102ff 2c00 01 01 61"));

    Vector b = v_begin({3, 17, 245});
    EXPECT_EQ(b.cls, 21);
    EXPECT_EQ(le16(b.fields[0], 0), 17);
    EXPECT_EQ(le32(b.fields[0], 4), 245u);
    Vector c = v_commit({3, 17, 245}, 4);
    EXPECT_EQ(c.fields[0].size(), 20u);
    EXPECT_EQ(c.fields[0][16], 4);

    Vector u = v_undo_update({3, 17, 245}, 812, 813, {0, 2}, {hex("c102"), std::nullopt},
                             Supp{{1}, {hex("abcd")}});
    ASSERT_EQ(u.fields.size(), 3u + 1 + 1 + 2 + 4);
    EXPECT_EQ(le16(u.fields[0], 8), 3);
    EXPECT_EQ(le16(u.fields[0], 10), 17);
    EXPECT_EQ(le32(u.fields[0], 12), 245u);
    EXPECT_EQ(le32(u.fields[1], 0), 812u);
    EXPECT_EQ(le32(u.fields[1], 4), 813u);
    EXPECT_EQ(u.fields[1][16], 11);
    EXPECT_EQ(u.fields[4], hex("0000 0200"));
    EXPECT_TRUE(u.fields[6].empty());
    EXPECT_EQ(le16(u.fields[7], 2), 1);
    EXPECT_EQ(u.fields[9], hex("0200"));
    EXPECT_EQ(u.fields[10], hex("abcd"));

    Vector d = v_ddl({3, 17, 245}, 812, "create table t1 (a number)", "T1");
    ASSERT_EQ(d.fields.size(), 10u);
    EXPECT_EQ(le16(d.fields[0], 4), 3);
    EXPECT_EQ(le32(d.fields[3], 4), 812u);
    EXPECT_EQ(d.fields[7], str("create table t1 (a number)"));
    EXPECT_EQ(d.fields[9], str("T1"));
}

TEST(Builder, RecordHeader)
{
    uint64_t scn = (7ULL << 32) | 0x01020304;
    Bytes s = encode_record(scn, {v_begin({1, 2, 3})});
    EXPECT_EQ(le32(s, 0), s.size());
    EXPECT_EQ(s.size(), 24u + 24u + 4u + 32u);
    EXPECT_EQ(s[4] & 0x04, 0);
    EXPECT_EQ(le16(s, 6), 7);
    EXPECT_EQ(le32(s, 8), 0x01020304u);
    EXPECT_EQ(s[24], 5);  // first vector right after the short header

    Bytes l = encode_record(scn, {}, true);
    ASSERT_EQ(l.size(), 68u);
    EXPECT_EQ(le32(l, 0), 68u);
    EXPECT_EQ(l[4] & 0x04, 0x04);
    EXPECT_EQ(le16(l, 6), 7);
    EXPECT_EQ(le32(l, 8), 0x01020304u);
}

TEST(Builder, RecordOverThreeBlocks)
{
    LogOptions o;
    o.blk_sz = 256;
    LogBuilder lb(o);
    // 240 bytes in block 2 (16..255), 240 in block 3, 20 in block 4 (16..35).
    Bytes r1 = patterned_record(10, 500);
    Bytes r2 = patterned_record(11, 64);
    auto p1 = lb.add_record(r1);
    auto p2 = lb.add_record(r2);
    EXPECT_EQ(p1.block, 2u);
    EXPECT_EQ(p1.offset, 16u);
    EXPECT_EQ(p2.block, 4u);
    EXPECT_EQ(p2.offset, 36u);

    Bytes img = lb.image();
    const uint64_t blk2 = 512 + 256, blk3 = 512 + 512, blk4 = 512 + 768;
    ASSERT_EQ(img.size(), 512u + 256u * 4);  // blocks 0..4
    EXPECT_EQ(lb.file_offset(3, 16), blk3 + 16);
    // Bytes at their file offsets, block headers in between.
    EXPECT_TRUE(std::equal(r1.begin(), r1.begin() + 240, img.begin() + blk2 + 16));
    EXPECT_TRUE(std::equal(r1.begin() + 240, r1.begin() + 480, img.begin() + blk3 + 16));
    EXPECT_TRUE(std::equal(r1.begin() + 480, r1.end(), img.begin() + blk4 + 16));
    EXPECT_TRUE(std::equal(r2.begin(), r2.end(), img.begin() + blk4 + 36));
    // rba_byte: 16 where r1 begins, 0 in the pure continuation block, and
    // 36 in block 4 where r2 begins after r1's tail.
    EXPECT_EQ(le16(img, blk2 + 12), 16);
    EXPECT_EQ(le16(img, blk3 + 12), 0);
    EXPECT_EQ(le16(img, blk4 + 12), 36);
    EXPECT_EQ(le32(img, blk3 + 4), 3u);  // rba_blk
    EXPECT_EQ(img[blk3], 0x01);
    // The rest of the last block is zero.
    for (uint64_t i = blk4 + 100; i < img.size(); i++)
        ASSERT_EQ(img[i], 0) << i;

    auto recs = walk(img);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].bytes, r1);
    EXPECT_EQ(recs[1].bytes, r2);
}

TEST(Builder, TailRule)
{
    LogOptions o;
    o.blk_sz = 256;
    {
        // Ends at 236: 20 bytes left, the next record starts in the next block.
        LogBuilder lb(o);
        lb.add_record(patterned_record(1, 220));
        auto p = lb.add_record(patterned_record(2, 52));
        EXPECT_EQ(p.block, 3u);
        EXPECT_EQ(p.offset, 16u);
        Bytes img = lb.image();
        EXPECT_EQ(le16(img, 512 + 256 * 2 + 12), 16);
        EXPECT_EQ(walk(img).size(), 2u);
    }
    {
        // Ends at 232: exactly 24 left, the next record follows in place.
        LogBuilder lb(o);
        lb.add_record(patterned_record(1, 216));
        auto p = lb.add_record(patterned_record(2, 52));
        EXPECT_EQ(p.block, 2u);
        EXPECT_EQ(p.offset, 232u);
        // 24 bytes in block 2, the other 28 in block 3 at 16..43.
        Bytes img = lb.image();
        EXPECT_EQ(img.size(), 512u + 256u * 3);
        EXPECT_EQ(le16(img, 512 + 256 * 2 + 12), 0);
        auto recs = walk(img);
        ASSERT_EQ(recs.size(), 2u);
        EXPECT_EQ(recs[1].offset, 232u);
    }
    {
        // Ends exactly at the end of the block.
        LogBuilder lb(o);
        lb.add_record(patterned_record(1, 240));
        EXPECT_EQ(lb.image().size(), 512u + 256u * 2);
        auto p = lb.add_record(patterned_record(2, 52));
        EXPECT_EQ(p.block, 3u);
        EXPECT_EQ(p.offset, 16u);
        auto recs = walk(lb.image());
        ASSERT_EQ(recs.size(), 2u);
        EXPECT_EQ(recs[1].block, 3u);
    }
}

TEST(Builder, PositioningAndOptions)
{
    LogOptions o;
    o.blk_sz = 256;
    o.set_top_bit = true;
    LogBuilder lb(o);
    lb.pad_to_offset(40);
    auto p1 = lb.add_record(patterned_record(1, 52));
    lb.next_block();
    lb.next_block();  // nothing in the new block yet: no effect
    auto p2 = lb.add_record(patterned_record(2, 52));
    lb.add_empty_blocks(2);
    auto p3 = lb.add_record(patterned_record(3, 52));
    lb.set_stray_tail(5);
    EXPECT_EQ(p1.block, 2u);
    EXPECT_EQ(p1.offset, 40u);
    EXPECT_EQ(p2.block, 3u);
    EXPECT_EQ(p2.offset, 16u);
    EXPECT_EQ(p3.block, 6u);

    Bytes img = lb.image();
    ASSERT_EQ(img.size(), 512u + 256u * 6 + 5);
    EXPECT_EQ(le16(img, lb.file_offset(2, 12)), 0x8000 | 40);
    EXPECT_EQ(le16(img, lb.file_offset(4, 12)), 0x8000);
    EXPECT_EQ(le16(img, lb.file_offset(5, 12)), 0x8000);
    EXPECT_EQ(le16(img, lb.file_offset(6, 12)), 0x8000 | 16);
    EXPECT_EQ(img[img.size() - 1], 0x5a);
    auto recs = walk(img);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[2].block, 6u);
}

TEST(Builder, SmallBlocksLeaveRoomForTheRedoHeader)
{
    LogOptions o;
    o.blk0_sz = 512;
    o.blk_sz = 40;
    o.first_scn = 0x123456789aULL;
    LogBuilder lb(o);
    EXPECT_EQ(lb.first_record_block(), 7u);  // 6 blocks of 40 cover the 208 bytes
    Bytes r = patterned_record(5, 200);
    auto p = lb.add_record(r);
    EXPECT_EQ(p.block, 7u);
    Bytes img = lb.image();
    EXPECT_EQ(le32(img, 512 + 44), 40u);
    EXPECT_EQ(le32(img, 512 + 180), 0x3456789au);
    EXPECT_EQ(le16(img, 512 + 184), 0x12);
    auto recs = walk(img);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].block, 7u);
    EXPECT_EQ(recs[0].bytes, r);
}

TEST(Builder, BigRecordBigBlocks)
{
    LogOptions o;
    o.blk0_sz = 1024;
    o.blk_sz = 4 * 1024 * 1024;
    LogBuilder lb(o);
    std::vector<Vector> vecs;
    for (int i = 0; i < 400; i++)  // about 26 MB
        vecs.push_back(v_other(11, 99, {Bytes(65535, uint8_t(i))}));
    Bytes r = encode_record(99, vecs);
    ASSERT_GT(r.size(), 26'000'000u);
    lb.add_record(r);
    lb.add_record(patterned_record(100, 64));
    auto recs = walk(lb.image());
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_TRUE(recs[0].bytes == r);
}

TEST(Builder, SparseFileWithHole)
{
    TempDir td;
    LogOptions o;
    LogBuilder lb(o);
    Bytes r1 = patterned_record(1, 64);
    Bytes r2 = patterned_record(2, 600);
    lb.add_record(r1);
    const uint64_t hole = (5ULL << 30) / 512;  // 5 GiB of zero blocks
    lb.add_hole_blocks(hole);
    auto p = lb.add_record(r2);
    EXPECT_EQ(p.block, 3u + hole);
    EXPECT_THROW(lb.image(), std::length_error);

    const std::string path = td.path("big.log");
    lb.write(path);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), lb.file_size());
    EXPECT_EQ(uint64_t(st.st_size), 512 + 512 * (uint64_t(p.block) + 1));  // record ends in p.block + 1
    EXPECT_LT(uint64_t(st.st_blocks) * 512, 64u << 20);          // it really is sparse

    const uint64_t off = lb.file_offset(p.block, 16);
    EXPECT_GT(off, 1ULL << 32);
    int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    Bytes got(512 - 16);
    ASSERT_EQ(::pread(fd, got.data(), got.size(), off), ssize_t(got.size()));
    Bytes hdr(16);
    ASSERT_EQ(::pread(fd, hdr.data(), 16, off - 16), 16);
    Bytes zero(16);
    ASSERT_EQ(::pread(fd, zero.data(), 16, off - 512), 16);  // inside the hole
    ::close(fd);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), r2.begin()));
    EXPECT_EQ(le16(hdr, 12), 16);
    EXPECT_EQ(zero, Bytes(16, 0));

    // A small hole also comes out of image().
    LogBuilder small(o);
    small.add_record(r1);
    small.add_hole_blocks(3);
    small.add_record(r1);
    Bytes img = small.image();
    ASSERT_EQ(img.size(), 512u + 512u * 6);
    auto recs = walk(img);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[1].block, 6u);
    const std::string p2 = td.path("small.log");
    small.write(p2);
    int fd2 = ::open(p2.c_str(), O_RDONLY);
    ASSERT_GE(fd2, 0);
    Bytes back(img.size() + 1);
    EXPECT_EQ(::read(fd2, back.data(), back.size()), ssize_t(img.size()));
    ::close(fd2);
    back.resize(img.size());
    EXPECT_EQ(back, img);
}

TEST(Builder, TempDirGoesAway)
{
    std::string dir;
    {
        TempDir td;
        dir = td.dir();
        LogBuilder::write_file(td.path("x"), hex("0102"));
        struct stat st{};
        ASSERT_EQ(::stat(td.path("x").c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 2);
    }
    struct stat st{};
    EXPECT_NE(::stat(dir.c_str(), &st), 0);
}

// Writing a log in pieces as it grows gives the same file as writing it whole:
// flushes between records that end mid-block, at a block end and over blocks,
// with an empty block and a hole in between.
TEST(Builder, FlushedInPiecesSameAsWhole)
{
    const Bytes big(1500, 0x33), small(40, 0x44);
    auto build = [&](LogBuilder& lb, const std::function<void()>& flush) {
        lb.add(10, {v_other(11, 4, {small})});
        flush();
        lb.add(11, {v_other(11, 4, {big})});
        flush();
        lb.add_empty_blocks(2);
        lb.add(12, {v_other(11, 4, {small})});
        lb.add_hole_blocks(3);
        flush();
        lb.add(13, {v_other(11, 4, {big})});
        flush();
        flush();
        lb.add(14, {v_other(11, 4, {small})});
    };

    TempDir td;
    LogBuilder whole;
    build(whole, [] {});
    whole.write(td.path("whole.log"));

    LogBuilder pieces;
    const std::string path = td.path("pieces.log");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    build(pieces, [&] { pieces.flush_blocks(fd, path); });
    pieces.write_to(fd, path);
    ::close(fd);

    const std::string a = read_file(td.path("whole.log")), b = read_file(path);
    EXPECT_EQ(a.size(), whole.file_size());
    EXPECT_TRUE(a == b) << "sizes " << a.size() << " and " << b.size();
}
