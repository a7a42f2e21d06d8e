// What quorvil takes from a log whose header can be trusted: the next
// available block tells a file cut short, and a record below the first SCN
// in a block of the log's own sequence is damage; without checksums every
// case mines as it always did.  Then one judgment of every block: on each
// log of a series, quorvil's lines, damage lines and status agree with
// quorvil-info's verdict on the same file.  Also the line for logs later
// than 11.2.
#include "mined.h"
#include "quorvil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>
#include <string>

using namespace qvtest;

namespace {

const Xid X{3, 17, 4242};
const Bytes VALUE(300, 0xab);  // from block 2 into block 3
const std::string START = "10,3,17,4242,0,0,,START,set transaction read write;\n";
const std::string COMMIT = "12,3,17,4242,0,0,,COMMIT,commit;\n";

// START at 10, an insert of VALUE at 11, COMMIT at 12, then two blocks
// holding no record.
Bytes base(std::function<void(LogOptions&)> set = nullptr, uint32_t drop_blocks = 0)
{
    LogOptions o;
    if (set)
        set(o);
    LogBuilder lb(o);
    lb.add(10, {v_begin(X)});
    lb.add(11, {v_undo_insert(X, 100, 101), v_insert({VALUE})});
    lb.add(12, {v_commit(X)});
    lb.add_empty_blocks(2);
    Bytes img = lb.image();
    img.resize(img.size() - 512 * drop_blocks);
    return img;
}

std::string damage(uint32_t block, const std::string& what)
{
    return "redo.log: block " + std::to_string(block) + ": " + what +
           "\nredo.log: 1 damaged place passed over; the output is incomplete\n" + kFail;
}

enum Lines { GOOD, OWN };

struct TrustCase {
    const char* name;
    std::function<Bytes()> log;
    Lines lines;
    std::string err;
    int status;
    std::string own = "";  // the lines when OWN
};
void PrintTo(const TrustCase& c, std::ostream* os) { *os << c.name; }

class HeaderTrust : public ::testing::TestWithParam<TrustCase> {};

TEST_P(HeaderTrust, MinesAsTheHeaderAllows)
{
    const TrustCase& c = GetParam();
    static const std::string good = mine(base()).lines();
    const std::string want = c.lines == OWN ? c.own : good;
    Mined m = mine(c.log());
    EXPECT_EQ(m.lines(), want);
    EXPECT_EQ(m.err, c.err);
    EXPECT_EQ(m.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderTrust,
    ::testing::Values(
        TrustCase{"intact_log", [] { return base(); }, GOOD, kEnd, 0},
        // bytes after the last block that look like a block header but name
        // another block are stray bytes, never a block cut short
        TrustCase{"stray_bytes_naming_another_block",
                  [] {
                      Bytes img = base(), tail(100, 0);
                      set_u32(tail, 4, 77);
                      set_u16(tail, 12, 16);
                      set_u32(tail, 16, 60);
                      img.insert(img.end(), tail.begin(), tail.end());
                      return img;
                  },
                  GOOD, kEnd, 0},
        TrustCase{"block_cut_short_where_a_record_begins",
                  [] {
                      LogBuilder lb;
                      lb.add(10, {v_begin(X)});
                      lb.next_block();
                      lb.add(12, {v_commit(X)});
                      Bytes img = lb.image();
                      img.resize(img.size() - 300);
                      return img;
                  },
                  OWN,
                  "read redo.log: the file ends 212 bytes into block 3, where a record begins; that block is not "
                  "read\n" + kFail,
                  255, START},
        // the last two blocks the header says were written are missing
        TrustCase{"cut_at_a_block_boundary", [] { return base(nullptr, 2); }, GOOD,
                  "read redo.log: the header says 5 blocks were written, the file holds 3\n" + kFail, 255},
        TrustCase{"cut_at_a_block_boundary_without_checksums",
                  [] { return base([](LogOptions& o) { o.checksums = false; }, 2); }, GOOD, kEnd, 0},
        // a log still being written does not know its next available block,
        // and one past the 5 declared blocks is not one either
        TrustCase{"cut_while_next_block_unknown",
                  [] { return base([](LogOptions& o) { o.next_block = 0xFFFFFFFF; }, 2); }, GOOD, kEnd, 0},
        TrustCase{"cut_while_next_block_past_the_declared_blocks",
                  [] { return base([](LogOptions& o) { o.next_block = 7; }, 2); }, GOOD, kEnd, 0},
        // an archived copy holds only the blocks written, not all the log had
        TrustCase{"archived_copy_of_a_larger_log",
                  [] { return base([](LogOptions& o) { o.declared_blocks = 102400; }); }, GOOD, kEnd, 0},
        // a record below the first SCN in a block of the log's own sequence
        TrustCase{"scn_below_first_in_own_sequence",
                  [] {
                      LogOptions o;
                      o.first_scn = 10;
                      LogBuilder lb(o);
                      lb.add(10, {v_begin(X)});
                      lb.add(9, {v_begin({1, 1, 1})});
                      lb.add(12, {v_commit(X)});
                      return lb.image();
                  },
                  OWN, damage(2, "record SCN 9 lies below the log's first SCN 10; record passed over"), 255,
                  START + COMMIT},
        // a reused online log: past the blocks this use wrote lie blocks of
        // the use before, with lower SCNs, where mining ends in silence
        TrustCase{"older_use_after_the_written_blocks",
                  [] {
                      LogOptions o;
                      o.sequence = 6;
                      o.first_scn = 10;
                      LogBuilder now(o);
                      now.add(10, {v_begin(X)});
                      now.add(12, {v_commit(X)});
                      return now.image_over_older_use(5, 7);
                  },
                  OWN, kEnd, 0, START + COMMIT}),
    [](const auto& info) { return std::string(info.param.name); });

// A log later than 11.2 gets one line before mining; 11.2 and earlier, and
// a version of 0, none.  The CSV is the same either way.
TEST(HeaderTrust, LineForLogsLaterThan11_2)
{
    const std::string good = mine(base()).lines();
    const std::pair<uint32_t, const char*> cases[] = {
        {0x13000000, "19.0.0.0.0"}, {0x0c100200, "12.1.0.2.0"}, {0x0b200400, nullptr}, {0x0a200000, nullptr}, {0, nullptr},
    };
    for (const auto& [compat, version] : cases) {
        SCOPED_TRACE(compat);
        Mined m = mine(base([compat](LogOptions& o) { o.compat = compat; }));
        const std::string line = version ? std::string("redo.log: compatibility ") + version +
                                               ": quorvil's layouts are those of logs up to 11.2, so lines from "
                                               "this log may be wrong\n"
                                         : "";
        EXPECT_EQ(m.err, line + kEnd);
        EXPECT_EQ(m.lines(), good);
        EXPECT_EQ(m.status, 0);
    }
}

// ---- one judgment of every block --------------------------------------------

// A log of sequence 41, 42 or 43 of one database: 27 blocks of 512 bytes
// after block 0.  Record 0 inserts a 1,500-byte value over blocks 2-5; then
// a START, an insert of 100 bytes, a COMMIT, again and again: one line a
// record, each known by its SCN and the blocks it begins and ends in.
struct Rec { uint64_t scn; uint32_t first, ofs, last; };
struct Series { LogBuilder lb; Bytes img; std::vector<Rec> recs; };

Series series(uint32_t seq)
{
    Series s{LogBuilder(LogOptions{.first_scn = seq * 1000, .sequence = seq}), {}, {}};
    for (uint32_t i = 0; s.lb.position().block < 27; i++) {
        const Xid x{1, uint16_t(i / 3), seq * 1000 + i};
        const auto at = s.lb.add(x.sqn, i % 3 == 1 || i == 0 ? std::vector<Vector>{v_undo_insert(x, 7, 7),
                                                                                   v_insert({Bytes(i ? 100 : 1500, uint8_t(i))})}
                                        : i % 3 == 0 ? std::vector<Vector>{v_begin(x)} : std::vector<Vector>{v_commit(x)});
        s.recs.push_back({x.sqn, at.block, at.offset, s.lb.position().block - (s.lb.position().offset == 16)});
    }
    s.img = s.lb.image();
    return s;
}

const Series s41 = series(41), s43 = series(43);
size_t at(const Series& s, uint32_t block) { return size_t(s.lb.file_offset(block, 0)); }
// Block b as it stands in another log of the series.
auto from = [](const Series& o, uint32_t b) {
    return [&o, b](Series& s) { std::copy_n(o.img.begin() + long(at(o, b)), 512, s.img.begin() + long(at(s, b))); };
};
auto zero = [](uint32_t first, uint32_t last) {
    return [=](Series& s) { std::fill(s.img.begin() + long(at(s, first)), s.img.begin() + long(at(s, last + 1)), 0); };
};
// Flips a bit of the first 100-byte value that begins in block 17.
void flip_value_in_block17(Series& s)
{
    for (size_t i = 1; i < s.recs.size(); i++) {
        const Bytes v(8, uint8_t(i));
        const size_t p = size_t(std::search(s.img.begin(), s.img.end(), v.begin(), v.end()) - s.img.begin());
        if (i % 3 == 1 && p >= at(s, 17) && p < at(s, 18))
            return void(s.img[p] ^= 0x04);
    }
    FAIL() << "no value begins in block 17";
}
// The second record that begins in block 14.
const Rec& second_in_14(const Series& s)
{
    auto first = std::find_if(s.recs.begin(), s.recs.end(), [](const Rec& r) { return r.first == 14; });
    return first[1];
}

struct AgreeCase {
    const char* name;
    std::function<void(Series&)> change;
    std::function<bool(const Series&, const Rec&)> lost;  // the records whose lines are left out
    size_t changed;                                        // lines that differ from the intact log's
    std::vector<std::string> err;                          // lines standard error must hold
    int status;
    const char* verdict;                                   // quorvil-info's
};
void PrintTo(const AgreeCase& c, std::ostream* os) { *os << c.name; }

auto touches = [](uint32_t b) { return [b](const Series&, const Rec& r) { return r.first <= b && b <= r.last; }; };
const std::string kSum = "checksum mismatch (the block's checksum does not hold)";
const std::string kDecoded17 = "redo.log: block 17: " + kSum + "; what the block holds is decoded but may be wrong";
const std::string kDecoded2 = "redo.log: 2 damaged places decoded; lines from them may hold wrong values";

class OneJudgment : public ::testing::TestWithParam<AgreeCase> {};

TEST_P(OneJudgment, QuorvilAndInfoAgree)
{
    const AgreeCase& c = GetParam();
    Series s = series(42);
    const std::string good = mine(s.img).lines();
    if (c.change)
        c.change(s);
    TempDir t;
    LogBuilder::write_file(t.path("redo.log"), s.img);
    const Mined m = mine_in(t, {});
    // the intact log's lines, one a record, less those lost; then line by line
    std::istringstream want_in(good), got_in(m.lines());
    size_t differ = 0, i = 0;
    for (std::string w, g; std::getline(want_in, w); i++)
        if (!c.lost || !c.lost(s, s.recs[i]))
            differ += !std::getline(got_in, g) || g != w;
    EXPECT_EQ(i, s.recs.size());
    EXPECT_TRUE(got_in.peek() == EOF) << "more lines than expected";
    EXPECT_EQ(differ, c.changed);
    for (const std::string& line : c.err)
        EXPECT_NE(("\n" + m.err).find("\n" + line + "\n"), std::string::npos) << line << "\nin:\n" << m.err;
    EXPECT_EQ(m.status, c.status);
    RunResult info = run_program(QUORVIL_INFO_BIN, {"redo.log"}, t.dir());
    EXPECT_NE(info.out.find(std::string("verdict:               ") + c.verdict + "\n"), std::string::npos) << info.out;
}

INSTANTIATE_TEST_SUITE_P(
    Series, OneJudgment,
    ::testing::Values(
        AgreeCase{"intact", nullptr, nullptr, 0, {"quorvil end."}, 0, "intact"},
        // block 10 as sequence 41 left it (a lost write), from sequence 43, or zeros: its records, and the one
        // running into it, are left out; so are blocks 18-27 zeroed in a file of the same size
        AgreeCase{"lost_write", from(s41, 10), touches(10), 0,
                  {"redo.log: block 10: stale (written for an older sequence); no record is taken from it"}, 255, "damaged"},
        AgreeCase{"block_of_a_later_sequence", from(s43, 10), touches(10), 0,
                  {"redo.log: block 10: of a later sequence (not this log's); no record is taken from it"}, 255, "damaged"},
        AgreeCase{"zeroed_block", zero(10, 10), touches(10), 0,
                  {"redo.log: block 10: never written (all zeros); no record is taken from it"}, 255, "damaged"},
        AgreeCase{"zero_filled_from_block_18", zero(18, 27), [](const Series&, const Rec& r) { return r.last >= 18; }, 0,
                  {"redo.log: block 18: never written (all zeros); no record is taken from it",
                   "redo.log: block 27: never written (all zeros); no record is taken from it"}, 255, "damaged"},
        AgreeCase{"value_over_blocks_2_to_5_block_4_zeroed", zero(4, 4), touches(4), 0,
                  {"redo.log: block 2: record of 1716 bytes runs on into block 4, which is never written; record left out"},
                  255, "damaged"},
        AgreeCase{"value_over_blocks_2_to_5_block_4_from_an_older_use", from(s41, 4), touches(4), 0,
                  {"redo.log: block 2: record of 1716 bytes runs on into block 4, which is stale; record left out"}, 255,
                  "damaged"},
        AgreeCase{"misplaced_block", [](Series& s) { set_u32(s.img, at(s, 12) + 4, 9), s.lb.seal(s.img); }, touches(12), 0,
                  {"redo.log: block 12: misplaced (its header names another block); no record is taken from it"}, 255,
                  "damaged"},
        // past the next available block: an older use's tail with a flipped bit, or the rest of a device
        AgreeCase{"flipped_bit_after_the_next_available_block",
                  [](Series& s) { s.img = s.lb.image_over_older_use(41, 40), s.img[at(s, 35) + 100] ^= 1; }, nullptr,
                  0, {"quorvil end."}, 0, "intact"},
        AgreeCase{"device_larger_than_the_log",
                  [](Series& s) {
                      std::mt19937 gen(7);
                      for (int i = 0; i < 200 * 512; i++)
                          s.img.push_back(uint8_t(gen()));
                  },
                  nullptr, 0, {"quorvil end."}, 0, "intact"},
        AgreeCase{"unused_byte_of_block_1_and_a_value_bit_in_block_17",
                  [](Series& s) { s.img[512 + 400] ^= 1, flip_value_in_block17(s); }, nullptr, 1,
                  {"redo.log: block 1: " + kSum + "; its next available block, block count and sequence are not used",
                   kDecoded17, kDecoded2}, 255, "damaged"},
        // a stored 0 that holds is block 1's true checksum
        AgreeCase{"block_1_true_checksum_zero_and_a_value_bit_in_block_17",
                  [](Series& s) {
                      set_u16(s.img, 512 + 14, 0);
                      set_u16(s.img, 512 + 400, block_xor(s.img.data() + 512, 512));
                      flip_value_in_block17(s);
                  },
                  nullptr, 1, {kDecoded17, "redo.log: 1 damaged place decoded; lines from it may hold wrong values"}, 255,
                  "damaged"},
        AgreeCase{"next_available_block_1_in_a_failing_block_1_and_a_value_bit_in_block_17",
                  [](Series& s) { set_u32(s.img, 512 + 156, 1), flip_value_in_block17(s); }, nullptr, 1,
                  {kDecoded17, kDecoded2}, 255, "damaged"},
        // a changed record length costs the records that begin in its block from it on, and no more
        AgreeCase{"bad_record_length", [](Series& s) { s.img[at(s, 14) + second_in_14(s).ofs + 3] ^= 0x6e; },
                  [](const Series& s, const Rec& r) { return r.first == 14 && r.scn >= second_in_14(s).scn; }, 0,
                  {"redo.log: block 14: " + kSum + "; what the block holds is decoded but may be wrong"}, 255, "damaged"},
        // a block storing 0 and otherwise the log's own: decoded unverified, said once, no damage
        AgreeCase{"block_written_without_a_checksum", [](Series& s) { set_u16(s.img, at(s, 12) + 14, 0); }, nullptr, 0,
                  {"redo.log: block 12: unchecked (no checksum stored); decoded unverified", "quorvil end."}, 0,
                  "unchecked"},
        AgreeCase{"cut_at_a_block_boundary", [](Series& s) { s.img.resize(at(s, 26)); },
                  [](const Series&, const Rec& r) { return r.last >= 26; }, 0,
                  {"read redo.log: record of 316 bytes beginning in block 25 is cut off by the end of the file"}, 255,
                  "cut short"},
        // no checksums anywhere: nothing is checked, nothing is said
        AgreeCase{"without_checksums",
                  [](Series& s) {
                      for (size_t b = 0; b < s.img.size() / 512; b++)
                          set_u16(s.img, b * 512 + (b == 0 ? 16 : 14), 0);
                      flip_value_in_block17(s);
                  },
                  nullptr, 1, {"quorvil end."}, 0, "unchecked"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
