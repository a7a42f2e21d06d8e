// Updates (11.5) end to end: the set list from the 11.5 vector, the where
// clause from the old values and supplemental columns of its undo (5.1).
// Then the row handlers called directly on assembled vectors, to hold their
// returned length to skip_vector's measure when fields follow the values.
#include "mined.h"
#include "quorvil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

using namespace qvtest;

namespace {

const Xid kX{3, 17, 245};

// Field indexes (0-based, as in Vector::fields) of an update's undo with m
// old values: 3 KDO_URP, 4 column numbers, 5.. values, then SUPPLEMENT,
// supplemental column numbers, their lengths and their values.
constexpr size_t old_row_piece() { return 3; }
constexpr size_t supp_lengths(size_t m) { return 7 + m; }

const char kUpdate812[] = R"x(3,17,245,812,812,OBJ# 812,UPDATE,"update ""UNKNOWN"".""OBJ# 812"" set )x";

class Update : public testing::TestWithParam<LineCase> {};

TEST_P(Update, WritesExactLines) { expect_lines(GetParam()); }

std::string line(const std::string& scn, const std::string& rest) { return scn + "," + kUpdate812 + rest + "\n"; }

const LineCase kCases[] = {
    {"second_and_fourth_column_with_supplemental_column",
     [](LogBuilder& b) {
         b.add(905, {v_undo_update(kX, 812, 812, {1, 3}, {hex("c105"), hex("6162")}, Supp{{1}, {hex("c102")}}),
                     v_update({1, 3}, {hex("c106"), std::nullopt})});
     },
     R"x(905,3,17,245,812,812,OBJ# 812,UPDATE,"update ""UNKNOWN"".""OBJ# 812"" set ""COL 2""=HEXTORAW('c106'),""COL 4""=NULL where ""COL 2""=HEXTORAW('c105') and ""COL 4""=HEXTORAW('6162') and ""COL 1""=HEXTORAW('c102');"
)x"},
    {"old_value_null_and_supplemental_length_0",
     [](LogBuilder& b) {
         b.add(905, {v_undo_update(kX, 812, 812, {0, 2}, {std::nullopt, hex("01")},
                                   Supp{{3, 7}, {std::nullopt, hex("0a ff")}}),
                     v_update({0, 2}, {hex("05"), hex("")})});
     },
     line("905", R"x(""COL 1""=HEXTORAW('05'),""COL 3""=HEXTORAW('') where ""COL 1"" IS NULL and ""COL 3""=HEXTORAW('01') and ""COL 3"" IS NULL and ""COL 7""=HEXTORAW('0aff');")x")},
    {"stored_column_0_is_col_1_in_values_and_col_0_in_supplement",
     [](LogBuilder& b) {
         b.add(905, {v_undo_update(kX, 812, 812, {0}, {hex("02")}, Supp{{0}, {hex("03")}}),
                     v_update({0}, {hex("01")})});
     },
     line("905", R"x(""COL 1""=HEXTORAW('01') where ""COL 1""=HEXTORAW('02') and ""COL 0""=HEXTORAW('03');")x")},
    {"null_items_fields_stepped_over_even_when_not_empty",
     [](LogBuilder& b) {
         Vector nw = v_update({0, 1}, {hex("aa"), hex("bb")});
         nw.fields[1] = kdo_urp({std::nullopt, hex("bb")});
         Vector u = v_undo_update(kX, 812, 812, {0, 1}, {hex("cc"), hex("dd")},
                                  Supp{{4, 5, 6}, {hex("0102"), hex("03"), hex("040506")}});
         u.fields[old_row_piece()] = kdo_urp({std::nullopt, hex("dd")});
         // supplemental lengths 0, 1, 2: the value is cut to its length,
         // the walk goes by the field
         u.fields[supp_lengths(2)] = u16_array({0, 1, 2});
         b.add(905, {u, nw});
     },
     line("905", R"x(""COL 1""=NULL,""COL 2""=HEXTORAW('bb') where ""COL 1"" IS NULL and ""COL 2""=HEXTORAW('dd') and ""COL 4"" IS NULL and ""COL 5""=HEXTORAW('03') and ""COL 6""=HEXTORAW('0405');")x")},
    {"ten_listed_columns_take_null_bits_from_second_byte",
     [](LogBuilder& b) {
         std::vector<uint16_t> nums{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
         std::vector<Col> nw{hex("01"), hex("02"), hex("03"), hex("04"), hex("05"),
                             hex("06"), hex("07"), hex("08"), std::nullopt, hex("0a")};
         std::vector<Col> old{hex("11"), hex("12"), hex("13"), hex("14"), hex("15"),
                              hex("16"), hex("17"), hex("18"), hex("19"), std::nullopt};
         b.add(905, {v_undo_update(kX, 812, 812, nums, old), v_update(nums, nw)});
     },
     line("905", R"x(""COL 1""=HEXTORAW('01'),""COL 2""=HEXTORAW('02'),""COL 3""=HEXTORAW('03'),""COL 4""=HEXTORAW('04'),""COL 5""=HEXTORAW('05'),""COL 6""=HEXTORAW('06'),""COL 7""=HEXTORAW('07'),""COL 8""=HEXTORAW('08'),""COL 9""=NULL,""COL 10""=HEXTORAW('0a') where ""COL 1""=HEXTORAW('11') and ""COL 2""=HEXTORAW('12') and ""COL 3""=HEXTORAW('13') and ""COL 4""=HEXTORAW('14') and ""COL 5""=HEXTORAW('15') and ""COL 6""=HEXTORAW('16') and ""COL 7""=HEXTORAW('17') and ""COL 8""=HEXTORAW('18') and ""COL 9""=HEXTORAW('19') and ""COL 10"" IS NULL;")x")},
    {"supplement_of_0_columns_ends_after_old_values",
     [](LogBuilder& b) {
         b.add(905, {v_undo_update(kX, 812, 812, {0}, {hex("02")}, Supp{}), v_update({0}, {hex("01")})});
     },
     line("905", R"x(""COL 1""=HEXTORAW('01') where ""COL 1""=HEXTORAW('02');")x")},
    {"undo_without_supplement_ends_after_old_values",
     [](LogBuilder& b) { b.add(905, {v_undo_update(kX, 812, 812, {0}, {hex("02")}), v_update({0}, {hex("01")})}); },
     line("905", R"x(""COL 1""=HEXTORAW('01') where ""COL 1""=HEXTORAW('02');")x")},
    {"no_new_values",
     [](LogBuilder& b) { b.add(905, {v_undo_update(kX, 812, 812, {0}, {hex("02")}), v_update({}, {})}); },
     line("905", R"x(where ""COL 1""=HEXTORAW('02');")x")},
    {"no_old_values_but_supplemental_columns",
     [](LogBuilder& b) {
         b.add(905, {v_undo_update(kX, 812, 812, {}, {}, Supp{{2, 3}, {hex("03"), std::nullopt}}),
                     v_update({0}, {hex("01")})});
     },
     line("905", R"x(""COL 1""=HEXTORAW('01') where ""COL 2""=HEXTORAW('03') and ""COL 3"" IS NULL;")x")},
    {"no_values_on_either_side",
     [](LogBuilder& b) { b.add(905, {v_undo_update(kX, 812, 812, {}, {}), v_update({}, {})}); },
     line("905", R"x(where ;")x")},
    {"each_update_matched_with_the_undo_before_it",
     [](LogBuilder& b) {
         b.add(905, {v_begin(kX), v_undo_update(kX, 812, 812, {0}, {hex("02")}), v_update({0}, {hex("01")}),
                     v_undo_update({65535, 1, 0x80000000u}, 0xFFFFFFFFu, 0x80000000u, {4}, {hex("04")}),
                     v_update({4}, {hex("03")}), v_commit(kX)});
     },
     R"x(905,3,17,245,0,0,,START,set transaction read write;
905,3,17,245,812,812,OBJ# 812,UPDATE,"update ""UNKNOWN"".""OBJ# 812"" set ""COL 1""=HEXTORAW('01') where ""COL 1""=HEXTORAW('02');"
905,65535,1,-2147483648,4294967295,2147483648,OBJ# -1,UPDATE,"update ""UNKNOWN"".""OBJ# -1"" set ""COL 5""=HEXTORAW('03') where ""COL 5""=HEXTORAW('04');"
905,3,17,245,0,0,,COMMIT,commit;
)x"},

    // damage: the update is left out, the vectors after it are still decoded
    {"supplemental_length_larger_than_its_field",
     [](LogBuilder& b) {
         Vector u = v_undo_update(kX, 812, 812, {0}, {hex("02")}, Supp{{1}, {hex("0304")}});
         u.fields[supp_lengths(1)] = u16_array({3});
         b.add(905, {u, v_update({0}, {hex("01")}), v_commit(kX)});
     },
     "905,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"undo of an 11.5 vector: supplemental columns run past its fields; UPDATE left out"}), 255},
    {"supplemental_columns_above_fields_present",
     [](LogBuilder& b) {
         Vector u = v_undo_update(kX, 812, 812, {0}, {hex("02")}, Supp{{1, 2}, {hex("03"), hex("04")}});
         u.fields.pop_back();
         b.add(905, {u, v_update({0}, {hex("01")}), v_commit(kX)});
     },
     "905,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"undo of an 11.5 vector: supplemental columns run past its fields; UPDATE left out"}), 255},
    {"new_values_above_fields_present",
     [](LogBuilder& b) {
         Vector nw = v_update({0, 1}, {hex("01"), hex("02")});
         nw.fields.pop_back();
         b.add(905, {v_undo_update(kX, 812, 812, {0}, {hex("02")}), nw, v_commit(kX)});
     },
     "905,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.5 vector: update row piece, column numbers or new values missing; UPDATE left out"}), 255},
    // the undo of a refused 11.5 is used up: the next 11.5 does not take its old values
    {"damaged_update_uses_up_its_undo",
     [](LogBuilder& b) {
         Vector nw = v_update({0, 1}, {hex("01"), hex("02")});
         nw.fields.pop_back();
         b.add(905, {v_undo_update(kX, 812, 812, {0}, {hex("02")}), nw, v_update({0}, {hex("03")}), v_commit(kX)});
     },
     "905,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.5 vector: update row piece, column numbers or new values missing; UPDATE left out",
                    "11.5 vector has no undo vector of its own; UPDATE left out"}), 255},
    {"old_values_above_fields_present",
     [](LogBuilder& b) {
         Vector u = v_undo_update(kX, 812, 812, {0, 1}, {hex("02"), hex("03")});
         u.fields.pop_back();
         b.add(905, {u, v_update({0}, {hex("01")}), v_commit(kX)});
     },
     "905,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"undo of an 11.5 vector: update row piece, column numbers or old values missing; UPDATE left out"}),
     255},
    {"undo_in_an_earlier_record",
     [](LogBuilder& b) {
         b.add(905, {v_undo_update(kX, 812, 812, {0}, {hex("02")})});
         b.add(906, {v_update({0}, {hex("01")}), v_commit(kX)});
     },
     "906,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"11.5 vector has no undo vector in its record; UPDATE left out"}), 255},
};

INSTANTIATE_TEST_SUITE_P(Cases, Update, testing::ValuesIn(kCases), case_name);

// ---- the row handlers called directly ---------------------------------------

// A run context with just what a row handler uses: the SQL buffer and an
// output stream.  The undo is taken by calling parse_undo first.
class Direct {
public:
    Direct() : sql_(SQLB_SIZE)
    {
        m_.fd = -1;
        m_.sql_buf = sql_.data();
        m_.sqlb_sz = SQLB_SIZE;
        m_.cfp = tmpfile();
        snprintf(m_.logfile, sizeof m_.logfile, "direct");
    }
    ~Direct()
    {
        if (m_.cfp)
            fclose(m_.cfp);
    }
    MINER* mnr() { return &m_; }
    // Everything written so far.
    std::string text()
    {
        sql_flush(&m_);
        fflush(m_.cfp);
        rewind(m_.cfp);
        std::string s;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, m_.cfp)) > 0)
            s.append(buf, n);
        return s;
    }

private:
    MINER m_{};
    std::vector<uint8_t> sql_;
};

struct Direct_case {
    const char* name;
    Vector undo;
    Vector vec;
    VECTOR_HANDLER handler;
    std::string line;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const Direct_case& c, std::ostream* os) { *os << c.name; }

Vector with_trailing_fields(Vector v)
{
    v.fields.push_back(hex("deadbeef"));
    v.fields.push_back(hex("0102030405"));
    v.fields.push_back({});
    v.fields.push_back(hex("ff"));
    return v;
}

class HandlerLength : public testing::TestWithParam<Direct_case> {};

TEST_P(HandlerLength, EqualsSkipVectorWithFieldsAfterTheValues)
{
    const Direct_case& c = GetParam();
    Direct d;
    Bytes undo = encode_vector(c.undo);
    Bytes vec = encode_vector(c.vec);

    ASSERT_EQ(parse_undo(d.mnr(), reinterpret_cast<REDO_VH*>(undo.data()), 7), int(undo.size()));
    int r = c.handler(d.mnr(), reinterpret_cast<REDO_VH*>(vec.data()), 7);
    EXPECT_EQ(r, skip_vector(reinterpret_cast<REDO_VH*>(vec.data())));
    EXPECT_EQ(r, int(vec.size()));
    EXPECT_EQ(d.text(), c.line);
    EXPECT_EQ(d.mnr()->damaged, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandlerLength,
    testing::Values(
        Direct_case{"update",
                    v_undo_update(kX, 812, 812, {1}, {hex("02")}, Supp{{1}, {hex("03")}}),
                    with_trailing_fields(v_update({1}, {hex("01")})), parse_urp,
                    line("7", R"x(""COL 2""=HEXTORAW('01') where ""COL 2""=HEXTORAW('02') and ""COL 1""=HEXTORAW('03');")x")},
        Direct_case{"update_of_no_columns", v_undo_update(kX, 812, 812, {1}, {hex("02")}),
                    with_trailing_fields(v_update({}, {})), parse_urp,
                    line("7", R"x(where ""COL 2""=HEXTORAW('02');")x")},
        Direct_case{"update_of_nine_columns", v_undo_update(kX, 812, 812, {1}, {hex("02")}),
                    with_trailing_fields(v_update({0, 1, 2, 3, 4, 5, 6, 7, 8},
                                                  {hex(""), hex("01"), hex("0203"), hex("040506"), hex("07080910"),
                                                   std::nullopt, hex("0b"), hex("0c"), hex("0d")})),
                    parse_urp,
                    line("7", R"x(""COL 1""=HEXTORAW(''),""COL 2""=HEXTORAW('01'),""COL 3""=HEXTORAW('0203'),""COL 4""=HEXTORAW('040506'),""COL 5""=HEXTORAW('07080910'),""COL 6""=NULL,""COL 7""=HEXTORAW('0b'),""COL 8""=HEXTORAW('0c'),""COL 9""=HEXTORAW('0d') where ""COL 2""=HEXTORAW('02');")x")},
        Direct_case{"insert", v_undo_insert(kX, 812, 812),
                    with_trailing_fields(v_insert({hex("01"), std::nullopt, hex("020304")})), parse_irp,
                    R"x(7,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"",""COL 2"",""COL 3"") values (HEXTORAW('01'),NULL,HEXTORAW('020304'));"
)x"},
        Direct_case{"multi_row_insert", v_undo_insert(kX, 812, 812),
                    with_trailing_fields(v_qmi({{{hex("01")}}, {{std::nullopt, hex("0203")}}})), parse_qmi,
                    R"x(7,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"") values (HEXTORAW('01'));"
7,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"",""COL 2"") values (NULL,HEXTORAW('0203'));"
)x"}),
    [](const testing::TestParamInfo<Direct_case>& i) { return std::string(i.param.name); });

}  // namespace
