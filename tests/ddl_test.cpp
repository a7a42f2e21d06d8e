// DDL statements (24.1) end to end: transaction from field 1, object number
// from field 4, statement text from field 8 and object name from field 10,
// each text ending at its length or its first zero byte.  The statement is a
// quoted CSV field with its double quotes doubled; a name is quoted only when
// it holds a comma, a double quote or a line break.
#include "mined.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

using namespace qvtest;
using namespace std::string_view_literals;

namespace {

const Xid kX{3, 17, 245};

class Ddl : public testing::TestWithParam<LineCase> {};

TEST_P(Ddl, WritesExactLines) { expect_lines(GetParam()); }

// A record holding one DDL vector of object 812 by kX at SCN 905.
std::function<void(LogBuilder&)> one(std::string_view stmt, std::string_view name)
{
    std::string s(stmt), n(name);
    return [s, n](LogBuilder& b) { b.add(905, {v_ddl(kX, 812, s, n)}); };
}

const LineCase kCases[] = {
    {"create_table", one("create table t1 (a number)", "T1"),
     "905,3,17,245,812,0,T1,DDL,\"create table t1 (a number)\"\n"},
    {"empty_name", one("drop table t1", ""), "905,3,17,245,812,0,,DDL,\"drop table t1\"\n"},
    {"empty_statement", one("", "T1"), "905,3,17,245,812,0,T1,DDL,\"\"\n"},
    {"zero_byte_ends_statement_and_name", one("create table t2\0garbage"sv, "T2\0XYZ"sv),
     "905,3,17,245,812,0,T2,DDL,\"create table t2\"\n"},
    {"zero_first_byte_gives_empty_texts", one("\0drop"sv, "\0T3"sv), "905,3,17,245,812,0,,DDL,\"\"\n"},
    {"double_quotes_in_statement_doubled", one(R"(create table "T 1" ("A" number, b varchar2(2) default '"'))", "T 1"),
     R"x(905,3,17,245,812,0,T 1,DDL,"create table ""T 1"" (""A"" number, b varchar2(2) default '""')"
)x"},
    {"name_with_comma_quoted", one("create table t4 (a number)", "A,B"),
     "905,3,17,245,812,0,\"A,B\",DDL,\"create table t4 (a number)\"\n"},
    {"name_with_double_quote_quoted_and_doubled", one("create table t5 (a number)", "A\"B\""),
     "905,3,17,245,812,0,\"A\"\"B\"\"\",DDL,\"create table t5 (a number)\"\n"},
    {"name_with_line_feed_quoted", one("create table t6 (a number)", "A\nB"),
     "905,3,17,245,812,0,\"A\nB\",DDL,\"create table t6 (a number)\"\n"},
    {"name_with_carriage_return_quoted", one("create table t7 (a number)", "A\rB"),
     "905,3,17,245,812,0,\"A\rB\",DDL,\"create table t7 (a number)\"\n"},
    {"statement_with_comma_and_line_break", one("create table t8 (\n  a number,\r\n  b date)", "T8"),
     "905,3,17,245,812,0,T8,DDL,\"create table t8 (\n  a number,\r\n  b date)\"\n"},
    {"name_longer_than_31_bytes_kept_whole", one("create table t9 (a number)", "ABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789_LONG"),
     "905,3,17,245,812,0,ABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789_LONG,DDL,\"create table t9 (a number)\"\n"},
    {"all_zero_transaction",
     [](LogBuilder& b) { b.add(905, {v_ddl({0, 0, 0}, 812, "truncate table t1", "T1")}); },
     "905,0,0,0,812,0,T1,DDL,\"truncate table t1\"\n"},
    {"widest_numbers",
     [](LogBuilder& b) { b.add(905, {v_ddl({65535, 65535, 0x80000000u}, 0xFFFFFFFFu, "drop table t1", "T1")}); },
     "905,65535,65535,-2147483648,4294967295,0,T1,DDL,\"drop table t1\"\n"},
    {"fields_after_field_10_then_next_vector",
     [](LogBuilder& b) {
         Vector v = v_ddl(kX, 0, "drop table t1", "T1");
         v.fields.push_back(hex("0102030405"));
         v.fields.push_back(str("not a name"));
         b.add(905, {v, v_commit(kX)});
     },
     "905,3,17,245,0,0,T1,DDL,\"drop table t1\"\n905,3,17,245,0,0,,COMMIT,commit;\n"},
    {"current_undo_untouched_by_ddl",
     [](LogBuilder& b) {
         b.add(905, {v_undo_insert(kX, 812, 812), v_ddl({1, 2, 3}, 999, "alter table t1 add (b number)", "T1"),
                     v_insert({hex("01")})});
     },
     R"x(905,1,2,3,999,0,T1,DDL,"alter table t1 add (b number)"
905,3,17,245,812,812,OBJ# 812,INSERT,"insert into ""UNKNOWN"".""OBJ# 812"" (""COL 1"") values (HEXTORAW('01'));"
)x"},
    {"fewer_than_10_fields",
     [](LogBuilder& b) {
         Vector v = v_ddl(kX, 812, "drop table t1", "T1");
         v.fields.resize(9);
         b.add(905, {v, v_commit(kX)});
     },
     "905,3,17,245,0,0,,COMMIT,commit;\n",
     damage_report({"24.1 vector lacks its transaction, object, statement or name field; DDL left out"}), 255},
};

INSTANTIATE_TEST_SUITE_P(Cases, Ddl, testing::ValuesIn(kCases), case_name);

}  // namespace
