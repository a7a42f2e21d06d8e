// Where the log comes from: a file cut shorter while it is read, and a log
// on a block device, whose size is the device's and not its st_size.
#include "mined.h"
#include "quorvil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace qvtest;

namespace {

// The START lines of transaction 4.9.sqn at SCN scn and the n - 1 after it.
std::string starts(uint64_t scn, size_t n, int sqn = 77)
{
    std::string s;
    for (uint64_t i = scn; i < scn + n; i++)
        s += std::to_string(i) + ",4,9," + std::to_string(sqn) + ",0,0,,START,set transaction read write;\n";
    return s;
}

}  // namespace

// The log is opened and measured, then cut (or grown) before mining reads
// it, as another process could do while a run goes on.  A read that ends
// short of the size at open is reported and ends the run; the lines of the
// chunks read before stay.
TEST(LogSource, ShrunkWhileRead)
{
    // 3,400 records of eight whole blocks, each a START line: 1,024 records
    // to a 4 MiB chunk, about 13.3 MiB in all
    const uint32_t rec_sz = 8 * (512 - BLOCK_HEADER_SIZE);
    const uint32_t bare = uint32_t(encode_record(10, {v_begin({4, 9, 77}), v_other(5, 6, {})}).size());
    LogBuilder lb;
    for (uint64_t scn = 10; scn < 3410; scn++)
        lb.add_record(encode_record(scn, {v_begin({4, 9, 77}), v_other(5, 6, {Bytes(rec_sz - bare, 0x5a)})}));
    const uint64_t size = lb.file_size(), chunk0 = lb.file_offset(2, 0);
    ASSERT_EQ(size, chunk0 + 3400 * 8 * 512);  // every record fills its eight blocks
    // the size the log is given after it is opened, and the records of the
    // whole chunks read before the short read
    const struct { const char* name; uint64_t now; size_t lines; } cases[] = {
        {"as it was", size, 3400},
        {"grown by a block", size + 512, 3400},
        {"cut inside the first chunk", chunk0 + 4096 * 512 + 100, 0},
        {"cut at the end of the second chunk", chunk0 + 2 * RBUF_SIZE, 2048},
        {"cut at a record's end in the fourth chunk", chunk0 + 3 * RBUF_SIZE + 64 * 512, 3072},
        {"cut inside a block of the fourth chunk", chunk0 + 3 * RBUF_SIZE + 7 * 512 + 3, 3072},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        lb.write(t.path("redo.log"));
        std::unique_ptr<uint8_t[]> wrk(new uint8_t[WORK_SIZE]);
        MINER m{.fd = open(t.path("redo.log").c_str(), O_RDONLY), .blk0_sz = 512, .blk_sz = 512, .end_scn = MAX_SCN,
                .first_scn = 1, .cfp = fopen(t.path("out.csv").c_str(), "w"), .wrk = wrk.get(), .logfile = "redo.log",
                .log_sz = size};
        split_work_area(&m);
        ASSERT_TRUE(m.fd >= 0 && m.cfp && truncate(t.path("redo.log").c_str(), off_t(c.now)) == 0);
        testing::internal::CaptureStderr();
        const int r = mine_redolog(&m);
        const std::string err = testing::internal::GetCapturedStderr();
        fclose(m.cfp);
        close(m.fd);
        EXPECT_EQ(r, c.now >= size ? 0 : -1);
        EXPECT_EQ(err, c.now >= size ? "" : "read redo.log: the file had " + std::to_string(size) +
                                                 " bytes when opened and has " + std::to_string(c.now) + " now\n");
        EXPECT_EQ(read_file(t.path("out.csv")), kCsvHeader + starts(10, c.lines));
    }
}

// A log on a block device: its size comes from the device, so a record over
// 1 MiB is read in a buffer of its own rather than refused as cut off.
TEST(LogSource, BlockDevice)
{
    TempDir t;
    LogBuilder lb;
    lb.add(10, {v_begin({4, 9, 77})});
    const Bytes rec = encode_record(11, {v_begin({4, 9, 78}), v_other(5, 6, std::vector<Bytes>(24, Bytes(65532, 0x33)))});
    ASSERT_GT(rec.size(), size_t(RECB_SIZE));
    lb.add_record(rec);
    lb.add(12, {v_begin({4, 9, 79})});
    lb.write(t.path("redo.log"));

    // losetup needs root; without a loop device the test is skipped
    RunResult a = run_program("/bin/sh", {"-c", "losetup --find --show \"$0\"", t.path("redo.log")});
    if (a.status != 0 || a.out.rfind("/dev/", 0) != 0)
        GTEST_SKIP() << "losetup --find --show could not attach a loop device: " << a.err;
    struct Detach {
        std::string dev;
        ~Detach() { EXPECT_EQ(std::system(("losetup -d " + dev).c_str()), 0) << "losetup -d " << dev; }
    } loop{a.out.substr(0, a.out.find('\n'))};
    RunResult r = run_quorvil({"-log", loop.dev, "-out", t.path("out.csv")});
    EXPECT_EQ(after_banner(r.err), "allocate new memory (" + std::to_string(rec.size()) + " bytes)\n" + kEnd);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(t.path("out.csv")), kCsvHeader + starts(10, 1) + starts(11, 1, 78) + starts(12, 1, 79));
}
