// Record assembly and the block reader: records found by the block headers
// and their own lengths, joined over block and chunk boundaries, long
// records, the end of the file, and damaged offsets and lengths.
#include "mined.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qvtest;

namespace {

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = uint8_t(seed + i * 13);
    return b;
}

// A vector of opcode 99.1 (no handler) of exactly `size` bytes, a multiple
// of 4 and at least 28, its fields at most 65532 bytes each.
Vector filler(uint32_t size)
{
    for (uint32_t k = 1;; k++) {
        const int64_t payload = int64_t(size) - 24 - align4(2 * (k + 1));
        if (payload < 0)
            throw std::invalid_argument("filler: too small");
        if (payload > int64_t(k) * 65532)
            continue;
        std::vector<Bytes> fields;
        int64_t left = payload;
        for (uint32_t i = 0; i < k; i++) {
            const int64_t n = std::min<int64_t>(left, 65532);
            fields.push_back(pattern(size_t(n), uint8_t(i)));
            left -= n;
        }
        Vector v = v_other(99, 1, fields);
        if (vector_size(v) != size)
            throw std::logic_error("filler: size mismatch");
        return v;
    }
}

std::string start_line(uint64_t scn, int usn, int slt, int sqn)
{
    return std::to_string(scn) + "," + std::to_string(usn) + "," + std::to_string(slt) + "," +
           std::to_string(sqn) + ",0,0,,START,set transaction read write;\n";
}

// START, the insert of one column holding `value` into object 4242, COMMIT:
// the value and the vectors after it show any misplaced byte.
std::vector<Vector> insert_transaction(Xid x, const Bytes& value)
{
    return {v_begin(x), v_undo_insert(x, 4242, 4243), v_insert({value}), v_commit(x)};
}

std::string insert_transaction_csv(uint64_t scn, Xid x, const Bytes& value)
{
    const std::string xid = std::to_string(x.usn) + "," + std::to_string(x.slt) + "," + std::to_string(x.sqn);
    const std::string s = std::to_string(scn);
    return s + "," + xid + ",0,0,,START,set transaction read write;\n" + s + "," + xid +
           ",4242,4243,OBJ# 4242,INSERT,\"insert into \"\"UNKNOWN\"\".\"\"OBJ# 4242\"\" (\"\"COL 1\"\") values "
           "(HEXTORAW('" +
           hexstr(value) + "'));\"\n" + s + "," + xid + ",0,0,,COMMIT,commit;\n";
}

}  // namespace

// Records running over two, three and many blocks: the assembled record
// holds none of the continuation blocks' headers.
TEST(Assembly, RecordsOverSeveralBlocks)
{
    const struct {
        uint32_t blk_sz;
        size_t value;  // bytes of the inserted column
        uint32_t blocks;  // blocks the record touches
    } cases[] = {{512, 300, 2}, {512, 900, 3}, {512, 5000, 11}, {1024, 2000, 3}, {40, 200, 22}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.blk_sz) + "/" + std::to_string(c.value));
        LogOptions o;
        o.blk_sz = c.blk_sz;
        LogBuilder lb(o);
        const Bytes value = pattern(c.value, 7);
        const auto first = lb.add(10, insert_transaction({3, 4, 5}, value));
        const auto after = lb.add(11, {v_begin({6, 7, 8})});
        ASSERT_EQ(after.block - first.block + (after.offset == 16 ? 0 : 1), c.blocks);
        Mined m = mine(lb.image());
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        EXPECT_EQ(m.csv, kCsvHeader + insert_transaction_csv(10, {3, 4, 5}, value) + start_line(11, 6, 7, 8));
    }
}

// With 512-byte blocks a chunk is 8192 blocks: the first holds blocks
// 2..8193, the second begins at block 8194.
TEST(Assembly, ChunkBoundary)
{
    const Bytes value = pattern(600, 1);
    {
        SCOPED_TRACE("record from block 8193 into 8194");
        LogBuilder lb;
        lb.add(10, {v_begin({1, 1, 1})});
        lb.add_empty_blocks(8190);
        const auto p = lb.add(20, insert_transaction({2, 2, 2}, value));
        ASSERT_EQ(p.block, 8193u);
        ASSERT_EQ(lb.position().block, 8194u);
        lb.add(30, {v_begin({3, 3, 3})});
        Mined m = mine(lb.image());
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        EXPECT_EQ(m.csv, kCsvHeader + start_line(10, 1, 1, 1) + insert_transaction_csv(20, {2, 2, 2}, value) +
                             start_line(30, 3, 3, 3));
    }
    {
        SCOPED_TRACE("record ending 20 bytes before the end of block 8193");
        LogBuilder lb;
        lb.add_empty_blocks(8191);
        // 24 + 60 + 392 = 476 bytes at offset 16: the record ends at 492
        const auto p = lb.add(20, {v_begin({2, 2, 2}), filler(392)});
        ASSERT_EQ(p.block, 8193u);
        ASSERT_EQ(lb.position().block, 8194u);
        lb.add(30, {v_begin({3, 3, 3})});
        Bytes log = lb.image();
        for (uint32_t i = 492; i < 512; i++)  // never read as a record length
            log[lb.file_offset(8193, i)] = 0xa5;
        lb.seal(log);
        Mined m = mine(log);
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        EXPECT_EQ(m.csv, kCsvHeader + start_line(20, 2, 2, 2) + start_line(30, 3, 3, 3));
    }
}

// Where the next record is looked for after one ends `left` bytes before
// the end of its 512-byte block.
TEST(Assembly, WhereTheNextRecordIsLookedFor)
{
    const struct {
        uint32_t left;
        bool next_here;  // the next record begins at the end offset
    } cases[] = {{0, false}, {1, false}, {2, false}, {3, false}, {4, false}, {20, false},
                 {23, false}, {24, true}, {24, false}, {28, true}, {100, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.left) + (c.next_here ? " next here" : " next in next block"));
        const uint32_t off = 16 + (512 - c.left - 16) % 4;
        const uint32_t size = 512 - c.left - off;
        LogBuilder lb;
        if (off != 16)
            lb.pad_to_offset(off);
        lb.add(10, {v_begin({1, 1, 1}), filler(size - 24 - 60)});
        if (!c.next_here)
            lb.next_block();
        const auto p = lb.add(11, {v_begin({2, 2, 2})});
        ASSERT_EQ(p.block, c.next_here ? 2u : 3u);
        Bytes log = lb.image();
        if (c.left > 0 && c.left < 24)  // bytes the reader must pass over unread
            for (uint32_t i = 512 - c.left; i < 512; i++)
                log[lb.file_offset(2, i)] = 0xa5;
        lb.seal(log);
        Mined m = mine(log);
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        EXPECT_EQ(m.csv, kCsvHeader + start_line(10, 1, 1, 1) + start_line(11, 2, 2, 2));
    }
}

// A record of up to 1 MiB is assembled in the record buffer; a longer one
// gets an allocation of its own, announced on standard error.
TEST(Assembly, LongRecords)
{
    const std::string lines = start_line(50, 1, 2, 3) + "50,1,2,3,0,0,,COMMIT,commit;\n";
    const struct {
        uint32_t rlen;
        int status;
        std::string err;
    } cases[] = {
        {1048576, 0, kEnd},
        {1048580, 0, "allocate new memory (1048580 bytes)\n" + kEnd},
        {3000000, 0, "allocate new memory (3000000 bytes)\n" + kEnd},
        // one byte past the last vector cannot hold a vector
        {1048577, 255, "allocate new memory (1048577 bytes)\n"
                  "redo.log: block 2: change vector at record offset 1048576 runs past the record (1 bytes left); "
                  "rest of the record passed over\n"
                  "redo.log: 1 damaged place passed over; the output is incomplete\n" +
                      kFail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rlen);
        const uint32_t body = c.rlen & ~3u;
        Bytes rec = encode_record(50, {v_begin({1, 2, 3}), filler(body - 24 - 60 - 48), v_commit({1, 2, 3})});
        ASSERT_EQ(rec.size(), body);
        rec.resize(c.rlen, 0x77);
        set_rlen(rec, c.rlen);
        LogBuilder lb;
        lb.add_record(rec);
        lb.add(51, {v_begin({4, 5, 6})});
        Mined m = mine(lb.image());
        EXPECT_EQ(m.status, c.status);
        EXPECT_EQ(m.err, c.err);
        EXPECT_EQ(m.csv, kCsvHeader + lines + start_line(51, 4, 5, 6));
    }
}

// Variations of the file that must not change the CSV: long record headers,
// garbage in the unread block header fields, the top bit of rba_byte, empty
// blocks between records, stray bytes after the last block.
TEST(Assembly, SameCsvFromEquivalentLogs)
{
    const Bytes value = pattern(700, 3);
    const std::string want = kCsvHeader + start_line(10, 1, 1, 1) + insert_transaction_csv(11, {2, 2, 2}, value) +
                             start_line(12, 3, 3, 3);
    const struct {
        const char* what;
        bool long_headers;
        bool top_bit;
        uint32_t empty_blocks;
        size_t stray;
        bool garbage_headers;
    } cases[] = {
        {"plain", false, false, 0, 0, false},
        {"long record headers", true, false, 0, 0, false},
        {"rba_byte top bit", false, true, 0, 0, false},
        {"empty blocks between records", false, false, 3, 0, false},
        {"stray bytes after the last block", false, false, 0, 100, false},
        {"511 stray bytes", false, false, 0, 511, false},
        {"garbage block header fields", false, false, 0, 0, true},
        {"all of them", true, true, 2, 7, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogOptions o;
        o.set_top_bit = c.top_bit;
        if (c.garbage_headers) {
            // a log written without checksums: nothing vouches for its
            // block headers, so nothing in them but rba_byte is held to
            o.checksums = false;
            o.block_magic = {0xde, 0xad, 0xbe, 0xef};
            o.sequence = 0xFFFFFFFF;
        }
        LogBuilder lb(o);
        lb.add(10, {v_begin({1, 1, 1})}, c.long_headers);
        lb.add_empty_blocks(c.empty_blocks);
        lb.add(11, insert_transaction({2, 2, 2}, value), c.long_headers);
        lb.add_empty_blocks(c.empty_blocks);
        lb.add(12, {v_begin({3, 3, 3})}, c.long_headers);
        lb.set_stray_tail(c.stray);
        Bytes log = lb.image();
        if (c.garbage_headers)  // chkval of every block
            for (uint64_t b = 2; b < lb.block_count(); b++)
                set_u16(log, lb.file_offset(uint32_t(b), 14), 0xbeef);
        Mined m = mine(log);
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        EXPECT_EQ(m.csv, want);
    }
}

TEST(Assembly, LogWithoutRecords)
{
    for (uint32_t empty : {0u, 5u}) {
        LogBuilder lb;
        lb.add_empty_blocks(empty);
        Mined m = mine(lb.image());
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        EXPECT_EQ(m.csv, kCsvHeader);
    }
}

// Block offsets of 2 GiB and more: ~2.1 GiB of hole, then a record.
TEST(Assembly, LogLargerThan2GiB)
{
    // the hole is never-written blocks, passed over in silence only in a log
    // without checksums
    LogBuilder lb(LogOptions{.checksums = false});
    lb.add(10, {v_begin({1, 1, 1})});
    lb.add_hole_blocks(4300000);
    const auto p = lb.add(20, {v_begin({2, 2, 2}), v_commit({2, 2, 2})});
    ASSERT_GT(lb.file_offset(p.block, p.offset), 1ULL << 31);
    Mined m = mine(lb);
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.err, kEnd);
    EXPECT_EQ(m.csv, kCsvHeader + start_line(10, 1, 1, 1) + start_line(20, 2, 2, 2) + "20,2,2,2,0,0,,COMMIT,commit;\n");
}

// A record cut off by the end of the file is never decoded; the lines
// before it stay.
TEST(Assembly, RecordCutOffByEndOfFile)
{
    LogBuilder lb;
    lb.add(10, {v_begin({1, 1, 1})});
    lb.next_block();
    const auto p = lb.add(11, insert_transaction({2, 2, 2}, pattern(1500, 9)));  // blocks 3..6
    ASSERT_EQ(p.block, 3u);
    const Bytes full = lb.image();
    const std::string msg = "read redo.log: record of 1824 bytes beginning in block 3 is cut off by the end of the file\n";
    for (uint64_t size : {lb.file_offset(4, 0), lb.file_offset(4, 100), lb.file_offset(6, 0), full.size() - 1}) {
        SCOPED_TRACE(size);
        Mined m = mine(Bytes(full.begin(), full.begin() + long(size)));
        EXPECT_EQ(m.status, 255);
        EXPECT_EQ(m.err, msg + kFail);
        EXPECT_EQ(m.csv, kCsvHeader + start_line(10, 1, 1, 1));
    }
}

// A record longer than 1 MiB whose length claims more than the file holds
// is refused before anything is allocated for it.
TEST(Assembly, LongRecordLongerThanTheFile)
{
    {
        LogBuilder lb;
        lb.add(10, {v_begin({1, 1, 1})});
        Bytes rec = encode_record(11, {v_begin({2, 2, 2})});
        set_rlen(rec, 2000000);
        lb.add_record(rec);
        Mined m = mine(lb.image());
        EXPECT_EQ(m.status, 255);
        // past the end of the log its header gives: one damaged record
        EXPECT_EQ(m.err, "redo.log: block 2: record of 2000000 bytes at block offset 100 runs past the end of the "
                         "log; rest of the block passed over\nredo.log: 1 damaged place passed over; the output is "
                         "incomplete\n" + kFail);
        EXPECT_EQ(m.csv, kCsvHeader + start_line(10, 1, 1, 1));
    }
    {
        LogBuilder lb;
        lb.add(10, {v_begin({1, 1, 1})});
        lb.add(11, {v_begin({2, 2, 2}), filler(1500000)});
        Bytes log = lb.image();
        log.resize(log.size() - 600);
        Mined m = mine(log);
        EXPECT_EQ(m.status, 255);
        EXPECT_EQ(m.err,
                  "read redo.log: record of 1500084 bytes beginning in block 2 is cut off by the end of the file\n" +
                      kFail);
        EXPECT_EQ(m.csv, kCsvHeader + start_line(10, 1, 1, 1));
    }
}

// Damaged first-record offsets and record lengths: reported with the block,
// the rest of that block passed over, mining goes on, the run fails.
TEST(Assembly, DamagedOffsetsAndLengths)
{
    // Records at SCN 10 (block 2), 11 and 12 (both block 3), 13 (block 4).
    LogBuilder lb;
    lb.add(10, {v_begin({1, 1, 1})});
    lb.next_block();
    const auto p11 = lb.add(11, {v_begin({2, 2, 2})});
    lb.add(12, {v_begin({3, 3, 3})});
    lb.next_block();
    lb.add(13, {v_begin({4, 4, 4})});
    ASSERT_EQ(p11.block, 3u);
    const Bytes good = lb.image();
    const uint64_t rba3 = lb.file_offset(3, 12);
    const uint64_t rec11 = lb.file_offset(3, 16);

    const std::string l10 = start_line(10, 1, 1, 1), l11 = start_line(11, 2, 2, 2),
                      l12 = start_line(12, 3, 3, 3), l13 = start_line(13, 4, 4, 4);
    const std::string one = "redo.log: 1 damaged place passed over; the output is incomplete\n" + kFail;
    const struct {
        const char* what;
        uint64_t at;
        uint32_t value;
        bool u16;
        std::string err;
        std::string csv;
    } cases[] = {
        {"offset 509", rba3, 509, true, "redo.log: block 3: first-record offset 509 lies beyond the 512-byte block\n" + one,
         l10 + l13},
        {"offset 0x7fff", rba3, 0x7fff, true,
         "redo.log: block 3: first-record offset 32767 lies beyond the 512-byte block\n" + one, l10 + l13},
        {"offset 0xffff (top bit ignored)", rba3, 0xffff, true,
         "redo.log: block 3: first-record offset 32767 lies beyond the 512-byte block\n" + one, l10 + l13},
        {"offset 508, zero there", rba3, 508, true, kEnd, l10 + l13},
        {"offset 0", rba3, 0, true, kEnd, l10 + l13},
        {"offset 15", rba3, 15, true, kEnd, l10 + l13},
        {"rlen -1", rec11, 0xFFFFFFFF, false,
         "redo.log: block 3: record length -1 at block offset 16 is shorter than a record header; "
         "rest of the block passed over\n" + one,
         l10 + l13},
        {"rlen 5", rec11, 5, false,
         "redo.log: block 3: record length 5 at block offset 16 is shorter than a record header; "
         "rest of the block passed over\n" + one,
         l10 + l13},
        {"rlen 23", rec11, 23, false,
         "redo.log: block 3: record length 23 at block offset 16 is shorter than a record header; "
         "rest of the block passed over\n" + one,
         l10 + l13},
        {"rlen -2^31", rec11, 0x80000000, false,
         "redo.log: block 3: record length -2147483648 at block offset 16 is shorter than a record header; "
         "rest of the block passed over\n" + one,
         l10 + l13},
        {"untouched", rec11, 84, false, kEnd, l10 + l11 + l12 + l13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes log = good;
        if (c.u16)
            set_u16(log, c.at, uint16_t(c.value));
        else
            set_u32(log, c.at, c.value);
        lb.seal(log);
        Mined m = mine(log);
        EXPECT_EQ(m.status, c.err == kEnd ? 0 : 255);
        EXPECT_EQ(m.err, c.err);
        EXPECT_EQ(m.csv, kCsvHeader + c.csv);
    }
}
