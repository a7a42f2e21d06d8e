// What quorvil takes from a log whose header can be trusted: block 1's own
// checksum holds, so every block's checksum and number are held to, the
// next available block tells a file cut short, and a record below the first
// SCN in a block of the log's own sequence is damage.  Without that
// calibration every case mines as a log without checksums always did.
// Also the line for logs later than 11.2.
#include "mined.h"
#include "quorvil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

// Byte 20 of VALUE, in block 2, changed after the checksums were stored;
// `prepare` first changes the header as the case needs.
Bytes changed_value(std::function<void(Bytes&)> prepare = nullptr)
{
    Bytes img = base();
    if (prepare)
        prepare(img);
    auto at = std::search(img.begin(), img.end(), VALUE.begin(), VALUE.begin() + 64) - img.begin() + 20;
    EXPECT_EQ(at / 512, 2);
    img[size_t(at)] = 0xba;
    return img;
}

std::string damage(uint32_t block, const std::string& what)
{
    return "redo.log: block " + std::to_string(block) + ": " + what +
           "\nredo.log: 1 damaged places passed over; the output is incomplete\n" + kFail;
}

enum Lines { GOOD, CHANGED, OWN };

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
    std::string want = c.own;
    if (c.lines != OWN) {
        want = good;
        Bytes v = VALUE;
        v[20] = 0xba;
        if (c.lines == CHANGED)
            want.replace(want.find(hexstr(VALUE)), 2 * VALUE.size(), hexstr(v));
    }
    Mined m = mine(c.log());
    EXPECT_EQ(m.lines(), want);
    EXPECT_EQ(m.err, c.err);
    EXPECT_EQ(m.status, c.status);
}

const std::string kChecksum = "block checksum does not hold; what the block holds is decoded but may be wrong";

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderTrust,
    ::testing::Values(
        TrustCase{"intact_log", [] { return base(); }, GOOD, kEnd, 0},
        // one changed byte in a column value: named at its block, every line still written
        TrustCase{"changed_value_byte", [] { return changed_value(); }, CHANGED, damage(2, kChecksum), 255},
        // block 1's stored checksum 0, or failing: nothing is checked, nothing is said
        TrustCase{"block1_checksum_zero", [] { return changed_value([](Bytes& b) { set_u16(b, 512 + 14, 0); }); },
                  CHANGED, kEnd, 0},
        TrustCase{"block1_checksum_fails", [] { return changed_value([](Bytes& b) { b[512 + 100] ^= 1; }); },
                  CHANGED, kEnd, 0},
        // a block written without a checksum is not checked
        TrustCase{"damaged_block_stores_no_checksum",
                  [] { return changed_value([](Bytes& b) { set_u16(b, 2 * 512 + 14, 0); }); }, CHANGED, kEnd, 0},
        // the checksum holds, but for a block that says it is block 9
        TrustCase{"block_holds_checksum_under_another_number",
                  [] {
                      Bytes img = base();
                      set_u32(img, 3 * 512 + 4, 9);
                      LogBuilder().seal(img);
                      return img;
                  },
                  GOOD, damage(3, "block header names block 9; what the block holds is decoded but may be wrong"),
                  255},
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

}  // namespace
