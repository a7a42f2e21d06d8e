/*
 * qvgen.cpp - writes redo log files for trying and timing quorvil.
 *
 *   qvgen --sample OUT.log                    the small sample kept in samples/
 *   qvgen --bench SIZE_MB OUT.log [--seed N]  a log of about SIZE_MB MiB
 *   qvgen --bench-dict OUT.csv [--seed N]     the dictionary of its tables, for quorvil-decode
 *   qvgen --series N DIR [...]                N consecutive logs of one thread, some compressed
 *
 * --bench and --series take the thread, first sequence, first SCN and first
 * time of the log (the defaults give the bytes they always gave).
 * Both are laid out by LogBuilder; the benchmark log is written out as it is
 * generated, so memory stays flat whatever the size.  Both are deterministic:
 * the same arguments give the same bytes.
 */
#include "log_builder.h"

#include "pack_file.h"
#include "quorvil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <string>
#include <unistd.h>

using namespace qvtest;

namespace {

constexpr uint32_t kBlockSize = 512;

// ---- values as a database stores them ------------------------------------------

// xorshift64*: small, fast and the same everywhere.
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed)
    {
        // splitmix64 of the seed, so seeds 0, 1, 2 start far apart
        uint64_t z = seed + 0x9e3779b97f4a7c15ULL;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        s = (z ^ (z >> 31)) | 1;
    }
    uint64_t next()
    {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545f4914f6cdd1dULL;
    }
    uint32_t below(uint32_t n) { return uint32_t((next() >> 32) % n); }
    int range(int lo, int hi) { return lo + int(below(uint32_t(hi - lo + 1))); }
    bool percent(uint32_t p) { return below(100) < p; }
};

// NUMBER of a non-negative integer: exponent byte, then base-100 digits + 1,
// trailing zero digits dropped (1 -> c1 02, 1020 -> c2 0b 15, 0 -> 80).
Bytes ora_number(uint64_t n)
{
    if (n == 0)
        return {0x80};
    uint8_t d[12];
    int nd = 0;
    for (; n > 0; n /= 100)
        d[nd++] = uint8_t(n % 100);
    Bytes b{uint8_t(0xc0 + nd)};
    int last = 0;  // least significant non-zero digit
    while (d[last] == 0)
        last++;
    for (int i = nd - 1; i >= last; i--)
        b.push_back(uint8_t(d[i] + 1));
    return b;
}

// DATE: century+100, year+100, month, day, hour+1, minute+1, second+1.
Bytes ora_date(int y, int mo, int d, int h, int mi, int s)
{
    return {uint8_t(y / 100 + 100), uint8_t(y % 100 + 100), uint8_t(mo), uint8_t(d),
            uint8_t(h + 1), uint8_t(mi + 1), uint8_t(s + 1)};
}

enum ColType : uint8_t { NUM, TEXT, DATE, STAMP, FLAG };

const char* const kWords[] = {"north", "order", "Berlin", "paid", "open", "ACME", "item", "Lyon",
                              "steel", "blue", "invoice", "Oslo", "ready", "Smith", "unit", "box"};
const char* const kAccented[] = {"\xc3\xa9", "\xc3\xbc", "\xc3\xb8", "\xc3\xb1", "\xe2\x82\xac"};

Bytes text_value(Rng& r, size_t max_len)
{
    Bytes b;
    size_t want = size_t(r.range(1, int(max_len)));
    while (b.size() < want) {
        if (!b.empty())
            b.push_back(' ');
        const char* w = r.percent(8) ? kAccented[r.below(5)] : kWords[r.below(16)];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    // cut back to the length wanted, never inside a multi-byte character
    size_t n = std::min(want, b.size());
    while (n > 0 && n < b.size() && (b[n] & 0xc0) == 0x80)
        n--;
    if (n == 0)
        return {'x'};
    b.resize(n);
    return b;
}

Bytes random_value(Rng& r, ColType t)
{
    switch (t) {
    case NUM: {
        static const uint64_t pow10[] = {10, 100, 1000, 100000, 10000000, 1000000000ULL, 1000000000000ULL};
        return ora_number(r.next() % pow10[r.below(7)]);
    }
    case TEXT:
        return text_value(r, 40);
    case DATE:
        return ora_date(r.range(1998, 2025), r.range(1, 12), r.range(1, 28), r.range(0, 23),
                        r.range(0, 59), r.range(0, 59));
    case STAMP: {
        Bytes b = ora_date(r.range(2015, 2025), r.range(1, 12), r.range(1, 28), r.range(0, 23),
                           r.range(0, 59), r.range(0, 59));
        uint32_t ns = r.below(1000000000);
        for (int i = 3; i >= 0; i--)
            b.push_back(uint8_t(ns >> (8 * i)));  // fractional seconds, big-endian
        return b;
    }
    case FLAG:
        return {uint8_t(r.percent(70) ? 'Y' : 'N')};
    }
    return {};
}

// ---- the sample ----------------------------------------------------------------------

Bytes date_2024_03_15() { return ora_date(2024, 3, 15, 10, 30, 0); }

int write_sample(const std::string& path)
{
    LogOptions o;
    o.first_scn = 2451700;
    LogBuilder b(o);

    const Xid t1{3, 17, 245}, t2{5, 3, 1107}, t3{7, 30, 88}, t4{2, 9, 4410};
    const uint32_t emp = 73501, lines = 73502, lines_d = 73510, idx = 73503, notes = 73520;

    // Space management and undo header changes: stepped over.
    b.add(2451700, {v_other(13, 5, {hex("0000 0001 0040 0a1b"), hex("02 00 00 00 10 00 00 00")}),
                    v_other(5, 11, {hex("0b00 1100 f500 0000 2a01 0000 0100 0000")})});

    // T1 starts and inserts one row: a NULL and a multi-byte name.  The index
    // entry it needs follows in the same record, with an undo of layer 10
    // that must not take the place of the table row's undo.
    b.add(2451701, {v_begin(t1), v_undo_insert(t1, emp, emp),
                    v_insert({ora_number(1020), str("Zo\xc3\xab M\xc3\xbcller"), std::nullopt,
                              date_2024_03_15(), ora_number(5)}),
                    v_undo_other_layer(t1, idx, 10),
                    v_other(10, 2, {hex("0000 0000"), hex("01 00 02 00 c2 0b 15 00"), hex("c2 0b 15")})});

    // Three rows in one multi-row insert, of 3, 2 and 4 columns, one NULL.
    b.add(2451702, {v_undo_insert(t1, lines, lines_d),
                    v_qmi({{{ora_number(1), str("ALPHA"), std::nullopt}},
                           {{ora_number(2), str("BETA")}},
                           {{ora_number(3), str("GAMMA"), ora_number(250), date_2024_03_15()}}})});

    // Update of the name and the NULL column, with the key as supplemental column.
    b.add(2451705, {v_undo_update(t1, emp, emp, {1, 2}, {str("Zo\xc3\xab M\xc3\xbcller"), std::nullopt},
                                  Supp{{1}, {ora_number(1020)}}),
                    v_update({1, 2}, {str("Zo\xc3\xab M\xc3\xbcller-Berg"), ora_number(250)})});

    // Delete of the second row of the multi-row insert, then a lock and a
    // block cleanout: stepped over.
    b.add(2451706, {v_undo_delete(t1, lines, lines_d, {ora_number(2), str("BETA")}), v_delete()});
    b.add(2451707, {v_other(5, 6, {hex("0300 1100 f500 0000"), hex("0000 0000")}),
                    v_other(11, 4, {hex("0000 0000"), kdo_head(4)}),
                    v_other(13, 6, {hex("0000 0001 0040 0a1b")})});
    b.add(2451708, {v_commit(t1)});

    // DDL: a quoted identifier, then a rename to a name holding a comma.
    b.add(2451710, {v_begin(t2), v_ddl(t2, notes,
                                        "create table \"HR\".\"Order Notes\" (\"Line No\" number, note varchar2(40))",
                                        "Order Notes")});
    b.add(2451711, {v_ddl(t2, notes, "alter table \"HR\".\"Order Notes\" rename to \"Notes, 2024\"",
                          "Notes, 2024")});
    b.add(2451711, {v_commit(t2)});

    // T3 inserts a row and rolls back.
    b.add(2451712, {v_begin(t3), v_undo_insert(t3, notes, notes), v_insert({ora_number(1), str("first draft")})});
    b.add(2451713, {v_commit(t3, KTUCM_ROLLBACK)});

    // T4: a wide row whose record runs over into the next block.
    b.add(2451714, {v_begin(t4), v_undo_insert(t4, emp, emp),
                    v_insert({ora_number(1021), str("Ana Sousa"), str("Rua Augusta 112, 3. Esq., 1100-053 Lisboa"),
                              str("ana.sousa@example.org"), str("+351 21 123 4567"), date_2024_03_15(),
                              ora_number(4250), ora_number(12), str("Y"), std::nullopt,
                              str("Senior buyer, south region; travels Mondays and Thursdays"),
                              ora_number(73501),
                              str("Avenida da Liberdade 245, 4. andar, sala 12, 1250-143 Lisboa"),
                              str("Invoices to accounts payable; quote PO-2024-00731 on every order"),
                              ora_number(1100), ora_date(2023, 11, 2, 8, 15, 42)})});
    b.add(2451716, {v_commit(t4)});

    b.write(path);
    return 0;
}

// ---- the benchmark log ------------------------------------------------------------------

struct Table {
    uint32_t objn, objd;
    std::vector<ColType> types;  // column 1 is the key: a NUMBER, never NULL
};

struct Txn {
    Xid xid;
    int ops_left;
    bool started = false;
};

class BenchGen {
public:
    BenchGen(uint64_t seed, uint64_t first_scn) : r_(seed), scn_(first_scn)
    {
        for (int i = 0; i < 40; i++) {
            Table t;
            t.objn = 74000 + uint32_t(i) * 7;
            t.objd = r_.percent(80) ? t.objn : t.objn + 3;  // some were truncated once
            const int cc = r_.range(5, 30);
            t.types.push_back(NUM);
            static const ColType mix[] = {NUM, NUM, TEXT, TEXT, TEXT, DATE, STAMP, FLAG};
            for (int c = 1; c < cc; c++)
                t.types.push_back(mix[r_.below(8)]);
            tables_.push_back(std::move(t));
        }
    }

    const std::vector<Table>& tables() const { return tables_; }

    // The vectors of the next record.
    std::vector<Vector> next(uint64_t& scn)
    {
        scn_ += r_.below(4);  // several records often share an SCN
        scn = scn_;
        std::vector<Vector> v;
        if (r_.percent(50)) {
            stepped_over(v);
            return v;
        }
        if (txns_.size() < 6 && (txns_.empty() || r_.percent(15)))
            begin_txn();
        const size_t ti = r_.below(uint32_t(txns_.size()));
        Txn& t = txns_[ti];
        if (t.ops_left == 0) {
            v.push_back(v_commit(t.xid, r_.percent(4) ? KTUCM_ROLLBACK : 0));
            txns_.erase(txns_.begin() + long(ti));
            return v;
        }
        t.ops_left--;
        if (!t.started) {
            v.push_back(v_begin(t.xid));
            t.started = true;
        }
        const Table& tb = tables_[r_.below(uint32_t(tables_.size()))];
        const uint32_t k = r_.below(1000);
        if (k < 480)
            insert(v, t.xid, tb);
        else if (k < 790)
            update(v, t.xid, tb);
        else if (k < 970)
            remove(v, t.xid, tb);
        else if (k < 995)
            multi_insert(v, t.xid, tb);
        else
            ddl(v, t.xid, tb);
        return v;
    }

private:
    Col value(ColType t, bool key = false)
    {
        if (!key && r_.percent(12))
            return std::nullopt;
        return random_value(r_, t);
    }

    std::vector<Col> row(const Table& tb)
    {
        std::vector<Col> cols;
        cols.reserve(tb.types.size());
        for (size_t c = 0; c < tb.types.size(); c++)
            cols.push_back(value(tb.types[c], c == 0));
        return cols;
    }

    Bytes filler(uint32_t lo, uint32_t hi)
    {
        Bytes b(r_.range(int(lo), int(hi)));
        for (auto& x : b)
            x = uint8_t(r_.next() >> 56);
        return b;
    }

    // Index, block and undo header changes that quorvil passes over.
    void stepped_over(std::vector<Vector>& v)
    {
        const int n = r_.range(1, 3);
        for (int i = 0; i < n; i++) {
            switch (r_.below(6)) {
            case 0:  // index leaf: insert / delete of a key
                v.push_back(v_other(10, r_.percent(60) ? 2 : 4,
                                    {filler(4, 4), filler(24, 40), filler(20, 32), filler(3, 30)}));
                break;
            case 1:  // space management
                v.push_back(v_other(13, uint8_t(r_.range(5, 28)), {filler(8, 24), filler(8, 40)}));
                break;
            case 2:  // block clean-out / extent map
                v.push_back(v_other(14, uint8_t(r_.range(1, 8)), {filler(16, 64)}));
                break;
            case 3:  // undo header change
                v.push_back(v_other(5, 6, {filler(8, 8), filler(4, 4)}));
                break;
            case 4:
                v.push_back(v_other(5, 11, {filler(16, 16), filler(12, 28)}));
                break;
            default: {  // an index block image, now and then a large one
                const bool large = r_.percent(20);
                v.push_back(v_other(10, 8, {filler(4, 4), filler(24, 40), large ? filler(400, 900) : filler(40, 160)}));
                break;
            }
            }
        }
    }

    void begin_txn()
    {
        Txn t;
        t.xid.usn = uint16_t(r_.range(1, 10));
        t.xid.slt = uint16_t(r_.range(0, 47));
        t.xid.sqn = next_sqn_ += r_.below(50) + 1;
        t.ops_left = r_.range(1, 12);
        txns_.push_back(t);
    }

    void insert(std::vector<Vector>& v, Xid x, const Table& tb)
    {
        v.push_back(v_undo_insert(x, tb.objn, tb.objd));
        v.push_back(v_insert(row(tb)));
    }

    void update(std::vector<Vector>& v, Xid x, const Table& tb)
    {
        const int cc = int(tb.types.size());
        const int n = std::min(r_.range(1, 5), cc - 1);
        std::vector<uint16_t> nums;
        while (int(nums.size()) < n) {
            uint16_t c = uint16_t(r_.range(1, cc - 1));  // stored numbers; the key (0) stays
            if (std::find(nums.begin(), nums.end(), c) == nums.end())
                nums.push_back(c);
        }
        std::sort(nums.begin(), nums.end());
        std::vector<Col> old_vals, new_vals;
        for (uint16_t c : nums) {
            old_vals.push_back(value(tb.types[c]));
            new_vals.push_back(value(tb.types[c]));
        }
        Supp s;
        s.cols.push_back(1);  // the key, numbered as supplemental data numbers it
        s.vals.push_back(random_value(r_, NUM));
        const int more = r_.range(0, 2);
        for (int i = 0; i < more; i++) {
            uint16_t c = uint16_t(r_.range(2, cc));
            s.cols.push_back(c);
            s.vals.push_back(value(tb.types[c - 1]));
        }
        v.push_back(v_undo_update(x, tb.objn, tb.objd, nums, old_vals, s));
        v.push_back(v_update(nums, new_vals));
    }

    void remove(std::vector<Vector>& v, Xid x, const Table& tb)
    {
        v.push_back(v_undo_delete(x, tb.objn, tb.objd, row(tb)));
        v.push_back(v_delete());
    }

    void multi_insert(std::vector<Vector>& v, Xid x, const Table& tb)
    {
        const int nrow = r_.range(10, 200);
        std::vector<QmiRow> rows;
        size_t bytes = 0;
        for (int i = 0; i < nrow; i++) {
            QmiRow q;
            q.cols = row(tb);
            while (q.cols.size() > 1 && !q.cols.back())
                q.cols.pop_back();  // trailing NULLs are not stored
            size_t sz = 3;
            for (const Col& c : q.cols)
                sz += c ? 1 + c->size() : 1;
            if (bytes + sz > 60000)  // the stored rows are one field
                break;
            bytes += sz;
            rows.push_back(std::move(q));
        }
        v.push_back(v_undo_insert(x, tb.objn, tb.objd));
        v.push_back(v_qmi(rows));
    }

    void ddl(std::vector<Vector>& v, Xid x, const Table& tb)
    {
        char stmt[160], name[32];
        const uint32_t n = r_.below(4);
        std::snprintf(name, sizeof name, "T%u", tb.objn);
        if (n == 0)
            std::snprintf(stmt, sizeof stmt, "alter table \"APP\".\"%s\" add (\"C%u\" varchar2(40))", name,
                          r_.below(100));
        else if (n == 1)
            std::snprintf(stmt, sizeof stmt, "create index \"APP\".\"IX_%s\" on \"APP\".\"%s\" (\"ID\")", name, name);
        else if (n == 2)
            std::snprintf(stmt, sizeof stmt, "truncate table \"APP\".\"%s\"", name);
        else
            std::snprintf(stmt, sizeof stmt, "comment on table \"APP\".\"%s\" is 'nightly load, batch %u'", name,
                          r_.below(1000));
        v.push_back(v_ddl(x, tb.objn, stmt, name));
    }

public:
    // The highest SCN given to a record so far.
    uint64_t last_scn() const { return scn_; }
    // The next record's SCN is at least scn (a log that begins there).
    void start_at(uint64_t scn) { scn_ = std::max(scn_, scn); }

private:
    Rng r_;
    uint64_t scn_;
    uint32_t next_sqn_ = 1000;
    std::vector<Table> tables_;
    std::vector<Txn> txns_;
};

// Lays down records from gen until the log is about `target` bytes, writing
// blocks out every 8 MiB so memory stays flat whatever the size.
void write_log(LogBuilder& log, BenchGen& gen, uint64_t target, const std::string& path)
{
    constexpr uint32_t kFlushBlocks = 16384;
    const LogOptions& o = log.options();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("open " + path + ": " + std::strerror(errno));
    uint32_t flushed = log.position().block;
    while (o.blk0_sz + uint64_t(o.blk_sz) * (log.position().block - 1) < target) {
        uint64_t scn;
        std::vector<Vector> v = gen.next(scn);
        log.add(scn, v);
        if (log.position().block - flushed >= kFlushBlocks) {
            log.flush_blocks(fd, path);
            flushed = log.position().block;
        }
    }
    log.write_to(fd, path);
    if (::close(fd) != 0)
        throw std::runtime_error("close " + path + ": " + std::strerror(errno));
}

int write_bench(uint64_t size_mb, const std::string& path, uint64_t seed, LogOptions o)
{
    LogBuilder log(o);
    BenchGen gen(seed, o.first_scn);
    write_log(log, gen, size_mb * 1024 * 1024, path);
    return 0;
}

// What --series writes besides the options every log shares.
struct Series {
    uint64_t count = 0;
    std::string dir;
    uint64_t log_kb = 1024;
    std::vector<Packing> packings;  // cycled over the logs that are compressed
    uint64_t every = 1;             // every how many logs one is compressed
};

// `count` consecutive logs of one thread: sequences following, each log's
// first SCN and time the previous one's next SCN and time, one hour per
// log.  One generator runs through them all, so transactions run on from
// one log into the next, and the first k logs of a longer series are the
// same bytes as a series of k.
int write_series(const Series& s, uint64_t seed, LogOptions o)
{
    if (::mkdir(s.dir.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("mkdir " + s.dir + ": " + std::strerror(errno));
    BenchGen gen(seed, o.first_scn);
    uint64_t packed = 0;
    for (uint64_t i = 0; i < s.count; i++) {
        if (o.sequence == UINT32_MAX && i + 1 < s.count)
            throw std::runtime_error("the sequence runs past 4294967295");
        o.next_time = o.first_time + 3600;
        std::string path = s.dir + "/" + std::to_string(o.thread) + "_" + std::to_string(o.sequence) + ".arc";
        LogBuilder log(o);
        gen.start_at(o.first_scn);
        write_log(log, gen, s.log_kb * 1024, path);
        // the next log begins where this one ends
        o.first_scn = gen.last_scn() + 1;
        o.first_time = o.next_time;
        o.sequence++;
        if (!s.packings.empty() && i % s.every == s.every - 1)
            pack_file(path, s.packings[packed++ % s.packings.size()]);
    }
    return 0;
}

// The columns of the benchmark log's tables as a dictionary export:
// OWNER BENCH, table T<object>, columns C1.. of the type their values have.
int write_bench_dict(const std::string& path, uint64_t seed)
{
    static const char* const kTypes[] = {"NUMBER,", "VARCHAR2(40),CHAR_CS", "DATE,", "TIMESTAMP(9),",
                                         "CHAR(1),CHAR_CS"};
    BenchGen gen(seed, 1);
    std::string out = "OBJECT_ID,DATA_OBJECT_ID,OWNER,TABLE_NAME,SEGMENT_COLUMN_ID,COLUMN_NAME,DATA_TYPE,"
                      "CHARACTER_SET_NAME,HIDDEN_COLUMN\n";
    for (const Table& t : gen.tables())
        for (size_t c = 0; c < t.types.size(); c++)
            out += std::to_string(t.objn) + "," + std::to_string(t.objd) + ",BENCH,T" + std::to_string(t.objn) +
                   "," + std::to_string(c + 1) + ",C" + std::to_string(c + 1) + "," + kTypes[t.types[c]] + ",NO\n";
    LogBuilder::write_file(path, Bytes(out.begin(), out.end()));
    return 0;
}

int print_usage(const char* prg)
{
    std::fprintf(stderr,
                 "usage: %s --sample OUT.log\n"
                 "       %s --bench SIZE_MB OUT.log [LOG OPTIONS]\n"
                 "       %s --bench-dict OUT.csv [--seed N]\n"
                 "       %s --series N DIR [--log-kb K] [--compress FORMAT[,FORMAT...]] [--compress-every K]\n"
                 "              [LOG OPTIONS]\n"
                 "LOG OPTIONS: [--seed N] [--thread N] [--sequence N] [--first-scn N]\n"
                 "             [--first-time 'YYYY-MM-DD HH:MM:SS']\n"
                 "--series writes DIR/THREAD_SEQUENCE.arc, and compresses every K-th log\n"
                 "(FORMAT: gz, zst, xz or bz2, taken in turn) into .arc.FORMAT.\n",
                 prg, prg, prg, prg);
    return 2;
}

bool parse_u64(const char* s, uint64_t& v)
{
    char* end;
    errno = 0;
    v = std::strtoull(s, &end, 10);
    return *s >= '0' && *s <= '9' && *end == '\0' && errno == 0;
}

bool parse_u32(const char* s, uint32_t& v)
{
    uint64_t w;
    if (!parse_u64(s, w) || w > UINT32_MAX)
        return false;
    v = uint32_t(w);
    return true;
}

// 'YYYY-MM-DD HH:MM:SS' in the redo header's calendar.
bool parse_time(const char* s, uint32_t& t)
{
    int y, mo, d, h, mi, sec, n = 0;
    if (std::sscanf(s, "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &sec, &n) != 6 || s[n] != '\0')
        return false;
    if (y < 1988 || y > 2123 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec > 59)
        return false;
    t = redo_time(y, mo, d, h, mi, sec);
    return true;
}

bool parse_packings(const char* s, std::vector<Packing>& out)
{
    std::string list(s);
    size_t at = 0;
    while (at <= list.size()) {
        size_t comma = std::min(list.find(',', at), list.size());
        const std::string f = list.substr(at, comma - at);
        const Packing* p = packing_named(f);
        if (p == nullptr)
            return false;
        out.push_back(*p);
        at = comma + 1;
    }
    return !out.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        if (argc == 3 && std::strcmp(argv[1], "--sample") == 0)
            return write_sample(argv[2]);
        const bool bench = argc >= 4 && std::strcmp(argv[1], "--bench") == 0;
        const bool series = argc >= 4 && std::strcmp(argv[1], "--series") == 0;
        if ((argc == 3 || argc == 5) && std::strcmp(argv[1], "--bench-dict") == 0) {
            uint64_t seed = 1;
            if (argc == 5 && (std::strcmp(argv[3], "--seed") != 0 || !parse_u64(argv[4], seed)))
                return print_usage(argv[0]);
            return write_bench_dict(argv[2], seed);
        }
        if (!bench && !series)
            return print_usage(argv[0]);

        uint64_t n, seed = 1;
        bool timed = false;
        LogOptions o;
        Series s;
        o.first_scn = 31000000;
        if (!parse_u64(argv[2], n) || n == 0)
            return print_usage(argv[0]);
        for (int i = 4; i < argc; i += 2) {
            const char* opt = argv[i];
            const char* val = i + 1 < argc ? argv[i + 1] : nullptr;
            bool ok = val != nullptr;
            if (!ok)
                ;
            else if (std::strcmp(opt, "--seed") == 0)
                ok = parse_u64(val, seed);
            else if (std::strcmp(opt, "--thread") == 0)
                ok = parse_u32(val, o.thread);
            else if (std::strcmp(opt, "--sequence") == 0)
                ok = parse_u32(val, o.sequence);
            else if (std::strcmp(opt, "--first-scn") == 0)
                ok = parse_u64(val, o.first_scn) && o.first_scn < 0xFFFFFFFFFFFFULL / 2;
            else if (std::strcmp(opt, "--first-time") == 0)
                ok = timed = parse_time(val, o.first_time);
            else if (series && std::strcmp(opt, "--log-kb") == 0)
                ok = parse_u64(val, s.log_kb) && s.log_kb > 0 && s.log_kb < (1ULL << 30);
            else if (series && std::strcmp(opt, "--compress") == 0)
                ok = parse_packings(val, s.packings);
            else if (series && std::strcmp(opt, "--compress-every") == 0)
                ok = parse_u64(val, s.every) && s.every > 0;
            else
                ok = false;
            if (!ok)
                return print_usage(argv[0]);
        }
        if (bench) {
            if (timed)
                o.next_time = o.first_time + 3600;
            return write_bench(n, argv[3], seed, o);
        }
        s.count = n;
        s.dir = argv[3];
        return write_series(s, seed, o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvgen: %s\n", e.what());
        return 1;
    }
}
