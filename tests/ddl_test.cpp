// DDL statements (24.1) end to end: transaction from field 1, object number
// from field 4, statement text from field 8 and object name from field 10,
// each text ending at its length or its first zero byte.  The statement is a
// quoted CSV field with its double quotes doubled; a name is quoted only when
// it holds a comma, a double quote or a line break.
#include "log_builder.h"
#include "run_quorvil.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

using namespace qvtest;
using namespace std::string_view_literals;

namespace {

const std::string kHeader = "SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO\n";
const std::string kClean = "quorvil end.\n";
const Xid kX{3, 17, 245};

struct Mined {
    int status;
    std::string err;    // standard error after the banner
    std::string lines;  // the CSV after its header line
};

Mined mine(const LogBuilder& log)
{
    TempDir d;
    log.write(d.path("redo.log"));
    RunResult r = run_quorvil({"-log", "redo.log", "-out", "out.csv"}, d.dir());
    std::string csv = read_file(d.path("out.csv"));
    if (csv.compare(0, kHeader.size(), kHeader) != 0)
        return {r.status, after_banner(r.err), "<no header line>" + csv};
    return {r.status, after_banner(r.err), csv.substr(kHeader.size())};
}

struct Case {
    const char* name;
    std::function<void(LogBuilder&)> build;
    std::string lines;
    std::string err = kClean;
    int status = 0;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Ddl : public testing::TestWithParam<Case> {};

TEST_P(Ddl, WritesExactLines)
{
    const Case& c = GetParam();
    LogBuilder log;
    c.build(log);
    Mined m = mine(log);
    EXPECT_EQ(m.lines, c.lines);
    EXPECT_EQ(m.err, c.err);
    EXPECT_EQ(m.status, c.status);
}

// A record holding one DDL vector of object 812 by kX at SCN 905.
std::function<void(LogBuilder&)> one(std::string_view stmt, std::string_view name)
{
    std::string s(stmt), n(name);
    return [s, n](LogBuilder& b) { b.add(905, {v_ddl(kX, 812, s, n)}); };
}

const Case kCases[] = {
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
     "redo.log: block 2: 24.1 vector lacks its transaction, object, statement or name field; DDL left out\n"
     "redo.log: 1 damaged places passed over; the output is incomplete\nquorvil exit with error.\n",
     255},
};

INSTANTIATE_TEST_SUITE_P(Cases, Ddl, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
