/*
 * info_test.cpp - quorvil-info end to end: logs written by the builder (and
 * the real published header bytes) are given to the real quorvil-info
 * binary, and its report lines, CSV and exit status are checked.
 *
 * Report lines are compared with their runs of blanks squeezed to one, so
 * that the cases read as "checksum mismatch: 1 block: 5".
 */
#include "csv_reader.h"
#include "log_builder.h"
#include "quorvil.h"
#include "run_quorvil.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#ifndef QUORVIL_INFO_BIN
#error "QUORVIL_INFO_BIN must name the quorvil-info binary"
#endif

using namespace qvtest;

namespace {

constexpr uint32_t kBlocks = 10;  // blocks after block 0 of every built log

// The report's lines, blanks squeezed and leading blanks dropped.
std::vector<std::string> report_lines(const std::string& out)
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) {
        std::string s;
        for (char c : l)
            if (c != ' ' || (!s.empty() && s.back() != ' '))
                s += c;
        while (!s.empty() && s.back() == ' ')
            s.pop_back();
        lines.push_back(s);
    }
    return lines;
}

void expect_lines(const std::string& out, const std::vector<std::string>& want)
{
    std::vector<std::string> got = report_lines(out);
    for (const std::string& w : want)
        EXPECT_NE(std::find(got.begin(), got.end(), w), got.end()) << "no line \"" << w << "\" in:\n" << out;
}

// A log of kBlocks blocks: the header, one transaction, then empty blocks.
LogBuilder build_log(const LogOptions& o)
{
    LogBuilder lb(o);
    lb.add(o.first_scn + 1, {v_begin({1, 2, 3}), v_commit({1, 2, 3})});
    lb.add_empty_blocks(kBlocks - 2);
    return lb;
}

RunResult info(const std::vector<std::string>& args, const std::string& cwd)
{
    return run_program(QUORVIL_INFO_BIN, args, cwd);
}

// Sets the sequence in the headers of blocks first..last, checksums kept.
void restamp(const LogBuilder& lb, Bytes& img, uint32_t first, uint32_t last, uint32_t seq)
{
    for (uint32_t b = first; b <= last; b++)
        set_u32(img, lb.file_offset(b, offsetof(REDO_BH, rba_sqn)), seq);
    lb.seal(img);
}

// ---- one log ------------------------------------------------------------------

struct InfoCase {
    const char* name;
    std::function<void(LogOptions&)> options;
    std::function<void(const LogBuilder&, Bytes&)> change;  // the bytes as written; may be empty
    std::vector<std::string> lines;
    int status;
};

void PrintTo(const InfoCase& c, std::ostream* os) { *os << c.name; }

class InfoLog : public testing::TestWithParam<InfoCase> {};

TEST_P(InfoLog, Report)
{
    const InfoCase& c = GetParam();
    LogOptions o;
    o.sequence = 7;
    if (c.options)
        c.options(o);
    LogBuilder lb = build_log(o);
    Bytes img = lb.image();
    if (c.change)
        c.change(lb, img);
    TempDir t;
    LogBuilder::write_file(t.path("redo.log"), img);

    RunResult r = info({"redo.log"}, t.dir());
    expect_lines(r.out, c.lines);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(r.err, "");
}

const InfoCase kInfoCases[] = {
    {"Intact", nullptr, nullptr,
     {"file: redo.log", "file size: 5632 bytes", "block size: 512 bytes (block 0: 512 bytes)",
      "blocks: 10 whole blocks after block 0, 10 declared", "database: QVTEST, id 1364590593",
      "compatibility: 11.2.0.4.0", "thread: 1", "sequence: 7", "next available block: 11",
      "first SCN: 1 at 2024-01-15 09:30:00", "next SCN: 3 at 2024-01-15 10:30:00", "block 0 checksum: holds",
      "intact: 10 blocks: 1-10", "checksum mismatch: 0", "findings: none", "verdict: intact"},
     0},
    {"FlippedByte", nullptr, [](const LogBuilder& lb, Bytes& img) { img[lb.file_offset(5, 100)] ^= 0x10; },
     {"intact: 9 blocks: 1-4, 6-10", "checksum mismatch: 1 block: 5",
      "finding: 1 block whose checksum does not hold, before the next available block: 5", "verdict: damaged"},
     1},
    {"FlippedByteInBlock0", nullptr, [](const LogBuilder&, Bytes& img) { img[40] ^= 0x01; },
     {"block 0 checksum: does not hold", "finding: block 0's checksum does not hold", "verdict: damaged"}, 1},
    {"StaleTail", [](LogOptions& o) { o.next_block = 8; },
     [](const LogBuilder& lb, Bytes& img) { restamp(lb, img, 8, 10, 6); },
     {"next available block: 8", "intact: 7 blocks: 1-7", "stale: 3 blocks: 8-10",
      "tail: blocks 8-10, from the next available block on: not part of this use of the log", "findings: none",
      "verdict: intact"},
     0},
    {"UnwrittenTail", [](LogOptions& o) { o.next_block = 9; },
     [](const LogBuilder& lb, Bytes& img) {
         std::fill(img.begin() + (long)lb.file_offset(9, 0), img.end(), 0);
     },
     {"never written: 2 blocks: 9-10", "findings: none", "verdict: intact"}, 0},
    {"StaleBeforeNextBlock", nullptr, [](const LogBuilder& lb, Bytes& img) { restamp(lb, img, 4, 6, 6); },
     {"stale: 3 blocks: 4-6",
      "finding: 3 blocks of another sequence (stale), before the next available block: 4-6", "verdict: damaged"},
     1},
    {"Misplaced", nullptr,
     [](const LogBuilder& lb, Bytes& img) {
         set_u32(img, lb.file_offset(6, offsetof(REDO_BH, rba_blk)), 3);
         lb.seal(img);
     },
     {"misplaced: 1 block: 6",
      "finding: 1 block naming another block number (misplaced), before the next available block: 6",
      "verdict: damaged"},
     1},
    {"StoredChecksumZero", nullptr,
     [](const LogBuilder& lb, Bytes& img) { set_u16(img, lb.file_offset(4, offsetof(REDO_BH, chkval)), 0); },
     {"unchecked: 1 block: 4",
      "finding: 1 block with no checksum stored (0), so not checked, before the next available block: 4",
      "verdict: unchecked"},
     1},
    // words chosen so that the block's checksum is 0: stored 0, and it holds
    {"ChecksumThatIsZero", nullptr,
     [](const LogBuilder& lb, Bytes& img) {
         set_u16(img, lb.file_offset(5, 100), 0x2201 ^ 5 ^ 7);
         lb.seal(img);
         ASSERT_EQ(img[lb.file_offset(5, offsetof(REDO_BH, chkval))], 0);
     },
     {"intact: 10 blocks: 1-10", "unchecked: 0", "verdict: intact"}, 0},
    {"WrittenWithoutChecksums", [](LogOptions& o) { o.checksums = false; }, nullptr,
     {"block 0 checksum: not stored (0), not checked", "unchecked: 10 blocks: 1-10",
      "finding: block 0 stores no checksum (0), so it was not checked", "verdict: unchecked"},
     1},
    {"CutShortBeforeNextBlock", nullptr,
     [](const LogBuilder& lb, Bytes& img) { img.resize(lb.file_offset(7, 0) + 100); },
     {"blocks: 6 whole blocks after block 0, 10 declared: the file is cut short (and 100 bytes of a partial block)",
      "finding: blocks 7-10 (4 blocks) lie before the next available block but are not in the file",
      "verdict: cut short"},
     1},
    {"ArchivedCopyOfWrittenBlocks", [](LogOptions& o) { o.declared_blocks = 100; }, nullptr,
     {"blocks: 10 whole blocks after block 0, 100 declared: the file is cut short", "findings: none",
      "verdict: intact"},
     0},
    {"OpenLogStaleTail",
     [](LogOptions& o) {
         o.next_block = NAB_UNKNOWN;
         o.next_scn = 0xFFFFFFFFFFFFULL;
     },
     [](const LogBuilder& lb, Bytes& img) { restamp(lb, img, 6, 10, 6); },
     {"next SCN: none: the log is still open", "next available block: not yet known (stored 0xffffffff)",
      "stale: 5 blocks: 6-10", "tail: blocks 6-10, after block 5, the last of sequence 7", "findings: none",
      "verdict: intact"},
     0},
    {"OpenLogStaleInside", [](LogOptions& o) { o.next_block = NAB_UNKNOWN; },
     [](const LogBuilder& lb, Bytes& img) { restamp(lb, img, 3, 3, 6); },
     {"finding: 1 block of another sequence (stale), up to block 10, the last of sequence 7: 3",
      "verdict: damaged"},
     1},
    {"OpenLogCutShort",
     [](LogOptions& o) {
         o.next_block = NAB_UNKNOWN;
         o.declared_blocks = 20;
     },
     nullptr,
     {"finding: the file holds 10 of 20 declared blocks and the next available block is not known, so blocks "
      "of the log may be missing",
      "verdict: cut short"},
     1},
    {"DescriptionShownSafely", [](LogOptions& o) { o.description = "tab\there \\ \x7f end"; }, nullptr,
     {"description: tab\\x09here \\x5c \\x7f end"}, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, InfoLog, testing::ValuesIn(kInfoCases),
                         [](const testing::TestParamInfo<InfoCase>& i) { return std::string(i.param.name); });

// More than the ten ranges kept: the rest is counted.
TEST(InfoLog, ManyRangesAreCounted)
{
    LogOptions o;
    LogBuilder lb(o);
    lb.add_empty_blocks(40);
    Bytes img = lb.image();
    for (uint32_t b = 2; b <= 40; b += 3)
        img[lb.file_offset(b, 200)] ^= 1;
    TempDir t;
    LogBuilder::write_file(t.path("redo.log"), img);
    RunResult r = info({"redo.log"}, t.dir());
    expect_lines(r.out, {"checksum mismatch: 13 blocks: 2, 5, 8, 11, 14, 17, 20, 23, 26, 29, and 3 more"});
    EXPECT_EQ(r.status, 1);
}

// ---- several logs ----------------------------------------------------------------

struct SetLog {
    uint32_t seq;
    uint64_t first_scn;
    uint64_t next_scn;
    int copy_of = -1;        // write the bytes of that earlier log instead
    uint32_t dbid = 0x51560001;
};

struct SetCase {
    const char* name;
    std::vector<SetLog> logs;
    std::vector<std::string> lines;
    int status;
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.name; }

// Writes the logs as log1.log, log2.log, ... and returns their names.
std::vector<std::string> write_set(const TempDir& t, const std::vector<SetLog>& logs)
{
    std::vector<Bytes> images;
    std::vector<std::string> names;
    for (const SetLog& l : logs) {
        LogOptions o;
        o.sequence = l.seq;
        o.first_scn = l.first_scn;
        o.next_scn = l.next_scn;
        o.dbid = l.dbid;
        images.push_back(l.copy_of >= 0 ? images[(size_t)l.copy_of] : build_log(o).image());
        names.push_back("log" + std::to_string(names.size() + 1) + ".log");
        LogBuilder::write_file(t.path(names.back()), images.back());
    }
    return names;
}

class InfoSet : public testing::TestWithParam<SetCase> {};

TEST_P(InfoSet, Report)
{
    const SetCase& c = GetParam();
    TempDir t;
    RunResult r = info(write_set(t, c.logs), t.dir());
    expect_lines(r.out, c.lines);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
}

const SetCase kSetCases[] = {
    {"Continuous",
     {{43, 300, 0xFFFFFFFFFFFFULL}, {41, 100, 200}, {42, 200, 300}},
     {"logs by thread and sequence:", "thread sequence SCN range time range verdict file",
      "1 41 100-200 2024-01-15 09:30:00 - 2024-01-15 10:30:00 intact log2.log",
      "1 43 300-open 2024-01-15 09:30:00 - open intact log1.log",
      "no missing sequence, no duplicate, no SCN discontinuity"},
     0},
    {"SequenceMissing", {{41, 100, 200}, {42, 200, 300}, {44, 400, 500}}, {"thread 1: sequence 43 missing"}, 1},
    {"SequencesMissing", {{41, 100, 200}, {45, 500, 600}}, {"thread 1: sequences 42-44 missing"}, 1},
    {"IdenticalCopies",
     {{41, 100, 200}, {41, 100, 200, 0}},
     {"thread 1: sequence 41 is in both log1.log and log2.log, byte for byte identical (multiplexed copies)"}, 1},
    // another database id changes block 1's checksum first: byte 512 + 14
    {"DifferingCopies",
     {{41, 100, 200}, {41, 100, 200, -1, 0x51560002}},
     {"thread 1: sequence 41 is in both log1.log and log2.log, which differ from byte 526 on"}, 1},
    {"ScnDiscontinuity",
     {{41, 100, 200}, {42, 250, 300}},
     {"thread 1: sequence 41 ends at SCN 200 but sequence 42 begins at SCN 250"}, 1},
};

INSTANTIATE_TEST_SUITE_P(Cases, InfoSet, testing::ValuesIn(kSetCases),
                         [](const testing::TestParamInfo<SetCase>& i) { return std::string(i.param.name); });

// Sequence 42's row comes before 43's: the table is ordered, not as given.
TEST(InfoSet, TableOrder)
{
    TempDir t;
    RunResult r = info(write_set(t, {{43, 300, 400}, {42, 200, 300}}), t.dir());
    EXPECT_LT(r.out.find(" log2.log\n"), r.out.find(" log1.log\n", r.out.find("logs by thread")));
    EXPECT_EQ(r.status, 0);
}

// A file that is not a log among good ones: reported as such, the others
// still reported, status 2 (over the findings of the others).
TEST(InfoSet, NotALogAmongLogs)
{
    TempDir t;
    std::vector<std::string> names = write_set(t, {{41, 100, 200}, {43, 300, 400}});
    LogBuilder::write_file(t.path("notes.txt"), str("not a redo log, just text that is long enough\n"));
    RunResult r = info({names[0], "notes.txt", "missing.log", names[1]}, t.dir());
    expect_lines(r.out, {"file: log1.log", "file: notes.txt", "verdict: not a log", "file: missing.log",
                         "verdict: unreadable", "file: log2.log", "thread 1: sequence 42 missing"});
    std::vector<std::string> got = report_lines(r.out);
    EXPECT_EQ(std::count(got.begin(), got.end(), "verdict: intact"), 2) << r.out;
    EXPECT_EQ(r.err, "notes.txt bytes endian not match.\nopen missing.log: No such file or directory\n");
    EXPECT_EQ(r.status, 2);
}

// ---- CSV ----------------------------------------------------------------------------

TEST(InfoCsv, LoadsAsItIs)
{
    TempDir t;
    std::vector<std::string> names = write_set(t, {{41, 100, 200}, {42, 200, 0xFFFFFFFFFFFFULL}});
    LogOptions o;
    o.description = "say \"hi\", then\nstop";
    o.next_block = NAB_UNKNOWN;
    build_log(o).write(t.path("odd,name.log"));
    LogBuilder::write_file(t.path("short.log"), Bytes(10, 0));

    RunResult r = info({"-csv", names[0], names[1], "odd,name.log", "short.log"}, t.dir());
    std::optional<CsvRows> rows = read_csv(r.out);
    ASSERT_TRUE(rows) << r.out;
    ASSERT_EQ(rows->size(), 5u) << r.out;
    const CsvRow& h = (*rows)[0];
    const std::vector<std::string> header = {
        "file", "file_size", "block0_size", "block_size", "whole_blocks", "declared_blocks", "cut_short",
        "db_name", "db_id", "compat", "thread", "sequence", "description", "first_scn", "first_time", "next_scn",
        "next_time", "next_block", "block0_checksum", "intact_blocks", "stale_blocks", "unwritten_blocks",
        "misplaced_blocks", "bad_checksum_blocks", "unchecked_blocks", "findings", "verdict"};
    ASSERT_EQ(h, header);
    auto col = [&](size_t row, const char* name) {
        size_t k = (size_t)(std::find(header.begin(), header.end(), name) - header.begin());
        return (*rows)[row].at(k);
    };
    for (size_t i = 1; i < rows->size(); i++)
        EXPECT_EQ((*rows)[i].size(), header.size()) << "row " << i;
    EXPECT_EQ(col(1, "file"), "log1.log");
    EXPECT_EQ(col(1, "sequence"), "41");
    EXPECT_EQ(col(1, "next_scn"), "200");
    EXPECT_EQ(col(1, "next_time"), "2024-01-15 10:30:00");
    EXPECT_EQ(col(1, "intact_blocks"), "10");
    EXPECT_EQ(col(1, "verdict"), "intact");
    EXPECT_EQ(col(2, "next_scn"), "");
    EXPECT_EQ(col(2, "next_time"), "");
    EXPECT_EQ(col(3, "file"), "odd,name.log");
    EXPECT_EQ(col(3, "description"), "say \"hi\", then\\x0astop");
    EXPECT_EQ(col(3, "next_block"), "");
    EXPECT_EQ(col(4, "file"), "short.log");
    EXPECT_EQ(col(4, "file_size"), "10");
    EXPECT_EQ(col(4, "thread"), "");
    EXPECT_EQ(col(4, "verdict"), "not a log");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("short.log"), std::string::npos);
}

// ---- the command line ------------------------------------------------------------------

struct CliCase {
    std::vector<std::string> args;
    int status;
    std::string err_has;
};

TEST(InfoCli, StatusAndMessages)
{
    const CliCase cases[] = {
        {{}, 2, "log file name not specified.\n"},
        {{"-x", "a.log"}, 2, "Invalid option \"-x\" specified.\n"},
        {{"-h"}, 0, "usage: " QUORVIL_INFO_BIN " [-csv] LOG...\n"},
        {{"-csv"}, 2, "log file name not specified.\n"},
    };
    for (const CliCase& c : cases) {
        RunResult r = info(c.args, "");
        EXPECT_EQ(r.status, c.status) << c.err_has;
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// ---- the real published bytes ------------------------------------------------------------

std::string fixture(const char* name)
{
    return read_file(std::string(QUORVIL_SOURCE_DIR) + "/tests/fixtures/real-log-bytes/" + name);
}

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(RealBytes, SharedFunctions)
{
    const std::string b0 = fixture("prod-seq157-block0.bin");
    std::string b1 = fixture("prod-seq157-block1-first264.bin");
    ASSERT_EQ(b0.size(), 512u);
    ASSERT_EQ(b1.size(), 264u);
    b1.resize(512, '\0');
    char buf[32];

    EXPECT_EQ(block_checksum(bytes_of(b0), 512), 0);
    EXPECT_NE(block_checksum(bytes_of(b1), 512), 0);
    EXPECT_EQ(classify_block(bytes_of(b1), 512, 1, 157), BLOCK_BAD_CHECKSUM);

    const struct {
        uint32_t value;
        bool is_time;
        const char* text;
    } table[] = {
        {read_u32(bytes_of(b1) + offsetof(REDO_BLOCK1, low_scn_time)), true, "2015-09-11 17:20:34"},
        {read_u32(bytes_of(b1) + offsetof(REDO_BLOCK1, next_scn_time)), true, "2015-09-12 10:37:07"},
        {read_u32(bytes_of(b1) + offsetof(REDO_BLOCK1, csvn)), false, "11.2.0.4.0"},
        {0x13000000, false, "19.0.0.0.0"},
        {0x0c100200, false, "12.1.0.2.0"},
    };
    for (const auto& row : table) {
        if (row.is_time)
            format_redo_time(row.value, buf, sizeof buf);
        else
            format_compat(row.value, buf, sizeof buf);
        EXPECT_STREQ(buf, row.text) << std::hex << row.value;
    }
}

TEST(RealBytes, Report)
{
    std::string b1 = fixture("prod-seq157-block1-first264.bin");
    b1.resize(512, '\0');
    TempDir t;
    {
        std::string log = fixture("prod-seq157-block0.bin") + b1;
        LogBuilder::write_file(t.path("prod.log"), Bytes(log.begin(), log.end()));
    }
    RunResult r = info({"prod.log"}, t.dir());
    expect_lines(r.out, {
                            "block size: 512 bytes (block 0: 512 bytes)",
                            "blocks: 1 whole block after block 0, 102400 declared: the file is cut short",
                            "database: PROD, id 256082616",
                            "compatibility: 11.2.0.4.0",
                            "thread: 1",
                            "sequence: 157",
                            "description: Thread 0001, Seq# 0000000157, SCN 0x000000c9d8b4-0x000000ca61ea",
                            "first SCN: 13228212 at 2015-09-11 17:20:34",
                            "next SCN: 13263338 at 2015-09-12 10:37:07",
                            "next available block: 28005",
                            "block 0 checksum: holds",
                            "checksum mismatch: 1 block: 1",
                            "finding: 1 block whose checksum does not hold, before the next available block: 1",
                            "finding: blocks 2-28004 (28003 blocks) lie before the next available block but "
                            "are not in the file",
                            "verdict: cut short",
                        });
    EXPECT_EQ(r.status, 1);
}

}  // namespace
