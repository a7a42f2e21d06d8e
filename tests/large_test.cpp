// Sizes at both ends: a sparse log past 4 GiB read to its end, logs made of
// records over 1 MiB, the largest insert a row piece can hold (255 columns
// of 65,535 bytes, about 33 MB of SQL text written whole), and files too
// small to hold a header or a first block.
#include "log_builder.h"
#include "quorvil.h"
#include "run_quorvil.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qvtest;

namespace {

const Xid X{4, 9, 77};
const std::string CSV_HEADER = "SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO\n";

std::string start_line(uint64_t scn) { return std::to_string(scn) + ",4,9,77,0,0,,START,set transaction read write;\n"; }
std::string commit_line(uint64_t scn) { return std::to_string(scn) + ",4,9,77,0,0,,COMMIT,commit;\n"; }

Bytes pattern(size_t n, uint32_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = uint8_t((seed * 131 + i * 7 + (i >> 8)) & 0xff);
    return b;
}

std::string hex_of(const Bytes& b)
{
    static const char* digits = "0123456789abcdef";
    std::string s;
    s.reserve(2 * b.size());
    for (uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

// The INSERT line of an undo_insert(X, objn, objn + 1) + insert(cols) record,
// built here from the column bytes.
std::string insert_line(uint64_t scn, uint32_t objn, const std::vector<Bytes>& cols)
{
    std::string names, values;
    for (size_t i = 0; i < cols.size(); i++) {
        names += (i ? "," : "") + std::string("\"\"COL ") + std::to_string(i + 1) + "\"\"";
        values += (i ? "," : "") + std::string("HEXTORAW('") + hex_of(cols[i]) + "')";
    }
    const std::string obj = std::to_string(objn);
    return std::to_string(scn) + ",4,9,77," + obj + "," + std::to_string(objn + 1) + ",OBJ# " + obj +
           ",INSERT,\"insert into \"\"UNKNOWN\"\".\"\"OBJ# " + obj + "\"\" (" + names + ") values (" + values +
           ");\"\n";
}

std::vector<Col> as_cols(const std::vector<Bytes>& v) { return std::vector<Col>(v.begin(), v.end()); }

// Compares two long texts without printing them whole on a mismatch.
void expect_same_text(const std::string& got, const std::string& want)
{
    if (got == want)
        return;
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        i++;
    ADD_FAILURE() << "texts differ: got " << got.size() << " bytes, want " << want.size()
                  << "; first difference at byte " << i << ": got \"" << got.substr(i, 60) << "\", want \""
                  << want.substr(i, 60) << "\"";
}

// A record crossing the 4 GiB file offset and a chunk boundary, after a hole
// of 8 million empty blocks: every line after the hole is there.
TEST(LargeLog, PastFourGiBReadToTheEnd)
{
    TempDir tmp;
    // 512-byte blocks: block 2^23 begins at file offset 2^32; the hole is
    // never-written blocks, passed over in silence without checksums
    LogBuilder b(LogOptions{.checksums = false});
    const uint32_t at_4g = 1u << 23;
    ASSERT_EQ(b.file_offset(at_4g, 0), 1ull << 32);

    b.add(10, {v_begin(X)});
    b.add_hole_blocks(at_4g - 2 - b.position().block);  // the hole begins after block 2
    ASSERT_EQ(b.position().block, at_4g - 1);
    // 1,600 bytes from offset 16 of block 2^23 - 1 run into block 2^23 + 2,
    // the first block of the next 8,192-block chunk
    const std::vector<Bytes> cols{pattern(900, 1), pattern(300, 2)};
    Bytes rec = encode_record(20, {v_undo_insert(X, 600, 601), v_insert(as_cols(cols))});
    rec = encode_record(20, {v_undo_insert(X, 600, 601), v_insert(as_cols(cols)),
                             v_other(5, 6, {Bytes(1600 - rec.size() - 28, 0)})});
    ASSERT_EQ(rec.size(), 1600u);
    b.add_record(rec);
    ASSERT_EQ((b.position().block - 2) % 8192, 0u);
    b.add(30, {v_commit(X)});
    b.add_hole_blocks(1000);
    b.add(40, {v_begin(X)});
    ASSERT_GT(b.file_size(), (1ull << 32) + 500000);

    b.write(tmp.path("big.log"));
    RunResult r = run_quorvil({"-log", tmp.path("big.log"), "-out", tmp.path("out.csv")});
    EXPECT_EQ(after_banner(r.err), "quorvil end.\n");
    EXPECT_EQ(r.status, 0);
    expect_same_text(read_file(tmp.path("out.csv")),
                     CSV_HEADER + start_line(10) + insert_line(20, 600, cols) + commit_line(30) + start_line(40));
}

// Every record is longer than the 1 MiB record buffer: each gets its own
// allocation, announced with its length, and its line comes out whole.
TEST(LargeLog, OnlyRecordsOverOneMiB)
{
    TempDir tmp;
    LogBuilder b;
    std::string want = CSV_HEADER;
    std::string want_err;
    // columns of 65,535 bytes, then one filler field to reach the exact size
    const uint32_t sizes[] = {RECB_SIZE + 4, 1536 * 1024, 3 * 1024 * 1024 + 12};
    const int ncols[] = {15, 23, 47};

    for (int i = 0; i < 3; i++) {
        std::vector<Bytes> cols;
        for (int k = 0; k < ncols[i]; k++)
            cols.push_back(pattern(65535, uint32_t(100 * i + k)));
        std::vector<Vector> vecs{v_undo_insert(X, 700 + i, 701 + i), v_insert(as_cols(cols))};
        const uint32_t used = uint32_t(encode_record(50 + i, vecs).size()) + 28;
        ASSERT_LT(used, sizes[i]);
        vecs.push_back(v_other(5, 6, {Bytes(sizes[i] - used, 0x33)}));
        Bytes rec = encode_record(50 + i, vecs);
        ASSERT_EQ(rec.size(), sizes[i]);
        b.add_record(rec);
        want += insert_line(50 + i, 700 + i, cols);
        want_err += "allocate new memory (" + std::to_string(sizes[i]) + " bytes)\n";
    }
    b.write(tmp.path("long.log"));

    RunResult r = run_quorvil({"-log", tmp.path("long.log"), "-out", tmp.path("out.csv")});
    EXPECT_EQ(after_banner(r.err), want_err + "quorvil end.\n");
    EXPECT_EQ(r.status, 0);
    expect_same_text(read_file(tmp.path("out.csv")), want);
}

// 255 columns of 65,535 bytes: a 16 MiB record and one INSERT line of about
// 33 MB, far past the 1 MiB SQL buffer, written whole and in order.
TEST(LargeLog, WidestInsertWrittenWhole)
{
    TempDir tmp;
    std::vector<Bytes> cols;
    for (int k = 0; k < 255; k++)
        cols.push_back(pattern(65535, uint32_t(k)));
    LogBuilder b;
    b.add(60, {v_begin(X)});
    b.add(61, {v_undo_insert(X, 800, 801), v_insert(as_cols(cols))});
    b.add(62, {v_commit(X)});
    b.write(tmp.path("wide.log"));

    RunResult r = run_quorvil({"-log", tmp.path("wide.log"), "-out", tmp.path("out.csv")});
    EXPECT_EQ(r.status, 0);
    const std::string csv = read_file(tmp.path("out.csv"));
    const std::string line = insert_line(61, 800, cols);
    EXPECT_GT(line.size(), 33000000u);
    expect_same_text(csv, CSV_HEADER + start_line(60) + line + commit_line(62));
}

LogOptions no_checksums()
{
    LogOptions o;
    o.checksums = false;
    return o;
}

// Files that end before the header is whole, or before the first block is.
struct ShortFile {
    const char* name;
    LogOptions opts;
    size_t size;              // the builder's image cut to this many bytes
    std::string err;          // standard error after the banner; %s is the log name
    bool csv_written;         // the CSV holds its header line alone
    int status = 255;
};

void PrintTo(const ShortFile& sf, std::ostream* os) { *os << sf.name; }

std::string with_name(std::string s, const std::string& log)
{
    for (size_t p; (p = s.find("%s")) != std::string::npos;)
        s.replace(p, 2, log);
    return s;
}

class ShortFiles : public ::testing::TestWithParam<ShortFile> {};

TEST_P(ShortFiles, RefusedOrEmpty)
{
    const ShortFile& sf = GetParam();
    TempDir tmp;
    const std::string log = tmp.path("short.log"), out = tmp.path("out.csv");
    LogBuilder b(sf.opts);
    b.add(10, {v_begin(X)});
    Bytes img = b.image();
    ASSERT_LE(sf.size, img.size());
    img.resize(sf.size);
    LogBuilder::write_file(log, img);

    RunResult r = run_quorvil({"-log", log, "-out", out});
    EXPECT_EQ(after_banner(r.err), with_name(sf.err, log));
    EXPECT_EQ(r.status, sf.status);
    if (sf.csv_written)
        EXPECT_EQ(read_file(out), CSV_HEADER);
    else
        EXPECT_FALSE(file_exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ShortFiles,
    ::testing::Values(
        ShortFile{"empty", {}, 0, "read %s: header needs 32 bytes, got 0\nquorvil exit with error.\n", false},
        ShortFile{"block0_one_short", {}, 31, "read %s: header needs 32 bytes, got 31\nquorvil exit with error.\n",
                  false},
        ShortFile{"block0_only", {}, 32, "read %s: header needs 720 bytes, got 32\nquorvil exit with error.\n",
                  false},
        ShortFile{"inside_block0", {}, 511, "read %s: header needs 720 bytes, got 511\nquorvil exit with error.\n",
                  false},
        ShortFile{"block1_header_one_short", {}, 719,
                  "read %s: header needs 720 bytes, got 719\nquorvil exit with error.\n", false},
        ShortFile{"small_blocks_header_short", {32, 64}, 100,
                  "read %s: header needs 240 bytes, got 100\nquorvil exit with error.\n", false},
        // from here the header is whole: a block that is not whole is never read,
        // and one whose header says a record begins in it is a log cut short
        ShortFile{"ends_inside_block1", {}, 720,
                  "%s: block 1: the file ends 208 bytes into the block; the log is cut short\n%s: 1 damaged place "
                  "passed over; the output is incomplete\nquorvil exit with error.\n", true},
        ShortFile{"ends_inside_block1_without_checksums", no_checksums(), 720, "quorvil end.\n", true, 0},
        // block 1's checksum holds, so its next available block (3) is
        // believed: block 2 was written and is missing
        ShortFile{"ends_after_block1", {}, 1024,
                  "read %s: the header says 2 blocks were written, the file holds 1\nquorvil exit with error.\n", true},
        ShortFile{"ends_after_block1_without_checksums", no_checksums(), 1024, "quorvil end.\n", true, 0},
        ShortFile{"ends_inside_block2", {}, 1535,
                  "read %s: the file ends 511 bytes into block 2, where a record begins; that block is not read\n"
                  "quorvil exit with error.\n",
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
