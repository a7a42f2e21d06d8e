/*
 * info_test.cpp - quorvil-info end to end: logs written by the builder (and
 * the real published header bytes) are given to the real quorvil-info
 * binary, and its report lines, CSV and exit status are checked.
 *
 * The report lines a case names must all be there, in that order, compared
 * with runs of blanks squeezed to one, so that the cases read as
 * "checksum mismatch: 1 block: 5".
 */
#include "log_builder.h"
#include "quorvil.h"
#include "run_quorvil.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include <unistd.h>

using namespace qvtest;

namespace {

constexpr uint64_t kOpen = 0xFFFFFFFFFFFFULL;  // the next SCN of a log still being written

void expect_report(const RunResult& r, const std::vector<std::string>& want, int status, const std::string& err)
{
    EXPECT_EQ(r.status, status) << r.out << r.err;
    EXPECT_EQ(r.err, err);
    // "\n" before every line, the blanks around it dropped and runs of blanks squeezed
    const std::string text =
        std::regex_replace(std::regex_replace("\n" + r.out, std::regex(" +"), " "), std::regex(" ?\n ?"), "\n");
    size_t at = 0;
    for (const std::string& w : want) {
        at = text.find("\n" + w + "\n", at);
        ASSERT_NE(at, std::string::npos) << "no line \"" << w << "\" after the lines before it in:\n" << r.out;
        at += w.size() + 1;
    }
}

// A log of `blocks` blocks after block 0: the header, one transaction, then empty blocks.
LogBuilder build_log(const LogOptions& o, uint32_t blocks = 10)
{
    LogBuilder lb(o);
    lb.add(o.first_scn + 1, {v_begin({1, 2, 3}), v_commit({1, 2, 3})});
    lb.add_empty_blocks(blocks - 2);
    return lb;
}

// Sets the sequence in the headers of blocks first..last, checksums kept.
void restamp(const LogBuilder& lb, Bytes& img, uint32_t first, uint32_t last, uint32_t seq)
{
    for (uint32_t b = first; b <= last; b++)
        set_u32(img, lb.file_offset(b, offsetof(REDO_BH, rba_sqn)), seq);
    lb.seal(img);
}

// The published block 0 and the first 264 bytes of block 1, the rest of block 1 zero.
Bytes real_log()
{
    const std::string dir = QUORVIL_SOURCE_DIR "/tests/fixtures/real-log-bytes/";
    std::string b0 = read_file(dir + "prod-seq157-block0.bin"), b1 = read_file(dir + "prod-seq157-block1-first264.bin");
    EXPECT_EQ(b0.size(), 512u);
    EXPECT_EQ(b1.size(), 264u);
    b0 += b1;
    b0.resize(1024, '\0');
    return Bytes(b0.begin(), b0.end());
}

// Writes a case's files into the folder and returns the arguments to give quorvil-info.
using Files = std::function<std::vector<std::string>(const TempDir&)>;

// redo.log: a log of sequence 7 made with `o`, its bytes then changed by `change`.
Files one(LogOptions o, void (*change)(const LogBuilder&, Bytes&) = [](auto&, auto&) {}, uint32_t blocks = 10)
{
    o.sequence = 7;
    return [=](const TempDir& t) {
        LogBuilder lb = build_log(o, blocks);
        Bytes img = lb.image();
        change(lb, img);
        LogBuilder::write_file(t.path("redo.log"), img);
        return std::vector<std::string>{"redo.log"};
    };
}

// A log of the builder's, or (copy_of >= 0) the bytes of that earlier log in the set again.
struct SetLog { uint32_t seq; uint64_t first_scn, next_scn; int copy_of = -1; uint32_t dbid = 0x51560001; };

// Writes the logs as log1.log, log2.log, ... and returns their names.
std::vector<std::string> write_set(const TempDir& t, const std::vector<SetLog>& logs)
{
    std::vector<Bytes> images;
    std::vector<std::string> names;
    for (const SetLog& l : logs) {
        LogOptions o{.first_scn = l.first_scn, .sequence = l.seq, .dbid = l.dbid, .next_scn = l.next_scn};
        images.push_back(l.copy_of >= 0 ? images[(size_t)l.copy_of] : build_log(o).image());
        names.push_back("log" + std::to_string(names.size() + 1) + ".log");
        LogBuilder::write_file(t.path(names.back()), images.back());
    }
    return names;
}

Files set(std::vector<SetLog> logs) { return [=](const TempDir& t) { return write_set(t, logs); }; }

struct InfoCase { const char* name; Files files; std::vector<std::string> lines; int status; std::string err; };

void PrintTo(const InfoCase& c, std::ostream* os) { *os << c.name; }

class Info : public testing::TestWithParam<InfoCase> {};

TEST_P(Info, Report)
{
    const InfoCase& c = GetParam();
    TempDir t;
    expect_report(run_program(QUORVIL_INFO_BIN, c.files(t), t.dir()), c.lines, c.status, c.err);
}

const InfoCase kOneLog[] = {
    {"Intact", one({}),
     {"file: redo.log", "file size: 5632 bytes", "block size: 512 bytes (block 0: 512 bytes)",
      "blocks: 10 whole blocks after block 0, 10 declared", "database: QVTEST, id 1364590593",
      "compatibility: 11.2.0.4.0", "thread: 1", "sequence: 7",
      "description: Thread 0001, Seq# 0000000007, SCN 0x000000000001-0x000000000003",
      "first SCN: 1 at 2024-01-15 09:30:00", "next SCN: 3 at 2024-01-15 10:30:00", "next available block: 11",
      "block 0 checksum: holds", "intact: 10 blocks: 1-10", "stale: 0", "never written: 0", "misplaced: 0",
      "checksum mismatch: 0", "unchecked: 0", "findings: none", "verdict: intact"}, 0},
    {"FlippedByte", one({}, [](auto& lb, auto& img) { img[lb.file_offset(5, 100)] ^= 0x10; }),
     {"intact: 9 blocks: 1-4, 6-10", "checksum mismatch: 1 block: 5",
      "finding: checksum mismatch (the block's checksum does not hold): 1 block before the next available block: 5", "verdict: damaged"}, 1},
    {"FlippedByteInBlock0", one({}, [](auto&, auto& img) { img[40] ^= 0x01; }),
     {"block 0 checksum: does not hold", "finding: block 0's checksum does not hold", "verdict: damaged"}, 1},
    {"StaleTail", one({.next_block = 8}, [](auto& lb, auto& img) { restamp(lb, img, 8, 10, 6); }),
     {"next available block: 8", "intact: 7 blocks: 1-7", "stale: 3 blocks: 8-10",
      "tail: blocks 8-10, from the next available block on: not part of this use of the log", "findings: none",
      "verdict: intact"}, 0},
    {"UnwrittenTail",
     one({.next_block = 9},
         [](auto& lb, auto& img) { std::fill(img.begin() + (long)lb.file_offset(9, 0), img.end(), 0); }),
     {"never written: 2 blocks: 9-10", "findings: none", "verdict: intact"}, 0},
    {"StaleBeforeNextBlock", one({}, [](auto& lb, auto& img) { restamp(lb, img, 4, 6, 6); }),
     {"stale: 3 blocks: 4-6", "finding: stale (written for an older sequence): 3 blocks before the next available block: 4-6",
      "verdict: damaged"}, 1},
    {"Misplaced",
     one({}, [](auto& lb, auto& img) { set_u32(img, lb.file_offset(6, offsetof(REDO_BH, rba_blk)), 3); lb.seal(img); }),
     {"misplaced: 1 block: 6",
      "finding: misplaced (its header names another block): 1 block before the next available block: 6",
      "verdict: damaged"}, 1},
    {"StoredChecksumZero",
     one({}, [](auto& lb, auto& img) { set_u16(img, lb.file_offset(4, offsetof(REDO_BH, chkval)), 0); }),
     {"unchecked: 1 block: 4",
      "finding: unchecked (no checksum stored): 1 block before the next available block: 4",
      "verdict: unchecked"}, 1},
    // words chosen so that the block's checksum is 0: stored 0, and it holds
    {"ChecksumThatIsZero", one({}, [](auto& lb, auto& img) {
         set_u16(img, lb.file_offset(5, 100), 0x2201 ^ 5 ^ 7);
         lb.seal(img);
         ASSERT_EQ(img[lb.file_offset(5, offsetof(REDO_BH, chkval))], 0);
     }),
     {"intact: 10 blocks: 1-10", "unchecked: 0", "verdict: intact"}, 0},
    // nothing is checked, and nothing is said
    {"WrittenWithoutChecksums", one({.checksums = false}),
     {"checksums: none: neither block 0 nor block 1 stores one that holds, so no block is checked",
      "block 0 checksum: not stored (0), not checked", "unchecked: 10 blocks: 1-10", "findings: none",
      "verdict: unchecked"}, 0},
    {"CutShortBeforeNextBlock", one({}, [](auto& lb, auto& img) { img.resize(lb.file_offset(7, 0) + 100); }),
     {"blocks: 6 whole blocks after block 0, 10 declared: the file is cut short (and 100 bytes of a partial block)",
      "finding: blocks 7-10 (4 blocks) lie before the next available block but are not in the file",
      "verdict: cut short"}, 1},
    {"ArchivedCopyOfWrittenBlocks", one({.declared_blocks = 100}),
     {"blocks: 10 whole blocks after block 0, 100 declared", "findings: none",
      "verdict: intact"}, 0},
    {"OpenLogStaleTail",
     one({.next_scn = kOpen, .next_block = NAB_UNKNOWN}, [](auto& lb, auto& img) { restamp(lb, img, 6, 10, 6); }),
     {"next SCN: none: the log is still open", "next available block: not yet known (stored 0xffffffff)",
      "stale: 5 blocks: 6-10", "tail: blocks 6-10, after block 5, the last of sequence 7", "findings: none",
      "verdict: intact"}, 0},
    {"OpenLogStaleInside", one({.next_block = NAB_UNKNOWN}, [](auto& lb, auto& img) { restamp(lb, img, 3, 3, 6); }),
     {"finding: stale (written for an older sequence): 1 block up to block 10, the last of sequence 7: 3",
      "verdict: damaged"}, 1},
    // with the next available block unknown, the log ends with its last block of its own
    {"OpenLogShorterThanDeclared", one({.next_block = NAB_UNKNOWN, .declared_blocks = 20}),
     {"blocks: 10 whole blocks after block 0, 20 declared", "findings: none", "verdict: intact"}, 0},
    {"LaterVersionNoted", one({.compat = 0x13000000}),
     {"compatibility: 19.0.0.0.0",
      "note: quorvil's layouts are those of logs up to 11.2, so lines quorvil writes from this log may be wrong",
      "findings: none", "verdict: intact"}, 0},
    // block 0's checksum proves the log has checksums: a file ending inside block 1 is cut short
    {"EndsInsideBlock1Header", one({}, [](auto&, auto& img) { img.resize(700); }),
     {"finding: block 0 proves the log has checksums, and the file ends before block 1's header",
      "verdict: cut short"}, 1, "read redo.log: header needs 720 bytes, got 700\n"},
    {"EndsInsideBlock1", one({}, [](auto&, auto& img) { img.resize(800); }),
     {"finding: the file ends 288 bytes into block 1", "verdict: cut short"}, 1},
    {"ReadErrorIsUnreadable", [](const TempDir&) { return std::vector<std::string>{"/proc/self/mem"}; },
     {"file: /proc/self/mem", "verdict: unreadable"}, 2, "read /proc/self/mem: Input/output error\n"},
    {"DescriptionShownSafely", one({.description = "tab\there \\ \x7f end"}),
     {"description: tab\\x09here \\x5c \\x7f end"}, 0},
    // more than the ten ranges kept: the rest is counted
    {"ManyRangesAreCounted",
     one({}, [](auto& lb, auto& img) { for (uint32_t b = 2; b <= 40; b += 3) img[lb.file_offset(b, 200)] ^= 1; }, 40),
     {"checksum mismatch: 13 blocks: 2, 5, 8, 11, 14, 17, 20, 23, 26, 29, and 3 more"}, 1},
    {"RealBytes", one({}, [](auto&, auto& img) { img = real_log(); }),
     {"block size: 512 bytes (block 0: 512 bytes)",
      "blocks: 1 whole block after block 0, 102400 declared", "database: PROD, id 256082616",
      "compatibility: 11.2.0.4.0", "thread: 1", "sequence: 157",
      "description: Thread 0001, Seq# 0000000157, SCN 0x000000c9d8b4-0x000000ca61ea",
      "first SCN: 13228212 at 2015-09-11 17:20:34", "next SCN: 13263338 at 2015-09-12 10:37:07",
      "next available block: not used: block 1 is not intact (stored 0x00006d65)",
      "checksums: every block checked; block 1 is not intact (checksum mismatch), so its next available block, "
      "declared blocks and sequence are not used",
      "block 0 checksum: holds", "checksum mismatch: 1 block: 1",
      "finding: checksum mismatch (the block's checksum does not hold): 1 block: 1", "verdict: damaged"}, 1},
};

const InfoCase kSetOfLogs[] = {
    // given out of order: the table is ordered by thread and sequence
    {"Continuous", set({{43, 300, kOpen}, {41, 100, 200}, {42, 200, 300}}),
     {"logs by thread and sequence:", "thread sequence SCN range time range verdict file",
      "1 41 100-200 2024-01-15 09:30:00 - 2024-01-15 10:30:00 intact log2.log",
      "1 42 200-300 2024-01-15 09:30:00 - 2024-01-15 10:30:00 intact log3.log",
      "1 43 300-open 2024-01-15 09:30:00 - open intact log1.log",
      "no missing sequence, no duplicate, no SCN discontinuity"}, 0},
    {"SequenceMissing", set({{41, 100, 200}, {42, 200, 300}, {44, 400, 500}}), {"thread 1: sequence 43 missing"}, 1},
    {"SequencesMissing", set({{41, 100, 200}, {45, 500, 600}}), {"thread 1: sequences 42-44 missing"}, 1},
    {"IdenticalCopies", set({{41, 100, 200}, {41, 100, 200, 0}}),
     {"thread 1: sequence 41 is in both log1.log and log2.log, byte for byte identical (multiplexed copies)"}, 1},
    // another next SCN changes block 1's checksum first: byte 512 + 14
    {"DifferingCopies", set({{41, 100, 200}, {41, 100, 250}}),
     {"thread 1: sequence 41 is in both log1.log and log2.log, which differ from byte 526 on"}, 1},
    // logs of two databases are two sets
    {"TwoDatabases", set({{41, 100, 200}, {7, 100, 200, -1, 0x51560002}}),
     {"no missing sequence, no duplicate, no SCN discontinuity"}, 0},
    {"OpenLogFollowed", set({{41, 100, kOpen}, {42, 200, 300}}),
     {"thread 1: sequence 41 is still open (its next SCN is not known) but sequence 42 follows from SCN 200: what "
      "it held after it was copied is in no file"}, 1},
    // by another path and by a hard link: read once, neither a duplicate nor a finding
    {"OneFileNamedThrice",
     [](const TempDir& t) {
         std::vector<std::string> names = write_set(t, {{41, 100, 200}});
         EXPECT_EQ(link(t.path(names[0]).c_str(), t.path("link\tname.log").c_str()), 0);
         return std::vector<std::string>{names[0], "./" + names[0], "link\tname.log"};
     },
     {"file: ./log1.log", "same file as: log1.log, checked once", "verdict: the same file named twice",
      "file: link\\x09name.log", "same file as: log1.log, checked once",
      "no missing sequence, no duplicate, no SCN discontinuity"}, 0},
    {"ScnDiscontinuity", set({{41, 100, 200}, {42, 250, 300}}),
     {"thread 1: sequence 41 ends at SCN 200 but sequence 42 begins at SCN 250"}, 1},
    // a file that is not a log among good ones: reported as such, the others still reported, status 2 (over the
    // findings of the others)
    {"NotALogAmongLogs",
     [](const TempDir& t) {
         std::vector<std::string> names = write_set(t, {{41, 100, 200}, {43, 300, 400}});
         LogBuilder::write_file(t.path("notes.txt"), str("not a redo log, just text that is long enough\n"));
         return std::vector<std::string>{names[0], "notes.txt", "missing.log", names[1]};
     },
     {"file: log1.log", "verdict: intact", "file: notes.txt", "verdict: not a log", "file: missing.log",
      "verdict: unreadable", "file: log2.log", "verdict: intact", "thread 1: sequence 42 missing"},
     2, "notes.txt bytes endian not match.\nopen missing.log: No such file or directory\n"},
};

auto by_name = [](const auto& i) { return std::string(i.param.name); };
INSTANTIATE_TEST_SUITE_P(OneLog, Info, testing::ValuesIn(kOneLog), by_name);
INSTANTIATE_TEST_SUITE_P(SetOfLogs, Info, testing::ValuesIn(kSetOfLogs), by_name);

TEST(RealBytes, SharedFunctions)
{
    const Bytes log = real_log();
    const uint8_t* b1 = log.data() + 512;
    EXPECT_EQ(block_checksum(log.data(), 512), 0);
    EXPECT_NE(block_checksum(b1, 512), 0);
    EXPECT_EQ(classify_block(b1, 512, 1, 157, true), BLOCK_BAD_CHECKSUM);
    auto text = [](void (*format)(uint32_t, char*, size_t), uint32_t v) {
        char buf[32];
        format(v, buf, sizeof buf);
        return std::string(buf);
    };
    EXPECT_EQ(text(format_redo_time, read_u32(b1 + offsetof(REDO_BLOCK1, low_scn_time))), "2015-09-11 17:20:34");
    EXPECT_EQ(text(format_redo_time, read_u32(b1 + offsetof(REDO_BLOCK1, next_scn_time))), "2015-09-12 10:37:07");
    EXPECT_EQ(text(format_compat, read_u32(b1 + offsetof(REDO_BLOCK1, csvn))), "11.2.0.4.0");
    EXPECT_EQ(text(format_compat, 0x13000000), "19.0.0.0.0");
    EXPECT_EQ(text(format_compat, 0x0c100200), "12.1.0.2.0");
}

// The whole CSV: a field with a comma, a quote or a line end is quoted (the line end shown as \x0a), and a
// log still open has no next SCN, one being written no next block, a file that is not a log only its size.
TEST(InfoCsv, LoadsAsItIs)
{
    TempDir t;
    std::vector<std::string> names = write_set(t, {{41, 100, 200}, {42, 200, kOpen}});
    build_log({.description = "say \"hi\", then\nstop", .next_block = NAB_UNKNOWN}).write(t.path("odd,name.log"));
    LogBuilder::write_file(t.path("short.log"), Bytes(10, 0));
    RunResult r = run_program(QUORVIL_INFO_BIN, {"-csv", names[0], names[1], "odd,name.log", "short.log"}, t.dir());
    const char* want =
        "file,file_size,block0_size,block_size,whole_blocks,declared_blocks,cut_short,db_name,db_id,compat,thread,"
        "sequence,description,first_scn,first_time,next_scn,next_time,next_block,block0_checksum,intact_blocks,"
        "stale_blocks,unwritten_blocks,misplaced_blocks,bad_checksum_blocks,unchecked_blocks,later_sequence_blocks,"
        "findings,verdict\n"
        "log1.log,5632,512,512,10,10,0,QVTEST,1364590593,11.2.0.4.0,1,41,\"Thread 0001, Seq# 0000000041, SCN 0x"
        "000000000064-0x0000000000c8\",100,2024-01-15 09:30:00,200,2024-01-15 10:30:00,11,holds,10,0,0,0,0,0,0,0,intact\n"
        "log2.log,5632,512,512,10,10,0,QVTEST,1364590593,11.2.0.4.0,1,42,\"Thread 0001, Seq# 0000000042, SCN "
        "0x0000000000c8-0xffffffffffff\",200,2024-01-15 09:30:00,,,11,holds,10,0,0,0,0,0,0,0,intact\n"
        "\"odd,name.log\",5632,512,512,10,10,0,QVTEST,1364590593,11.2.0.4.0,1,1,\"say \"\"hi\"\", then\\x0astop\",1,"
        "2024-01-15 09:30:00,3,2024-01-15 10:30:00,,holds,10,0,0,0,0,0,0,0,intact\n"
        "short.log,10,,,,,,,,,,,,,,,,,,,,,,,,,,not a log\n";
    EXPECT_EQ(r.out, want);
    EXPECT_EQ(r.err, "read short.log: header needs 32 bytes, got 10\nthread 1: sequences 2-40 missing\n");
    EXPECT_EQ(r.status, 2);
}

TEST(InfoCli, StatusAndMessages)
{
    const struct { std::vector<std::string> args; int status; std::string err_starts, out; } cases[] = {
        {{}, 2, "log file name not specified.\n"},
        {{"-x", "a.log"}, 2, "Invalid option \"-x\" specified.\n"},
        {{"-h"}, 0, "usage: " QUORVIL_INFO_BIN " [-csv] LOG...\n"},
        {{"--help", "a.log"}, 0, "usage: " QUORVIL_INFO_BIN " [-csv] LOG...\n"},
        {{"-csv", "--version", "a.log"}, 0, "", "quorvil-info " QUORVIL_VERSION "\n"},
        {{"-csv"}, 2, "log file name not specified.\n"},
    };
    for (const auto& c : cases) {
        RunResult r = run_program(QUORVIL_INFO_BIN, c.args);
        EXPECT_EQ(r.status, c.status) << c.err_starts;
        EXPECT_EQ(c.err_starts.empty() ? r.err : r.err.substr(0, c.err_starts.size()), c.err_starts);
        EXPECT_EQ(r.out, c.out);
    }
}

}  // namespace
