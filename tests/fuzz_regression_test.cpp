// Every input the fuzzers ever tripped over (fuzz/regressions/) and the seed
// corpus (fuzz/seeds/), replayed the ways the fuzz targets take them: as one
// record handed to parse_record in a buffer of exactly its size, as a whole
// log run in-process, and as a whole log given to the real binary, which
// must end by itself with status 0 or 255 -- never a signal -- and write no
// more CSV than CSV_BOUND of the log's size.  The crafted logs under
// fuzz/regressions/output-bound/ (made by make_seeds) are damage: status 255.
#include "log_builder.h"
#include "quorvil.h"
#include "run_quorvil.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

int quorvil_main(int argc, char** argv);

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> inputs()
{
    std::vector<std::string> files;
    for (const char* dir : {"fuzz/regressions", "fuzz/seeds"}) {
        const fs::path root = fs::path(QUORVIL_SOURCE_DIR) / dir;
        if (!fs::is_directory(root))
            continue;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file())
                files.push_back(fs::relative(e.path(), QUORVIL_SOURCE_DIR).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

Bytes contents(const std::string& rel)
{
    const std::string s = read_file(std::string(QUORVIL_SOURCE_DIR) + "/" + rel);
    return Bytes(s.begin(), s.end());
}

// A run context set up as main sets it up, its CSV going to /dev/null.
struct RecordMiner {
    MINER m{};
    std::unique_ptr<uint8_t, decltype(&free)> wrk{(uint8_t*)malloc(WORK_SIZE), &free};

    RecordMiner()
    {
        m.fd = -1;
        m.wrk = wrk.get();
        split_work_area(&m);
        m.blk0_sz = m.blk_sz = 512;
        m.end_scn = MAX_SCN;
        m.rec_blk = 2;
        m.cfp = fopen("/dev/null", "w");
        strcpy(m.logfile, "regression");
    }
    ~RecordMiner()
    {
        if (m.cfp)
            fclose(m.cfp);
    }
};

class FuzzRegression : public ::testing::TestWithParam<std::string> {};

// The fuzz_record path: byte 0 the mode, the rest the record; bit 0 of the
// mode keeps rlen as written (and drops the input when rlen claims more).
TEST_P(FuzzRegression, AsOneRecord)
{
    const Bytes in = contents(GetParam());
    if (in.size() < 1 + RECORD_HEADER_SIZE)
        GTEST_SKIP() << "too short to hold a record";
    const size_t len = in.size() - 1;
    if ((in[0] & 1) && read_u32(in.data() + 1) > len)
        GTEST_SKIP() << "rlen claims more bytes than the input holds";

    RecordMiner rm;
    ASSERT_NE(rm.m.cfp, nullptr);
    std::unique_ptr<uint8_t[]> rec(new uint8_t[len]);  // exactly the record: ASan sees any overrun
    memcpy(rec.get(), in.data() + 1, len);
    if (!(in[0] & 1)) {
        uint32_t rlen = uint32_t(len);
        memcpy(rec.get(), &rlen, sizeof rlen);
    }
    const int r = parse_record(&rm.m, rec.get());
    EXPECT_TRUE(r == 0 || r == -1) << r;
    EXPECT_LE(rm.m.sql_pos, uint32_t(rm.m.sqlb_sz));
}

// The fuzz_mine path: the whole program in-process, then the real binary.
TEST_P(FuzzRegression, AsWholeLog)
{
    const std::string log = std::string(QUORVIL_SOURCE_DIR) + "/" + GetParam();
    TempDir tmp;

    std::vector<std::string> args{"quorvil", "-log", log, "-out", "/dev/null"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int r = quorvil_main(int(args.size()), argv.data());
    EXPECT_TRUE(r == 0 || r == -1) << r;

    RunResult run = run_quorvil({"-log", log, "-out", tmp.path("out.csv")});
    EXPECT_TRUE(run.status == 0 || run.status == 255) << "status " << run.status << "\n" << run.err;
    EXPECT_EQ(run.status == 0 ? 0 : -1, r) << "in-process and real runs disagree";
    const std::string err = after_banner(run.err);
    const std::string closing = run.status == 0 ? "quorvil end.\n" : "quorvil exit with error.\n";
    EXPECT_TRUE(err.size() >= closing.size() && err.compare(err.size() - closing.size(), closing.size(), closing) == 0)
        << err;

    if (fs::exists(tmp.path("out.csv"))) {
        EXPECT_LE(fs::file_size(tmp.path("out.csv")), CSV_BOUND(fs::file_size(log)));
    }
    if (GetParam().find("/output-bound/") != std::string::npos) {
        EXPECT_EQ(run.status, 255);
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegression, ::testing::ValuesIn(inputs()), [](const auto& info) {
    std::string n = info.param;
    for (char& c : n)
        if (!isalnum((unsigned char)c))
            c = '_';
    return n;
});

// The replay must have something to replay: the seeds are committed.
TEST(FuzzRegressionInputs, SeedsArePresent)
{
    const auto files = inputs();
    EXPECT_TRUE(std::any_of(files.begin(), files.end(),
                            [](const std::string& f) { return f.rfind("fuzz/seeds/mine/", 0) == 0; }));
    EXPECT_TRUE(std::any_of(files.begin(), files.end(),
                            [](const std::string& f) { return f.rfind("fuzz/seeds/record/", 0) == 0; }));
    EXPECT_EQ(std::count_if(files.begin(), files.end(),
                            [](const std::string& f) { return f.rfind("fuzz/regressions/output-bound/", 0) == 0; }),
              2);
}

}  // namespace
