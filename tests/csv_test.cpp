// The output read back as CSV: a log holding every kind of line is mined and
// the file parsed by a strict RFC 4180 reader.  Every record must have the
// nine columns, and the SQL_REDO of row lines, once unquoted, must be the
// statement with ordinary double-quoted identifiers.
#include "csv_reader.h"
#include "mined.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace qvtest;

namespace {

// ---- the reader itself -------------------------------------------------------

struct ReaderCase {
    const char* name;
    std::string text;
    std::optional<CsvRows> rows;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }

class CsvReader : public testing::TestWithParam<ReaderCase> {};

TEST_P(CsvReader, Splits)
{
    const ReaderCase& c = GetParam();
    EXPECT_EQ(read_csv(c.text), c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CsvReader,
    testing::Values(
        ReaderCase{"empty", "", CsvRows{}},
        ReaderCase{"plain", "a,b,c\n1,,3\n", CsvRows{{"a", "b", "c"}, {"1", "", "3"}}},
        ReaderCase{"crlf_and_no_final_line_end", "a,b\r\nc,", CsvRows{{"a", "b"}, {"c", ""}}},
        ReaderCase{"quoted_comma_newline_and_quote", "\"x,y\",\"l1\nl2\",\"say \"\"hi\"\"\"\n",
                   CsvRows{{"x,y", "l1\nl2", "say \"hi\""}}},
        ReaderCase{"empty_quoted", "\"\",a\n", CsvRows{{"", "a"}}},
        ReaderCase{"quote_in_unquoted_field", "a\"b\n", std::nullopt},
        ReaderCase{"text_after_closing_quote", "\"a\"b\n", std::nullopt},
        ReaderCase{"unclosed_quote", "\"abc\n", std::nullopt},
        ReaderCase{"bare_carriage_return", "a\rb\n", std::nullopt}),
    [](const testing::TestParamInfo<ReaderCase>& i) { return std::string(i.param.name); });

// ---- a log of every kind of line ---------------------------------------------

const Xid kX{3, 17, 245};
const char kDdl[] = R"(create table "T,1" ("A" number, b varchar2(9) default 'x,"y"'))";

TEST(CsvOutput, EveryKindOfLineReadsBackAsNineFields)
{
    const std::vector<Col> row{hex("c102"), std::nullopt, hex("414243")};
    LogBuilder log;
    log.add(1000, {v_begin(kX), v_undo_insert(kX, 812, 812), v_insert(row)});
    log.add(1001, {v_undo_insert(kX, 812, 812), v_qmi({{{hex("61")}}, {{std::nullopt, hex("6263")}}})});
    log.add(1002, {v_undo_delete(kX, 812, 812, row), v_delete()});
    log.add(1003, {v_undo_update(kX, 812, 812, {1}, {hex("c105")}, Supp{{0}, {hex("c102")}}),
                   v_update({1}, {hex("c106")})});
    log.add(1004, {v_ddl(kX, 812, kDdl, "T,1")});
    log.add(1005, {v_commit(kX)});
    log.add(1006, {v_begin({4, 5, 6}), v_commit({4, 5, 6}, 0x04)});

    Mined m = mine(log);
    ASSERT_EQ(m.status, 0) << m.err;
    std::optional<CsvRows> rows = read_csv(m.csv);
    ASSERT_TRUE(rows) << "the output is not well-formed CSV";

    const CsvRows want{
        {"SCN", "XIDUSN", "XIDSLT", "XIDSQN", "DATA_OBJ#", "DATA_OBJD#", "TABLE_NAME", "OPERATION", "SQL_REDO"},
        {"1000", "3", "17", "245", "0", "0", "", "START", "set transaction read write;"},
        {"1000", "3", "17", "245", "812", "812", "OBJ# 812", "INSERT",
         R"(insert into "UNKNOWN"."OBJ# 812" ("COL 1","COL 2","COL 3") values (HEXTORAW('c102'),NULL,HEXTORAW('414243'));)"},
        {"1001", "3", "17", "245", "812", "812", "OBJ# 812", "INSERT",
         R"(insert into "UNKNOWN"."OBJ# 812" ("COL 1") values (HEXTORAW('61'));)"},
        {"1001", "3", "17", "245", "812", "812", "OBJ# 812", "INSERT",
         R"(insert into "UNKNOWN"."OBJ# 812" ("COL 1","COL 2") values (NULL,HEXTORAW('6263'));)"},
        {"1002", "3", "17", "245", "812", "812", "OBJ# 812", "DELETE",
         R"(delete from "UNKNOWN"."OBJ# 812" where "COL 1"=HEXTORAW('c102') and "COL 2" IS NULL and "COL 3"=HEXTORAW('414243');)"},
        {"1003", "3", "17", "245", "812", "812", "OBJ# 812", "UPDATE",
         R"(update "UNKNOWN"."OBJ# 812" set "COL 2"=HEXTORAW('c106') where "COL 2"=HEXTORAW('c105') and "COL 0"=HEXTORAW('c102');)"},
        {"1004", "3", "17", "245", "812", "0", "T,1", "DDL", kDdl},
        {"1005", "3", "17", "245", "0", "0", "", "COMMIT", "commit;"},
        {"1006", "4", "5", "6", "0", "0", "", "START", "set transaction read write;"},
        {"1006", "4", "5", "6", "0", "0", "", "ROLLBACK", "rollback;"},
    };
    ASSERT_EQ(rows->size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_EQ((*rows)[i].size(), 9u);
        EXPECT_EQ((*rows)[i], want[i]);
    }
}

}  // namespace
