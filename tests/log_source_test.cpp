// Where the log comes from: a file cut shorter while it is read, and a log
// on a block device, whose size is the device's and not its st_size.
#include "mined.h"
#include "quorvil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace qvtest;

namespace {

const Xid X{4, 9, 77};

std::string start_line(uint64_t scn) { return std::to_string(scn) + ",4,9,77,0,0,,START,set transaction read write;\n"; }

// A loop device over a file, detached when the object goes away.
struct LoopDevice {
    std::string dev, why_not;

    explicit LoopDevice(const std::string& file)
    {
        if (geteuid() != 0) {
            why_not = "attaching a loop device needs root";
            return;
        }
        FILE* p = popen(("losetup --find --show '" + file + "' 2>&1").c_str(), "r");
        char line[512] = "";
        if (p == nullptr || fgets(line, sizeof line, p) == nullptr)
            line[0] = '\0';
        const int st = p ? pclose(p) : -1;
        std::string out(line);
        if (!out.empty() && out.back() == '\n')
            out.pop_back();
        if (st == 0 && out.rfind("/dev/", 0) == 0)
            dev = out;
        else
            why_not = "losetup --find --show could not attach one: " + out;
    }
    ~LoopDevice()
    {
        if (!dev.empty() && std::system(("losetup -d " + dev).c_str()) != 0)
            ADD_FAILURE() << "losetup -d " << dev << " failed";
    }
};

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
    const uint32_t bare = uint32_t(encode_record(10, {v_begin(X), v_other(5, 6, {})}).size());
    LogBuilder lb;
    std::vector<std::string> lines;
    for (uint64_t scn = 10; scn < 3410; scn++) {
        const Bytes rec = encode_record(scn, {v_begin(X), v_other(5, 6, {Bytes(rec_sz - bare, 0x5a)})});
        ASSERT_EQ(rec.size(), rec_sz);
        lb.add_record(rec);
        lines.push_back(start_line(scn));
    }
    auto first = [&](size_t n) {
        std::string s = kCsvHeader;
        for (size_t i = 0; i < n; i++)
            s += lines[i];
        return s;
    };
    const uint64_t size = lb.file_size(), chunk0 = lb.file_offset(2, 0);
    const struct {
        const char* name;
        uint64_t now;
        size_t lines;  // records of the whole chunks read before the short read
    } cases[] = {
        {"as it was", size, 3400},
        {"grown by a block", size + 512, 3400},
        {"cut inside the first chunk", chunk0 + 4096 * 512 + 100, 0},
        {"cut at the end of the second chunk", chunk0 + 2 * RBUF_SIZE, 2048},
        {"cut at a record's end in the fourth chunk", chunk0 + 3 * RBUF_SIZE + 64 * 512, 3072},
        {"cut inside a block of the fourth chunk", chunk0 + 3 * RBUF_SIZE + 7 * 512 + 3, 3072},
    };
    ASSERT_GT(size, chunk0 + 3 * RBUF_SIZE + 64 * 512);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        lb.write(t.path("redo.log"));
        MINER m{};
        std::unique_ptr<uint8_t, decltype(&free)> wrk((uint8_t*)malloc(WORK_SIZE), &free);
        m.wrk = wrk.get();
        split_work_area(&m);
        m.blk0_sz = m.blk_sz = 512;
        m.first_scn = 1;
        m.end_scn = MAX_SCN;
        strcpy(m.logfile, "redo.log");
        m.fd = open(t.path("redo.log").c_str(), O_RDONLY);
        ASSERT_GE(m.fd, 0);
        m.log_sz = size;
        m.cfp = fopen(t.path("out.csv").c_str(), "w");
        ASSERT_NE(m.cfp, nullptr);
        ASSERT_EQ(truncate(t.path("redo.log").c_str(), off_t(c.now)), 0);

        testing::internal::CaptureStderr();
        const int r = mine_redolog(&m);
        const std::string err = testing::internal::GetCapturedStderr();
        fclose(m.cfp);
        close(m.fd);
        EXPECT_EQ(r, c.now >= size ? 0 : -1);
        EXPECT_EQ(err, c.now >= size ? "" : "read redo.log: the file had " + std::to_string(size) +
                                                 " bytes when opened and has " + std::to_string(c.now) + " now\n");
        EXPECT_EQ(read_file(t.path("out.csv")), first(c.lines));
    }
}

// A log on a block device: its size comes from the device, so a record over
// 1 MiB is read in a buffer of its own rather than refused as cut off.
TEST(LogSource, BlockDevice)
{
    TempDir t;
    LogBuilder lb;
    lb.add(10, {v_begin(X)});
    const Bytes rec = encode_record(11, {v_begin({4, 9, 78}), v_other(5, 6, std::vector<Bytes>(24, Bytes(65532, 0x33)))});
    ASSERT_GT(rec.size(), size_t(RECB_SIZE));
    lb.add_record(rec);
    lb.add(12, {v_begin({4, 9, 79})});
    lb.write(t.path("redo.log"));

    LoopDevice loop(t.path("redo.log"));
    if (loop.dev.empty())
        GTEST_SKIP() << loop.why_not;
    RunResult r = run_quorvil({"-log", loop.dev, "-out", t.path("out.csv")});
    EXPECT_EQ(after_banner(r.err), "allocate new memory (" + std::to_string(rec.size()) + " bytes)\n" + kEnd);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(t.path("out.csv")), kCsvHeader + start_line(10) +
                                                "11,4,9,78,0,0,,START,set transaction read write;\n"
                                                "12,4,9,79,0,0,,START,set transaction read write;\n");
}
