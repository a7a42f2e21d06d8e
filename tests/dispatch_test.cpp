// The record dispatcher: the SCN window, the walk over a record's change
// vectors, vectors without a handler, measuring a vector by its length
// vector, and vectors that run past their record.
#include "mined.h"
#include "quorvil.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace qvtest;

namespace {

// Each test record starts a transaction whose sequence tells its SCN.
uint32_t sqn_of(uint64_t scn) { return uint32_t(scn % 1000000) + 1; }

std::string start_line(uint64_t scn)
{
    return std::to_string(scn) + ",1,2," + std::to_string(sqn_of(scn)) + ",0,0,,START,set transaction read write;\n";
}

// The length vector's view of a vector: skip_vector on the encoded bytes,
// with room after them so that entry 0 of an empty length vector is there.
int skip(const Vector& v, size_t room = 8)
{
    Bytes b = encode_vector(v);
    b.resize(b.size() + room, 0);
    return skip_vector(reinterpret_cast<REDO_VH*>(b.data()));
}

int measure(const Vector& v, uint32_t left)
{
    Bytes b = encode_vector(v);
    b.resize(b.size() + 8, 0);
    return measure_vector(b.data(), left);
}

}  // namespace

// Each record holds one START whose sequence is the record's SCN.
TEST(Dispatch, ScnWindow)
{
    const struct {
        const char* what;
        uint64_t first_scn;
        std::vector<std::string> window;
        std::vector<uint64_t> records;
        std::vector<uint64_t> decoded;
    } cases[] = {
        {"both ends inclusive; one below start passed over; one above end stops", 100,
         {"-start_scn", "110", "-end_scn", "130"}, {109, 110, 120, 130, 131, 120}, {110, 120, 130}},
        {"start equal to end", 100, {"-start_scn", "120", "-end_scn", "120"}, {119, 120, 121, 120}, {120}},
        {"default window: below first_scn stops", 100, {}, {100, 99, 105}, {100}},
        {"below first_scn but at start stops", 100, {"-start_scn", "99"}, {100, 99, 105}, {100}},
        {"below first_scn, above start, stops", 100, {"-start_scn", "50"}, {100, 60, 105}, {100}},
        {"below start and first_scn: passed over", 100, {"-start_scn", "50"}, {100, 40, 105}, {100, 105}},
        {"below start and first_scn: passed over (start = first)", 100, {"-start_scn", "100"}, {100, 99, 105},
         {100, 105}},
        {"start above end selects nothing", 100, {"-start_scn", "500", "-end_scn", "100"}, {100, 200, 600, 300}, {}},
        {"first_scn 0 and SCN 0", 0, {}, {0, 5}, {0, 5}},
        {"48-bit SCNs", 1, {"-start_scn", "4294967296", "-end_scn", "281474976710654"},
         {4294967295ULL, 4294967296ULL, 281474976710654ULL, 281474976710655ULL, 4294967296ULL},
         {4294967296ULL, 281474976710654ULL}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogOptions o;
        o.first_scn = c.first_scn;
        o.checksums = false;  // block headers unvouched for: a low SCN ends mining
        LogBuilder lb(o);
        for (uint64_t scn : c.records)
            lb.add(scn, {v_begin({1, 2, sqn_of(scn)})});
        Mined m = mine(lb, c.window);
        std::string want = kCsvHeader;
        for (uint64_t scn : c.decoded)
            want += start_line(scn);
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        EXPECT_EQ(m.csv, want);
    }
}

// Vectors without a handler write nothing and the walk goes on to the
// vectors after them; records of a header alone write nothing.
TEST(Dispatch, VectorsWithoutHandler)
{
    LogBuilder lb;
    lb.add(10, {v_other(5, 6), v_other(11, 4), v_other(24, 2), v_begin({1, 2, sqn_of(10)})});
    lb.add(11, {v_other(5, 6)});
    lb.add(12, {});
    lb.add(13, {}, true);
    lb.add(14, {v_other(11, 4, {Bytes(300, 1), Bytes{}, Bytes(5, 2)}), v_other(0, 0), v_other(255, 255),
                v_begin({1, 2, sqn_of(14)})});
    lb.add(15, {}, true);
    lb.add(16, {v_begin({1, 2, sqn_of(16)})}, true);
    Mined m = mine(lb);
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.err, kEnd);
    EXPECT_EQ(m.csv, kCsvHeader + start_line(10) + start_line(14) + start_line(16));
}

// A vector that runs past its record: the vectors before it are decoded,
// the rest of the record is passed over, later records are decoded, and the
// run fails.  The damaged record begins in block 3 and runs into block 4.
TEST(Dispatch, VectorRunsPastItsRecord)
{
    // Record offsets: START at 24, a 600-byte vector at 84, a 32-byte vector
    // at 684 (its length vector at 708), COMMIT at 716 (its field 1 length
    // at 742); 764 bytes in all.
    const struct {
        const char* what;
        size_t at;
        uint16_t value;
        std::string err;
        std::string csv;  // lines of the damaged record
    } cases[] = {
        {"field length past the record", 710, 0x100,
         "redo.log: block 3: change vector at record offset 684 runs past the record (80 bytes left); "
         "rest of the record passed over\n",
         start_line(11)},
        {"field length 0xFFFD", 710, 0xFFFD,
         "redo.log: block 3: change vector at record offset 684 runs past the record (80 bytes left); "
         "rest of the record passed over\n",
         start_line(11)},
        {"field length 0xFFFF", 710, 0xFFFF,
         "redo.log: block 3: change vector at record offset 684 runs past the record (80 bytes left); "
         "rest of the record passed over\n",
         start_line(11)},
        {"length vector past the record", 708, 0x200,
         "redo.log: block 3: change vector at record offset 684 runs past the record (80 bytes left); "
         "rest of the record passed over\n",
         start_line(11)},
        {"length vector of 0xFFFF", 708, 0xFFFF,
         "redo.log: block 3: change vector at record offset 684 runs past the record (80 bytes left); "
         "rest of the record passed over\n",
         start_line(11)},
        {"last vector four bytes too long", 742, 24,
         "redo.log: block 3: change vector at record offset 716 runs past the record (48 bytes left); "
         "rest of the record passed over\n",
         start_line(11)},
        {"none", 742, 20, "", start_line(11) + "11,1,2,12,0,0,,COMMIT,commit;\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes rec = encode_record(11, {v_begin({1, 2, sqn_of(11)}), v_other(99, 1, {Bytes(572, 0x33)}),
                                       v_other(99, 2, {Bytes(4, 1)}), v_commit({1, 2, sqn_of(11)})});
        ASSERT_EQ(rec.size(), 764u);
        set_u16(rec, c.at, c.value);
        LogBuilder lb;
        lb.add(10, {v_begin({1, 2, sqn_of(10)})});
        lb.next_block();
        ASSERT_EQ(lb.add_record(rec).block, 3u);
        lb.add(12, {v_begin({1, 2, sqn_of(12)})});
        Mined m = mine(lb);
        const bool damaged = !c.err.empty();
        EXPECT_EQ(m.status, damaged ? 255 : 0);
        EXPECT_EQ(m.err, damaged ? c.err + "redo.log: 1 damaged place passed over; the output is incomplete\n" + kFail
                                 : kEnd);
        EXPECT_EQ(m.csv, kCsvHeader + start_line(10) + c.csv + start_line(12));
    }
}

// Bytes after the last vector that cannot hold a vector, and a record
// shorter than its long header.
TEST(Dispatch, RecordLengthDisagreesWithItsVectors)
{
    const std::string tail = "redo.log: 1 damaged place passed over; the output is incomplete\n" + kFail;
    {
        Bytes rec = encode_record(11, {v_begin({1, 2, sqn_of(11)})});
        rec.resize(rec.size() + 8, 0);
        set_rlen(rec, uint32_t(rec.size()));
        LogBuilder lb;
        lb.add_record(rec);
        lb.add(12, {v_begin({1, 2, sqn_of(12)})});
        Mined m = mine(lb);
        EXPECT_EQ(m.status, 255);
        EXPECT_EQ(m.err, "redo.log: block 2: change vector at record offset 84 runs past the record (8 bytes left); "
                         "rest of the record passed over\n" + tail);
        EXPECT_EQ(m.csv, kCsvHeader + start_line(11) + start_line(12));
    }
    {
        Bytes rec = encode_record(11, {}, true);
        rec.resize(40);
        set_rlen(rec, 40);
        LogBuilder lb;
        lb.add(10, {v_begin({1, 2, sqn_of(10)})});
        lb.add_record(rec);
        lb.add(12, {v_begin({1, 2, sqn_of(12)})});
        Mined m = mine(lb);
        EXPECT_EQ(m.status, 255);
        EXPECT_EQ(m.err, "redo.log: block 2: record of 40 bytes is shorter than its 68-byte header\n" + tail);
        EXPECT_EQ(m.csv, kCsvHeader + start_line(10) + start_line(12));
    }
}

TEST(SkipVector, LengthFromTheLengthVector)
{
    auto with_entry0 = [](Vector v, uint16_t e0) {
        v.entry0 = e0;
        return v;
    };
    auto with_lengths = [](Vector v, std::vector<std::optional<uint16_t>> lens) {
        v.len_override = std::move(lens);
        return v;
    };
    const struct {
        const char* what;
        Vector v;
        int want;
    } cases[] = {
        {"entry 0 = 2: no fields", v_other(1, 1, {}), 28},
        {"entry 0 = 0", with_entry0(v_other(1, 1, {}), 0), 24},
        {"entry 0 = 7: two fields", with_entry0(v_other(1, 1, {Bytes(8), Bytes(3)}), 7), 24 + 8 + 8 + 4},
        {"entry 0 = 5: one field, padding entry not counted",
         with_entry0(v_other(1, 1, {Bytes(12)}), 5), 24 + 8 + 12},
        {"fields of 0, 4, 5, 8 bytes", v_other(1, 1, {Bytes{}, Bytes(4), Bytes(5), Bytes(8)}), 24 + 12 + 0 + 4 + 8 + 8},
        {"field of 1 byte", v_other(1, 1, {Bytes(1)}), 24 + 4 + 4},
        {"lengths 0xFFFD..0xFFFF count 0x10000 each",
         with_lengths(v_other(1, 1, {Bytes(4), Bytes(4), Bytes(4)}), {0xFFFD, 0xFFFE, 0xFFFF}), 24 + 8 + 3 * 0x10000},
        {"length 0xFFFC", with_lengths(v_other(1, 1, {Bytes(4)}), {0xFFFC}), 24 + 4 + 0xFFFC},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(skip(c.v), c.want);
    }

    // entry 0 of 0xFFFD: 32766 entries (all 0 here) in 0x10000 bytes
    Bytes big(24 + 0x10000 + 8, 0);
    big[24] = 0xFD;
    big[25] = 0xFF;
    EXPECT_EQ(skip_vector(reinterpret_cast<REDO_VH*>(big.data())), 24 + 0x10000);

    // an entry 2 beyond entry 0 = 5's one field is filler and not read
    Vector odd = with_entry0(v_other(1, 1, {Bytes(12)}), 5);
    Bytes e = encode_vector(odd);
    set_u16(e, 28, 0x1234);
    EXPECT_EQ(skip_vector(reinterpret_cast<REDO_VH*>(e.data())), 44);
}

TEST(SkipVector, MeasuredAgainstTheBytesLeft)
{
    const Vector plain = v_other(1, 1, {Bytes(20), Bytes(5)});  // 60 bytes
    const Vector huge = [] {
        Vector v = v_other(1, 1, {Bytes(4), Bytes(4), Bytes(4)});
        v.len_override = {0xFFFD, 0xFFFE, 0xFFFF};
        return v;
    }();
    const Vector long_lv = [] {
        Vector v = v_other(1, 1, {});
        v.entry0 = 0x100;  // the length vector alone takes 256 bytes
        return v;
    }();
    const struct {
        const char* what;
        const Vector& v;
        uint32_t left;
        int want;
    } cases[] = {
        {"exactly the bytes left", plain, 60, 60},
        {"more bytes left", plain, 1000, 60},
        {"one byte short", plain, 59, -1},
        {"no room for entry 0", plain, 25, -1},
        {"nothing left", plain, 0, -1},
        {"0xFFFD..0xFFFF fit exactly", huge, 24 + 8 + 3 * 0x10000, 24 + 8 + 3 * 0x10000},
        {"0xFFFD..0xFFFF one byte short", huge, 24 + 8 + 3 * 0x10000 - 1, -1},
        {"0xFFFD..0xFFFF in a small record", huge, 44, -1},
        {"length vector past the bytes left", long_lv, 100, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(measure(c.v, c.left), c.want);
    }
}
