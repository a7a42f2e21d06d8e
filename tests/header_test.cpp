// Start-up and shutdown: the log file header (blocks 0 and 1), the files the
// run opens, and how each refusal ends the run.
#include "mined.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qvtest;

namespace {

// A log of one transaction: START and COMMIT in two records.
LogBuilder one_transaction(LogOptions o = {})
{
    LogBuilder lb(o);
    lb.add(o.first_scn, {v_begin({2, 5, 77})});
    lb.add(o.first_scn + 1, {v_commit({2, 5, 77})});
    return lb;
}

std::string one_transaction_csv(uint64_t scn)
{
    return kCsvHeader + std::to_string(scn) + ",2,5,77,0,0,,START,set transaction read write;\n" +
           std::to_string(scn + 1) + ",2,5,77,0,0,,COMMIT,commit;\n";
}

void put32(Bytes& b, size_t off, uint32_t v) { set_u32(b, off, v); }

}  // namespace

TEST(Header, WrongByteOrderMark)
{
    LogOptions o;
    o.swap_endian_mark = true;
    Mined m = mine(one_transaction(o));
    EXPECT_EQ(m.status, 255);
    EXPECT_EQ(m.err, "redo.log bytes endian not match.\n" + kFail);
    EXPECT_FALSE(m.csv_made);
}

TEST(Header, MissingLogFile)
{
    TempDir t;
    RunResult r = run_quorvil({"-log", "nothere.log", "-out", "out.csv"}, t.dir());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(after_banner(r.err), "open nothere.log: No such file or directory\n" + kFail);
    EXPECT_FALSE(file_exists(t.path("out.csv")));
}

TEST(Header, OutputInMissingDirectory)
{
    Mined m = mine(one_transaction(), {"-out", "no/such/dir/out.csv"});
    EXPECT_EQ(m.status, 255);
    EXPECT_EQ(m.err, "open log content file error: No such file or directory\n" + kFail);
}

// The output is staged and written in large pieces; a failing write is
// reported, with the system's reason, whether it fails while mining or when
// the file is closed.
TEST(Header, OutputWriteFailure)
{
    for (uint32_t records : {1u, 200u, 20000u}) {
        SCOPED_TRACE(records);
        LogBuilder lb;
        for (uint32_t i = 0; i < records; i++)
            lb.add(10 + i, {v_begin({1, uint16_t(i), i + 1}), v_commit({1, uint16_t(i), i + 1})});
        Mined m = mine(lb, {"-out", "/dev/full"});
        EXPECT_EQ(m.status, 255);
        EXPECT_EQ(m.err, "write /dev/full: No space left on device\n" + kFail);
    }
}

// Sizes of block 0 and of the later blocks that the reader works with.
TEST(Header, UsableBlockSizes)
{
    const struct {
        uint32_t blk0, blk;
    } cases[] = {{1024, 512}, {32, 512}, {7984, 512}, {512, 40}, {512, 1024}, {2048, 4096}, {512, 4194304}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.blk0) + "/" + std::to_string(c.blk));
        LogOptions o;
        o.blk0_sz = c.blk0;
        o.blk_sz = c.blk;
        o.first_scn = 300;
        Mined m = mine(one_transaction(o));
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        EXPECT_EQ(m.csv, one_transaction_csv(300));
    }
}

TEST(Header, FirstScnFromWrapAndBase)
{
    LogOptions o;
    o.first_scn = (1ULL << 32) + 2;  // wrap 1, base 2: 4294967298
    o.checksums = false;             // so a lower SCN ends mining, as in a reused log
    LogBuilder lb(o);
    lb.add(4294967298ULL, {v_begin({1, 1, 1})});
    lb.add(4294967299ULL, {v_begin({1, 1, 2})});
    lb.add(4294967297ULL, {v_begin({1, 1, 3})});  // below the log's first SCN: mining ends
    lb.add(4294967300ULL, {v_begin({1, 1, 4})});
    Mined m = mine(lb);
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.err, kEnd);
    EXPECT_EQ(m.csv, kCsvHeader +
                         "4294967298,1,1,1,0,0,,START,set transaction read write;\n"
                         "4294967299,1,1,2,0,0,,START,set transaction read write;\n");
}

// Every header refusal ends through the error exit before the output file
// is opened.
TEST(Header, Refused)
{
    const Bytes good = one_transaction().image();  // 512-byte blocks
    auto cut = [&](size_t n) { return Bytes(good.begin(), good.begin() + long(n)); };
    auto with32 = [&](size_t off, uint32_t v) {
        Bytes b = good;
        put32(b, off, v);
        return b;
    };
    const struct {
        const char* what;
        Bytes log;
        std::string err;
    } cases[] = {
        {"empty file", {}, "read redo.log: header needs 32 bytes, got 0\n"},
        {"31 bytes", cut(31), "read redo.log: header needs 32 bytes, got 31\n"},
        {"100 bytes", cut(100), "read redo.log: header needs 720 bytes, got 100\n"},
        {"block 1 one byte short", cut(719), "read redo.log: header needs 720 bytes, got 719\n"},
        {"block 0 size 16", with32(20, 16), "redo.log: block 0 size 16 is not usable (32 to 7984 bytes)\n"},
        {"block 0 size 31", with32(20, 31), "redo.log: block 0 size 31 is not usable (32 to 7984 bytes)\n"},
        {"block 0 size 7985", with32(20, 7985), "redo.log: block 0 size 7985 is not usable (32 to 7984 bytes)\n"},
        {"block 0 size 8000", with32(20, 8000), "redo.log: block 0 size 8000 is not usable (32 to 7984 bytes)\n"},
        {"block 0 size 2^32-1", with32(20, 0xFFFFFFFF),
         "redo.log: block 0 size 4294967295 is not usable (32 to 7984 bytes)\n"},
        {"block size 0", with32(512 + 44, 0), "redo.log: block size 0 is not usable (40 to 4194304 bytes)\n"},
        {"block size 39", with32(512 + 44, 39), "redo.log: block size 39 is not usable (40 to 4194304 bytes)\n"},
        {"block size 4194305", with32(512 + 44, 4194305),
         "redo.log: block size 4194305 is not usable (40 to 4194304 bytes)\n"},
        {"block size 2^32-1", with32(512 + 44, 0xFFFFFFFF),
         "redo.log: block size 4294967295 is not usable (40 to 4194304 bytes)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Mined m = mine(c.log);
        EXPECT_EQ(m.status, 255);
        EXPECT_EQ(m.err, c.err + kFail);
        EXPECT_FALSE(m.csv_made);
    }
}

// A block 0 of 1,024 bytes: block 1 is read at offset 1,024, so the 512 of
// block 1 at offset 512 (where a 512-byte block 0 would put it) must not be
// what counts.
TEST(Header, BlockOneFollowsBlockZero)
{
    LogOptions o;
    o.blk0_sz = 1024;
    o.first_scn = 300;
    LogBuilder lb = one_transaction(o);
    Bytes log = lb.image();
    put32(log, 512 + 44, 1024);  // inside block 0: never read as a block size
    lb.seal(log);
    Mined m = mine(log);
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.err, kEnd);
    EXPECT_EQ(m.csv, one_transaction_csv(300));
}

TEST(Header, ThreadHasNoEffect)
{
    LogOptions a, b;
    a.thread = 1;
    b.thread = 0xFFFFFFFF;
    Mined ma = mine(one_transaction(a));
    Mined mb = mine(one_transaction(b));
    EXPECT_EQ(ma.status, 0);
    EXPECT_EQ(mb.status, 0);
    EXPECT_EQ(ma.csv, one_transaction_csv(1));
    EXPECT_EQ(mb.csv, ma.csv);
}

// The CSV of a run that stops at the end of the window ends like a run that
// reaches the end of the file.
TEST(Header, StopAtWindowEndIsSuccess)
{
    Mined m = mine(one_transaction(), {"-end_scn", "1"});
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.err, kEnd);
    EXPECT_EQ(m.csv, kCsvHeader + "1,2,5,77,0,0,,START,set transaction read write;\n");
}
