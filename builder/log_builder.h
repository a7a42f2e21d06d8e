/*
 * log_builder.h - writes real redo log files, byte for byte, for the tests,
 * the log generator, the fuzz seeds and quorvil-info's tests.
 *
 * Three levels, each usable on its own:
 *
 *   fields   ktudh(), kdo_irp(), qmi_row(), ...  -> Bytes of one field
 *   vectors  Vector + encode_vector(), and v_begin(), v_insert(), ...
 *            which fill a Vector with the field map of one opcode
 *   records  encode_record(scn, vectors) -> header + vectors, rlen set
 *   file     LogBuilder: lays records into blocks exactly the way the
 *            reader walks them, and writes blocks 0 and 1
 *
 * All integers are written little-endian.
 *
 * API summary (namespace qvtest):
 *
 *   using Bytes = std::vector<uint8_t>;
 *   using Col   = std::optional<Bytes>;          // nullopt = NULL column
 *   Bytes hex(std::string_view);                 // "c1 02" -> {0xc1, 0x02}
 *   Bytes str(std::string_view);                 // text -> its bytes
 *   put_u8 / put_u16 / put_u32 / put_u64(Bytes&, v), set_u16 / set_u32(Bytes&, off, v)
 *   uint32_t align4(uint32_t)
 *
 *   struct Vector { opl, opc, cls, tail (header bytes 4..23), fields,
 *                   entry0 (override), len_override (per field) };
 *   uint32_t vector_size(const Vector&);  Bytes encode_vector(const Vector&);
 *   void append_vector(Bytes&, const Vector&);
 *
 *   field builders: ktudh, ktucm, ktudb, ktubu, kdo_head, kdo_drp, kdo_irp,
 *   kdo_irp_raw, kdo_urp, kdo_urp_raw, supplement, kdo_qmi, ddl_part1,
 *   ddl_part4, u16_array, qmi_row
 *
 *   vector builders: v_begin, v_commit, v_undo_insert, v_undo_delete,
 *   v_undo_update, v_undo_other_layer, v_insert, v_delete, v_update, v_qmi,
 *   v_ddl, v_other
 *
 *   Bytes encode_record(scn, vecs, long_header = false);
 *   void set_rlen(Bytes& rec, uint32_t rlen);
 *
 *   LogBuilder(LogOptions): add_record, add, next_block, pad_to_offset,
 *   add_empty_blocks, add_hole_blocks, set_stray_tail, image, write,
 *   file_offset, position, first_record_block, block_count, seal, write_file
 *
 *   redo_time(y, mo, d, h, mi, s), block_xor(blk, len)
 *
 * Placement rule (the one the reader follows): a record begins at the
 * current (block, offset); what does not fit in the block continues at
 * offset 16 of the next block, over as many blocks as needed.  After a
 * record ends at offset e, the next one begins at e in the same block when
 * at least 24 bytes remain there, otherwise at offset 16 of the next block.
 * A block's rba_byte holds the offset of the first record that begins in
 * it (low 15 bits only; offsets past 0x7FFF are stored masked), 0 when none
 * does.  The rest of the last block after the last record is zero, and the
 * file ends with that block.
 *
 * Blocks smaller than 208 bytes: the 208 bytes of the redo header at the
 * start of block 1 then run on into blocks 2, 3, ...  Those blocks carry the
 * header's bytes and nothing else (no block header of their own), and the
 * first record goes into the first block that lies wholly past them
 * (first_record_block()).  With blocks of 208 bytes or more that is block 2.
 */
#ifndef QVTEST_LOG_BUILDER_H
#define QVTEST_LOG_BUILDER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvtest {

using Bytes = std::vector<uint8_t>;
using Col = std::optional<Bytes>;

// ---- bytes -----------------------------------------------------------------

// Hex digits to bytes; whitespace is skipped.  Throws on an odd digit count
// or a character that is not a hex digit.
Bytes hex(std::string_view s);
// The bytes of a text, no terminator.
Bytes str(std::string_view s);

void put_u8(Bytes& b, uint8_t v);
void put_u16(Bytes& b, uint16_t v);
void put_u32(Bytes& b, uint32_t v);
void put_u64(Bytes& b, uint64_t v);
// Overwrite in place; throws when the bytes do not exist.
void set_u8(Bytes& b, size_t off, uint8_t v);
void set_u16(Bytes& b, size_t off, uint16_t v);
void set_u32(Bytes& b, size_t off, uint32_t v);

inline uint32_t align4(uint32_t x) { return (x + 3) & ~3U; }

// ---- change vectors ----------------------------------------------------------

// One change vector.  Its bytes are: the 24-byte header (opl, opc, cls, then
// `tail` as bytes 4..23), the length vector, then every field padded with
// zeros to a multiple of 4.
//
// The length vector takes align4(entry 0) bytes.  Entry 0 is 2 * (fields + 1)
// unless `entry0` overrides it; entry i is the size of field i unless
// len_override[i - 1] holds a value.  Overrides change only the numbers
// written, never the bytes laid down: fields are always written with their
// real size padded to 4, and when an overridden entry 0 leaves room for
// fewer entries than there are, the entries that do not fit are left out
// (and room beyond the real entries is zero).
struct Vector {
    uint8_t opl = 0;
    uint8_t opc = 0;
    uint16_t cls = 0;
    std::array<uint8_t, 20> tail{};
    std::vector<Bytes> fields;
    std::optional<uint16_t> entry0;
    std::vector<std::optional<uint16_t>> len_override;
};

uint32_t vector_size(const Vector& v);
Bytes encode_vector(const Vector& v);
void append_vector(Bytes& out, const Vector& v);

// ---- fields ------------------------------------------------------------------

Bytes ktudh(uint16_t slt, uint32_t sqn);                          // 32 bytes
Bytes ktucm(uint16_t slt, uint32_t sqn, uint8_t flg);             // 20 bytes
Bytes ktudb(uint16_t usn, uint16_t slt, uint32_t sqn);            // 20 bytes
Bytes ktubu(uint32_t objn, uint32_t objd, uint8_t opl = 11);      // 28 bytes
// The 16-byte head shared by every layer 11 row operation.
Bytes kdo_head(uint8_t opc);
// Delete row piece: the head (opc 3) plus slot and table number, 20 bytes.
Bytes kdo_drp(uint16_t slot = 0);
// Insert row piece: 45 fixed bytes plus the null bitmap.  cc is the number of
// columns and the bitmap comes from the nullopts.  Throws for more than 255.
Bytes kdo_irp(uint8_t fb, const std::vector<Col>& cols, uint8_t opc = 2);
// The same with cc and the bitmap bytes given as they are (damage tests).
Bytes kdo_irp_raw(uint8_t fb, uint8_t cc, const Bytes& bitmap, uint8_t opc = 2);
// Update row piece: 26 fixed bytes plus the null bitmap over the list items;
// nnew = cols.size().  Throws for more than 255.
Bytes kdo_urp(const std::vector<Col>& cols, uint8_t opc = 5);
Bytes kdo_urp_raw(uint8_t nnew, const Bytes& bitmap, uint8_t opc = 5);
Bytes supplement(uint16_t ncol);                                   // 12 bytes
Bytes kdo_qmi(uint16_t nrow);                                      // 20 bytes, opc 11
Bytes ddl_part1(uint16_t usn, uint16_t slt, uint32_t sqn);        // 12 bytes
Bytes ddl_part4(uint32_t objn);                                    // 8 bytes
Bytes u16_array(const std::vector<uint16_t>& v);
// One stored row of a multi-row insert: 2c 00, cc, then each column as
// ff (NULL), a one-byte length (<= 0xfd) and the bytes, or fe, a u16 length
// and the bytes.  long_lengths forces the fe form for every non-NULL column.
Bytes qmi_row(const std::vector<Col>& cols, bool long_lengths = false);

// ---- whole vectors -------------------------------------------------------------

struct Xid {
    uint16_t usn = 0;
    uint16_t slt = 0;
    uint32_t sqn = 0;
};

// Class of an undo segment header (15 + 2 * usn), as 5.2 and 5.4 carry it.
uint16_t segment_class(uint16_t usn);

Vector v_begin(Xid x);                                   // 5.2: KTUDH
Vector v_commit(Xid x, uint8_t flg = 0);                 // 5.4: KTUCM (flg 0x04 = rollback)
// 5.1 undo vectors: KTUDB, KTUBU, a 4-byte field 3, then the row operation.
Vector v_undo_insert(Xid x, uint32_t objn, uint32_t objd);  // field 4: delete row piece
Vector v_undo_delete(Xid x, uint32_t objn, uint32_t objd, const std::vector<Col>& row,
                     uint8_t fb = 0x2c);                 // field 4: KDO_IRP, 5..: column values
struct Supp {
    std::vector<uint16_t> cols;  // supplemental column numbers
    std::vector<Col> vals;       // their values; nullopt gives length 0
};
// Field 4 KDO_URP(old values), 5 column numbers, 6..5+m old values, then with
// supp: SUPPLEMENT(ncol = cols.size()), column numbers, value lengths, values.
Vector v_undo_update(Xid x, uint32_t objn, uint32_t objd, const std::vector<uint16_t>& colnums,
                     const std::vector<Col>& old_vals, std::optional<Supp> supp = std::nullopt);
// An undo of some other layer (KTUBU.opl != 11); field 4 is a KDO head.
Vector v_undo_other_layer(Xid x, uint32_t objn, uint8_t opl = 10);
Vector v_insert(const std::vector<Col>& row, uint8_t fb = 0x2c);      // 11.2
Vector v_delete();                                                     // 11.3
// 11.5; colnums are the stored 0-based numbers.
Vector v_update(const std::vector<uint16_t>& colnums, const std::vector<Col>& new_vals);
struct QmiRow {
    std::vector<Col> cols;
    std::optional<uint16_t> size;  // overrides this row's entry of the size array
    bool long_lengths = false;     // store every non-NULL column in the fe form
};
Vector v_qmi(const std::vector<QmiRow>& rows);                         // 11.11
// 24.1: fields 1 DDL_PART1, 4 DDL_PART4, 8 statement, 10 name, the others 4 zero bytes.
Vector v_ddl(Xid x, uint32_t objn, std::string_view stmt, std::string_view name);
Vector v_other(uint8_t opl, uint8_t opc, std::vector<Bytes> fields = {{0, 0, 0, 0}});

// ---- records ---------------------------------------------------------------------

// Record header (24 bytes, or 68 with long_header) followed by the vectors;
// rlen is the total.  vld is 0x01 for the short header and 0x05 for the long.
Bytes encode_record(uint64_t scn, const std::vector<Vector>& vecs, bool long_header = false);
void set_rlen(Bytes& rec, uint32_t rlen);

// ---- the file --------------------------------------------------------------------

// Seconds in the redo header's calendar (12 months of 31 days from
// 1988-01-01 00:00:00), as block 1 stores the times of its SCNs.
uint32_t redo_time(int year, int month, int day, int hour, int minute, int second);

// The XOR of every little-endian 16-bit word of a block, its stored
// checksum included: 0 when the checksum holds.
uint16_t block_xor(const uint8_t* blk, size_t len);

// What a real 11.2 log carries by default: block headers with their own block
// number and the log's sequence, a checksum in every block (when blk_sz is at
// least 208, so that block 1's header fits in block 1), and a redo header
// naming the database, version, thread, sequence, SCNs and their times, and
// the next available block.  Unset optionals are worked out from what was
// laid down: the declared blocks are every block after block 0, the next
// available block is one past the last block, the next SCN one past the
// highest record SCN.
struct LogOptions {
    uint32_t blk0_sz = 512;         // size of block 0 (at least 32)
    uint32_t blk_sz = 512;          // size of every later block (at least 40)
    uint64_t first_scn = 1;         // the log's lowest SCN, in block 1
    uint32_t thread = 1;
    bool swap_endian_mark = false;  // write the mark as 7a 7b 7c 7d
    bool set_top_bit = false;       // set 0x8000 in rba_byte of every block written
    uint32_t sequence = 1;          // rba_sqn of every block header, and block 1's sequence
    std::array<uint8_t, 4> block_magic{0x01, 0x22, 0x00, 0x00};

    bool checksums = true;          // store each block's checksum (0 = not checked when false)
    std::string dbname = "QVTEST";  // up to 8 bytes
    uint32_t dbid = 0x51560001;
    uint32_t compat = 0x0b200400;   // 11.2.0.4.0
    std::string description;        // empty: "Thread 0001, Seq# 0000000001, SCN 0x...-0x..."
    std::optional<uint64_t> next_scn;          // all ones: the log is still being written
    uint32_t first_time = redo_time(2024, 1, 15, 9, 30, 0);
    uint32_t next_time = redo_time(2024, 1, 15, 10, 30, 0);
    std::optional<uint32_t> next_block;        // next available block; 0xFFFFFFFF: unknown
    std::optional<uint32_t> declared_blocks;   // blocks after block 0 the log was created with
};

class LogBuilder {
public:
    struct Pos {
        uint32_t block;
        uint32_t offset;
    };

    explicit LogBuilder(LogOptions o = {});

    const LogOptions& options() const { return o_; }

    // Appends a record at the current position and returns where it began.
    Pos add_record(const Bytes& rec);
    Pos add(uint64_t scn, const std::vector<Vector>& vecs, bool long_header = false);

    // The next record begins at offset 16 of a fresh block: the current block
    // is finished if anything was put in it, otherwise nothing changes (it
    // also undoes a pad_to_offset on an untouched block).
    void next_block();
    // The next record begins at offset `off` of the current block, with zeros
    // before it.  Note: when a record already ended in this block at e < off,
    // the reader looks for the next record at e, finds rlen 0 and leaves the
    // block, so the record placed at off is passed over.  Throws when off is
    // below the current offset, below 16, or past blk_sz - 4.
    void pad_to_offset(uint32_t off);
    // Finishes the current block as next_block() does, then appends n blocks
    // holding only a block header (rba_byte 0).
    void add_empty_blocks(uint32_t n);
    // Finishes the current block as next_block() does, then appends n
    // all-zero blocks (header included).  write() leaves them as a hole in a
    // sparse file; image() materialises them, up to 64 MiB of holes in all.
    void add_hole_blocks(uint64_t n);
    // n bytes (0x5a) after the last whole block.
    void set_stray_tail(size_t n) { stray_ = n; }

    // The whole file.  Throws std::length_error when the holes exceed 64 MiB.
    Bytes image() const;
    // Writes the file (created or truncated), holes as holes.  Throws
    // std::runtime_error on a system error.
    void write(const std::string& path) const;
    // For logs too large to hold: flush_blocks() writes to fd every block laid
    // down so far except the one records still go into, and forgets them;
    // write_to() at the end writes what is left and blocks 0 and 1.  After a
    // flush, image() and write() no longer describe the whole file.
    void flush_blocks(int fd, const std::string& path);
    void write_to(int fd, const std::string& path) const;
    static void write_file(const std::string& path, const Bytes& bytes);

    // File offset of byte `offset` of block `block` (block 0 included).
    uint64_t file_offset(uint32_t block, uint32_t offset) const;
    // Where the next record would begin.
    Pos position() const { return {cur_block_, cur_off_}; }
    // The block the first record goes into (2 unless blk_sz < 208).
    uint32_t first_record_block() const { return first_rec_block_; }
    // Blocks in the file, block 0 included.
    uint64_t block_count() const;
    // Stores again the checksum of block 0 and of every whole block from
    // block 1 on of a file image, after a test changed its bytes on purpose,
    // so that the change is not also a checksum mismatch.  Does nothing when
    // the log is built without checksums.
    void seal(Bytes& image) const;
    // The file of a reused online log: this log's image, then past its last
    // block what an earlier use of the log left there, up to block `last`:
    // blocks numbered for their place, of sequence `older_seq`, each holding
    // one START record at SCN 1, 2, ... (below any first SCN of a later use).
    Bytes image_over_older_use(uint32_t older_seq, uint32_t last) const;
    // File size, stray tail included.
    uint64_t file_size() const;

private:
    struct Run {
        uint64_t first_block;
        uint64_t nblocks;
        bool hole;
        Bytes bytes;  // nblocks * blk_sz bytes unless hole
    };

    void finish_block();
    void close_block(uint64_t block);  // the block is final: store its checksum
    bool sums() const;
    Bytes open_block_bytes() const;
    void open_block();                 // materialises block cur_block_
    uint8_t* block_ptr(uint64_t block);
    uint64_t end_block() const;        // one past the last block laid down
    Bytes header_bytes() const;        // block 0, block 1 and its overlap blocks

    LogOptions o_;
    uint32_t first_rec_block_;
    std::vector<Run> runs_;
    uint32_t cur_block_;
    uint32_t cur_off_ = 16;
    bool cur_open_ = false;       // the current block has been laid down
    bool cur_has_first_ = false;  // a record has begun in the current block
    size_t stray_ = 0;
    uint64_t max_scn_ = 0;        // highest record SCN laid down
    bool any_record_ = false;
};

}  // namespace qvtest

#endif
