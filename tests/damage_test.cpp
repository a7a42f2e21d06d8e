// Field-level damage: a good log with one field of one record broken.  Every
// case runs the real binary and expects the exact damage report, the lines
// written before and after the damaged place (also inside the same record),
// the count line and status 255 -- and no crash, no hang.
#include "log_builder.h"
#include "quorvil.h"
#include "run_quorvil.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace qvtest;

namespace {

const Xid X{3, 17, 4242};

const char* const START_10 = "10,3,17,4242,0,0,,START,set transaction read write;";
const char* const COMMIT_30 = "30,3,17,4242,0,0,,COMMIT,commit;";
const char* const CSV_HEADER = "SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO";

std::string lines(const std::vector<std::string>& v)
{
    std::string s;
    for (const auto& l : v)
        s += l + "\n";
    return s;
}

// Offset in an encoded record of vector i.
uint32_t vector_offset(const std::vector<Vector>& vecs, size_t i)
{
    uint32_t off = RECORD_HEADER_SIZE;
    for (size_t k = 0; k < i; k++)
        off += vector_size(vecs[k]);
    return off;
}

// Offset in an encoded record of length vector entry k of vector i.
uint32_t entry_offset(const std::vector<Vector>& vecs, size_t i, uint32_t k)
{
    return vector_offset(vecs, i) + VECTOR_HEADER_SIZE + 2 * k;
}

// The damaged part of a log: adds its records at SCN 20 and says in which
// block the record holding the damage began.
using Damage = std::function<uint32_t(LogBuilder&)>;

struct DamageCase {
    const char* name;
    Damage build;
    std::vector<std::string> reports;  // what follows "<log>: block <N>: "
    std::vector<std::string> written;  // lines the damaged part still writes
    uint32_t blk_sz = 512;
};

void PrintTo(const DamageCase& dc, std::ostream* os) { *os << dc.name; }

std::vector<Col> row3() { return {hex("01"), std::nullopt, hex("0203")}; }

const std::string INSERT_20 =
    "20,3,17,4242,501,502,OBJ# 501,INSERT,\"insert into \"\"UNKNOWN\"\".\"\"OBJ# 501\"\" "
    "(\"\"COL 1\"\",\"\"COL 2\"\",\"\"COL 3\"\") values (HEXTORAW('01'),NULL,HEXTORAW('0203'));\"";
const std::string UPDATE_20 =
    "20,3,17,4242,501,502,OBJ# 501,UPDATE,\"update \"\"UNKNOWN\"\".\"\"OBJ# 501\"\" set "
    "\"\"COL 1\"\"=HEXTORAW('01') where \"\"COL 1\"\"=HEXTORAW('03');\"";
const std::string START_20 = "20,3,17,4242,0,0,,START,set transaction read write;";
const std::string COMMIT_20 = "20,3,17,4242,0,0,,COMMIT,commit;";
const std::string DDL_20 = "20,3,17,4242,901,0,T,DDL,\"drop table t\"";

std::string qmi_line(const std::string& values, int cc)
{
    std::string cols;
    for (int i = 1; i <= cc; i++)
        cols += (i > 1 ? "," : "") + std::string("\"\"COL ") + std::to_string(i) + "\"\"";
    return "20,3,17,4242,801,802,OBJ# 801,INSERT,\"insert into \"\"UNKNOWN\"\".\"\"OBJ# 801\"\" (" + cols +
           ") values (" + values + ");\"";
}

// Adds one record built from vecs after `patch` has been applied to its bytes.
uint32_t add_patched(LogBuilder& b, const std::vector<Vector>& vecs, const std::function<void(Bytes&)>& patch)
{
    Bytes rec = encode_record(20, vecs);
    patch(rec);
    return b.add_record(rec).block;
}

std::vector<DamageCase> damage_cases()
{
    std::vector<DamageCase> c;

    // ---- the record and its length vectors
    c.push_back({"rlen_four_past_the_vectors",
                 [](LogBuilder& b) {
                     std::vector<Vector> v{v_begin(X), v_commit(X)};
                     uint32_t blk = add_patched(b, v, [](Bytes& r) { set_u32(r, 0, uint32_t(r.size() + 4)); });
                     b.next_block();
                     return blk;
                 },
                 {"change vector at record offset 132 runs past the record (4 bytes left); "
                  "rest of the record passed over"},
                 {START_20, COMMIT_20}});
    c.push_back({"record_one_byte_short_of_its_vectors",
                 [](LogBuilder& b) {
                     std::vector<Vector> v{v_begin(X), v_commit(X)};
                     uint32_t blk = add_patched(b, v, [](Bytes& r) { set_u32(r, 0, uint32_t(r.size() - 1)); });
                     b.next_block();
                     return blk;
                 },
                 {"change vector at record offset 84 runs past the record (47 bytes left); "
                  "rest of the record passed over"},
                 {START_20}});
    c.push_back({"field_length_0xffff",
                 [](LogBuilder& b) {
                     std::vector<Vector> v{v_begin(X), v_undo_insert(X, 501, 502), v_insert(row3())};
                     return add_patched(b, v, [&](Bytes& r) { set_u16(r, entry_offset(v, 2, 3), 0xFFFF); });
                 },
                 {"change vector at record offset 192 runs past the record (96 bytes left); "
                  "rest of the record passed over"},
                 {START_20}});
    c.push_back({"length_vector_entry_0_0xffff",
                 [](LogBuilder& b) {
                     std::vector<Vector> v{v_begin(X), v_undo_insert(X, 501, 502), v_insert(row3())};
                     return add_patched(b, v, [&](Bytes& r) { set_u16(r, entry_offset(v, 2, 0), 0xFFFF); });
                 },
                 {"change vector at record offset 192 runs past the record (96 bytes left); "
                  "rest of the record passed over"},
                 {START_20}});
    // entry 0 one short drops the last column field; it is empty, so the
    // vector keeps its length and the walk stays in step
    c.push_back({"length_vector_entry_0_drops_last_field",
                 [](LogBuilder& b) {
                     std::vector<Vector> v{v_undo_insert(X, 501, 502), v_insert({hex("01"), Bytes{}}), v_ddl(X, 901, "drop table t", "T")};
                     return add_patched(b, v, [&](Bytes& r) { set_u16(r, entry_offset(v, 1, 0), 9); });
                 },
                 {"11.2 vector: 2 columns but 1 column fields; INSERT left out"},
                 {DDL_20}});
    // KTUBU length one short: same padded size, but not a whole object field
    c.push_back({"undo_object_entry_short_then_its_insert",
                 [](LogBuilder& b) {
                     std::vector<Vector> v{v_undo_insert(X, 501, 502), v_insert(row3()), v_commit(X)};
                     return add_patched(b, v, [&](Bytes& r) { set_u16(r, entry_offset(v, 0, 2), 27); });
                 },
                 {"5.1 vector lacks whole transaction and object fields; not taken as undo",
                  "11.2 vector has no undo vector in its record; INSERT left out"},
                 {COMMIT_20}});

    // ---- transaction lines
    c.push_back({"transaction_header_short",
                 [](LogBuilder& b) {
                     Vector v = v_begin(X);
                     v.fields[0].resize(28);
                     return b.add(20, {v, v_commit(X)}).block;
                 },
                 {"5.2 vector lacks a whole transaction header field; START left out"},
                 {COMMIT_20}});
    c.push_back({"transaction_end_missing",
                 [](LogBuilder& b) {
                     Vector v = v_commit(X);
                     v.fields.clear();
                     return b.add(20, {v_begin(X), v}).block;
                 },
                 {"5.4 vector lacks a whole transaction end field; transaction end left out"},
                 {START_20}});

    // ---- undo capture
    c.push_back({"undo_row_operation_short_then_delete",
                 [](LogBuilder& b) {
                     Vector u = v_undo_delete(X, 601, 602, row3());
                     u.fields[3].resize(12);
                     return b.add(20, {u, v_delete(), v_begin(X)}).block;
                 },
                 {"5.1 vector of a table row has no whole row operation field; not taken as undo",
                  "11.3 vector has no undo vector in its record; DELETE left out"},
                 {START_20}});
    c.push_back({"undo_in_an_earlier_record_is_forgotten",
                 [](LogBuilder& b) {
                     b.add(20, {v_undo_insert(X, 501, 502)});
                     return b.add(20, {v_insert(row3()), v_qmi({{{hex("01")}}})}).block;
                 },
                 {"11.2 vector has no undo vector in its record; INSERT left out",
                  "11.11 vector has no undo vector in its record; 1 rows left out"},
                 {}});

    // ---- one undo, one row change: a damaged undo forgets the one before it,
    // and the old values serve the first delete or update only
    for (uint32_t len : {27u, 0u})
        c.push_back({len ? "damaged_object_field_forgets_earlier_undo" : "damaged_row_operation_forgets_earlier_undo",
                     [len](LogBuilder& b) {
                         Vector u = v_undo_insert({4, 5, 6}, 200, 200);
                         if (len)
                             u.len_override = {std::nullopt, uint16_t(len)};
                         else
                             u.fields[3].resize(12);
                         return b.add(20, {v_undo_insert({1, 2, 3}, 100, 100), v_insert({hex("aa")}), u,
                                           v_insert({hex("bb")})})
                             .block;
                     },
                     {len ? "5.1 vector lacks whole transaction and object fields; not taken as undo"
                          : "5.1 vector of a table row has no whole row operation field; not taken as undo",
                      "11.2 vector has no undo vector in its record; INSERT left out"},
                     {"20,1,2,3,100,100,OBJ# 100,INSERT,\"insert into \"\"UNKNOWN\"\".\"\"OBJ# 100\"\" "
                      "(\"\"COL 1\"\") values (HEXTORAW('aa'));\""}});
    c.push_back({"row_changes_after_the_first_on_one_undo",
                 [](LogBuilder& b) {
                     return b.add(20, {v_undo_update(X, 501, 502, {0}, {hex("03")}), v_update({0}, {hex("01")}),
                                       v_delete(), v_update({0}, {hex("02")}), v_insert(row3())})
                         .block;
                 },
                 {"11.3 vector has no undo vector of its own; DELETE left out",
                  "11.5 vector has no undo vector of its own; UPDATE left out"},
                 {UPDATE_20, INSERT_20}});

    // ---- insert: cc and its bitmap
    c.push_back({"insert_cc_beyond_column_fields",
                 [](LogBuilder& b) {
                     Vector v = v_insert(row3());
                     set_u8(v.fields[1], offsetof(KDO_IRP, cc), 5);
                     return b.add(20, {v_begin(X), v_undo_insert(X, 501, 502), v, v_insert(row3())}).block;
                 },
                 {"11.2 vector: 5 columns but 3 column fields; INSERT left out"},
                 {START_20, INSERT_20}});
    c.push_back({"insert_bitmap_past_its_field",
                 [](LogBuilder& b) {
                     Vector v = v_insert(row3());
                     set_u8(v.fields[1], offsetof(KDO_IRP, cc), 200);
                     return b.add(20, {v_undo_insert(X, 501, 502), v}).block;
                 },
                 {"11.2 vector: null bitmap of 200 columns runs past its field; INSERT left out"},
                 {}});
    c.push_back({"insert_row_piece_short",
                 [](LogBuilder& b) {
                     Vector v = v_insert(row3());
                     v.fields[1].resize(KDO_IRP_FIXED - 1);
                     return b.add(20, {v_undo_insert(X, 501, 502), v}).block;
                 },
                 {"11.2 vector lacks a whole insert row piece; INSERT left out"},
                 {}});

    // ---- delete: the undo's cc
    c.push_back({"delete_cc_beyond_undo_fields",
                 [](LogBuilder& b) {
                     Vector u = v_undo_delete(X, 601, 602, row3());
                     set_u8(u.fields[3], offsetof(KDO_IRP, cc), 4);
                     return b.add(20, {u, v_delete(), v_commit(X)}).block;
                 },
                 {"undo of an 11.3 vector: 4 columns but 3 column fields; DELETE left out"},
                 {COMMIT_20}});
    c.push_back({"delete_undo_is_not_an_insert_row_piece",
                 [](LogBuilder& b) { return b.add(20, {v_undo_insert(X, 601, 602), v_delete()}).block; },
                 {"undo of an 11.3 vector is not a whole insert row piece; DELETE left out"},
                 {}});

    // ---- update: nnew on both sides, supplemental ncol and lengths
    c.push_back({"update_new_side_nnew_beyond_values",
                 [](LogBuilder& b) {
                     Vector v = v_update({0, 1}, {hex("01"), hex("02")});
                     set_u8(v.fields[1], offsetof(KDO_URP, nnew), 3);
                     return b.add(20, {v_undo_update(X, 701, 702, {0, 1}, {hex("03"), hex("04")}), v}).block;
                 },
                 {"11.5 vector: update row piece, column numbers or new values missing; UPDATE left out"},
                 {}});
    c.push_back({"update_old_side_nnew_beyond_values",
                 [](LogBuilder& b) {
                     Vector u = v_undo_update(X, 701, 702, {0}, {hex("03")});
                     set_u8(u.fields[3], offsetof(KDO_URP, nnew), 2);
                     return b.add(20, {u, v_update({0}, {hex("01")}), v_begin(X)}).block;
                 },
                 {"undo of an 11.5 vector: update row piece, column numbers or old values missing; "
                  "UPDATE left out"},
                 {START_20}});
    c.push_back({"update_supplemental_ncol_beyond_fields",
                 [](LogBuilder& b) {
                     Vector u = v_undo_update(X, 701, 702, {0}, {hex("03")}, Supp{{4, 5}, {hex("05"), hex("06")}});
                     set_u16(u.fields[6], offsetof(SUPPLEMENT, ncol), 3);
                     return b.add(20, {u, v_update({0}, {hex("01")})}).block;
                 },
                 {"undo of an 11.5 vector: supplemental columns run past its fields; UPDATE left out"},
                 {}});
    c.push_back({"update_supplemental_length_past_its_value",
                 [](LogBuilder& b) {
                     Vector u = v_undo_update(X, 701, 702, {0}, {hex("03")}, Supp{{4}, {hex("0506")}});
                     set_u16(u.fields[8], 0, 3);  // value length 3, field of 2 bytes
                     return b.add(20, {u, v_update({0}, {hex("01")})}).block;
                 },
                 {"undo of an 11.5 vector: supplemental columns run past its fields; UPDATE left out"},
                 {}});

    // ---- multi-row insert: nrow, sizes and the 0xFE length
    c.push_back({"qmi_nrow_beyond_size_array",
                 [](LogBuilder& b) {
                     Vector q = v_qmi({{{hex("01")}}, {{hex("02")}}});
                     set_u16(q.fields[1], offsetof(KDO_QMI, nrow), 3);
                     return b.add(20, {v_undo_insert(X, 801, 802), q}).block;
                 },
                 {"11.11 vector: size array too short for 3 rows; rows left out"},
                 {}});
    c.push_back({"qmi_row_size_points_past_rows_field",
                 [](LogBuilder& b) {
                     return b.add(20, {v_undo_insert(X, 801, 802),
                                       v_qmi({{{hex("01")}, 400}, {{hex("02")}}, {{hex("03")}}})})
                         .block;
                 },
                 {"11.11 vector: rows 2 to 3 lie past the rows field; left out"},
                 {qmi_line("HEXTORAW('01')", 1)}});
    c.push_back({"qmi_long_length_past_rows_field",
                 [](LogBuilder& b) {
                     Vector q = v_qmi({{{hex("01")}, std::nullopt, true},
                                       {{hex("0203")}, std::nullopt, true},
                                       {{hex("04"), std::nullopt}}});
                     // row 2 begins after row 1's 2c 00 01 fe 01 00 01
                     EXPECT_EQ(q.fields[3].at(7 + 3), 0xFE);
                     set_u16(q.fields[3], 7 + 4, 0x1000);
                     return b.add(20, {v_undo_insert(X, 801, 802), q}).block;
                 },
                 {"11.11 vector: columns of row 2 run past the rows field; row left out"},
                 {qmi_line("HEXTORAW('01')", 1), qmi_line("HEXTORAW('04'),NULL", 2)}});

    // ---- DDL
    c.push_back({"ddl_without_name_field",
                 [](LogBuilder& b) {
                     Vector d = v_ddl(X, 901, "drop table t", "T");
                     d.fields.pop_back();
                     return b.add(20, {d, v_ddl(X, 901, "drop table t", "T")}).block;
                 },
                 {"24.1 vector lacks its transaction, object, statement or name field; DDL left out"},
                 {DDL_20}});

    // ---- combinations
    c.push_back({"two_damaged_vectors_then_a_good_one",
                 [](LogBuilder& b) {
                     Vector v = v_insert(row3());
                     set_u8(v.fields[1], offsetof(KDO_IRP, cc), 8);
                     return b.add(20, {v_undo_insert(X, 501, 502), v, v_delete(), v_ddl(X, 901, "drop table t", "T")})
                         .block;
                 },
                 {"11.2 vector: 8 columns but 3 column fields; INSERT left out",
                  "undo of an 11.3 vector is not a whole insert row piece; DELETE left out"},
                 {DDL_20}});
    // the report names the block where the record began, not where the damage lies
    c.push_back({"damage_in_a_record_over_many_blocks",
                 [](LogBuilder& b) {
                     Vector v = v_insert({Bytes(300, 0xab), hex("01")});
                     set_u8(v.fields[1], offsetof(KDO_IRP, cc), 3);
                     b.next_block();
                     return b.add(20, {v_undo_insert(X, 501, 502), v}).block;
                 },
                 {"11.2 vector: 3 columns but 2 column fields; INSERT left out"},
                 {},
                 64});
    return c;
}

class FieldDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(FieldDamage, ReportedAndPassedOver)
{
    const DamageCase& dc = GetParam();
    TempDir tmp;
    const std::string log = tmp.path("damaged.log"), out = tmp.path("out.csv");

    LogBuilder b(LogOptions{512, dc.blk_sz});
    b.add(10, {v_begin(X)});
    const uint32_t blk = dc.build(b);
    if (::testing::Test::HasFatalFailure())
        return;
    b.next_block();
    b.add(30, {v_commit(X)});
    b.write(log);

    RunResult r = run_quorvil({"-log", log, "-out", out});
    std::string expect_err;
    for (const auto& m : dc.reports)
        expect_err += log + ": block " + std::to_string(blk) + ": " + m + "\n";
    expect_err += log + ": " + std::to_string(dc.reports.size()) + " damaged place" +
                  (dc.reports.size() == 1 ? "" : "s") + " passed over; the output is incomplete\nquorvil exit with error.\n";
    EXPECT_EQ(after_banner(r.err), expect_err);
    EXPECT_EQ(r.status, 255);

    std::vector<std::string> csv{CSV_HEADER, START_10};
    csv.insert(csv.end(), dc.written.begin(), dc.written.end());
    csv.push_back(COMMIT_30);
    EXPECT_EQ(read_file(out), lines(csv));
}

INSTANTIATE_TEST_SUITE_P(EachField, FieldDamage, ::testing::ValuesIn(damage_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the first-record offset of a block (rba_byte) holding two records

struct OffsetCase {
    const char* name;
    uint16_t rba_byte;
    std::string report;                // after "<log>: block 3: "; empty: none
    bool block_read;                   // the two records of block 3 are decoded
};

void PrintTo(const OffsetCase& oc, std::ostream* os) { *os << oc.name; }

class FirstRecordOffset : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(FirstRecordOffset, OnlyItsBlockIsLost)
{
    const OffsetCase& oc = GetParam();
    TempDir tmp;
    const std::string log = tmp.path("offset.log"), out = tmp.path("out.csv");

    LogBuilder b;
    b.add(10, {v_begin(X)});
    b.next_block();
    ASSERT_EQ(b.add(20, {v_begin(X)}).block, 3u);
    b.add(20, {v_commit(X)});
    b.next_block();
    b.add(30, {v_commit(X)});
    Bytes img = b.image();
    set_u16(img, b.file_offset(3, offsetof(REDO_BH, rba_byte)), oc.rba_byte);
    b.seal(img);
    LogBuilder::write_file(log, img);

    RunResult r = run_quorvil({"-log", log, "-out", out});
    if (oc.report.empty()) {
        EXPECT_EQ(after_banner(r.err), "quorvil end.\n");
        EXPECT_EQ(r.status, 0);
    } else {
        EXPECT_EQ(after_banner(r.err), log + ": block 3: " + oc.report + "\n" + log +
                                           ": 1 damaged place passed over; the output is incomplete\n"
                                           "quorvil exit with error.\n");
        EXPECT_EQ(r.status, 255);
    }
    std::vector<std::string> csv{CSV_HEADER, START_10};
    if (oc.block_read) {
        csv.push_back(START_20);
        csv.push_back(COMMIT_20);
    }
    csv.push_back(COMMIT_30);
    EXPECT_EQ(read_file(out), lines(csv));
}

INSTANTIATE_TEST_SUITE_P(
    RbaByte, FirstRecordOffset,
    ::testing::Values(OffsetCase{"top_bit_is_ignored", 0x8000 | 16, "", true},
                      // the last offset that leaves room for a record length: it reads 0
                      OffsetCase{"last_usable_offset", 508, "", false},
                      OffsetCase{"one_past_the_last_usable_offset", 509,
                                 "first-record offset 509 lies beyond the 512-byte block", false},
                      OffsetCase{"largest_offset", 0x7FFF, "first-record offset 32767 lies beyond the 512-byte block",
                                 false},
                      // four bytes into the first record: vld, spare and scn_wrap read as rlen 1
                      OffsetCase{"inside_the_first_record", 20,
                                 "record length 1 at block offset 20 is shorter than a record header; "
                                 "rest of the block passed over",
                                 false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- edges that are not damage: lengths that end exactly at a bound

struct EdgeCase {
    const char* name;
    std::function<void(LogBuilder&)> build;
    std::vector<std::string> written;
};

void PrintTo(const EdgeCase& ec, std::ostream* os) { *os << ec.name; }

std::vector<EdgeCase> edge_cases()
{
    return {
        // the last column field is 8 bytes: it ends exactly where its vector
        // and the record end, with no padding after it
        {"field_ends_at_vector_and_record_end",
         [](LogBuilder& b) { b.add(20, {v_undo_insert(X, 501, 502), v_insert({hex("0102030405060708")})}); },
         {"20,3,17,4242,501,502,OBJ# 501,INSERT,\"insert into \"\"UNKNOWN\"\".\"\"OBJ# 501\"\" (\"\"COL 1\"\") "
          "values (HEXTORAW('0102030405060708'));\""}},
        // a name of 4 bytes fills its field: no terminator, taken whole
        {"ddl_name_fills_its_field",
         [](LogBuilder& b) { b.add(20, {v_ddl(X, 901, "drop table abcd", "ABCD")}); },
         {"20,3,17,4242,901,0,ABCD,DDL,\"drop table abcd\""}},
        // an 0xFE length that takes the rows field to its last byte
        {"qmi_long_length_ends_at_rows_field_end",
         [](LogBuilder& b) {
             b.add(20, {v_undo_insert(X, 801, 802), v_qmi({{{hex("0a0b0c")}, std::nullopt, true}})});
         },
         {qmi_line("HEXTORAW('0a0b0c')", 1)}},
        // a supplemental value as long as its field
        {"supplemental_length_equals_its_field",
         [](LogBuilder& b) {
             b.add(20, {v_undo_update(X, 701, 702, {}, {}, Supp{{7}, {hex("0506")}}), v_update({0}, {hex("01")})});
         },
         {"20,3,17,4242,701,702,OBJ# 701,UPDATE,\"update \"\"UNKNOWN\"\".\"\"OBJ# 701\"\" set \"\"COL 1\"\"=HEXTORAW('01') "
          "where \"\"COL 7\"\"=HEXTORAW('0506');\""}},
        // a record that fills its block to the last byte; the next record is
        // found through the next block's first-record offset
        {"record_ends_at_block_end",
         [](LogBuilder& b) {
             const uint32_t room = 512 - b.position().offset;
             const uint32_t fixed = RECORD_HEADER_SIZE + vector_size(v_other(5, 6, {Bytes{}}));
             b.add(20, {v_other(5, 6, {Bytes(room - fixed, 0x11)})});
             ASSERT_EQ(b.position().offset, 16u);
             b.add(20, {v_begin(X)});
         },
         {START_20}},
    };
}

class ExactEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(ExactEdge, DecodedWhole)
{
    const EdgeCase& ec = GetParam();
    TempDir tmp;
    const std::string log = tmp.path("edge.log"), out = tmp.path("out.csv");

    LogBuilder b;
    b.add(10, {v_begin(X)});
    ec.build(b);
    if (::testing::Test::HasFatalFailure())
        return;
    b.add(30, {v_commit(X)});
    b.write(log);

    RunResult r = run_quorvil({"-log", log, "-out", out});
    EXPECT_EQ(after_banner(r.err), "quorvil end.\n");
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> csv{CSV_HEADER, START_10};
    csv.insert(csv.end(), ec.written.begin(), ec.written.end());
    csv.push_back(COMMIT_30);
    EXPECT_EQ(read_file(out), lines(csv));
}

INSTANTIATE_TEST_SUITE_P(Bounds, ExactEdge, ::testing::ValuesIn(edge_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the report cap: a hundred lines, one "further damage" line, the full count

TEST(DamageReports, CappedAtAHundredAndCountedToTheEnd)
{
    TempDir tmp;
    const std::string log = tmp.path("much.log"), out = tmp.path("out.csv");
    Vector bad = v_begin(X);
    bad.fields[0].resize(4);

    LogBuilder b;
    b.add(10, {v_begin(X)});
    std::vector<uint32_t> blocks;
    for (int i = 0; i < 130; i++) {
        blocks.push_back(b.add(20, {bad}).block);
        b.next_block();
    }
    b.add(30, {v_commit(X)});
    b.write(log);

    RunResult r = run_quorvil({"-log", log, "-out", out});
    std::string expect;
    for (int i = 0; i < 100; i++)
        expect += log + ": block " + std::to_string(blocks[i]) +
                  ": 5.2 vector lacks a whole transaction header field; START left out\n";
    expect += log + ": further damage is counted but not reported\n";
    expect += log + ": 130 damaged places passed over; the output is incomplete\nquorvil exit with error.\n";
    EXPECT_EQ(after_banner(r.err), expect);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(read_file(out), lines({CSV_HEADER, START_10, COMMIT_30}));
}

}  // namespace
