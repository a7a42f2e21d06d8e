// Single-row inserts (11.2) and deletes (11.3) end to end: logs written by the
// builder, mined by the real binary, the CSV compared byte for byte.  The
// transaction and object of each line come from the undo vector (5.1) that
// stands before the row change in the same record.
#include "mined.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qvtest;

namespace {

const Xid kX{3, 17, 245};

// Undo of a delete whose row piece field (field 4) is replaced.
Vector undo_delete_with(const std::vector<Col>& row, Bytes row_piece)
{
    Vector u = v_undo_delete(kX, 812, 812, row);
    u.fields[3] = std::move(row_piece);
    return u;
}

const std::vector<Col> kRow3{hex("c102"), std::nullopt, hex("414243")};
const std::vector<Col> kRow10{hex("01"), hex("02"), hex("03"), hex("04"), hex("05"),
                              hex("06"), hex("07"), hex("08"), hex("09"), hex("0a")};
const std::vector<Col> kRow12{hex("01"), hex("02"), hex("03"), hex("04"), hex("05"), hex("06"),
                              hex("07"), hex("08"), std::nullopt, std::nullopt, hex("0b"), hex("0c")};

class InsertDelete : public testing::TestWithParam<LineCase> {};

TEST_P(InsertDelete, WritesExactLines) { expect_lines(GetParam()); }

const LineCase kCases[] = {
    {"insert_then_delete_then_commit",
     [](LogBuilder& b) {
         Xid x{5, 12, 345};
         b.add(900, {v_begin(x), v_undo_insert(x, 123, 123), v_insert({hex("c102"), std::nullopt})});
         b.add(905, {v_undo_delete(x, 123, 123, {hex("c102"), std::nullopt}), v_delete()});
         b.add(905, {v_commit(x)});
     },
     R"x(900,5,12,345,0,0,,START,set transaction read write;
900,5,12,345,123,123,OBJ# 123,INSERT,"insert into ""UNKNOWN"".""OBJ# 123"" (""COL 1"",""COL 2"") values (HEXTORAW('c102'),NULL);"
905,5,12,345,123,123,OBJ# 123,DELETE,"delete from ""UNKNOWN"".""OBJ# 123"" where ""COL 1""=HEXTORAW('c102') and ""COL 2"" IS NULL;"
905,5,12,345,0,0,,COMMIT,commit;
)x"},
    {"insert_of_three_columns",
     [](LogBuilder& b) { b.add(700, {v_undo_insert(kX, 812, 812), v_insert(kRow3)}); },
     R"x(700,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"",""COL 2"",""COL 3"") values (HEXTORAW('c102'),NULL,HEXTORAW('414243'));"
)x"},
    {"delete_of_three_columns",
     [](LogBuilder& b) { b.add(710, {v_undo_delete(kX, 812, 812, kRow3), v_delete()}); },
     R"x(710,3,17,245,812,812,OBJ# 812,DELETE,"delete from ""UNKNOWN"".""OBJ# 812"" where ""COL 1""=HEXTORAW('c102') and ""COL 2"" IS NULL and ""COL 3""=HEXTORAW('414243');"
)x"},
    {"null_bits_of_columns_9_and_10_in_second_bitmap_byte",
     [](LogBuilder& b) {
         b.add(700, {v_undo_insert(kX, 812, 812), v_insert(kRow12)});
         b.add(710, {v_undo_delete(kX, 812, 812, kRow12), v_delete()});
     },
     R"x(700,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"",""COL 2"",""COL 3"",""COL 4"",""COL 5"",""COL 6"",""COL 7"",""COL 8"",""COL 9"",""COL 10"",""COL 11"",""COL 12"") values (HEXTORAW('01'),HEXTORAW('02'),HEXTORAW('03'),HEXTORAW('04'),HEXTORAW('05'),HEXTORAW('06'),HEXTORAW('07'),HEXTORAW('08'),NULL,NULL,HEXTORAW('0b'),HEXTORAW('0c'));"
710,3,17,245,812,812,OBJ# 812,DELETE,"delete from ""UNKNOWN"".""OBJ# 812"" where ""COL 1""=HEXTORAW('01') and ""COL 2""=HEXTORAW('02') and ""COL 3""=HEXTORAW('03') and ""COL 4""=HEXTORAW('04') and ""COL 5""=HEXTORAW('05') and ""COL 6""=HEXTORAW('06') and ""COL 7""=HEXTORAW('07') and ""COL 8""=HEXTORAW('08') and ""COL 9"" IS NULL and ""COL 10"" IS NULL and ""COL 11""=HEXTORAW('0b') and ""COL 12""=HEXTORAW('0c');"
)x"},
    {"null_column_field_stepped_over_even_when_not_empty",
     [](LogBuilder& b) {
         Vector ins = v_insert({hex("c1"), hex("dead"), hex("02")});
         ins.fields[1] = kdo_irp(0x2c, {hex("c1"), std::nullopt, hex("02")});
         b.add(700, {v_undo_insert(kX, 812, 812), ins});
         b.add(710, {undo_delete_with({hex("c1"), hex("dead"), hex("02")},
                                      kdo_irp(0x2c, {hex("c1"), std::nullopt, hex("02")})),
                     v_delete()});
     },
     R"x(700,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"",""COL 2"",""COL 3"") values (HEXTORAW('c1'),NULL,HEXTORAW('02'));"
710,3,17,245,812,812,OBJ# 812,DELETE,"delete from ""UNKNOWN"".""OBJ# 812"" where ""COL 1""=HEXTORAW('c1') and ""COL 2"" IS NULL and ""COL 3""=HEXTORAW('02');"
)x"},
    {"first_null_empty_value_and_high_bytes",
     [](LogBuilder& b) {
         std::vector<Col> row{std::nullopt, hex(""), hex("80 ff 7f 00 a5")};
         b.add(700, {v_undo_insert(kX, 812, 812), v_insert(row)});
         b.add(710, {v_undo_delete(kX, 812, 812, row), v_delete()});
     },
     R"x(700,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"",""COL 2"",""COL 3"") values (NULL,HEXTORAW(''),HEXTORAW('80ff7f00a5'));"
710,3,17,245,812,812,OBJ# 812,DELETE,"delete from ""UNKNOWN"".""OBJ# 812"" where ""COL 1"" IS NULL and ""COL 2""=HEXTORAW('') and ""COL 3""=HEXTORAW('80ff7f00a5');"
)x"},
    {"ten_columns_numbered_1_to_10",
     [](LogBuilder& b) {
         b.add(700, {v_undo_insert(kX, 812, 812), v_insert(kRow10)});
         b.add(710, {v_undo_delete(kX, 812, 812, kRow10), v_delete()});
     },
     R"x(700,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"",""COL 2"",""COL 3"",""COL 4"",""COL 5"",""COL 6"",""COL 7"",""COL 8"",""COL 9"",""COL 10"") values (HEXTORAW('01'),HEXTORAW('02'),HEXTORAW('03'),HEXTORAW('04'),HEXTORAW('05'),HEXTORAW('06'),HEXTORAW('07'),HEXTORAW('08'),HEXTORAW('09'),HEXTORAW('0a'));"
710,3,17,245,812,812,OBJ# 812,DELETE,"delete from ""UNKNOWN"".""OBJ# 812"" where ""COL 1""=HEXTORAW('01') and ""COL 2""=HEXTORAW('02') and ""COL 3""=HEXTORAW('03') and ""COL 4""=HEXTORAW('04') and ""COL 5""=HEXTORAW('05') and ""COL 6""=HEXTORAW('06') and ""COL 7""=HEXTORAW('07') and ""COL 8""=HEXTORAW('08') and ""COL 9""=HEXTORAW('09') and ""COL 10""=HEXTORAW('0a');"
)x"},
    {"object_numbers_past_2_31_and_sequence_past_2_31",
     [](LogBuilder& b) {
         b.add(700, {v_undo_insert({65535, 65535, 0x80000000u}, 0x80000000u, 0xFFFFFFFFu), v_insert({hex("01")})});
         b.add(710, {v_undo_delete(kX, 0xFFFFFFFFu, 0x80000000u, {hex("01")}), v_delete()});
     },
     R"x(700,65535,65535,-2147483648,2147483648,4294967295,OBJ# -2147483648,INSERT,"insert into ""UNKNOWN"".""OBJ# -2147483648"" (""COL 1"") values (HEXTORAW('01'));"
710,3,17,245,4294967295,2147483648,OBJ# -1,DELETE,"delete from ""UNKNOWN"".""OBJ# -1"" where ""COL 1""=HEXTORAW('01');"
)x"},
    {"no_columns",
     [](LogBuilder& b) {
         b.add(700, {v_undo_insert(kX, 812, 812), v_insert({})});
         b.add(710, {v_undo_delete(kX, 812, 812, {}), v_delete()});
     },
     R"x(700,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" () values ();"
710,3,17,245,812,812,OBJ# 812,DELETE,"delete from ""UNKNOWN"".""OBJ# 812"" where ;"
)x"},
    {"undo_of_another_layer_leaves_row_undo_current",
     [](LogBuilder& b) {
         b.add(700, {v_undo_insert(kX, 812, 812), v_undo_other_layer({9, 9, 9}, 999, 10), v_insert({hex("01")})});
         b.add(710, {v_undo_delete(kX, 813, 913, {hex("02")}), v_undo_other_layer({9, 9, 9}, 999, 10),
                     v_delete()});
     },
     R"x(700,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"") values (HEXTORAW('01'));"
710,3,17,245,813,913,OBJ# 813,DELETE,"delete from ""UNKNOWN"".""OBJ# 813"" where ""COL 1""=HEXTORAW('02');"
)x"},
    {"undo_of_partial_row_piece_is_current_so_delete_writes_nothing",
     [](LogBuilder& b) {
         b.add(710, {v_undo_delete(kX, 812, 812, {hex("01")}), v_undo_delete({4, 4, 4}, 900, 900, {hex("02")}, 0x08),
                     v_delete(), v_commit(kX)});
         b.add(720, {v_undo_delete(kX, 812, 812, {hex("01")}), v_undo_delete({4, 4, 4}, 900, 900, {hex("02")}, 0x04),
                     v_delete(), v_commit(kX)});
     },
     "710,3,17,245,0,0,,COMMIT,commit;\n720,3,17,245,0,0,,COMMIT,commit;\n"},
    {"row_operation_0x22_taken_as_insert_row_piece",
     [](LogBuilder& b) {
         b.add(710, {undo_delete_with({hex("01")}, kdo_irp(0x2c, {hex("01")}, 0x22)), v_delete()});
         b.add(720, {v_undo_delete(kX, 812, 812, {hex("01")}),
                     undo_delete_with({hex("02")}, kdo_irp(0x08, {hex("02")}, 0x22)), v_delete(), v_commit(kX)});
     },
     R"x(710,3,17,245,812,812,OBJ# 812,DELETE,"delete from ""UNKNOWN"".""OBJ# 812"" where ""COL 1""=HEXTORAW('01');"
720,3,17,245,0,0,,COMMIT,commit;
)x"},
    {"several_row_changes_in_one_record",
     [](LogBuilder& b) {
         b.add(700, {v_begin(kX), v_undo_insert(kX, 812, 812), v_insert({hex("01")}),
                     v_undo_insert({4, 5, 6}, 813, 913), v_insert({hex("02")}),
                     v_undo_delete({7, 8, 9}, 814, 914, {hex("03")}), v_delete(),
                     v_undo_insert(kX, 815, 915), v_insert({hex("04")})});
     },
     R"x(700,3,17,245,0,0,,START,set transaction read write;
700,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"") values (HEXTORAW('01'));"
700,4,5,6,813,913,OBJ# 813,INSERT,"insert into ""UNKNOWN"".""OBJ# 813"" (""COL 1"") values (HEXTORAW('02'));"
700,7,8,9,814,914,OBJ# 814,DELETE,"delete from ""UNKNOWN"".""OBJ# 814"" where ""COL 1""=HEXTORAW('03');"
700,3,17,245,815,915,OBJ# 815,INSERT,"insert into ""UNKNOWN"".""OBJ# 815"" (""COL 1"") values (HEXTORAW('04'));"
)x"},
    {"undo_of_another_layer_with_three_fields_is_silent",
     [](LogBuilder& b) {
         Vector u = v_undo_other_layer(kX, 999, 10);
         u.fields.resize(3);
         b.add(700, {u, v_commit(kX)});
     },
     "700,3,17,245,0,0,,COMMIT,commit;\n"},

    // damage: the row change is left out, mining goes on, status 255
    {"insert_whose_undo_is_in_an_earlier_record",
     [](LogBuilder& b) {
         b.add(700, {v_undo_insert(kX, 812, 812)});
         b.add(701, {v_insert({hex("01")}), v_commit(kX)});
     },
     "701,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.2 vector has no undo vector in its record; INSERT left out"}), 255},
    {"delete_whose_undo_is_in_an_earlier_record",
     [](LogBuilder& b) {
         b.add(710, {v_undo_delete(kX, 812, 812, {hex("01")})});
         b.add(711, {v_delete(), v_commit(kX)});
     },
     "711,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.3 vector has no undo vector in its record; DELETE left out"}), 255},
    {"row_changes_before_any_undo",
     [](LogBuilder& b) { b.add(700, {v_insert({hex("01")}), v_delete(), v_commit(kX)}); },
     "700,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.2 vector has no undo vector in its record; INSERT left out",
                    "11.3 vector has no undo vector in its record; DELETE left out"}),
     255},
    {"column_count_above_column_fields",
     [](LogBuilder& b) {
         Vector ins = v_insert({hex("01"), hex("02")});
         ins.fields[1] = kdo_irp_raw(0x2c, 3, {0});
         b.add(700, {v_undo_insert(kX, 812, 812), ins, v_commit(kX)});
         b.add(710, {undo_delete_with({hex("01"), hex("02")}, kdo_irp_raw(0x2c, 3, {0})), v_delete(), v_commit(kX)});
     },
     "700,3,17,245,0,0,,COMMIT,commit;\n710,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.2 vector: 3 columns but 2 column fields; INSERT left out",
                    "undo of an 11.3 vector: 3 columns but 2 column fields; DELETE left out"}),
     255},
    {"null_bitmap_past_row_piece_field",
     [](LogBuilder& b) {
         std::vector<Col> row9(9, hex("01"));
         Vector ins = v_insert(row9);
         ins.fields[1] = kdo_irp_raw(0x2c, 9, {0});
         b.add(700, {v_undo_insert(kX, 812, 812), ins, v_commit(kX)});
     },
     "700,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.2 vector: null bitmap of 9 columns runs past its field; INSERT left out"}), 255},
    {"undo_with_fewer_than_four_fields",
     [](LogBuilder& b) {
         Vector three = v_undo_delete(kX, 812, 812, {hex("01")});
         three.fields.resize(3);
         Vector one = three;
         one.fields.resize(1);
         b.add(710, {three, v_delete(), one, v_delete(), v_commit(kX)});
     },
     "710,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"5.1 vector of a table row has no whole row operation field; not taken as undo",
                    "11.3 vector has no undo vector in its record; DELETE left out",
                    "5.1 vector lacks whole transaction and object fields; not taken as undo",
                    "11.3 vector has no undo vector in its record; DELETE left out"}),
     255},
    {"delete_whose_undo_is_not_an_insert_row_piece",
     [](LogBuilder& b) {
         b.add(710, {undo_delete_with({hex("01")}, kdo_irp(0x2c, {hex("01")}, 0x05)), v_delete()});
         b.add(711, {undo_delete_with({hex("01")}, kdo_irp(0x2c, {hex("01")}, 0x42)), v_delete()});
     },
     "",
     damage_report({"undo of an 11.3 vector is not a whole insert row piece; DELETE left out",
                    "undo of an 11.3 vector is not a whole insert row piece; DELETE left out"}),
     255},
};

INSTANTIATE_TEST_SUITE_P(Cases, InsertDelete, testing::ValuesIn(kCases), case_name);

// Only a whole row piece (fb has both bits of 0x0c) is written; the vectors
// after a refused one are decoded all the same.
class RowPieceFlag : public testing::TestWithParam<int> {};

TEST_P(RowPieceFlag, WholeRowPiecesOnly)
{
    const uint8_t fb = uint8_t(GetParam());
    const bool whole = (fb & 0x0c) == 0x0c;
    LogBuilder log;
    log.add(700, {v_undo_insert(kX, 812, 812), v_insert({hex("01")}, fb), v_commit(kX)});
    log.add(710, {v_undo_delete(kX, 812, 812, {hex("02")}, fb), v_delete(), v_commit(kX)});
    Mined m = mine(log);

    std::string want;
    if (whole)
        want += R"x(700,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"") values (HEXTORAW('01'));")x"
                "\n";
    want += "700,3,17,245,0,0,,COMMIT,commit;\n";
    if (whole)
        want += R"x(710,3,17,245,812,812,OBJ# 812,DELETE,"delete from ""UNKNOWN"".""OBJ# 812"" where ""COL 1""=HEXTORAW('02');")x"
                "\n";
    want += "710,3,17,245,0,0,,COMMIT,commit;\n";
    EXPECT_EQ(m.lines(), want);
    EXPECT_EQ(m.err, kEnd);
    EXPECT_EQ(m.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Flags, RowPieceFlag, testing::Values(0x2c, 0x0c, 0xff, 0x08, 0x04, 0x00, 0xf3, 0x28),
                         [](const testing::TestParamInfo<int>& i) {
                             char name[16];
                             snprintf(name, sizeof name, "fb_%02x", i.param);
                             return std::string(name);
                         });

// Statements longer than the 1 MiB SQL buffer come out whole: the expected
// text is built here column by column.
void expect_long_row(int ncol, int len)
{
    std::vector<Col> row;
    for (int c = 0; c < ncol; c++) {
        Bytes v(len);
        for (int i = 0; i < len; i++)
            v[i] = uint8_t(i * 7 + c * 13 + i / 251);
        row.push_back(std::move(v));
    }
    LogBuilder log;
    std::string announced;  // records past the 1 MiB record buffer are announced
    for (const Bytes& rec : {encode_record(700, {v_undo_insert(kX, 812, 812), v_insert(row)}),
                             encode_record(710, {v_undo_delete(kX, 812, 812, row), v_delete()})}) {
        log.add_record(rec);
        announced += "allocate new memory (" + std::to_string(rec.size()) + " bytes)\n";
    }
    log.add(720, {v_commit(kX)});
    Mined m = mine(log);

    std::string names, values, conds;
    for (int c = 0; c < ncol; c++) {
        std::string col = "\"\"COL " + std::to_string(c + 1) + "\"\"";
        std::string lit = "HEXTORAW('" + hexstr(*row[c]) + "')";
        names += (c ? "," : "") + col;
        values += (c ? "," : "") + lit;
        conds += (c ? " and " : "") + col + "=" + lit;
    }
    std::string want = "700,3,17,245,812,812,OBJ# 812,INSERT,\"insert into \"\"UNKNOWN\"\".\"\"OBJ# 812\"\" (" + names +
                       ") values (" + values + ");\"\n" +
                       "710,3,17,245,812,812,OBJ# 812,DELETE,\"delete from \"\"UNKNOWN\"\".\"\"OBJ# 812\"\" where " +
                       conds + ";\"\n" + "720,3,17,245,0,0,,COMMIT,commit;\n";
    ASSERT_GT(want.size(), 2u * 1024 * 1024);
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.err, announced + kEnd);
    ASSERT_EQ(m.lines().size(), want.size());
    EXPECT_TRUE(m.lines() == want) << "the long statements differ from the expected text";
}

TEST(LongStatement, TwentyColumnsOf60000Bytes) { expect_long_row(20, 60000); }

TEST(LongStatement, WidestRow255ColumnsOf65535Bytes) { expect_long_row(255, 65535); }

}  // namespace
