// Multi-row inserts (11.11) end to end: one INSERT line per stored row, each
// with the prefix of the undo vector before it; rows found by the size array
// alone, columns by their length markers (ff NULL, fe + 16-bit length, or
// the length itself).
#include "mined.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace qvtest;

namespace {

const Xid kX{3, 17, 245};

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = uint8_t(seed + i * 29);
    return b;
}

// An 11.11 vector of stored rows given byte for byte; the size array holds
// each row's length unless `sizes` is given, nrow the row count unless given.
Vector qmi_raw(const std::vector<Bytes>& rows, std::vector<uint16_t> sizes = {},
               std::optional<uint16_t> nrow = std::nullopt)
{
    Vector v = v_qmi({});
    Bytes stored;
    std::vector<uint16_t> own;
    for (const Bytes& r : rows) {
        stored = cat(stored, r);
        own.push_back(uint16_t(r.size()));
    }
    v.fields[1] = kdo_qmi(nrow ? *nrow : uint16_t(rows.size()));
    v.fields[2] = u16_array(sizes.empty() ? own : sizes);
    v.fields[3] = stored;
    return v;
}

// One row line of object 812 by kX at SCN 905: `cols` is the column list,
// `vals` the value list.
std::string row_line(const std::string& cols, const std::string& vals)
{
    return "905,3,17,245,812,812,OBJ# 812,INSERT,\"insert into \"\"UNKNOWN\"\".\"\"OBJ# 812\"\" (" + cols +
           ") values (" + vals + ");\"\n";
}

const Bytes k253 = pattern(253, 0x80);
const Bytes k300 = pattern(300, 0x11);

class MultiRow : public testing::TestWithParam<LineCase> {};

TEST_P(MultiRow, WritesExactLines) { expect_lines(GetParam()); }

const LineCase kCases[] = {
    {"two_rows_of_differing_column_counts",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812),
                     qmi_raw({hex("2c 00 02 02 c1 02 ff"), hex("2c 00 03 01 61 ff 02 c1 03")})});
     },
     R"x(905,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"",""COL 2"") values (HEXTORAW('c102'),NULL);"
905,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"",""COL 2"",""COL 3"") values (HEXTORAW('61'),NULL,HEXTORAW('c103'));"
)x"},
    {"rows_placed_by_size_when_columns_end_early",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812),
                     qmi_raw({hex("2c 00 01 01 0a  ee ee ee"), hex("2c 00 02 01 0b 01 0c  ee"), hex("2c 00 01 01 0d")})});
     },
     row_line(R"x(""COL 1"")x", "HEXTORAW('0a')") +
         row_line(R"x(""COL 1"",""COL 2"")x", "HEXTORAW('0b'),HEXTORAW('0c')") +
         row_line(R"x(""COL 1"")x", "HEXTORAW('0d')")},
    {"length_markers_0_fd_and_fe",
     [](LogBuilder& b) {
         Bytes row = cat(cat(hex("2c 00 06  00  fd"), k253), hex("fe 05 00 01 02 03 04 05  fe 00 00  ff"));
         row = cat(cat(row, hex("fe 2c 01")), k300);
         b.add(905, {v_undo_insert(kX, 812, 812), qmi_raw({row, hex("2c 00 01 fe 01 00 7f")})});
     },
     row_line(R"x(""COL 1"",""COL 2"",""COL 3"",""COL 4"",""COL 5"",""COL 6"")x",
              "HEXTORAW(''),HEXTORAW('" + hexstr(k253) + "'),HEXTORAW('0102030405'),HEXTORAW(''),NULL,HEXTORAW('" +
                  hexstr(k300) + "')") +
         row_line(R"x(""COL 1"")x", "HEXTORAW('7f')")},
    {"no_rows_and_then_the_next_vector",
     [](LogBuilder& b) { b.add(905, {v_undo_insert(kX, 812, 812), qmi_raw({}), v_commit(kX)}); },
     "905,3,17,245,0,0,,COMMIT,commit;\n"},
    {"row_of_no_columns",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812), qmi_raw({hex("2c 00 00"), hex("2c 00 01 01 0e")})});
     },
     row_line("", "") + row_line(R"x(""COL 1"")x", "HEXTORAW('0e')")},
    {"object_numbers_past_2_31_label_unsigned",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 0x80000000u, 0xFFFFFFFFu), v_qmi({{{hex("01")}}})});
         b.add(906, {v_undo_insert({65535, 65535, 0xFFFFFFFFu}, 0xFFFFFFFFu, 7), v_qmi({{{hex("02")}}})});
     },
     R"x(905,3,17,245,2147483648,4294967295,OBJ# 2147483648,INSERT,"insert into ""UNKNOWN"".""OBJ# -2147483648"" (""COL 1"") values (HEXTORAW('01'));"
906,65535,65535,-1,4294967295,7,OBJ# 4294967295,INSERT,"insert into ""UNKNOWN"".""OBJ# -1"" (""COL 1"") values (HEXTORAW('02'));"
)x"},
    {"each_vector_takes_the_undo_before_it",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812), v_qmi({{{hex("01")}}, {{hex("02")}}}),
                     v_undo_insert({4, 5, 6}, 813, 913), v_qmi({{{hex("03")}}})});
     },
     row_line(R"x(""COL 1"")x", "HEXTORAW('01')") + row_line(R"x(""COL 1"")x", "HEXTORAW('02')") +
         R"x(905,4,5,6,813,913,OBJ# 813,INSERT,"insert into ""UNKNOWN"".""OBJ# 813"" (""COL 1"") values (HEXTORAW('03'));"
)x"},

    // damage: the damaged rows are left out, the others written
    {"rows_whose_columns_run_past_the_rows_field",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812),
                     qmi_raw({hex("2c 00 01 01 0a"), hex("2c 00 01 fe 60 ea"), hex("2c 00 01 01 0b"),
                              hex("2c 00 03 01 0c")}),
                     v_commit(kX)});
     },
     row_line(R"x(""COL 1"")x", "HEXTORAW('0a')") + row_line(R"x(""COL 1"")x", "HEXTORAW('0b')") +
         "905,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.11 vector: columns of row 2 run past the rows field; row left out",
                    "11.11 vector: columns of row 4 run past the rows field; row left out"}),
     255},
    {"rows_placed_past_the_rows_field",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812),
                     qmi_raw({hex("2c 00 01 01 0a"), hex("2c 00 01 01 0b"), hex("2c 00 01 01 0c")}, {5, 200, 5}),
                     v_commit(kX)});
     },
     row_line(R"x(""COL 1"")x", "HEXTORAW('0a')") + row_line(R"x(""COL 1"")x", "HEXTORAW('0b')") +
         "905,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.11 vector: rows 3 to 3 lie past the rows field; left out"}), 255},
    {"more_rows_than_sizes",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812), qmi_raw({hex("2c 00 01 01 0a"), hex("2c 00 01 01 0b")}, {}, 3),
                     v_commit(kX)});
     },
     "905,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.11 vector: size array too short for 3 rows; rows left out"}), 255},
    // a size entry short of its row would place the next row on its bytes
    {"size_entries_short_of_their_rows",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812),
                     qmi_raw({hex("2c 00 01 01 0a"), hex("2c 00 01 01 0b")}, {0, 5, 4}, 3)});
     },
     row_line(R"x(""COL 1"")x", "HEXTORAW('0a')"),
     damage_report({"11.11 vector: row 1 is 5 bytes, longer than its size entry of 0; row left out",
                    "11.11 vector: row 3 is 5 bytes, longer than its size entry of 4; row left out"}),
     255},
    {"undo_in_an_earlier_record",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812)});
         b.add(906, {v_qmi({{{hex("01")}}, {{hex("02")}}}), v_commit(kX)});
     },
     "906,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.11 vector has no undo vector in its record; 2 rows left out"}), 255},
};

INSTANTIATE_TEST_SUITE_P(Cases, MultiRow, testing::ValuesIn(kCases), case_name);

}  // namespace
