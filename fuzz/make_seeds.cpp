/*
 * make_seeds.cpp - writes the seed corpus of both fuzz targets with the log
 * builder: make_seeds <dir> fills <dir>/record (one mode byte + one record,
 * for fuzz_record) and <dir>/mine (small whole logs, for fuzz_mine).
 *
 * The records cover every handled opcode and the shapes the handlers treat
 * apart: NULL columns, long (0xFE) column markers, supplemental columns,
 * empty lists, long record headers, vectors without a handler.  The logs use
 * 64-byte blocks so that records run over several blocks and the files stay
 * a few kilobytes; three more use 512-byte blocks with checksums.
 */
#include "log_builder.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

const Xid X1{3, 17, 4242};
const Xid X2{7, 2, 0x80000001u};

Bytes fill(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = uint8_t(seed + i * 7);
    return b;
}

// One of each record shape; the name says what it holds.
std::vector<std::pair<std::string, Bytes>> records()
{
    std::vector<Col> row{hex("c102"), std::nullopt, str("abc"), Bytes{}};
    std::vector<Col> wide;
    for (int i = 0; i < 255; i++)
        wide.push_back(i % 5 == 0 ? Col{} : Col{Bytes{uint8_t(i)}});
    Supp supp{{1, 4, 9}, {hex("0a0b"), std::nullopt, str("zz")}};

    return {
        {"begin", encode_record(100, {v_begin(X1)})},
        {"commit", encode_record(101, {v_commit(X1)})},
        {"rollback", encode_record(102, {v_commit(X2, 0x04)})},
        {"insert", encode_record(103, {v_begin(X1), v_undo_insert(X1, 501, 502), v_insert(row)})},
        {"insert-long-header", encode_record(104, {v_undo_insert(X1, 501, 502), v_insert(row)}, true)},
        {"insert-255-columns", encode_record(105, {v_undo_insert(X1, 0x80000000u, 1), v_insert(wide)})},
        {"insert-no-columns", encode_record(106, {v_undo_insert(X1, 501, 502), v_insert({})})},
        {"insert-row-piece", encode_record(107, {v_undo_insert(X1, 501, 502), v_insert(row, 0x08)})},
        {"insert-big-value", encode_record(108, {v_undo_insert(X1, 501, 502), v_insert({fill(5000, 1)})})},
        {"delete", encode_record(110, {v_undo_delete(X1, 601, 602, row), v_delete()})},
        {"delete-row-piece", encode_record(111, {v_undo_delete(X1, 601, 602, row, 0x04), v_delete()})},
        {"delete-no-columns", encode_record(112, {v_undo_delete(X1, 601, 602, {}), v_delete()})},
        {"update", encode_record(120, {v_undo_update(X1, 701, 702, {0, 2}, {hex("01"), std::nullopt}),
                                       v_update({0, 2}, {hex("02"), str("new")})})},
        {"update-supplemental",
         encode_record(121, {v_undo_update(X1, 701, 702, {3}, {hex("ff")}, supp), v_update({3}, {std::nullopt})})},
        {"update-supplemental-only", encode_record(122, {v_undo_update(X1, 701, 702, {}, {}, supp), v_update({}, {})})},
        {"qmi", encode_record(130, {v_undo_insert(X1, 801, 802),
                                    v_qmi({{{hex("01"), std::nullopt, str("x")}},
                                           {{fill(300, 3), hex("")}},
                                           {{hex("aabb")}, std::nullopt, true},
                                           {{}}})})},
        {"qmi-long-markers", encode_record(131, {v_undo_insert(X1, 801, 802),
                                                 v_qmi({{{hex("01"), str("yz")}, std::nullopt, true},
                                                        {{fill(254, 9)}, std::nullopt, false}})})},
        {"qmi-size-override", encode_record(132, {v_undo_insert(X1, 801, 802),
                                                  v_qmi({{{hex("01")}, 2}, {{hex("0203")}}})})},
        {"qmi-no-rows", encode_record(133, {v_undo_insert(X1, 801, 802), v_qmi({})})},
        {"ddl", encode_record(140, {v_ddl(X1, 901, "create table \"T\" (a int)", "T")})},
        {"ddl-quoted-name", encode_record(141, {v_ddl(X2, 902, "drop table x", "a,\"b\"\r\n")})},
        {"other-vectors", encode_record(150, {v_other(5, 6), v_other(11, 4), v_other(24, 2),
                                              v_undo_other_layer(X1, 44), v_insert(row)})},
        {"mixed", encode_record(160, {v_begin(X2), v_undo_insert(X2, 1, 2), v_insert(row),
                                      v_undo_delete(X2, 3, 4, row), v_delete(), v_commit(X2)})},
        {"header-only", encode_record(170, {})},
        {"header-only-long", encode_record(171, {}, true)},
    };
}

// Small whole logs; the name says what the layout exercises.
std::vector<std::pair<std::string, LogBuilder>> logs()
{
    std::vector<std::pair<std::string, LogBuilder>> out;
    const LogOptions small{32, 64};
    std::vector<Col> row{hex("c102"), std::nullopt, str("abc")};

    {
        LogBuilder b(small);
        b.add(10, {v_begin(X1)});
        b.add(11, {v_undo_insert(X1, 501, 502), v_insert(row)});
        b.add(12, {v_undo_delete(X1, 601, 602, row), v_delete()});
        b.add(13, {v_undo_update(X1, 701, 702, {1}, {hex("01")}, Supp{{2}, {hex("02")}}),
                   v_update({1}, {hex("03")})});
        b.add(14, {v_undo_insert(X1, 801, 802), v_qmi({{{hex("01"), std::nullopt}}, {{str("x")}, std::nullopt, true}})});
        b.add(15, {v_ddl(X1, 901, "create table t (a int)", "T")});
        b.add(16, {v_commit(X1)});
        out.emplace_back("every-kind", std::move(b));
    }
    {
        LogBuilder b(small);
        b.add(20, {v_begin(X1)}, true);
        b.add(21, {v_undo_insert(X1, 5, 6), v_insert(row)}, true);
        b.add(22, {v_commit(X1, 0x04)}, true);
        out.emplace_back("long-headers", std::move(b));
    }
    {
        LogBuilder b(small);
        b.add(30, {v_undo_insert(X1, 5, 6), v_insert({fill(700, 5)})});
        b.add_empty_blocks(2);
        b.add(31, {v_commit(X1)});
        b.pad_to_offset(40);
        b.add(32, {v_begin(X2)});
        out.emplace_back("spanning-and-empty-blocks", std::move(b));
    }
    {
        LogBuilder b(LogOptions{512, 512, 5, 1, false, true});
        b.add(5, {v_begin(X1)});
        b.add(6, {v_undo_delete(X1, 1, 2, row), v_delete()});
        b.set_stray_tail(100);
        out.emplace_back("top-bit-and-stray-tail", std::move(b));
    }
    {
        LogBuilder b(LogOptions{1024, 128});
        b.add(40, {v_undo_insert(X1, 5, 6), v_qmi({{{fill(260, 1)}, std::nullopt, true}, {{hex("01")}}})});
        b.add(41, {v_other(5, 6), v_other(11, 4)});
        b.add(42, {v_commit(X1)});
        out.emplace_back("block0-1024-qmi", std::move(b));
    }
    {
        LogBuilder b(LogOptions{32, 64, 100});
        b.add(100, {v_begin(X1)});
        b.add(99, {v_begin(X2)});  // below the log's first SCN: mining stops here
        out.emplace_back("scn-below-first", std::move(b));
    }
    {
        LogBuilder b(small);
        Bytes rec = encode_record(50, {v_begin(X1), v_commit(X1)});
        set_rlen(rec, uint32_t(rec.size() + 40));  // cut off by the end of the file
        b.add(49, {v_begin(X2)});
        b.add_record(rec);
        out.emplace_back("cut-off", std::move(b));
    }
    return out;
}

// Logs with 512-byte blocks and checksums, so that block 1 vouches for the
// other blocks: one as written, after it what an older use of the same
// online log left; one with a byte changed in a block; one cut at a block
// boundary before the blocks its header says were written.
std::vector<std::pair<std::string, Bytes>> checksummed_logs()
{
    std::vector<Col> row{hex("c102"), std::nullopt, str("abc")};
    LogOptions o;
    o.sequence = 5;
    o.first_scn = 60;
    LogBuilder b(o);
    b.add(60, {v_begin(X1)});
    b.add(61, {v_undo_delete(X1, 1, 2, row), v_delete()});
    b.add(62, {v_undo_insert(X1, 1, 2), v_insert({fill(600, 9)})});
    b.add(63, {v_commit(X1)});
    b.add_empty_blocks(2);
    const Bytes img = b.image();

    Bytes reused = b.image_over_older_use(4, 9), damaged = img, cut = img;
    damaged[b.file_offset(3, 100)] ^= 0x40;
    cut.resize(img.size() - 2 * 512);
    return {{"checksums-and-older-use", reused}, {"checksum-damaged", damaged}, {"checksums-cut-short", cut}};
}

// Logs that once made output out of all proportion to their size: the
// regression suite replays them and expects status 255 and CSV_BOUND.
std::vector<std::pair<std::string, LogBuilder>> output_bound_logs()
{
    std::vector<std::pair<std::string, LogBuilder>> out;
    std::vector<Col> wide(255, fill(250, 0x31));

    {
        // 32,767 size entries of 0: every row placed on the one stored row
        Vector q = v_qmi({{wide}});
        q.fields[1] = kdo_qmi(32767);
        q.fields[2] = u16_array(std::vector<uint16_t>(32767, 0));
        LogBuilder b;
        b.add(10, {v_undo_insert(X1, 501, 502), q, v_commit(X1)});
        out.emplace_back("qmi-sizes-of-zero", std::move(b));
    }
    {
        // 2,000 bare deletes after one undo of a 255-column row
        Vector del = v_delete();
        del.fields.clear();
        std::vector<Vector> vecs{v_undo_delete(X1, 601, 602, wide)};
        vecs.insert(vecs.end(), 2000, del);
        LogBuilder b;
        b.add(10, vecs);
        out.emplace_back("deletes-on-one-undo", std::move(b));
    }
    return out;
}

void write(const fs::path& p, const Bytes& b)
{
    LogBuilder::write_file(p.string(), b);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: %s <seed dir> [<regression dir>]\n", argv[0]);
        return 2;
    }
    const fs::path dir = argv[1];
    fs::create_directories(dir / "record");
    fs::create_directories(dir / "mine");

    size_t n = 0;
    for (const auto& [name, rec] : records()) {
        Bytes input{0};  // mode 0: rlen set to the record's size
        input.insert(input.end(), rec.begin(), rec.end());
        write(dir / "record" / name, input);
        n++;
    }
    // mode 1: rlen kept as written, here shorter than the long header
    Bytes keep{1};
    Bytes rec = encode_record(172, {v_begin(X1)}, true);
    set_rlen(rec, 40);
    keep.insert(keep.end(), rec.begin(), rec.end());
    write(dir / "record" / "keep-rlen-short-of-long-header", keep);
    n++;
    for (const auto& [name, b] : logs()) {
        b.write((dir / "mine" / (name + ".log")).string());
        n++;
    }
    for (const auto& [name, img] : checksummed_logs()) {
        write(dir / "mine" / (name + ".log"), img);
        n++;
    }
    printf("%zu seeds written under %s\n", n, dir.c_str());
    if (argc == 3) {
        const fs::path reg = fs::path(argv[2]) / "output-bound";
        fs::create_directories(reg);
        for (const auto& [name, b] : output_bound_logs())
            b.write((reg / (name + ".log")).string());
        printf("crafted logs written under %s\n", reg.c_str());
    }
    return 0;
}
