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
#include <vector>

using namespace qvtest;

namespace {

const Xid X{3, 17, 4242};
const Bytes VALUE(300, 0xab);       // runs from block 2 into block 3

// START at 10, an insert of VALUE at 11, COMMIT at 12, then two blocks
// holding no record.
LogBuilder base(const LogOptions& o = {})
{
    LogBuilder lb(o);
    lb.add(10, {v_begin(X)});
    lb.add(11, {v_undo_insert(X, 100, 101), v_insert({VALUE})});
    lb.add(12, {v_commit(X)});
    lb.add_empty_blocks(2);
    return lb;
}

std::string good_lines()
{
    static const std::string lines = mine(base()).lines();
    return lines;
}

// The good lines with the byte of VALUE at `at` changed to 0xba.
std::string lines_with_changed_value(size_t at)
{
    Bytes v = VALUE;
    v[at] = 0xba;
    std::string s = good_lines();
    const size_t p = s.find(hexstr(VALUE));
    s.replace(p, 2 * VALUE.size(), hexstr(v));
    return s;
}

// File offset of byte `at` of VALUE in an image, and the block it lies in.
size_t value_offset(const Bytes& img, size_t at)  // at < 64: before any block header
{
    auto it = std::search(img.begin(), img.end(), VALUE.begin(), VALUE.begin() + 64);
    return size_t(it - img.begin()) + at;
}
uint32_t block_of(size_t off) { return uint32_t((off - 512) / 512 + 1); }

std::string damage(uint32_t block, const std::string& what)
{
    return "redo.log: block " + std::to_string(block) + ": " + what +
           "\nredo.log: 1 damaged places passed over; the output is incomplete\n" + kFail;
}
const std::string kChecksum = "block checksum does not hold; what the block holds is decoded but may be wrong";

struct TrustCase {
    const char* name;
    std::function<Bytes()> log;
    std::function<std::string()> lines;
    std::function<std::string()> err;
    int status;
};
void PrintTo(const TrustCase& c, std::ostream* os) { *os << c.name; }

// The log of base(o) without its last two blocks, which hold no record.
Bytes without_last_two_blocks(const LogOptions& o)
{
    Bytes img = base(o).image();
    img.resize(img.size() - 1024);
    return img;
}
LogOptions opts(std::function<void(LogOptions&)> set)
{
    LogOptions o;
    set(o);
    return o;
}

// Changes byte 20 of VALUE (in block 2) after the checksums were stored.
Bytes changed_value(Bytes img)
{
    img[value_offset(img, 20)] = 0xba;
    return img;
}

class HeaderTrust : public ::testing::TestWithParam<TrustCase> {};

TEST_P(HeaderTrust, MinesAsTheHeaderAllows)
{
    const TrustCase& c = GetParam();
    Mined m = mine(c.log());
    EXPECT_EQ(m.lines(), c.lines());
    EXPECT_EQ(m.err, c.err());
    EXPECT_EQ(m.status, c.status);
}

auto good = [] { return good_lines(); };
auto end_ok = [] { return kEnd; };

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderTrust,
    ::testing::Values(
        TrustCase{"intact_log", [] { return base().image(); }, good, end_ok, 0},
        // one changed byte in a column value: named at its block, every line still written
        TrustCase{"changed_value_byte", [] { return changed_value(base().image()); },
                  [] { return lines_with_changed_value(20); },
                  [] { return damage(block_of(value_offset(base().image(), 20)), kChecksum); }, 255},
        // block 1's stored checksum 0: nothing is checked, nothing is said
        TrustCase{"block1_checksum_zero",
                  [] {
                      Bytes img = base().image();
                      set_u16(img, 512 + 14, 0);
                      return changed_value(img);
                  },
                  [] { return lines_with_changed_value(20); }, end_ok, 0},
        // block 1's checksum fails: its header cannot vouch for the others
        TrustCase{"block1_checksum_fails",
                  [] {
                      Bytes img = base().image();
                      img[512 + 100] ^= 1;
                      return changed_value(img);
                  },
                  [] { return lines_with_changed_value(20); }, end_ok, 0},
        // a block written without a checksum is not checked
        TrustCase{"damaged_block_stores_no_checksum",
                  [] {
                      Bytes img = base().image();
                      set_u16(img, 512 * block_of(value_offset(img, 20)) + 14, 0);
                      return changed_value(img);
                  },
                  [] { return lines_with_changed_value(20); }, end_ok, 0},
        // the checksum holds, but for a block that says it is block 9
        TrustCase{"block_holds_checksum_under_another_number",
                  [] {
                      LogBuilder lb = base();
                      Bytes img = lb.image();
                      set_u32(img, lb.file_offset(3, 4), 9);
                      lb.seal(img);
                      return img;
                  },
                  good,
                  [] {
                      return damage(3, "block header names block 9; what the block holds is decoded but may be wrong");
                  },
                  255},
        // bytes after the last block that look like a block header but name
        // another block are stray bytes, never a block cut short
        TrustCase{"stray_bytes_naming_another_block",
                  [] {
                      Bytes img = base().image();
                      Bytes tail(100, 0);
                      set_u32(tail, 4, 77);
                      set_u16(tail, 12, 16);
                      set_u32(tail, 16, 60);
                      img.insert(img.end(), tail.begin(), tail.end());
                      return img;
                  },
                  good, end_ok, 0},
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
                  [] { return std::string("10,3,17,4242,0,0,,START,set transaction read write;\n"); },
                  [] {
                      return "read redo.log: the file ends 212 bytes into block 3, where a record begins; "
                             "that block is not read\n" + kFail;
                  },
                  255},
        // the last two blocks the header says were written are missing
        TrustCase{"cut_at_a_block_boundary",
                  [] { return without_last_two_blocks({}); },
                  good,
                  [] { return "read redo.log: the header says 5 blocks were written, the file holds 3\n" + kFail; },
                  255},
        TrustCase{"cut_at_a_block_boundary_without_checksums",
                  [] { return without_last_two_blocks(opts([](LogOptions& o) { o.checksums = false; })); },
                  good, end_ok, 0},
        // a log still being written does not know its next available block
        TrustCase{"cut_while_next_block_unknown",
                  [] { return without_last_two_blocks(opts([](LogOptions& o) { o.next_block = 0xFFFFFFFF; })); },
                  good, end_ok, 0},
        TrustCase{"cut_while_next_block_past_the_declared_blocks",
                  // 5 blocks declared
                  [] { return without_last_two_blocks(opts([](LogOptions& o) { o.next_block = 7; })); },
                  good, end_ok, 0},
        // an archived copy holds only the blocks written, not all the log had
        TrustCase{"archived_copy_of_a_larger_log",
                  [] { return base(opts([](LogOptions& o) { o.declared_blocks = 102400; })).image(); },
                  good, end_ok, 0},
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
                  [] {
                      return std::string("10,3,17,4242,0,0,,START,set transaction read write;\n"
                                         "12,3,17,4242,0,0,,COMMIT,commit;\n");
                  },
                  [] { return damage(2, "record SCN 9 lies below the log's first SCN 10; record passed over"); },
                  255},
        // a reused online log: past the blocks this use wrote lie blocks of
        // the use before, with lower SCNs, where mining ends in silence
        TrustCase{"older_use_after_the_written_blocks",
                  [] {
                      LogOptions old_use;
                      old_use.sequence = 5;
                      old_use.first_scn = 50;
                      LogBuilder older(old_use);
                      for (uint32_t i = 0; i < 6; i++) {
                          older.add(50 + i, {v_begin({9, 9, i})});
                          older.next_block();
                      }
                      LogOptions this_use;
                      this_use.sequence = 6;
                      this_use.first_scn = 100;
                      LogBuilder now(this_use);
                      now.add(100, {v_begin(X)});
                      now.add(101, {v_commit(X)});
                      Bytes img = now.image();
                      const Bytes prev = older.image();
                      img.insert(img.end(), prev.begin() + long(img.size()), prev.end());
                      return img;
                  },
                  [] {
                      return std::string("100,3,17,4242,0,0,,START,set transaction read write;\n"
                                         "101,3,17,4242,0,0,,COMMIT,commit;\n");
                  },
                  end_ok, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A log later than 11.2 gets one line before mining; 11.2 and earlier, and
// a version of 0, none.  The CSV is the same either way.
TEST(HeaderTrust, LineForLogsLaterThan11_2)
{
    const struct {
        uint32_t compat;
        const char* version;  // null: no line
    } cases[] = {
        {0x13000000, "19.0.0.0.0"},
        {0x0c100200, "12.1.0.2.0"},
        {0x0b200400, nullptr},
        {0x0a200000, nullptr},
        {0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compat);
        LogOptions o;
        o.compat = c.compat;
        Mined m = mine(base(o));
        const std::string line = c.version ? std::string("redo.log: compatibility ") + c.version +
                                                 ": quorvil's layouts are those of logs up to 11.2, so lines "
                                                 "from this log may be wrong\n"
                                           : "";
        EXPECT_EQ(m.err, line + kEnd);
        EXPECT_EQ(m.lines(), good_lines());
        EXPECT_EQ(m.status, 0);
    }
}

}  // namespace
