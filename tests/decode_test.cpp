// quorvil-decode: the literal of every value form from the published byte
// vectors, quorvil | quorvil-decode end to end on builder logs (loaded into
// SQLite too), and the command line with its refusals, status and summary.
#include "csv_reader.h"
#include "mined.h"
#include "quorvil_decode.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

using namespace qvtest;

namespace {

// ---- values -------------------------------------------------------------------
// type and character set as the dictionary gives them, the two sets of the
// database, DBTIMEZONE (empty: unknown), the bytes, and the literal as it sits
// in the quoted CSV field; an empty literal means the value stays in hex.
struct ValueCase {
    const char *type, *csname, *db, *nat, *tz, *hex;
    std::string want;
};

std::ostream& operator<<(std::ostream& o, const ValueCase& c) { return o << c.type << " " << c.hex; }

const char kD[] = "','YYYY-MM-DD HH24:MI:SS')", kT[] = "','YYYY-MM-DD HH24:MI:SS.FF9')",
           kZ[] = "','YYYY-MM-DD HH24:MI:SS.FF9 TZH:TZM')";
std::string date(const char *s) { return std::string("TO_DATE('") + s + kD; }
std::string stamp(const char *s) { return std::string("TO_TIMESTAMP('") + s + kT; }
std::string stamp_tz(const char *s) { return std::string("TO_TIMESTAMP_TZ('") + s + kZ; }

#define U "AL32UTF8", "AL16UTF16", ""
const ValueCase kValues[] = {
    {"NUMBER", "", U, "80", "0"},
    {"NUMBER", "", U, "c102", "1"},
    {"NUMBER", "", U, "3e6466", "-1"},
    {"NUMBER", "", U, "c12b", "42"},
    {"NUMBER", "", U, "c20218", "123"},
    {"NUMBER", "", U, "c24a46", "7369"},
    {"NUMBER", "", U, "3d5966", "-1200"},
    {"NUMBER", "", U, "c00b", "0.1"},
    {"NUMBER", "", U, "c006", "0.05"},
    {"NUMBER", "", U, "bc02", "0.0000000001"},
    {"NUMBER", "", U, "c40d23394f", "12345678"},
    {"NUMBER", "", U, "3b59432d1766", "-12345678"},
    {"NUMBER", "", U, "be2e3d", "0.0000456"},
    {"NUMBER", "", U, "401c3d66", "-0.00734"},
    {"NUMBER", "", U, "3c5d08254366", "-89364.34"},
    {"FLOAT(126)", "", U, "c20218 2e", "123.45"},
    {"NUMBER(10,2)", "", U, "c20d2339", "1234.56"},
    {"NUMBER", "", U, "c3022e", "14500"},
    {"NUMBER", "", U, "e00b", "1" + std::string(63, '0')},
    {"NUMBER", "", U, "e102", "1E+64"},
    {"NUMBER", "", U, "ff0b", "1E+125"},
    {"NUMBER", "", U, "8002", "1E-130"},
    {"NUMBER", "", U, "7f6466", "-1E-130"},
    {"NUMBER", "", U, "005b66", "-1E+125"},
    {"NUMBER", "", U, "00033366", "-9.85E+125"},
    {"NUMBER", "", U, "00", ""},
    {"NUMBER", "", U, "ff65", ""},
    {"NUMBER", "", U, "c1", ""},
    {"NUMBER", "", U, "c20201", "100"},
    {"NUMBER", "", U, "c4020101", "1000000"},
    {"NUMBER", "", U, "c20102", "1"},
    {"NUMBER", "", U, "c202ff", ""},
    {"NUMBER", "", U, "cb0202020202020202020202020202020202020202", "101010101010101010101.010101010101010101"},
    {"BINARY_FLOAT", "", U, "bfc00000", "1.5f"},
    {"BINARY_FLOAT", "", U, "c3067333", "134.45f"},
    {"BINARY_FLOAT", "", U, "3cf98ccc", "-134.45f"},
    {"BINARY_FLOAT", "", U, "407fffff", "-1f"},
    {"BINARY_FLOAT", "", U, "80000000", "0f"},
    {"BINARY_FLOAT", "", U, "ff800000", "TO_BINARY_FLOAT('INF')"},
    {"BINARY_DOUBLE", "", U, "bff8000000000000", "1.5d"},
    {"BINARY_DOUBLE", "", U, "c0934a3d70a3d70a", "1234.56d"},
    {"BINARY_DOUBLE", "", U, "3ff7ffffffffffff", "-3d"},
    {"BINARY_DOUBLE", "", U, "c060ce6666666666", "134.45d"},
    {"BINARY_DOUBLE", "", U, "3f9f319999999999", "-134.45d"},
    {"BINARY_DOUBLE", "", U, "fe37e43c8800759c", "1e+300d"},
    {"BINARY_DOUBLE", "", U, "fff0000000000000", "TO_BINARY_DOUBLE('INF')"},
    {"BINARY_DOUBLE", "", U, "000fffffffffffff", "TO_BINARY_DOUBLE('-INF')"},
    {"BINARY_DOUBLE", "", U, "fff8000000000000", "TO_BINARY_DOUBLE('NaN')"},
    {"BINARY_DOUBLE", "", U, "bff80000", ""},
    {"DATE", "", U, "77c00b1e101201", date("1992-11-30 15:17:00")},
    {"DATE", "", U, "786906190d0201", date("2005-06-25 12:01:00")},
    {"DATE", "", U, "77b40c190d1f06", date("1980-12-25 12:30:05")},
    {"DATE", "", U, "64700207010101", date("0012-02-07 00:00:00")},
    {"DATE", "", U, "c7c70c1f183c3c", date("9999-12-31 23:59:59")},
    {"DATE", "", U, "35580101010101", "TO_DATE('-4712-01-01 00:00:00','SYYYY-MM-DD HH24:MI:SS')"},
    {"DATE", "", U, "64630101010101", "TO_DATE('-0001-01-01 00:00:00','SYYYY-MM-DD HH24:MI:SS')"},
    {"DATE", "", U, "786d0d0b0e0901", ""},
    {"DATE", "", U, "786d030b0e09", ""},
    {"TIMESTAMP(6)", "", U, "7873071f0938075c58d8" "09", ""},
    {"TIMESTAMP(6)", "", U, "7873071f093807095c58d8", stamp("2015-07-31 08:55:06.157047000")},
    {"TIMESTAMP(9)", "", U, "7872010208140135 37ac28", stamp("2014-01-02 07:19:00.892841000")},
    {"TIMESTAMP", "", U, "78790604010101", stamp("2021-06-04 00:00:00.000000000")},
    {"TIMESTAMP(9)", "", U, "787901020101013b9ac9ff", stamp("2021-01-02 00:00:00.999999999")},
    {"TIMESTAMP(9)", "", U, "787901020101013b9aca00", ""},
    {"TIMESTAMP(6)", "", U, "7876031b0d233900786450", stamp("2018-03-27 12:34:56.007890000")},
    {"TIMESTAMP(6)", "", U, "786401010101013b9aca00", ""},
    {"TIMESTAMP(6) WITH TIME ZONE", "", U, "77c70a1e050101000000000d3c",
     stamp_tz("1999-10-29 21:00:00.000000000 -07:00")},
    {"TIMESTAMP(6) WITH TIME ZONE", "", U, "78670611011414000000000c3c",
     stamp_tz("2003-06-16 16:19:19.000000000 -08:00")},
    {"TIMESTAMP(3) WITH TIME ZONE", "", U, "786d09150d2012134096c0163c",
     stamp_tz("2009-09-21 14:31:17.323000000 +02:00")},
    {"TIMESTAMP(6) WITH TIME ZONE", "", U, "787201021703343514f1880d3c",
     stamp_tz("2014-01-02 15:02:51.890565000 -07:00")},
    {"TIMESTAMP(6) WITH TIME ZONE", "", U, "77c70a1e05010100000000899c",
     stamp_tz("1999-10-30 04:00:00.000000000 +00:00")},
    {"TIMESTAMP(3) WITH TIME ZONE", "", U, "7872021c0103210ca2dd00899c",
     stamp_tz("2014-02-28 00:02:32.212000000 +00:00")},
    {"TIMESTAMP(6) WITH TIME ZONE", "", U, "77c70a1e05010100000000303c", ""},
    {"TIMESTAMP(3) WITH LOCAL TIME ZONE", "", "AL32UTF8", "AL16UTF16", "US/Mountain", "7872021b1203210ca2dd00",
     "FROM_TZ(TO_TIMESTAMP('2014-02-27 17:02:32.212000000','YYYY-MM-DD HH24:MI:SS.FF9'),'US/Mountain')"},
    {"TIMESTAMP(6) WITH LOCAL TIME ZONE", "", "AL32UTF8", "AL16UTF16", "+01:00", "78740c1d10252105fe9778",
     "FROM_TZ(TO_TIMESTAMP('2016-12-29 15:36:32.100571000','YYYY-MM-DD HH24:MI:SS.FF9'),'+01:00')"},
    {"TIMESTAMP(6) WITH LOCAL TIME ZONE", "", U, "78740c1d10252105fe9778", ""},
    {"INTERVAL YEAR(4) TO MONTH", "", U, "800007e546", "TO_YMINTERVAL('+2021-10')"},
    {"INTERVAL YEAR(4) TO MONTH", "", U, "7ffff81b32", "TO_YMINTERVAL('-2021-10')"},
    {"INTERVAL YEAR(2) TO MONTH", "", U, "7ffffffb32", "TO_YMINTERVAL('-05-10')"},
    {"INTERVAL YEAR(2) TO MONTH", "", U, "8000000046", "TO_YMINTERVAL('+00-10')"},
    {"INTERVAL YEAR(2) TO MONTH", "", U, "800000053c", "TO_YMINTERVAL('+05-00')"},
    {"INTERVAL YEAR(2) TO MONTH", "", U, "8000000532", ""},
    {"INTERVAL DAY(2) TO SECOND(6)", "", U, "8000000248535e9b2e0200", "TO_DSINTERVAL('+02 12:23:34.456000000')"},
    {"INTERVAL DAY(2) TO SECOND(6)", "", U, "7ffffffe30251a64c5f3f8", "TO_DSINTERVAL('-02 12:23:34.456789000')"},
    {"INTERVAL DAY(2) TO SECOND(6)", "", U, "80000000465a9b3a0c08", ""},
    {"INTERVAL DAY(2) TO SECOND(6)", "", U, "8000000546505a9b3a0c08", "TO_DSINTERVAL('+05 10:20:30.456789000')"},
    {"INTERVAL DAY(2) TO SECOND(0)", "", U, "800000053c3c4680000000", "TO_DSINTERVAL('+05 00:00:10.000000000')"},
    {"VARCHAR2(40)", "CHAR_CS", U, "54656368 6e6963616c205772697465722c", "'Technical Writer,'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "c3b8", "'\xc3\xb8'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "f09f9880", "'\xf0\x9f\x98\x80'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "2722", "'''\"\"'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "ff", ""},
    {"VARCHAR2(40)", "CHAR_CS", U, "6100", ""},
    {"CHAR(10)", "CHAR_CS", U, "71776572747920202020", "'qwerty    '"},
    {"VARCHAR2(40)", "CHAR_CS", U, "616161616161616161616161616161 c3a9 2778", "'aaaaaaaaaaaaaaa\xc3\xa9''x'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "61616161616161616161616161616161 c3", ""},
    {"VARCHAR2(40)", "CHAR_CS", U, "6162636465666768696a c3a9", "'abcdefghij\xc3\xa9'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "41", "'A'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "4f736c6f", "'Oslo'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "6162632227", "'abc\"\"'''"},
    {"VARCHAR2(40)", "CHAR_CS", U, "6162636465666768", "'abcdefgh'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "6162636465666768696a6b6c6d6e6f70 7172737475767778", "'abcdefghijklmnopqrstuvwx'"},
    {"VARCHAR2(40)", "CHAR_CS", U, "6161616161616161616161616161616161 61 c3a9", "'aaaaaaaaaaaaaaaaaa\xc3\xa9'"},
    {"VARCHAR2(40)", "CHAR_CS", "WE8MSWIN1252", "AL16UTF16", "", "80e9", "'\xe2\x82\xac\xc3\xa9'"},
    {"VARCHAR2(40)", "CHAR_CS", "WE8ISO8859P1", "AL16UTF16", "", "e9", "'\xc3\xa9'"},
    {"VARCHAR2(40)", "CHAR_CS", "WE8ISO8859P15", "AL16UTF16", "", "a4", "'\xe2\x82\xac'"},
    {"VARCHAR2(40)", "CHAR_CS", "US7ASCII", "AL16UTF16", "", "80", ""},
    {"VARCHAR2(40)", "CHAR_CS", "ZHS16GBK", "AL16UTF16", "", "d6d0", "'\xe4\xb8\xad'"},
    {"VARCHAR2(40)", "CHAR_CS", "JA16SJIS", "AL16UTF16", "", "5c", "'\\'"},
    {"VARCHAR2(40)", "CHAR_CS", "UTF8", "AL16UTF16", "", "eda0bdedb880", "'\xf0\x9f\x98\x80'"},
    {"VARCHAR2(40)", "NCHAR_CS", U, "006100620063", "N'abc'"},
    {"NVARCHAR2(20)", "", U, "d83dde00", "N'\xf0\x9f\x98\x80'"},
    {"NCHAR(8)", "NCHAR_CS", U, "00780078007800780078007800780078", "N'xxxxxxxx'"},
    {"NVARCHAR2(20)", "NCHAR_CS", U, "00610062 00", ""},
    {"NVARCHAR2(20)", "NCHAR_CS", U, "d83d", ""},
    {"NVARCHAR2(20)", "NCHAR_CS", "AL32UTF8", "UTF8", "", "c3a9", "N'\xc3\xa9'"},
    {"RAW(16)", "", U, "deadbeef", ""},
    {"BLOB", "", U, "0001", ""},
    {"ROWID", "", U, "000120e7014000fd0001", ""},
};
#undef U

class Value : public testing::TestWithParam<ValueCase> {};

TEST_P(Value, GivesItsLiteral)
{
    const ValueCase& c = GetParam();
    DECODER dc{};
    std::string hex;
    for (const char *p = c.hex; *p; p++)
        if (*p != ' ')
            hex += *p;
    std::string text = "HEXTORAW('" + hex + "')";
    ASSERT_EQ(set_charsets(&dc, c.db, c.nat, "test"), 0);
    dc.tz_known = *c.tz != '\0';
    dc.tz_text = c.tz;
    ASSERT_TRUE(make_room(&dc, text.size(), 1));
    bool ok = format_value(&dc, kind_of_type(c.type, strlen(c.type), c.csname, strlen(c.csname)),
                           {text.data(), text.size()}) > 0;
    EXPECT_EQ(ok, !c.want.empty());
    EXPECT_EQ(ok ? std::string(dc.lit, dc.lit_len) : "", c.want);
    close_charsets(&dc);
    free(dc.lit);
    free(dc.bytes);
}

INSTANTIATE_TEST_SUITE_P(Decode, Value, testing::ValuesIn(kValues));

// ---- quorvil | quorvil-decode ---------------------------------------------------------
// Object 900 holds one column of each kind the pipe is shown on, and a
// hidden column; object 777 is not in the dictionary.
const char kDict[] =
    "\"OBJECT_ID\",\"DATA_OBJECT_ID\",\"OWNER\",\"TABLE_NAME\",\"SEGMENT_COLUMN_ID\",\"COLUMN_NAME\","
    "\"DATA_TYPE\",\"CHARACTER_SET_NAME\",\"HIDDEN_COLUMN\"\r\n"
    "900,900,\"APP\",\"Order \"\"Lines\"\"\",1,\"ID\",\"NUMBER\",,\"NO\"\r\n"
    "900,900,\"APP\",\"Order \"\"Lines\"\"\",2,\"NOTE\",\"VARCHAR2\",\"CHAR_CS\",\"NO\"\r\n"
    "900,900,\"APP\",\"Order \"\"Lines\"\"\",3,\"NNOTE\",\"NVARCHAR2\",\"NCHAR_CS\",\"NO\"\r\n"
    "900,900,\"APP\",\"Order \"\"Lines\"\"\",4,\"CREATED\",\"DATE\",,\"NO\"\r\n"
    "900,900,\"APP\",\"Order \"\"Lines\"\"\",5,\"AT\",\"TIMESTAMP(6) WITH TIME ZONE\",,\"NO\"\r\n"
    "900,900,\"APP\",\"Order \"\"Lines\"\"\",6,\"RATE\",\"BINARY_DOUBLE\",,\"NO\"\r\n"
    "900,900,\"APP\",\"Order \"\"Lines\"\"\",7,\"TAG\",\"RAW\",,\"NO\"\r\n"
    "900,900,\"APP\",\"Order \"\"Lines\"\"\",8,\"SYS_C00008$\",\"NUMBER\",,\"YES\"\r\n"
    "900,900,\"APP\",\"Order \"\"Lines\"\"\",,\"V\",\"NUMBER\",,\"NO\"\r\n";
const char kNls[] = "PARAMETER,VALUE\nNLS_CHARACTERSET,WE8MSWIN1252\nNLS_NCHAR_CHARACTERSET,AL16UTF16\nDBTIMEZONE,+01:00\n";

const Xid kX{3, 17, 245};
const std::vector<Col> kRow{hex("c20218"), hex("436166e9208020277127"), hex("006100620063"), hex("786906190d0201"),
                            hex("77c70a1e050101000000000d3c"), hex("3f9f319999999999"), hex("deadbeef"), hex("c102")};

struct PipeCase {
    const char *name;
    std::function<void(LogBuilder&)> build;
    std::string lines, summary;
};

std::ostream& operator<<(std::ostream& o, const PipeCase& c) { return o << c.name; }

std::string sql_quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

class Pipe : public testing::TestWithParam<PipeCase> {};

TEST_P(Pipe, GivesNamedTypedLinesThatLoadIntoSqlite)
{
    const PipeCase& c = GetParam();
    TempDir t;
    LogBuilder b;
    c.build(b);
    b.write(t.path("redo.log"));
    std::ofstream(t.path("dict.csv")) << kDict;
    std::ofstream(t.path("nls.csv")) << kNls;
    RunResult r = run_program("/bin/sh", {"-c", std::string(QUORVIL_BIN) + " -log redo.log -out /dev/stdout | " +
                                                    QUORVIL_DECODE_BIN + " -dict dict.csv -nls nls.csv >dec.csv"},
                              t.dir());
    std::string out = read_file(t.path("dec.csv"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(out, kCsvHeader.substr(0, kCsvHeader.size() - 1) + ",SQL_UNDO\n" + c.lines);
    EXPECT_NE(r.err.find(c.summary + "\n"), std::string::npos) << r.err;

    // SQLite reads back every field as it was written
    RunResult s = run_program("/usr/bin/sqlite3", {":memory:", ".import --csv dec.csv d", ".mode quote",
                                                   ".headers on", "SELECT * FROM d;"}, t.dir());
    std::string want;
    for (const CsvRow& row : read_csv(out).value_or(CsvRows{})) {
        for (size_t i = 0; i < row.size(); i++)
            want += (i ? "," : "") + sql_quoted(row[i]);
        want += "\n";
    }
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(s.out, want);
}

const PipeCase kPipes[] = {
    {"insert_update_delete",
     [](LogBuilder& b) {
         b.add(900, {v_begin(kX), v_undo_insert(kX, 900, 900), v_insert(kRow)});
         b.add(901, {v_undo_update(kX, 900, 900, {1, 3}, {hex("41"), std::nullopt}, Supp{{1}, {hex("c20218")}}),
                     v_update({1, 3}, {std::nullopt, hex("786906190d0201")})});
         b.add(902, {v_undo_delete(kX, 900, 900, kRow), v_delete()});
         b.add(903, {v_commit(kX)});
     },
     R"x(900,3,17,245,0,0,,START,set transaction read write;,
900,3,17,245,900,900,"APP.Order ""Lines""",INSERT,"insert into ""APP"".""Order """"Lines"""""" (""ID"",""NOTE"",""NNOTE"",""CREATED"",""AT"",""RATE"",""TAG"") values (123,'Café € ''q''',N'abc',TO_DATE('2005-06-25 12:01:00','YYYY-MM-DD HH24:MI:SS'),TO_TIMESTAMP_TZ('1999-10-29 21:00:00.000000000 -07:00','YYYY-MM-DD HH24:MI:SS.FF9 TZH:TZM'),-134.45d,HEXTORAW('deadbeef'));","delete from ""APP"".""Order """"Lines"""""" where ""ID""=123 and ""NOTE""='Café € ''q''' and ""NNOTE""=N'abc' and ""CREATED""=TO_DATE('2005-06-25 12:01:00','YYYY-MM-DD HH24:MI:SS') and ""AT""=TO_TIMESTAMP_TZ('1999-10-29 21:00:00.000000000 -07:00','YYYY-MM-DD HH24:MI:SS.FF9 TZH:TZM') and ""RATE""=-134.45d and ""TAG""=HEXTORAW('deadbeef');"
901,3,17,245,900,900,"APP.Order ""Lines""",UPDATE,"update ""APP"".""Order """"Lines"""""" set ""NOTE""=NULL,""CREATED""=TO_DATE('2005-06-25 12:01:00','YYYY-MM-DD HH24:MI:SS') where ""NOTE""='A' and ""CREATED"" IS NULL and ""ID""=123;","update ""APP"".""Order """"Lines"""""" set ""NOTE""='A',""CREATED""=NULL where ""NOTE"" IS NULL and ""CREATED""=TO_DATE('2005-06-25 12:01:00','YYYY-MM-DD HH24:MI:SS') and ""ID""=123;"
902,3,17,245,900,900,"APP.Order ""Lines""",DELETE,"delete from ""APP"".""Order """"Lines"""""" where ""ID""=123 and ""NOTE""='Café € ''q''' and ""NNOTE""=N'abc' and ""CREATED""=TO_DATE('2005-06-25 12:01:00','YYYY-MM-DD HH24:MI:SS') and ""AT""=TO_TIMESTAMP_TZ('1999-10-29 21:00:00.000000000 -07:00','YYYY-MM-DD HH24:MI:SS.FF9 TZH:TZM') and ""RATE""=-134.45d and ""TAG""=HEXTORAW('deadbeef');","insert into ""APP"".""Order """"Lines"""""" (""ID"",""NOTE"",""NNOTE"",""CREATED"",""AT"",""RATE"",""TAG"") values (123,'Café € ''q''',N'abc',TO_DATE('2005-06-25 12:01:00','YYYY-MM-DD HH24:MI:SS'),TO_TIMESTAMP_TZ('1999-10-29 21:00:00.000000000 -07:00','YYYY-MM-DD HH24:MI:SS.FF9 TZH:TZM'),-134.45d,HEXTORAW('deadbeef'));"
903,3,17,245,0,0,,COMMIT,commit;,
)x",
     "6 lines read, 6 decoded, 0 of objects not in the dictionary, 2 values left in hex, 0 passed through unchanged."},
    {"multi_row_insert_with_a_value_not_of_its_type",
     [](LogBuilder& b) {
         b.add(910, {v_undo_insert(kX, 900, 900),
                     v_qmi({{{hex("c102"), std::nullopt, hex("d83dde00")}},
                            {{hex("c103"), hex("27"), std::nullopt, hex("786d0d0b0e0901")}}})});
     },
     R"x(910,3,17,245,900,900,"APP.Order ""Lines""",INSERT,"insert into ""APP"".""Order """"Lines"""""" (""ID"",""NOTE"",""NNOTE"") values (1,NULL,N'😀');","delete from ""APP"".""Order """"Lines"""""" where ""ID""=1 and ""NOTE"" IS NULL and ""NNOTE""=N'😀';"
910,3,17,245,900,900,"APP.Order ""Lines""",INSERT,"insert into ""APP"".""Order """"Lines"""""" (""ID"",""NOTE"",""NNOTE"",""CREATED"") values (2,'''',NULL,HEXTORAW('786d0d0b0e0901'));","delete from ""APP"".""Order """"Lines"""""" where ""ID""=2 and ""NOTE""='''' and ""NNOTE"" IS NULL and ""CREATED""=HEXTORAW('786d0d0b0e0901');"
)x",
     "3 lines read, 3 decoded, 0 of objects not in the dictionary, 1 values left in hex, 0 passed through unchanged."},
    {"object_not_in_the_dictionary",
     [](LogBuilder& b) {
         b.add(920, {v_undo_insert(kX, 777, 778), v_insert({hex("c102"), std::nullopt})});
         b.add(921, {v_undo_update(kX, 777, 778, {0}, {hex("c102")}), v_update({0}, {hex("c103")})});
         b.add(922, {v_undo_update(kX, 777, 778, {1}, {hex("01")}, Supp{{1}, {hex("c103")}}),
                     v_update({1}, {hex("02")})});
         b.add(923, {v_undo_delete(kX, 777, 778, {hex("c103"), std::nullopt}), v_delete()});
     },
     R"x(920,3,17,245,777,778,OBJ# 777,INSERT,"insert into ""UNKNOWN"".""OBJ# 777"" (""COL 1"",""COL 2"") values (HEXTORAW('c102'),NULL);","delete from ""UNKNOWN"".""OBJ# 777"" where ""COL 1""=HEXTORAW('c102') and ""COL 2"" IS NULL;"
921,3,17,245,777,778,OBJ# 777,UPDATE,"update ""UNKNOWN"".""OBJ# 777"" set ""COL 1""=HEXTORAW('c103') where ""COL 1""=HEXTORAW('c102');","update ""UNKNOWN"".""OBJ# 777"" set ""COL 1""=HEXTORAW('c102') where ""COL 1""=HEXTORAW('c103');"
922,3,17,245,777,778,OBJ# 777,UPDATE,"update ""UNKNOWN"".""OBJ# 777"" set ""COL 2""=HEXTORAW('02') where ""COL 2""=HEXTORAW('01') and ""COL 1""=HEXTORAW('c103');","update ""UNKNOWN"".""OBJ# 777"" set ""COL 2""=HEXTORAW('01') where ""COL 2""=HEXTORAW('02') and ""COL 1""=HEXTORAW('c103');"
923,3,17,245,777,778,OBJ# 777,DELETE,"delete from ""UNKNOWN"".""OBJ# 777"" where ""COL 1""=HEXTORAW('c103') and ""COL 2"" IS NULL;","insert into ""UNKNOWN"".""OBJ# 777"" (""COL 1"",""COL 2"") values (HEXTORAW('c103'),NULL);"
)x",
     "5 lines read, 1 decoded, 4 of objects not in the dictionary, 0 values left in hex, 0 passed through unchanged."},
};

INSTANTIATE_TEST_SUITE_P(Decode, Pipe, testing::ValuesIn(kPipes));

// ---- the command line -------------------------------------------------------------
// Each case runs in a folder holding dict.csv, nls.csv, in.csv and an
// out.csv that holds "old": a refusal leaves it (and every input) as it was.
const std::string kHead = kCsvHeader.substr(0, kCsvHeader.size() - 1);
const std::string kIn = kCsvHeader + R"x(1,1,2,3,0,0,,START,set transaction read write;
2,1,2,3,5,5,OBJ# 5,INSERT,"insert into ""UNKNOWN"".""OBJ# 5"" (""COL 1"") values (HEXTORAW('c102'));"
)x";
const std::string kOut = kHead + R"x(,SQL_UNDO
1,1,2,3,0,0,,START,set transaction read write;,
2,1,2,3,5,5,S.T,INSERT,"insert into ""S"".""T"" (""N"") values (1);","delete from ""S"".""T"" where ""N""=1;"
)x";
const std::string kBad = R"x(3,1,2,3,6,6,OBJ# 6,DELETE,"delete from ""UNKNOWN"".""OBJ# 5"" where ;"
not,a,line)x";
// a quoted table name among the first fields, and line feeds in the quoted
// SQL_REDO both before and after its first 64 bytes
const std::string kDdl = "4,1,2,3,0,0,\"S,T\",DDL,\"create table t (a number,\n b varchar2(9)"
                         " default 'x,\"\"y\"\"',\n c date)\"";
const char kSmallDict[] = "OBJECT_ID,OWNER,TABLE_NAME,SEGMENT_COLUMN_ID,COLUMN_NAME,DATA_TYPE\n5,S,T,1,N,NUMBER\n";

struct CliCase {
    const char *name;
    std::vector<std::string> args;
    int status;
    std::string err, out = "old\n", in = kIn, dict = kSmallDict, nls = "";
    bool lock = false;
    std::string std_out = "";  // the program's standard output
};

std::ostream& operator<<(std::ostream& o, const CliCase& c) { return o << c.name; }

class Cli : public testing::TestWithParam<CliCase> {};

TEST_P(Cli, GivesStatusMessageAndOutput)
{
    const CliCase& c = GetParam();
    TempDir t;
    std::ofstream(t.path("dict.csv")) << c.dict;
    std::ofstream(t.path("nls.csv")) << c.nls;
    std::ofstream(t.path("in.csv")) << c.in;
    std::ofstream(t.path("out.csv")) << "old\n";
    int fd = c.lock ? open(t.path("out.csv").c_str(), O_RDWR) : -1;
    ASSERT_TRUE(!c.lock || flock(fd, LOCK_EX) == 0);
    RunResult r = run_program(QUORVIL_DECODE_BIN, c.args, t.dir());
    if (fd >= 0)
        close(fd);
    EXPECT_EQ(r.status, c.status);
    if (c.err.empty()) {
        EXPECT_EQ(r.err, "");
    }
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, c.std_out);
    EXPECT_EQ(read_file(t.path("out.csv")), c.out);
    EXPECT_EQ(read_file(t.path("in.csv")), c.in);
    EXPECT_EQ(read_file(t.path("dict.csv")), c.dict);
}

const std::vector<std::string> kRun{"-dict", "dict.csv", "-in", "in.csv", "-out"};
std::vector<std::string> run_with(std::vector<std::string> more)
{
    std::vector<std::string> a = kRun;
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

const CliCase kCli[] = {
    {"help", {"-h"}, 0, "usage: " QUORVIL_DECODE_BIN " -dict COLUMNS.csv [-nls PARAMETERS.csv] [-in CSV] [-out CSV]\n"},
    {"long_help", {"-dict", "dict.csv", "--help"}, 0, "usage: " QUORVIL_DECODE_BIN " -dict COLUMNS.csv [-nls "},
    {"version", {"--version", "-x"}, 0, "", "old\n", kIn, kSmallDict, "", false, "quorvil-decode " QUORVIL_VERSION "\n"},
    {"no_dictionary", {"-in", "in.csv"}, 2, "dictionary file name not specified.\nusage: "},
    {"unknown_option", {"-x"}, 2, "Invalid option \"-x\" specified.\nusage: "},
    {"option_without_value", {"-dict"}, 2, "no dictionary file specified.\n"},
    {"output_name_over_255", run_with({std::string(256, 'o')}), 2, "-out file name is longer than 255 characters.\n"},
    {"output_is_the_input", run_with({"in.csv"}), 2, "open in.csv: it is the input in.csv itself; nothing written\n"},
    {"output_is_the_dictionary", run_with({"dict.csv"}), 2, "it is the dictionary dict.csv itself; nothing written"},
    {"second_writer", run_with({"out.csv"}), 2, "open out.csv: another run is writing it\n", "old\n", kIn, kSmallDict,
     "", true},
    {"input_missing", {"-dict", "dict.csv", "-in", "none.csv", "-out", "out.csv"}, 2,
     "open none.csv: No such file or directory\n"},
    {"dictionary_id_not_a_number", run_with({"out.csv"}), 2,
     "dict.csv: line 3: OBJECT_ID \"x5\" is not a number up to 4294967295; dictionary refused\n", "old\n", kIn,
     "OBJECT_ID,OWNER,TABLE_NAME,SEGMENT_COLUMN_ID,COLUMN_NAME,DATA_TYPE\n\n\"x5\",S,T,1,N,NUMBER\n"},
    {"dictionary_column_given_two_names", run_with({"out.csv"}), 2,
     "dict.csv: line 3: object 5 segment column 1 is M NUMBER here but N NUMBER on line 2; dictionary refused\n",
     "old\n", kIn, std::string(kSmallDict) + "5,S,T,1,M,NUMBER\n"},
    {"dictionary_without_data_type", run_with({"out.csv"}), 2,
     "dict.csv: line 1: header line has no DATA_TYPE column; dictionary refused\n", "old\n", kIn,
     "OBJECT_ID,OWNER,TABLE_NAME,SEGMENT_COLUMN_ID,COLUMN_NAME\n5,S,T,1,N\n"},
    {"dictionary_row_short", run_with({"out.csv"}), 2,
     "dict.csv: line 2: 5 fields where the header line has 6; dictionary refused\n", "old\n", kIn,
     "OBJECT_ID,OWNER,TABLE_NAME,SEGMENT_COLUMN_ID,COLUMN_NAME,DATA_TYPE\n5,S,T,1,N\n"},
    {"unknown_character_set", run_with({"out.csv", "-nls", "nls.csv"}), 2,
     "nls.csv: character set KLINGON8 is not one quorvil-decode reads; parameters refused\n", "old\n", kIn,
     kSmallDict, "PARAMETER,VALUE\nNLS_CHARACTERSET,KLINGON8\nNLS_NCHAR_CHARACTERSET,AL16UTF16\n"},
    {"write_fails", run_with({"/dev/full"}), 2, "write /dev/full: No space left on device\n"},
    {"decoded_with_summary", run_with({"out.csv"}), 0,
     "no -nls file: taking AL32UTF8 and AL16UTF16 as the character sets\n3 lines read, 3 decoded, 0 of objects "
     "not in the dictionary, 0 values left in hex, 0 passed through unchanged.\n",
     kOut},
    {"lines_of_no_shape_passed_through", run_with({"out.csv", "-nls", "nls.csv"}), 1,
     "5 lines read, 3 decoded, 0 of objects not in the dictionary, 0 values left in hex, 2 passed through "
     "unchanged.\n",
     kOut + kBad.substr(0, kBad.find('\n')) + ",\nnot,a,line,\n", kIn + kBad, kSmallDict,
     "NLS_CHARACTERSET,AL32UTF8\nNLS_NCHAR_CHARACTERSET,AL16UTF16\n"},
    {"ddl_with_line_feeds", run_with({"out.csv"}), 0,
     "4 lines read, 4 decoded, 0 of objects not in the dictionary, 0 values left in hex, 0 passed through "
     "unchanged.\n",
     kOut + kDdl + ",\n", kIn + kDdl + "\n"},
};

INSTANTIATE_TEST_SUITE_P(Decode, Cli, testing::ValuesIn(kCli));

// ---- shapes -----------------------------------------------------------------------------
// Statements read and written through the shape of an earlier one give what
// reading and writing them item by item gives, byte for byte and count for
// count: on the benchmark log (its output passes the end of the output
// buffer many times), and on lines of object 900 (kDict) whose statements
// repeat with NULLs and values moved, a value not of its type, a hidden and
// an unknown column, a different last condition, an update whose where
// clause does not begin with its set list, and values that are not bytes.
std::string row_line(const char *op, const std::string& sql)
{
    std::string q;
    for (char c : sql)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return std::string("7,1,2,3,900,900,OBJ# 900,") + op + ",\"" + q + "\"\n";
}

const std::string kObj900 = "\"UNKNOWN\".\"OBJ# 900\"";
std::string ins(const std::string& v) { return row_line("INSERT", "insert into " + kObj900 + " (\"COL 1\",\"COL 2\",\"COL 8\",\"COL 9\") values (" + v + ");"); }
std::string del(const std::string& c) { return row_line("DELETE", "delete from " + kObj900 + " where " + c + ";"); }
std::string upd(const std::string& s) { return row_line("UPDATE", "update " + kObj900 + " set " + s + ";"); }

struct ShapeCase {
    const char *name;
    std::function<void(const TempDir&, std::string *csv, std::string *dict)> make;
};

std::ostream& operator<<(std::ostream& o, const ShapeCase& c) { return o << c.name; }

const ShapeCase kShapes[] = {
    {"benchmark_log", [](const TempDir& t, std::string *csv, std::string *dict) {
         ASSERT_EQ(std::system((std::string(QVGEN_BIN) + " --bench 4 " + t.path("b.log") + " >/dev/null && " + QVGEN_BIN +
                                " --bench-dict " + t.path("d.csv") + " && " + QUORVIL_BIN + " -log " + t.path("b.log") +
                                " -out " + t.path("b.csv") + " 2>/dev/null")
                                   .c_str()),
                   0);
         *csv = read_file(t.path("b.csv"));
         *dict = read_file(t.path("d.csv"));
     }},
    {"repeated_statements", [](const TempDir&, std::string *csv, std::string *dict) {
         const std::string h = "HEXTORAW('c20218')", n = "HEXTORAW('41')", bad = "HEXTORAW('ff')";
         for (int i = 0; i < 3; i++)
             *csv += ins(h + "," + n + ",HEXTORAW('c102')," + n) + ins("NULL," + bad + "," + bad + ",HEXTORAW('')") +
                     del("\"COL 1\"=" + h + " and \"COL 2\" IS NULL") + del("\"COL 1\" IS NULL and \"COL 2\"=" + n) +
                     del("\"COL 1\"=" + h + " and \"COL 4\" IS NULL") +
                     upd("\"COL 2\"=" + n + " where \"COL 2\"=" + bad + " and \"COL 1\"=" + h) +
                     upd("\"COL 2\"=NULL where \"COL 1\"=" + h + " and \"COL 2\" IS NULL") +
                     upd("where \"COL 1\"=" + h) + ins(h + "," + n + ",NULL,HEXTORAW('4')") +
                     del("\"COL 1\"=HEXTORAW('C2') and \"COL 2\" IS NULL");
         *dict = kDict;
     }},
    {"after_a_line_that_leaves_obuf_all_but_full", [](const TempDir&, std::string *csv, std::string *dict) {
         // a line passed through fills obuf to 38 bytes short of its end,
         // then a statement of a kept shape
         const std::string row = ins("HEXTORAW('c102'),HEXTORAW('41'),NULL,NULL");
         *csv = row + row + row + std::string(OBUF_SIZE - 40, 'x') + "\n" + row;
         *dict = kDict;
     }},
    {"text_across_steps", [](const TempDir&, std::string *csv, std::string *dict) {
         // text of 0 to 70 bytes ending in a character of two or three
         // bytes, a quote, a character cut short, a byte that is no UTF-8,
         // a surrogate, or a character written too long
         for (int len = 0; len <= 70; len++)
             for (const char *tail : {"", "c3a9", "e282ac", "e0a080", "22", "e282", "ff", "eda080", "e08080", "c0af"})
                 *csv += ins("HEXTORAW('c102'),HEXTORAW('" + std::string(2 * len, '6') + tail + "'),NULL,NULL");
         *dict = kDict;
     }},
};

class Shapes : public testing::TestWithParam<ShapeCase> {};

TEST_P(Shapes, WriteWhatItemByItemWrites)
{
    TempDir t;
    std::string csv, dict, out[3];
    GetParam().make(t, &csv, &dict);
    ASSERT_FALSE(testing::Test::HasFatalFailure());
    std::ofstream(t.path("in.csv")) << "SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO\n" << csv;
    // with shapes, without, and with shapes by the AVX2 build where it runs
    int (*stream[3])(DECODER*) = {decode_stream, decode_stream, NULL};
#ifdef QUORVIL_DECODE_AVX2
    if (avx2_runs())
        stream[2] = isa_avx2::decode_stream;
#endif
    uint64_t counts[3][4];
    bool shaped = false;
    for (int run = 0; run < 3 && stream[run] != NULL; run++) {
        DECODER dc{};
        ASSERT_EQ(load_dict(&dc.dict, dict.data(), dict.size(), "dict"), 0);
        ASSERT_EQ(set_charsets(&dc, "AL32UTF8", "AL16UTF16", "test"), 0);
        dc.no_shapes = run == 1;
        dc.in_fd = ::open(t.path("in.csv").c_str(), O_RDONLY);
        dc.out_fd = ::open(t.path("out.csv").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(stream[run](&dc), 0);
        ::close(dc.in_fd);
        ::close(dc.out_fd);
        out[run] = read_file(t.path("out.csv"));
        uint64_t c[4] = {dc.decoded, dc.hex_values, dc.passed, dc.unknown_obj};
        memcpy(counts[run], c, sizeof c);
        for (const SHAPE& sh : dc.shapes)
            shaped |= run != 1 && sh.kind != NO_SHAPE;
        close_charsets(&dc);
        if (run > 0) {
            EXPECT_TRUE(out[run] == out[0]) << "run " << run << ": outputs differ (" << out[0].size() << " and "
                                            << out[run].size() << " bytes)";
            EXPECT_EQ(memcmp(counts[run], counts[0], sizeof counts[0]), 0) << "run " << run;
        }
    }
    EXPECT_TRUE(shaped);
    EXPECT_GT(out[0].size(), csv.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(Decode, Shapes, testing::ValuesIn(kShapes));

}  // namespace
