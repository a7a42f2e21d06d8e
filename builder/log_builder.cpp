/*
 * log_builder.cpp - see log_builder.h.
 */
#include "log_builder.h"

#include "quorvil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace qvtest {

namespace {

constexpr uint32_t kBlock1Extent = sizeof(REDO_BLOCK1);      // 208
constexpr uint64_t kMaxImageHole = 64ULL * 1024 * 1024;
constexpr uint8_t kStrayByte = 0x5a;

// Copies a packed layout into b at off (b must be large enough).
template <typename T>
void put_layout(Bytes& b, size_t off, const T& t)
{
    std::memcpy(b.data() + off, &t, sizeof t);
}

template <typename T>
Bytes layout_bytes(const T& t)
{
    Bytes b(sizeof t);
    std::memcpy(b.data(), &t, sizeof t);
    return b;
}

Bytes null_bitmap(const std::vector<Col>& cols)
{
    Bytes bm((cols.size() + 7) / 8, 0);
    for (size_t j = 0; j < cols.size(); j++)
        if (!cols[j])
            bm[j >> 3] |= uint8_t(1u << (j & 7));
    return bm;
}

Bytes value_or_empty(const Col& c) { return c ? *c : Bytes{}; }

Bytes four_zero() { return Bytes(4, 0); }

void check_count(size_t n, const char* what)
{
    if (n > 255)
        throw std::invalid_argument(std::string(what) + ": more than 255 columns");
}

void pwrite_all(int fd, const uint8_t* p, size_t n, uint64_t off, const std::string& path)
{
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, std::min<size_t>(n, 1u << 30), static_cast<off_t>(off));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("write " + path + ": " + std::strerror(errno));
        }
        p += w;
        n -= static_cast<size_t>(w);
        off += static_cast<uint64_t>(w);
    }
}

// Stores the checksum of one block at off: the word that makes the XOR of
// all of the block's 16-bit words 0.
void store_checksum(uint8_t* blk, size_t len, size_t off)
{
    blk[off] = 0;
    blk[off + 1] = 0;
    const uint16_t x = block_xor(blk, len);
    blk[off] = uint8_t(x);
    blk[off + 1] = uint8_t(x >> 8);
}

}  // namespace

uint32_t redo_time(int year, int month, int day, int hour, int minute, int second)
{
    return uint32_t((((((year - 1988) * 12 + (month - 1)) * 31 + (day - 1)) * 24 + hour) * 60 + minute) * 60 +
                    second);
}

uint16_t block_xor(const uint8_t* blk, size_t len)
{
    uint16_t x = 0;
    for (size_t i = 0; i + 1 < len; i += 2)
        x ^= uint16_t(blk[i] | (blk[i + 1] << 8));
    return x;
}

// ---- bytes -----------------------------------------------------------------

Bytes hex(std::string_view s)
{
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Bytes out;
    out.reserve(s.size() / 2);
    int hi = -1;
    for (char c : s) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        int d = digit(c);
        if (d < 0)
            throw std::invalid_argument("hex: bad digit in \"" + std::string(s) + "\"");
        if (hi < 0) {
            hi = d;
        } else {
            out.push_back(uint8_t(hi << 4 | d));
            hi = -1;
        }
    }
    if (hi >= 0)
        throw std::invalid_argument("hex: odd number of digits in \"" + std::string(s) + "\"");
    return out;
}

Bytes str(std::string_view s) { return Bytes(s.begin(), s.end()); }

void put_u8(Bytes& b, uint8_t v) { b.push_back(v); }
void put_u16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put_u32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b.push_back(uint8_t(v >> (8 * i)));
}
void put_u64(Bytes& b, uint64_t v)
{
    for (int i = 0; i < 8; i++)
        b.push_back(uint8_t(v >> (8 * i)));
}

static void check_room(const Bytes& b, size_t off, size_t n)
{
    if (off > b.size() || b.size() - off < n)
        throw std::out_of_range("set: offset past the end of the bytes");
}
void set_u8(Bytes& b, size_t off, uint8_t v)
{
    check_room(b, off, 1);
    b[off] = v;
}
void set_u16(Bytes& b, size_t off, uint16_t v)
{
    check_room(b, off, 2);
    b[off] = uint8_t(v);
    b[off + 1] = uint8_t(v >> 8);
}
void set_u32(Bytes& b, size_t off, uint32_t v)
{
    check_room(b, off, 4);
    for (int i = 0; i < 4; i++)
        b[off + i] = uint8_t(v >> (8 * i));
}

// ---- change vectors ----------------------------------------------------------

static uint16_t entry0_of(const Vector& v)
{
    if (v.entry0)
        return *v.entry0;
    size_t e0 = 2 * (v.fields.size() + 1);
    if (e0 > 0xFFFF)
        throw std::length_error("vector: too many fields for a length vector");
    return uint16_t(e0);
}

uint32_t vector_size(const Vector& v)
{
    uint64_t n = VECTOR_HEADER_SIZE + align4(entry0_of(v));
    for (const Bytes& f : v.fields)
        n += align4(uint32_t(std::min<size_t>(f.size(), 0xFFFFFFF0)));
    if (n > 0xFFFFFFF0)
        throw std::length_error("vector: too long");
    return uint32_t(n);
}

void append_vector(Bytes& out, const Vector& v)
{
    const uint16_t e0 = entry0_of(v);
    const size_t start = out.size();
    out.resize(start + vector_size(v), 0);
    uint8_t* p = out.data() + start;

    p[0] = v.opl;
    p[1] = v.opc;
    p[2] = uint8_t(v.cls);
    p[3] = uint8_t(v.cls >> 8);
    std::memcpy(p + 4, v.tail.data(), v.tail.size());

    // Length vector: entry 0, then one entry per field, as many as fit in
    // the align4(entry 0) bytes it occupies.
    uint8_t* lv = p + VECTOR_HEADER_SIZE;
    const uint32_t lv_bytes = align4(e0);
    auto put_entry = [&](size_t i, uint16_t val) {
        if (2 * i + 2 <= lv_bytes) {
            lv[2 * i] = uint8_t(val);
            lv[2 * i + 1] = uint8_t(val >> 8);
        }
    };
    put_entry(0, e0);
    for (size_t i = 0; i < v.fields.size(); i++) {
        uint16_t len;
        if (i < v.len_override.size() && v.len_override[i]) {
            len = *v.len_override[i];
        } else {
            if (v.fields[i].size() > 0xFFFF)
                throw std::length_error("vector: field longer than 65535 bytes");
            len = uint16_t(v.fields[i].size());
        }
        put_entry(i + 1, len);
    }

    uint8_t* f = lv + lv_bytes;
    for (const Bytes& fld : v.fields) {
        if (!fld.empty())
            std::memcpy(f, fld.data(), fld.size());
        f += align4(uint32_t(fld.size()));
    }
}

Bytes encode_vector(const Vector& v)
{
    Bytes out;
    out.reserve(vector_size(v));
    append_vector(out, v);
    return out;
}

// ---- fields ------------------------------------------------------------------

Bytes ktudh(uint16_t slt, uint32_t sqn)
{
    KTUDH h{};
    h.xid_slt = slt;
    h.xid_sqn = sqn;
    h.flg = 0x0012;  // a plausible "new transaction" flag set
    return layout_bytes(h);
}

Bytes ktucm(uint16_t slt, uint32_t sqn, uint8_t flg)
{
    KTUCM c{};
    c.xid_slt = slt;
    c.xid_sqn = sqn;
    c.flg = flg;
    return layout_bytes(c);
}

Bytes ktudb(uint16_t usn, uint16_t slt, uint32_t sqn)
{
    KTUDB d{};
    d.siz = 0x0058;
    d.xid_usn = usn;
    d.xid_slt = slt;
    d.xid_sqn = sqn;
    return layout_bytes(d);
}

Bytes ktubu(uint32_t objn, uint32_t objd, uint8_t opl)
{
    KTUBU u{};
    u.objn = objn;
    u.objd = objd;
    u.opl = opl;
    return layout_bytes(u);
}

Bytes kdo_head(uint8_t opc)
{
    KDO k{};
    k.opc = opc;
    k.xtype = 1;
    return layout_bytes(k);
}

Bytes kdo_drp(uint16_t slot)
{
    Bytes b = kdo_head(3);
    put_u16(b, slot);
    put_u8(b, 0);  // table number
    put_u8(b, 0);
    return b;
}

Bytes kdo_irp_raw(uint8_t fb, uint8_t cc, const Bytes& bitmap, uint8_t opc)
{
    Bytes b(KDO_IRP_FIXED, 0);
    b[offsetof(KDO_IRP, opc)] = opc;
    b[offsetof(KDO_IRP, xtype)] = 1;
    b[offsetof(KDO_IRP, fb)] = fb;
    b[offsetof(KDO_IRP, cc)] = cc;
    b.insert(b.end(), bitmap.begin(), bitmap.end());
    return b;
}

Bytes kdo_irp(uint8_t fb, const std::vector<Col>& cols, uint8_t opc)
{
    check_count(cols.size(), "kdo_irp");
    return kdo_irp_raw(fb, uint8_t(cols.size()), null_bitmap(cols), opc);
}

Bytes kdo_urp_raw(uint8_t nnew, const Bytes& bitmap, uint8_t opc)
{
    Bytes b(KDO_URP_FIXED, 0);
    b[offsetof(KDO_URP, opc)] = opc;
    b[offsetof(KDO_URP, xtype)] = 1;
    b[offsetof(KDO_URP, fb)] = 0x2c;
    b[offsetof(KDO_URP, ncol)] = nnew;
    b[offsetof(KDO_URP, nnew)] = nnew;
    b.insert(b.end(), bitmap.begin(), bitmap.end());
    return b;
}

Bytes kdo_urp(const std::vector<Col>& cols, uint8_t opc)
{
    check_count(cols.size(), "kdo_urp");
    return kdo_urp_raw(uint8_t(cols.size()), null_bitmap(cols), opc);
}

Bytes supplement(uint16_t ncol)
{
    SUPPLEMENT s{};
    s.flg = 0x03;  // first and last piece
    s.ncol = ncol;
    return layout_bytes(s);
}

Bytes kdo_qmi(uint16_t nrow)
{
    KDO_QMI q{};
    q.opc = 11;
    q.xtype = 1;
    q.nrow = nrow;
    return layout_bytes(q);
}

Bytes ddl_part1(uint16_t usn, uint16_t slt, uint32_t sqn)
{
    DDL_PART1 d{};
    d.xid_usn = usn;
    d.xid_slt = slt;
    d.xid_sqn = sqn;
    return layout_bytes(d);
}

Bytes ddl_part4(uint32_t objn)
{
    DDL_PART4 d{};
    d.objn = objn;
    return layout_bytes(d);
}

Bytes u16_array(const std::vector<uint16_t>& v)
{
    Bytes b;
    b.reserve(2 * v.size());
    for (uint16_t x : v)
        put_u16(b, x);
    return b;
}

Bytes qmi_row(const std::vector<Col>& cols, bool long_lengths)
{
    check_count(cols.size(), "qmi_row");
    Bytes b{0x2c, 0x00, uint8_t(cols.size())};
    for (const Col& c : cols) {
        if (!c) {
            put_u8(b, 0xFF);
            continue;
        }
        if (c->size() > 0xFFFF)
            throw std::length_error("qmi_row: column longer than 65535 bytes");
        if (!long_lengths && c->size() <= 0xFD) {
            put_u8(b, uint8_t(c->size()));
        } else {
            put_u8(b, 0xFE);
            put_u16(b, uint16_t(c->size()));
        }
        b.insert(b.end(), c->begin(), c->end());
    }
    return b;
}

// ---- whole vectors -------------------------------------------------------------

uint16_t segment_class(uint16_t usn) { return uint16_t(15 + 2 * usn); }

// Undo blocks of segment usn carry the class right after the header's.
static uint16_t undo_class(uint16_t usn) { return uint16_t(16 + 2 * usn); }

static Vector make(uint8_t opl, uint8_t opc, uint16_t cls = 0)
{
    Vector v;
    v.opl = opl;
    v.opc = opc;
    v.cls = cls;
    return v;
}

Vector v_begin(Xid x)
{
    Vector v = make(5, 2, segment_class(x.usn));
    v.fields.push_back(ktudh(x.slt, x.sqn));
    return v;
}

Vector v_commit(Xid x, uint8_t flg)
{
    Vector v = make(5, 4, segment_class(x.usn));
    v.fields.push_back(ktucm(x.slt, x.sqn, flg));
    return v;
}

static Vector undo_base(Xid x, uint32_t objn, uint32_t objd, uint8_t opl)
{
    Vector v = make(5, 1, undo_class(x.usn));
    v.fields.push_back(ktudb(x.usn, x.slt, x.sqn));
    v.fields.push_back(ktubu(objn, objd, opl));
    v.fields.push_back(four_zero());
    return v;
}

Vector v_undo_insert(Xid x, uint32_t objn, uint32_t objd)
{
    Vector v = undo_base(x, objn, objd, 11);
    v.fields.push_back(kdo_drp());
    return v;
}

Vector v_undo_delete(Xid x, uint32_t objn, uint32_t objd, const std::vector<Col>& row, uint8_t fb)
{
    Vector v = undo_base(x, objn, objd, 11);
    v.fields.reserve(4 + row.size());
    v.fields.push_back(kdo_irp(fb, row));
    for (const Col& c : row)
        v.fields.push_back(value_or_empty(c));
    return v;
}

Vector v_undo_update(Xid x, uint32_t objn, uint32_t objd, const std::vector<uint16_t>& colnums,
                     const std::vector<Col>& old_vals, std::optional<Supp> supp)
{
    Vector v = undo_base(x, objn, objd, 11);
    v.fields.push_back(kdo_urp(old_vals));
    v.fields.push_back(u16_array(colnums));
    for (const Col& c : old_vals)
        v.fields.push_back(value_or_empty(c));
    if (supp) {
        v.fields.push_back(supplement(uint16_t(supp->cols.size())));
        v.fields.push_back(u16_array(supp->cols));
        std::vector<uint16_t> lens;
        for (const Col& c : supp->vals) {
            size_t n = c ? c->size() : 0;
            if (n > 0xFFFF)
                throw std::length_error("v_undo_update: supplemental value too long");
            lens.push_back(uint16_t(n));
        }
        v.fields.push_back(u16_array(lens));
        for (const Col& c : supp->vals)
            v.fields.push_back(value_or_empty(c));
    }
    return v;
}

Vector v_undo_other_layer(Xid x, uint32_t objn, uint8_t opl)
{
    Vector v = undo_base(x, objn, objn, opl);
    v.fields.push_back(kdo_head(1));
    return v;
}

Vector v_insert(const std::vector<Col>& row, uint8_t fb)
{
    Vector v = make(11, 2, 1);
    v.fields.reserve(2 + row.size());
    v.fields.push_back(four_zero());
    v.fields.push_back(kdo_irp(fb, row));
    for (const Col& c : row)
        v.fields.push_back(value_or_empty(c));
    return v;
}

Vector v_delete()
{
    Vector v = make(11, 3, 1);
    v.fields.push_back(four_zero());
    v.fields.push_back(kdo_drp());
    return v;
}

Vector v_update(const std::vector<uint16_t>& colnums, const std::vector<Col>& new_vals)
{
    Vector v = make(11, 5, 1);
    v.fields.push_back(four_zero());
    v.fields.push_back(kdo_urp(new_vals));
    v.fields.push_back(u16_array(colnums));
    for (const Col& c : new_vals)
        v.fields.push_back(value_or_empty(c));
    return v;
}

Vector v_qmi(const std::vector<QmiRow>& rows)
{
    if (rows.size() > 0xFFFF)
        throw std::length_error("v_qmi: more than 65535 rows");
    Vector v = make(11, 11, 1);
    Bytes stored;
    std::vector<uint16_t> sizes;
    for (const QmiRow& r : rows) {
        Bytes row = qmi_row(r.cols, r.long_lengths);
        if (!r.size && row.size() > 0xFFFF)
            throw std::length_error("v_qmi: stored row longer than 65535 bytes");
        sizes.push_back(r.size ? *r.size : uint16_t(row.size()));
        stored.insert(stored.end(), row.begin(), row.end());
    }
    v.fields.push_back(four_zero());
    v.fields.push_back(kdo_qmi(uint16_t(rows.size())));
    v.fields.push_back(u16_array(sizes));
    v.fields.push_back(std::move(stored));
    return v;
}

Vector v_ddl(Xid x, uint32_t objn, std::string_view stmt, std::string_view name)
{
    Vector v = make(24, 1);
    v.fields.push_back(ddl_part1(x.usn, x.slt, x.sqn));  // 1
    v.fields.push_back(four_zero());                      // 2
    v.fields.push_back(four_zero());                      // 3
    v.fields.push_back(ddl_part4(objn));                  // 4
    v.fields.push_back(four_zero());                      // 5
    v.fields.push_back(four_zero());                      // 6
    v.fields.push_back(four_zero());                      // 7
    v.fields.push_back(str(stmt));                        // 8
    v.fields.push_back(four_zero());                      // 9
    v.fields.push_back(str(name));                        // 10
    return v;
}

Vector v_other(uint8_t opl, uint8_t opc, std::vector<Bytes> fields)
{
    Vector v = make(opl, opc);
    v.fields = std::move(fields);
    return v;
}

// ---- records ---------------------------------------------------------------------

Bytes encode_record(uint64_t scn, const std::vector<Vector>& vecs, bool long_header)
{
    const uint32_t hdr = long_header ? LONG_RECORD_HEADER_SIZE : RECORD_HEADER_SIZE;
    uint64_t total = hdr;
    for (const Vector& v : vecs)
        total += vector_size(v);
    if (total > 0xFFFFFFFFULL)
        throw std::length_error("encode_record: record longer than 4 GiB");

    Bytes rec;
    rec.reserve(total);
    rec.resize(hdr, 0);
    REDO_RH_MINOR h{};
    h.rlen = uint32_t(total);
    h.vld = long_header ? (VLD_LONG_HEADER | 0x01) : 0x01;
    h.scn_wrap = uint16_t(scn >> 32);
    h.scn_base = uint32_t(scn);
    put_layout(rec, 0, h);
    for (const Vector& v : vecs)
        append_vector(rec, v);
    return rec;
}

void set_rlen(Bytes& rec, uint32_t rlen) { set_u32(rec, 0, rlen); }

// ---- the file --------------------------------------------------------------------

LogBuilder::LogBuilder(LogOptions o) : o_(o)
{
    if (o_.blk0_sz < sizeof(REDO_BLOCK0))
        throw std::invalid_argument("LogBuilder: blk0_sz below 32");
    if (o_.blk_sz < BLOCK_HEADER_SIZE + RECORD_HEADER_SIZE)
        throw std::invalid_argument("LogBuilder: blk_sz below 40");
    // Block 1 and the blocks its 208 bytes run into.
    first_rec_block_ = 1 + (kBlock1Extent + o_.blk_sz - 1) / o_.blk_sz;
    cur_block_ = first_rec_block_;
}

uint64_t LogBuilder::end_block() const
{
    if (runs_.empty())
        return first_rec_block_;
    return runs_.back().first_block + runs_.back().nblocks;
}

uint64_t LogBuilder::block_count() const
{
    // Holes and empty blocks count even when no record follows them; the
    // current block counts once it has been laid down.
    return end_block();
}

uint64_t LogBuilder::file_offset(uint32_t block, uint32_t offset) const
{
    if (block == 0)
        return offset;
    return uint64_t(o_.blk0_sz) + uint64_t(o_.blk_sz) * (block - 1) + offset;
}

uint64_t LogBuilder::file_size() const
{
    return uint64_t(o_.blk0_sz) + uint64_t(o_.blk_sz) * (block_count() - 1) + stray_;
}

uint8_t* LogBuilder::block_ptr(uint64_t block)
{
    Run& r = runs_.back();
    return r.bytes.data() + (block - r.first_block) * o_.blk_sz;
}

void LogBuilder::open_block()
{
    if (cur_open_)
        return;
    if (runs_.empty() || runs_.back().hole)
        runs_.push_back(Run{cur_block_, 0, false, {}});
    Run& r = runs_.back();
    const size_t need = r.bytes.size() + o_.blk_sz;
    if (need > r.bytes.capacity())
        r.bytes.reserve(std::max(need, 2 * r.bytes.capacity()));
    r.bytes.resize(need, 0);
    r.nblocks++;

    REDO_BH bh{};
    std::memcpy(bh.magic, o_.block_magic.data(), 4);
    bh.rba_blk = cur_block_;
    bh.rba_sqn = o_.sequence;
    bh.rba_byte = o_.set_top_bit ? 0x8000 : 0;
    std::memcpy(block_ptr(cur_block_), &bh, sizeof bh);
    cur_open_ = true;
    cur_has_first_ = false;
}

bool LogBuilder::sums() const { return o_.checksums && o_.blk_sz >= kBlock1Extent; }

void LogBuilder::close_block(uint64_t block)
{
    if (sums())
        store_checksum(block_ptr(block), o_.blk_sz, offsetof(REDO_BH, chkval));
}

void LogBuilder::finish_block()
{
    if (cur_open_) {
        close_block(cur_block_);
        if (cur_block_ == UINT32_MAX)
            throw std::length_error("LogBuilder: block number overflow");
        cur_block_++;
        cur_open_ = false;
    }
    cur_off_ = BLOCK_HEADER_SIZE;
}

LogBuilder::Pos LogBuilder::add_record(const Bytes& rec)
{
    if (rec.empty())
        throw std::invalid_argument("add_record: empty record");
    if (rec.size() >= offsetof(REDO_RH_MINOR, scn_base) + 4) {
        const uint64_t scn = (uint64_t(rec[6] | rec[7] << 8) << 32) |
                             uint32_t(rec[8] | rec[9] << 8 | rec[10] << 16 | uint32_t(rec[11]) << 24);
        max_scn_ = any_record_ ? std::max(max_scn_, scn) : scn;
        any_record_ = true;
    }
    open_block();
    const Pos begin{cur_block_, cur_off_};
    if (!cur_has_first_) {
        uint16_t rb = uint16_t(cur_off_ & 0x7FFF) | (o_.set_top_bit ? 0x8000 : 0);
        uint8_t* b = block_ptr(cur_block_);
        b[offsetof(REDO_BH, rba_byte)] = uint8_t(rb);
        b[offsetof(REDO_BH, rba_byte) + 1] = uint8_t(rb >> 8);
        cur_has_first_ = true;
    }

    // Make room for every block the record will touch in one go.
    const uint32_t payload = o_.blk_sz - BLOCK_HEADER_SIZE;
    const uint64_t spill = rec.size() > o_.blk_sz - cur_off_ ? rec.size() - (o_.blk_sz - cur_off_) : 0;
    const uint64_t more_blocks = (spill + payload - 1) / payload;
    Run& run = runs_.back();
    const size_t need = run.bytes.size() + more_blocks * o_.blk_sz;
    if (need > run.bytes.capacity())
        run.bytes.reserve(std::max(need, 2 * run.bytes.capacity()));

    const uint8_t* src = rec.data();
    size_t rem = rec.size();
    uint32_t off = cur_off_;
    while (off + rem > o_.blk_sz) {
        const size_t n = o_.blk_sz - off;
        std::memcpy(block_ptr(cur_block_) + off, src, n);
        src += n;
        rem -= n;
        close_block(cur_block_);
        cur_block_++;
        cur_open_ = false;
        open_block();
        off = BLOCK_HEADER_SIZE;
    }
    std::memcpy(block_ptr(cur_block_) + off, src, rem);
    const uint32_t end = off + uint32_t(rem);

    if (o_.blk_sz - end < RECORD_HEADER_SIZE)
        finish_block();
    else
        cur_off_ = end;
    return begin;
}

LogBuilder::Pos LogBuilder::add(uint64_t scn, const std::vector<Vector>& vecs, bool long_header)
{
    return add_record(encode_record(scn, vecs, long_header));
}

void LogBuilder::next_block() { finish_block(); }

void LogBuilder::pad_to_offset(uint32_t off)
{
    if (off < BLOCK_HEADER_SIZE || off + 4 > o_.blk_sz)
        throw std::invalid_argument("pad_to_offset: offset outside the block");
    if (cur_open_ && off < cur_off_)
        throw std::invalid_argument("pad_to_offset: offset before the current position");
    cur_off_ = off;
}

void LogBuilder::add_empty_blocks(uint32_t n)
{
    finish_block();
    for (uint32_t i = 0; i < n; i++) {
        open_block();
        finish_block();
    }
}

void LogBuilder::add_hole_blocks(uint64_t n)
{
    finish_block();
    if (n == 0)
        return;
    if (cur_block_ + n > UINT32_MAX)
        throw std::length_error("add_hole_blocks: block number overflow");
    runs_.push_back(Run{cur_block_, n, true, {}});
    cur_block_ = uint32_t(cur_block_ + n);
}

Bytes LogBuilder::header_bytes() const
{
    const size_t n = o_.blk0_sz + size_t(o_.blk_sz) * (first_rec_block_ - 1);
    Bytes b(n, 0);
    const uint32_t declared =
        o_.declared_blocks ? *o_.declared_blocks : uint32_t(std::min<uint64_t>(block_count() - 1, UINT32_MAX));

    // Block 0 has a 20-byte header of its own, its checksum at offset 16.
    REDO_BLOCK0 b0{};
    b0.bh[1] = 0x22;
    b0.bh[6] = 0xc0;
    b0.bh[7] = 0xff;
    b0.bsz = o_.blk0_sz;
    b0.fsz = declared;
    put_layout(b, 0, b0);
    if (o_.swap_endian_mark) {
        const uint8_t swapped[4] = {0x7a, 0x7b, 0x7c, 0x7d};
        std::memcpy(b.data() + offsetof(REDO_BLOCK0, endian), swapped, 4);
    } else {
        const uint8_t mark[4] = {0x7d, 0x7c, 0x7b, 0x7a};
        std::memcpy(b.data() + offsetof(REDO_BLOCK0, endian), mark, 4);
    }

    const uint64_t next_scn = o_.next_scn ? *o_.next_scn : (any_record_ ? max_scn_ + 1 : o_.first_scn);
    REDO_BLOCK1 b1{};
    REDO_BH bh{};
    std::memcpy(bh.magic, o_.block_magic.data(), 4);
    bh.rba_blk = 1;
    bh.rba_sqn = o_.sequence;
    bh.rba_byte = o_.set_top_bit ? 0x8000 : 0;
    std::memcpy(b1.bh, &bh, sizeof bh);
    b1.csvn = o_.compat;
    b1.dbid = o_.dbid;
    std::memcpy(b1.dbname, o_.dbname.data(), std::min<size_t>(o_.dbname.size(), sizeof b1.dbname));
    b1.fsz = declared;
    b1.bsz = o_.blk_sz;
    b1.fno = 1;
    b1.ftp = 2;
    std::string desc = o_.description;
    if (desc.empty()) {
        char d[sizeof b1.desc + 1];
        std::snprintf(d, sizeof d, "Thread %04u, Seq# %010u, SCN 0x%012llx-0x%012llx", o_.thread, o_.sequence,
                      (unsigned long long)o_.first_scn, (unsigned long long)(next_scn & 0xFFFFFFFFFFFFULL));
        desc = d;
    }
    std::memcpy(b1.desc, desc.data(), std::min(desc.size(), sizeof b1.desc));
    b1.nab = o_.next_block ? *o_.next_block : uint32_t(std::min<uint64_t>(end_block(), UINT32_MAX));
    b1.thread = o_.thread;
    b1.low_scn_base = uint32_t(o_.first_scn);
    b1.low_scn_wrap = uint16_t(o_.first_scn >> 32);
    b1.low_scn_time = o_.first_time;
    b1.next_scn_base = uint32_t(next_scn);
    b1.next_scn_wrap = uint16_t(next_scn >> 32);
    b1.next_scn_time = o_.next_time;
    put_layout(b, o_.blk0_sz, b1);

    // With blocks under 208 bytes, the blocks after block 1 begin inside the
    // header above, and the reader takes their rba_byte from its bytes.  Keep
    // those bytes zero ("no record begins here") unless they belong to a
    // field the reader takes from block 1, where the file cannot say both.
    auto read_field = [](uint32_t pos) {
        return (pos >= offsetof(REDO_BLOCK1, bsz) && pos < offsetof(REDO_BLOCK1, bsz) + 4) ||
               (pos >= offsetof(REDO_BLOCK1, thread) && pos < offsetof(REDO_BLOCK1, spare2));
    };
    for (uint32_t j = 2; j < first_rec_block_; j++) {
        const uint32_t rba = (j - 1) * o_.blk_sz + offsetof(REDO_BH, rba_byte);
        for (uint32_t pos = rba; pos < rba + 2 && pos < kBlock1Extent; pos++)
            if (!read_field(pos))
                b[o_.blk0_sz + pos] = 0;
    }

    if (o_.checksums)
        store_checksum(b.data(), o_.blk0_sz, 16);
    if (sums())
        store_checksum(b.data() + o_.blk0_sz, o_.blk_sz, offsetof(REDO_BH, chkval));
    return b;
}

void LogBuilder::seal(Bytes& image) const
{
    if (!o_.checksums || image.size() < o_.blk0_sz)
        return;
    store_checksum(image.data(), o_.blk0_sz, 16);
    if (!sums())
        return;
    for (uint64_t off = o_.blk0_sz; off + o_.blk_sz <= image.size(); off += o_.blk_sz)
        store_checksum(image.data() + off, o_.blk_sz, offsetof(REDO_BH, chkval));
}

Bytes LogBuilder::image_over_older_use(uint32_t older_seq, uint32_t last) const
{
    LogOptions o = o_;
    o.sequence = older_seq;
    o.first_scn = 1;
    o.next_block.reset();
    o.declared_blocks.reset();
    LogBuilder older(o);
    for (uint32_t i = 0; older.position().block <= last; i++) {
        older.add(1 + i, {v_begin({9, 9, i})});
        older.next_block();
    }
    Bytes img = image();
    const Bytes prev = older.image();
    if (prev.size() > img.size())
        img.insert(img.end(), prev.begin() + long(img.size()), prev.end());
    return img;
}

// The block records still go into is not closed yet; its bytes as they
// stand, with their checksum, for writing out.
Bytes LogBuilder::open_block_bytes() const
{
    const Run& r = runs_.back();
    Bytes blk(r.bytes.end() - o_.blk_sz, r.bytes.end());
    if (sums())
        store_checksum(blk.data(), o_.blk_sz, offsetof(REDO_BH, chkval));
    return blk;
}

Bytes LogBuilder::image() const
{
    uint64_t hole_bytes = 0;
    for (const Run& r : runs_)
        if (r.hole)
            hole_bytes += r.nblocks * o_.blk_sz;
    if (hole_bytes > kMaxImageHole)
        throw std::length_error("image: holes too large to hold in memory; use write()");

    const uint64_t size = file_size();
    Bytes out = header_bytes();
    out.reserve(size);
    for (const Run& r : runs_) {
        if (r.hole)
            out.resize(out.size() + r.nblocks * o_.blk_sz, 0);
        else
            out.insert(out.end(), r.bytes.begin(), r.bytes.end());
    }
    if (cur_open_) {
        const Bytes last = open_block_bytes();
        std::copy(last.begin(), last.end(), out.end() - o_.blk_sz);
    }
    out.resize(size - stray_, 0);
    out.resize(size, kStrayByte);
    return out;
}

void LogBuilder::write(const std::string& path) const
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("open " + path + ": " + std::strerror(errno));
    try {
        write_to(fd, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        throw std::runtime_error("close " + path + ": " + std::strerror(errno));
}

void LogBuilder::write_to(int fd, const std::string& path) const
{
    const Bytes head = header_bytes();
    pwrite_all(fd, head.data(), head.size(), 0, path);
    for (const Run& r : runs_)
        if (!r.hole)
            pwrite_all(fd, r.bytes.data(), r.bytes.size(), file_offset(uint32_t(r.first_block), 0), path);
    if (cur_open_) {
        const Bytes last = open_block_bytes();
        pwrite_all(fd, last.data(), last.size(), file_offset(cur_block_, 0), path);
    }
    const uint64_t blocks_end = file_size() - stray_;
    if (::ftruncate(fd, static_cast<off_t>(blocks_end)) != 0)
        throw std::runtime_error("ftruncate " + path + ": " + std::strerror(errno));
    if (stray_ > 0) {
        const Bytes tail(stray_, kStrayByte);
        pwrite_all(fd, tail.data(), tail.size(), blocks_end, path);
    }
}

void LogBuilder::flush_blocks(int fd, const std::string& path)
{
    // every run before the last is finished; holes need no writing
    for (size_t i = 0; i + 1 < runs_.size(); i++)
        if (!runs_[i].hole)
            pwrite_all(fd, runs_[i].bytes.data(), runs_[i].bytes.size(),
                       file_offset(uint32_t(runs_[i].first_block), 0), path);
    if (runs_.size() > 1)
        runs_.erase(runs_.begin(), runs_.end() - 1);
    if (runs_.empty() || runs_.back().hole)
        return;

    // of the last run, all but the block still open
    Run& r = runs_.back();
    const uint64_t done = r.nblocks - (cur_open_ ? 1 : 0);
    const size_t bytes = size_t(done) * o_.blk_sz;
    pwrite_all(fd, r.bytes.data(), bytes, file_offset(uint32_t(r.first_block), 0), path);
    r.bytes.erase(r.bytes.begin(), r.bytes.begin() + ptrdiff_t(bytes));
    r.first_block += done;
    r.nblocks -= done;
}

void LogBuilder::write_file(const std::string& path, const Bytes& bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("open " + path + ": " + std::strerror(errno));
    try {
        pwrite_all(fd, bytes.data(), bytes.size(), 0, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        throw std::runtime_error("close " + path + ": " + std::strerror(errno));
}

}  // namespace qvtest
